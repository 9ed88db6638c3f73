#pragma once

#include "framework/ScopedHandle.h"

#include <windows.h>

#include <cstdint>

// How saving a download to a file ended; dwError is the system's code of
// the call that failed.
struct SaveResult {
    enum Outcome { kSaved, kCreateFailed, kWriteFailed } outcome;
    DWORD dwError;
};

// Writes the bytes to a new file at the path, replacing whatever holds the
// name (CreateFreshFile: a link there is replaced, never written through).
// A file that could not be written whole is deleted: a cut archive would
// unpack as something it is not, and on a full disk it would keep the room
// the log needs. With pKeep the saved file stays open on *pKeep for reading,
// shared with readers only: nobody can change or delete it meanwhile.
SaveResult SaveBufferToFile(const wchar_t* pszPath, const uint8_t* pData, int32_t nSize, ScopedFile* pKeep = nullptr);
