#include "log/Log.h"

#include "framework/SafeFile.h"
#include "framework/ScopedHandle.h"

#include <cwchar>
#include <vector>

int g_nLogLevel = 1;
wchar_t g_szLogFile[MAX_PATH] = {};

const wchar_t g_szLogLevelTags[kLogLevelCount][kLogTagSlot] = {
    L"[Error]",   L"[Normal]",   L"[Normal2]",  L"[Normal3]",  L"[Normal4]",  L"[Normal5]",
    L"[Warning]", L"[Warning2]", L"[Warning3]", L"[Warning4]", L"[Warning5]",
};

namespace {

// Another program may hold the file for a moment; wait that long rather
// than lose the line.
constexpr int kOpenSpinTries = 16;
constexpr LONGLONG kOpenRetryMicroseconds = 20000;

// A message whose formatting keeps failing (an encoding error rather than a
// short buffer) is given up at this size.
constexpr size_t kMaxMessageUnits = 16u << 20;

bool IsTransientOpenError(DWORD dwError)
{
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION;
}

LONGLONG ElapsedMicroseconds(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, freq;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&freq);
    return (now.QuadPart - start.QuadPart) * 1000000 / freq.QuadPart;
}

// A new, empty file at the path, whatever held the name; readers that do
// not share delete can open it.
HANDLE CreateLogFile(const wchar_t* pszPath)
{
    HANDLE h = CreateFreshFile(pszPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE);
    return h == INVALID_HANDLE_VALUE ? h : ReopenFreshFile(h, pszPath, FILE_APPEND_DATA, FILE_SHARE_READ);
}

// Every write lands at the end of the file. Others may read it while it is
// open, but not write: the lines in it stay whole and in the order of
// their writes. A name that is a link or a second name of another file is
// never written through: the log is then made anew under its name.
HANDLE OpenLogFileForAppend(const wchar_t* pszPath)
{
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    for (int nTry = 0;; ++nTry) {
        ScopedFile file(::CreateFileW(pszPath, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file) {
            BY_HANDLE_FILE_INFORMATION info = {};
            if (::GetFileInformationByHandle(file.Get(), &info) && info.nNumberOfLinks == 1 &&
                IsPlainEntryAt(file.Get(), pszPath))
                return file.Release();
            file.Reset();
            return CreateLogFile(pszPath);
        }
        const DWORD dwError = ::GetLastError();
        if (dwError == ERROR_FILE_NOT_FOUND)
            return CreateLogFile(pszPath);
        if (!IsTransientOpenError(dwError) || ElapsedMicroseconds(start) > kOpenRetryMicroseconds)
            return INVALID_HANDLE_VALUE;
        if (nTry < kOpenSpinTries)
            ::SwitchToThread();
        else
            ::Sleep(1);
    }
}

// The log file stays open between lines while its path stays the same:
// under Wine an open and a close cost many times the write. One lock
// orders the threads' lines; a handle is never null when valid.
SRWLOCK g_fileLock = SRWLOCK_INIT;
HANDLE g_hFile = nullptr;
wchar_t g_szOpenPath[MAX_PATH] = {};

void CloseHeldFileLocked()
{
    if (g_hFile)
        ::CloseHandle(g_hFile);
    g_hFile = nullptr;
    g_szOpenPath[0] = L'\0';
}

void LogV(int nLevel, const wchar_t* pszFormat, va_list args)
{
    if (g_nLogLevel < 0)
        return;
    Log(nLevel, pszFormat, args);
}

}  // namespace

std::wstring FormatLogHeader(int nLevel, const SYSTEMTIME& st, DWORD dwProcessId, DWORD dwThreadId)
{
    wchar_t szDate[256] = {};
    wchar_t szTime[256] = {};
    ::GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, &st, nullptr, szTime, 256);
    ::GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, &st, nullptr, szDate, 256);

    const wchar_t* pszTag = (nLevel >= 0 && nLevel < kLogLevelCount) ? g_szLogLevelTags[nLevel] : L"";
    wchar_t szHeader[kLogTagSlot + 2 * 256 + 64];
    std::swprintf(szHeader, sizeof(szHeader) / sizeof(szHeader[0]), L"%ls[%ls %ls:%3d %04x:%04x]", pszTag, szDate,
                  szTime, st.wMilliseconds, static_cast<unsigned>(dwProcessId), static_cast<unsigned>(dwThreadId));
    return szHeader;
}

std::wstring FormatLogMessage(const wchar_t* pszFormat, va_list args)
{
    if (!pszFormat)
        return std::wstring();
    std::vector<wchar_t> buffer(512);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int n = std::vswprintf(buffer.data(), buffer.size(), pszFormat, copy);
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < buffer.size())
            return std::wstring(buffer.data(), static_cast<size_t>(n));
        if (buffer.size() >= kMaxMessageUnits)
            return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
}

void Log(int nLevel, const wchar_t* pszFormat, va_list args)
{
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    DWORD dwThreadId = ::GetCurrentThreadId();
    DWORD dwProcessId = ::GetCurrentProcessId();

    std::wstring strLine = FormatLogHeader(nLevel, st, dwProcessId, dwThreadId);
    strLine += FormatLogMessage(pszFormat, args);
    strLine += L"\r\n";

    ::OutputDebugStringW(strLine.c_str());
    AppendToLogFile(g_szLogFile, strLine.c_str());
}

void LogError(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    LogV(0, pszFormat, args);
    va_end(args);
}

void LogNormal(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    LogV(1, pszFormat, args);
    va_end(args);
}

void AppendToLogFile(const wchar_t* pszPath, const wchar_t* pszText)
{
    if (!pszPath || !*pszPath || !pszText || !*pszText)
        return;

    const size_t cchPath = std::wcslen(pszPath);
    ::AcquireSRWLockExclusive(&g_fileLock);
    if (g_hFile && std::wcscmp(g_szOpenPath, pszPath) != 0)
        CloseHeldFileLocked();
    if (!g_hFile) {
        HANDLE h = OpenLogFileForAppend(pszPath);
        if (h != INVALID_HANDLE_VALUE) {
            g_hFile = h;
            if (cchPath < MAX_PATH)
                std::wmemcpy(g_szOpenPath, pszPath, cchPath + 1);
        }
    }
    if (g_hFile) {
        const size_t cbText = std::wcslen(pszText) * sizeof(wchar_t);
        DWORD dwWritten = 0;
        ::WriteFile(g_hFile, pszText, static_cast<DWORD>(cbText), &dwWritten, nullptr);
        // A path too long to remember is opened for each line.
        if (g_szOpenPath[0] == L'\0')
            CloseHeldFileLocked();
    }
    ::ReleaseSRWLockExclusive(&g_fileLock);
}

bool StartLogFile(const wchar_t* pszPath)
{
    if (!pszPath || !*pszPath)
        return false;
    const size_t cchPath = std::wcslen(pszPath);
    ::AcquireSRWLockExclusive(&g_fileLock);
    CloseHeldFileLocked();
    HANDLE h = CreateLogFile(pszPath);
    if (h != INVALID_HANDLE_VALUE && cchPath < MAX_PATH) {
        g_hFile = h;
        std::wmemcpy(g_szOpenPath, pszPath, cchPath + 1);
    } else if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
    }
    ::ReleaseSRWLockExclusive(&g_fileLock);
    return h != INVALID_HANDLE_VALUE;
}

void CloseLogFile()
{
    ::AcquireSRWLockExclusive(&g_fileLock);
    CloseHeldFileLocked();
    ::ReleaseSRWLockExclusive(&g_fileLock);
}
