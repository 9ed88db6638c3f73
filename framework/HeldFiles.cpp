#include "framework/HeldFiles.h"

#include <cstdint>
#include <functional>
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

size_t HeldFiles::FindLocked(const std::wstring& strKey, size_t nHash) const
{
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& entry = m_entries[i];
        if (entry.nHash == nHash && entry.cchKey == strKey.size() &&
            strKey.compare(0, strKey.size(), &m_keys[entry.nKeyAt], entry.cchKey) == 0)
            return i;
    }
    return SIZE_MAX;
}

HANDLE HeldFiles::TakeLocked(size_t i)
{
    const HANDLE h = m_entries[i].h;
    m_entries[i] = m_entries.back();
    m_entries.pop_back();
    // The keys' units are given back once nothing is held.
    if (m_entries.empty())
        m_keys.clear();
    return h;
}

void HeldFiles::Hold(const std::wstring& strPath, HANDLE h)
{
    const std::wstring strKey = HeldFileKey(strPath);
    const size_t nHash = std::hash<std::wstring>()(strKey);
    HANDLE hClose = h;
    ::AcquireSRWLockExclusive(&m_lock);
    // The same path twice cannot both be open sharing nothing; the newer
    // is the file there now.
    const size_t nOld = FindLocked(strKey, nHash);
    HANDLE hOld = nOld == SIZE_MAX ? INVALID_HANDLE_VALUE : TakeLocked(nOld);
    if (m_entries.size() < m_nLimit) {
        m_entries.push_back({nHash, m_keys.size(), strKey.size(), h});
        m_keys.insert(m_keys.end(), strKey.begin(), strKey.end());
        hClose = INVALID_HANDLE_VALUE;
    }
    ::ReleaseSRWLockExclusive(&m_lock);
    for (HANDLE hDone : {hClose, hOld})
        if (hDone != INVALID_HANDLE_VALUE)
            ::CloseHandle(hDone);
}

HANDLE HeldFiles::Take(const std::wstring& strPath)
{
    const std::wstring strKey = HeldFileKey(strPath);
    const size_t nHash = std::hash<std::wstring>()(strKey);
    ::AcquireSRWLockExclusive(&m_lock);
    const size_t i = FindLocked(strKey, nHash);
    const HANDLE h = i == SIZE_MAX ? INVALID_HANDLE_VALUE : TakeLocked(i);
    ::ReleaseSRWLockExclusive(&m_lock);
    return h;
}

void HeldFiles::Release(const std::wstring& strPath)
{
    const HANDLE h = Take(strPath);
    if (h != INVALID_HANDLE_VALUE)
        ::CloseHandle(h);
}

bool HeldFiles::ReleaseAll()
{
    std::vector<Entry> entries;
    ::AcquireSRWLockExclusive(&m_lock);
    entries.swap(m_entries);
    std::vector<wchar_t>().swap(m_keys);
    ::ReleaseSRWLockExclusive(&m_lock);
    for (const Entry& entry : entries)
        ::CloseHandle(entry.h);
    return !entries.empty();
}

bool HeldFiles::GiveUp()
{
    ::AcquireSRWLockExclusive(&m_lock);
    m_nLimit = 0;
    ::ReleaseSRWLockExclusive(&m_lock);
    return ReleaseAll();
}
