#include "framework/HeldFiles.h"

namespace {

// A seed that differs from one set of files to the next.
uint64_t NewSeed()
{
    LARGE_INTEGER now = {};
    ::QueryPerformanceCounter(&now);
    static volatile LONG s_nSets = 0;
    return static_cast<uint64_t>(now.QuadPart) * 0x9E3779B97F4A7C15ull ^
           (static_cast<uint64_t>(::InterlockedIncrement(&s_nSets)) << 32) ^ ::GetCurrentProcessId();
}

// The 64-bit finaliser of SplitMix64: every bit of the input reaches
// every bit of the output.
uint64_t Mix(uint64_t n)
{
    n = (n ^ (n >> 30)) * 0xBF58476D1CE4E5B9ull;
    n = (n ^ (n >> 27)) * 0x94D049BB133111EBull;
    return n ^ (n >> 31);
}

// Two spellings of one file that the key does not join (a short name,
// "..") are only not found: the file's own open then fails as shared, and
// the caller lets all go.
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

}  // namespace

HeldFiles::HeldFiles(size_t nLimit) : m_nSeed(NewSeed()), m_nLimit(nLimit) {}

uint64_t HeldFiles::DigestLocked(const std::wstring& strPath) const
{
    // Each unit goes through the mix with the digest so far.
    uint64_t nDigest = Mix(m_nSeed);
    for (wchar_t ch : HeldFileKey(strPath))
        nDigest = Mix(nDigest ^ static_cast<uint16_t>(ch));
    return nDigest;
}

size_t HeldFiles::FindLocked(uint64_t nDigest) const
{
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].nDigest == nDigest)
            return i;
    return SIZE_MAX;
}

HANDLE HeldFiles::TakeLocked(size_t i)
{
    const HANDLE h = m_entries[i].h;
    m_entries[i] = m_entries.back();
    m_entries.pop_back();
    return h;
}

void HeldFiles::Hold(const std::wstring& strPath, HANDLE h)
{
    HANDLE hClose = h;
    ::AcquireSRWLockExclusive(&m_lock);
    const uint64_t nDigest = DigestLocked(strPath);
    // The same path twice cannot both be open sharing nothing; the newer
    // is the file there now.
    const size_t nOld = FindLocked(nDigest);
    const HANDLE hOld = nOld == SIZE_MAX ? INVALID_HANDLE_VALUE : TakeLocked(nOld);
    if (m_entries.size() < m_nLimit) {
        if (m_entries.empty())
            m_entries.reserve(m_nLimit);
        m_entries.push_back({nDigest, h});
        hClose = INVALID_HANDLE_VALUE;
    }
    ::ReleaseSRWLockExclusive(&m_lock);
    for (HANDLE hDone : {hClose, hOld})
        if (hDone != INVALID_HANDLE_VALUE)
            ::CloseHandle(hDone);
}

HANDLE HeldFiles::Take(const std::wstring& strPath)
{
    ::AcquireSRWLockExclusive(&m_lock);
    const size_t i = FindLocked(DigestLocked(strPath));
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
    m_nSeed = NewSeed();
    ::ReleaseSRWLockExclusive(&m_lock);
    for (const Entry& entry : entries)
        ::CloseHandle(entry.h);
    return !entries.empty();
}

void HeldFiles::GiveUp()
{
    ::AcquireSRWLockExclusive(&m_lock);
    m_nLimit = 0;
    ::ReleaseSRWLockExclusive(&m_lock);
    ReleaseAll();
}
