#pragma once

#include "framework/Result.h"

#include <windows.h>

#include <cstdint>

// Writes the bytes to a new file at the path, replacing whatever holds the
// name (CreateFreshFile: a link there is replaced, never written through).
// Fails with "CreateFile" or "WriteFile".
// A file that could not be written whole is deleted: a cut file would be
// taken for what it is not, and on a full disk it would keep the room the
// log needs.
Result SaveBufferToFile(const wchar_t* pszPath, const uint8_t* pData, int32_t nSize);

// Writes the whole block; false on a failed write, with the system's error
// code. A write may succeed short of the block (a disk that fills up): the
// rest is written again, so that the failing call reports why.
bool WriteAll(HANDLE hFile, const uint8_t* pData, DWORD cbData);
