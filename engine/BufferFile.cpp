#include "engine/BufferFile.h"

#include "framework/SafeFile.h"
#include "framework/ScopedHandle.h"

bool WriteAll(HANDLE hFile, const uint8_t* pData, DWORD cbData)
{
    DWORD dwLeft = cbData;
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

Result SaveBufferToFile(const wchar_t* pszPath, const uint8_t* pData, int32_t nSize)
{
    ScopedFile file(CreateFreshFile(pszPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
    if (!file)
        return Result::LastError(L"CreateFile");
    if (WriteAll(file.Get(), pData, nSize > 0 ? static_cast<DWORD>(nSize) : 0))
        return Result();
    const Result failed = Result::LastError(L"WriteFile");
    DeleteOnClose(file.Get());
    return failed;
}
