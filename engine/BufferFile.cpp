#include "engine/BufferFile.h"

#include "framework/SafeFile.h"

namespace {

// Writes the whole block; false on a failed write, with the system's error
// code. A write may succeed short of the block (a disk that fills up): the
// rest is written again, so that the failing call reports why.
bool WriteAll(HANDLE hFile, const uint8_t* pData, int32_t nSize)
{
    DWORD dwLeft = nSize > 0 ? static_cast<DWORD>(nSize) : 0;
    while (dwLeft > 0) {
        DWORD dwWritten = 0;
        if (!::WriteFile(hFile, pData, dwLeft, &dwWritten, nullptr))
            return false;
        if (dwWritten == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        pData += dwWritten;
        dwLeft -= dwWritten;
    }
    return true;
}

}  // namespace

SaveResult SaveBufferToFile(const wchar_t* pszPath, const uint8_t* pData, int32_t nSize, ScopedFile* pKeep)
{
    const DWORD dwAccess = pKeep ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
    const DWORD dwShare = pKeep ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    ScopedFile file(CreateFreshFile(pszPath, dwAccess, dwShare));
    if (!file)
        return {SaveResult::kCreateFailed, ::GetLastError()};
    if (WriteAll(file.Get(), pData, nSize)) {
        if (pKeep)
            *pKeep = std::move(file);
        return {SaveResult::kSaved, ERROR_SUCCESS};
    }
    const DWORD dwError = ::GetLastError();
    DeleteOnClose(file.Get());
    return {SaveResult::kWriteFailed, dwError};
}
