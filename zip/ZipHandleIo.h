#pragma once

#include "zip/ZipEndRecords.h"

#include <ioapi.h>
#include <windows.h>

#include <cstdint>

// What minizip reads of an archive: nShift zero bytes, the file's bytes up
// to nEnd, then the bytes of tail, then nothing.
struct ArchiveView {
    HANDLE hArchive = INVALID_HANDLE_VALUE;
    uint64_t nShift = 0;
    uint64_t nEnd = 0;
    uint8_t tail[kZip64LocatorSize] = {};
};

// File functions for minizip that read an archive through a handle the
// caller keeps open (and owns): nobody can change the archive between its
// write and its unpack when the handle shares no writing. Small reads and
// seeks are served from two windows of the file. The view must outlive
// every stream opened through them.
void FillHandleFileFuncs(const ArchiveView* pView, zlib_filefunc64_def* pFuncs);
