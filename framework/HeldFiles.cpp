#include "framework/HeldFiles.h"

#include <utility>

std::wstring HeldFileKey(const std::wstring& strPath)
{
    std::wstring strKey;
    strKey.reserve(strPath.size());
    for (wchar_t ch : strPath) {
        if (ch == L'/')
            ch = L'\\';
        // A leading pair stays: "\\server\share", "\\?\".
        if (ch == L'\\' && strKey.size() > 1 && strKey.back() == L'\\')
            continue;
        strKey.push_back(ch);
    }
    if (!strKey.empty())
        ::CharUpperBuffW(&strKey[0], static_cast<DWORD>(strKey.size()));
    return strKey;
}

void HeldFiles::Hold(const std::wstring& strPath, HANDLE h)
{
    std::wstring strKey = HeldFileKey(strPath);
    ::AcquireSRWLockExclusive(&m_lock);
    HANDLE hOld = INVALID_HANDLE_VALUE;
    if (m_files.size() < m_nLimit) {
        auto inserted = m_files.emplace(std::move(strKey), h);
        // The same path twice cannot both be open sharing nothing; keep
        // the newer all the same.
        if (!inserted.second)
            hOld = std::exchange(inserted.first->second, h);
        h = INVALID_HANDLE_VALUE;
    }
    ::ReleaseSRWLockExclusive(&m_lock);
    for (HANDLE hClose : {h, hOld})
        if (hClose != INVALID_HANDLE_VALUE)
            ::CloseHandle(hClose);
}

HANDLE HeldFiles::Take(const std::wstring& strPath)
{
    const std::wstring strKey = HeldFileKey(strPath);
    HANDLE h = INVALID_HANDLE_VALUE;
    ::AcquireSRWLockExclusive(&m_lock);
    auto it = m_files.find(strKey);
    if (it != m_files.end()) {
        h = it->second;
        m_files.erase(it);
    }
    ::ReleaseSRWLockExclusive(&m_lock);
    return h;
}

void HeldFiles::Release(const std::wstring& strPath)
{
    HANDLE h = Take(strPath);
    if (h != INVALID_HANDLE_VALUE)
        ::CloseHandle(h);
}

bool HeldFiles::ReleaseAll()
{
    std::unordered_map<std::wstring, HANDLE> files;
    ::AcquireSRWLockExclusive(&m_lock);
    files.swap(m_files);
    ::ReleaseSRWLockExclusive(&m_lock);
    for (const auto& file : files)
        ::CloseHandle(file.second);
    return !files.empty();
}

bool HeldFiles::GiveUp()
{
    ::AcquireSRWLockExclusive(&m_lock);
    m_nLimit = 0;
    ::ReleaseSRWLockExclusive(&m_lock);
    return ReleaseAll();
}
