#include "tests/support/TempDir.h"

#include <atomic>
#include <cstring>
#include <cwchar>

namespace {
std::atomic<unsigned> g_nNextDir{0};
}

CTempDir::CTempDir()
{
    wchar_t szBase[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, szBase);
    for (;;) {
        wchar_t szName[MAX_PATH];
        std::swprintf(szName, MAX_PATH, L"%lssetup-test-%lx-%u", szBase, ::GetCurrentProcessId(), g_nNextDir++);
        if (::CreateDirectoryW(szName, nullptr)) {
            m_strPath = szName;
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return;
    }
}

CTempDir::~CTempDir()
{
    if (!m_strPath.empty())
        RemoveTree(m_strPath);
}

bool RemoveTree(const std::wstring& strPath)
{
    DWORD dwAttr = ::GetFileAttributesW(strPath.c_str());
    if (dwAttr == INVALID_FILE_ATTRIBUTES)
        return true;
    ::SetFileAttributesW(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(dwAttr & FILE_ATTRIBUTE_DIRECTORY) || (dwAttr & FILE_ATTRIBUTE_REPARSE_POINT))
        return (dwAttr & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(strPath.c_str()) : ::DeleteFileW(strPath.c_str());

    WIN32_FIND_DATAW fd;
    HANDLE hFind = ::FindFirstFileW((strPath + L"\\*").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (std::wcscmp(fd.cFileName, L".") != 0 && std::wcscmp(fd.cFileName, L"..") != 0)
                RemoveTree(strPath + L"\\" + fd.cFileName);
        } while (::FindNextFileW(hFind, &fd));
        ::FindClose(hFind);
    }
    return ::RemoveDirectoryW(strPath.c_str());
}

bool PathExists(const std::wstring& strPath)
{
    return ::GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& strPath)
{
    std::vector<uint8_t> data;
    HANDLE h = ::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return data;
    LARGE_INTEGER size;
    if (::GetFileSizeEx(h, &size)) {
        data.resize(static_cast<size_t>(size.QuadPart));
        DWORD dwRead = 0;
        if (!data.empty() && (!::ReadFile(h, data.data(), static_cast<DWORD>(data.size()), &dwRead, nullptr) ||
                              dwRead != data.size()))
            data.clear();
    }
    ::CloseHandle(h);
    return data;
}

bool WriteFileBytes(const std::wstring& strPath, const void* pData, size_t cbData)
{
    HANDLE h = ::CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD dwWritten = 0;
    BOOL bOk = cbData == 0 || ::WriteFile(h, pData, static_cast<DWORD>(cbData), &dwWritten, nullptr);
    ::CloseHandle(h);
    return bOk && dwWritten == cbData;
}

std::wstring ReadFileUtf16(const std::wstring& strPath)
{
    std::vector<uint8_t> data = ReadFileBytes(strPath);
    std::wstring str(data.size() / 2, L'\0');
    if (!str.empty())
        std::memcpy(&str[0], data.data(), str.size() * 2);
    return str;
}

std::string Narrow(const std::wstring& str)
{
    int cb = ::WideCharToMultiByte(CP_UTF8, 0, str.c_str(), static_cast<int>(str.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(cb), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, str.c_str(), static_cast<int>(str.size()), &out[0], cb, nullptr, nullptr);
    return out;
}
