#include "engine/HeldFiles.h"

#include <algorithm>
#include <utility>

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

std::vector<HeldFiles::Entry>::iterator HeldFiles::FindLocked(uint64_t nDigest)
{
    return std::lower_bound(m_entries.begin(), m_entries.end(), nDigest,
                            [](const Entry& entry, uint64_t n) { return entry.nDigest < n; });
}

void HeldFiles::Keep(const std::wstring& strPath, ScopedFile file)
{
    const HANDLE h = file.Release();
    HANDLE hClose = h;
    ::AcquireSRWLockExclusive(&m_lock);
    const uint64_t nDigest = DigestLocked(strPath);
    // Room for all at once, before a position is taken.
    if (m_entries.empty() && m_nLimit > 0)
        m_entries.reserve(m_nLimit);
    const auto it = FindLocked(nDigest);
    if (it != m_entries.end() && it->nDigest == nDigest) {
        // The same path twice cannot both be open sharing nothing; the
        // newer is the file there now.
        hClose = std::exchange(it->h, h);
    } else if (m_entries.size() < m_nLimit) {
        m_entries.insert(it, {nDigest, h});
        hClose = INVALID_HANDLE_VALUE;
    }
    ::ReleaseSRWLockExclusive(&m_lock);
    if (hClose != INVALID_HANDLE_VALUE)
        ::CloseHandle(hClose);
}

ScopedFile HeldFiles::Take(const std::wstring& strPath)
{
    HANDLE h = INVALID_HANDLE_VALUE;
    ::AcquireSRWLockExclusive(&m_lock);
    const uint64_t nDigest = DigestLocked(strPath);
    const auto it = FindLocked(nDigest);
    if (it != m_entries.end() && it->nDigest == nDigest) {
        h = it->h;
        m_entries.erase(it);
    }
    ::ReleaseSRWLockExclusive(&m_lock);
    return ScopedFile(h);
}

void HeldFiles::LetGo(const std::wstring& strPath)
{
    Take(strPath);
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
