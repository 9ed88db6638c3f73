#pragma once

#include <ioapi.h>
#include <windows.h>

// File functions for minizip that read an archive through a handle the
// caller keeps open (and owns): nobody can change the archive between its
// write and its unpack when the handle shares no writing. Small reads and
// seeks are served from two windows of the file.
void FillHandleFileFuncs(HANDLE hArchive, zlib_filefunc64_def* pFuncs);
