#include "framework/SafeFile.h"
#include "framework/OpenRelative.h"

#include "framework/ScopedHandle.h"
#include "framework/StringCompare.h"

#include <winternl.h>

#include <cstring>
#include <cwchar>
#include <vector>

namespace {

constexpr int kScratchTries = 64;

bool IsSeparator(wchar_t ch)
{
    return ch == L'\\' || ch == L'/';
}

// The folder part of a path, without the separator; empty for a bare name.
std::wstring FolderOf(const std::wstring& strPath)
{
    const size_t n = strPath.find_last_of(L"\\/");
    return n == std::wstring::npos ? std::wstring() : strPath.substr(0, n);
}

// A name nobody can guess ahead of time cheaply; the create that fails on
// an existing name is what makes it safe, not the name.
std::wstring ScratchPath(const std::wstring& strFolder)
{
    static LONG s_nCounter = 0;
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    const unsigned long long nMix = static_cast<unsigned long long>(now.QuadPart) * 0x9E3779B97F4A7C15ull ^
                                    (static_cast<unsigned long long>(::GetCurrentProcessId()) << 32) ^
                                    static_cast<unsigned long long>(::InterlockedIncrement(&s_nCounter));
    wchar_t szName[32];
    std::swprintf(szName, 32, L"~fm%016llx.tmp", nMix);
    return strFolder + L"\\" + szName;
}

bool RenameOver(HANDLE h, const wchar_t* pszPath)
{
    const size_t cbName = std::wcslen(pszPath) * sizeof(wchar_t);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + cbName);
    auto* pInfo = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    pInfo->ReplaceIfExists = TRUE;
    pInfo->RootDirectory = nullptr;
    pInfo->FileNameLength = static_cast<DWORD>(cbName);
    std::memcpy(pInfo->FileName, pszPath, cbName);
    return ::SetFileInformationByHandle(h, FileRenameInfo, pInfo, static_cast<DWORD>(buffer.size()));
}

}  // namespace

HANDLE CreateFreshFile(const wchar_t* pszPath, DWORD dwAccess, DWORD dwShare)
{
    if (!pszPath || !*pszPath || IsSeparator(pszPath[std::wcslen(pszPath) - 1])) {
        ::SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    // Never inherited by child processes.
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, FALSE};
    const std::wstring strFolder = FolderOf(pszPath);
    for (int nTry = 0; nTry < kScratchTries; ++nTry) {
        const std::wstring strScratch = ScratchPath(strFolder.empty() ? L"." : strFolder);
        ScopedFile file(::CreateFileW(strScratch.c_str(), dwAccess | DELETE, dwShare, &sa, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            if (::GetLastError() == ERROR_FILE_EXISTS || ::GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            return INVALID_HANDLE_VALUE;
        }
        if (RenameOver(file.Get(), pszPath))
            return file.Release();
        const DWORD dwError = ::GetLastError();
        DeleteOnClose(file.Get());
        file.Reset();
        ::SetLastError(dwError);
        return INVALID_HANDLE_VALUE;
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

HANDLE ReopenFreshFile(HANDLE h, const wchar_t* pszPath, DWORD dwAccess, DWORD dwShare)
{
    ScopedFile fresh(h);
    BY_HANDLE_FILE_INFORMATION made = {};
    if (!fresh || !::GetFileInformationByHandle(fresh.Get(), &made))
        return INVALID_HANDLE_VALUE;
    fresh.Reset();
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, FALSE};
    ScopedFile file(::CreateFileW(pszPath, dwAccess | FILE_READ_ATTRIBUTES, dwShare, &sa, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION opened = {};
    if (!file || !::GetFileInformationByHandle(file.Get(), &opened))
        return INVALID_HANDLE_VALUE;
    if (opened.dwVolumeSerialNumber != made.dwVolumeSerialNumber || opened.nFileIndexHigh != made.nFileIndexHigh ||
        opened.nFileIndexLow != made.nFileIndexLow || (opened.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    return file.Release();
}

bool RemoveFileName(const wchar_t* pszPath)
{
    ScopedFile file(CreateFreshFile(pszPath, FILE_READ_ATTRIBUTES, 0));
    return file && DeleteOnClose(file.Get());
}

bool DeleteOnClose(HANDLE h)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof(disposition));
}

HANDLE OpenRelative(HANDLE hFolder, const std::wstring& strName, ACCESS_MASK access, ULONG nShare, ULONG nDisposition,
                    ULONG nOptions, PSECURITY_DESCRIPTOR pDescriptor)
{
    UNICODE_STRING name;
    name.Buffer = const_cast<wchar_t*>(strName.c_str());
    name.Length = static_cast<USHORT>(strName.size() * sizeof(wchar_t));
    name.MaximumLength = name.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, hFolder, pDescriptor);
    IO_STATUS_BLOCK io = {};
    HANDLE h = nullptr;
    const NTSTATUS status = ::NtCreateFile(&h, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                           nShare, nDisposition, nOptions | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (NT_SUCCESS(status))
        return h;
    ::SetLastError(::RtlNtStatusToDosError(status));
    return INVALID_HANDLE_VALUE;
}

std::wstring FinalPathOf(HANDLE h)
{
    std::vector<wchar_t> buffer(MAX_PATH + 8);
    for (;;) {
        const DWORD cch = ::GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (cch == 0)
            return std::wstring();
        if (cch < buffer.size())
            return std::wstring(buffer.data(), cch);
        buffer.resize(cch + 1);
    }
}

bool IsPlainEntry(HANDLE h, const std::wstring& strFolderFinal, const wchar_t* pszName)
{
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof(tag)) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    // Windows opens a link itself here and shows it as a reparse point;
    // only an open that follows a link (Wine's) needs the path compared.
    // A file system that names no final path cannot be asked.
    const std::wstring strFinal = FinalPathOf(h);
    if (strFolderFinal.empty() || strFinal.empty())
        return true;
    std::wstring strExpected = strFolderFinal;
    if (!IsSeparator(strExpected.back()))
        strExpected += L'\\';
    strExpected += pszName;
    return EqualIgnoringCase(strFinal.c_str(), strExpected.c_str());
}

bool IsPlainEntryAt(HANDLE h, const wchar_t* pszPath)
{
    wchar_t szFull[MAX_PATH];
    wchar_t* pszName = nullptr;
    const DWORD cch = ::GetFullPathNameW(pszPath, MAX_PATH, szFull, &pszName);
    if (cch == 0 || cch >= MAX_PATH || !pszName || !*pszName)
        return false;
    const std::wstring strName = pszName;
    *pszName = L'\0';
    ScopedFile folder(::CreateFileW(szFull, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return folder && IsPlainEntry(h, FinalPathOf(folder.Get()), strName.c_str());
}

bool ReadFileAt(HANDLE h, uint64_t nPos, void* pBuffer, DWORD cb, DWORD* pcbRead)
{
    static SRWLOCK s_lock = SRWLOCK_INIT;
    *pcbRead = 0;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(nPos);
    ::AcquireSRWLockExclusive(&s_lock);
    const bool bRead = ::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && ::ReadFile(h, pBuffer, cb, pcbRead, nullptr);
    ::ReleaseSRWLockExclusive(&s_lock);
    return bRead;
}
