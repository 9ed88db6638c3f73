#pragma once

#include "framework/ScopedHandle.h"
#include "zip/Zip.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Files a run has just written, held open until they are checked. While a
// file is held nobody else can open, change, rename or remove it, and its
// check reads it through the handle it was written with: under Wine every
// open and close of a file is a round trip to the server. Each handle
// must be open for reading and writing, sharing nothing. Threads may call
// it at once.
class HeldFiles : public IWrittenFiles {
public:
    // Under Wine a held file keeps a descriptor open in the server, which
    // has a limit of them.
    static constexpr size_t kDefaultLimit = 2048;

    explicit HeldFiles(size_t nLimit = kDefaultLimit);
    ~HeldFiles() override { ReleaseAll(); }
    HeldFiles(const HeldFiles&) = delete;
    HeldFiles& operator=(const HeldFiles&) = delete;

    // Takes over the file just written at the path; closes it instead
    // when the limit is reached or holding has been given up.
    void Keep(const std::wstring& strPath, ScopedFile file) override;
    // The file held for the path, now the caller's, its file pointer
    // wherever the writing left it; none when the path is not held.
    ScopedFile Take(const std::wstring& strPath);
    // Closes the handle held for the path, if any: before it is replaced.
    void LetGo(const std::wstring& strPath) override;
    // Closes every held handle. Whether there were any.
    bool ReleaseAll();
    // After an open failed for want of descriptors: closes every held
    // handle and holds no more.
    void GiveUp() override;

private:
    // A path is known by a 64-bit digest of its key (separators as
    // backslashes, runs of them as one after the start, upper case),
    // seeded anew for each set of files: a key of its own per file would
    // cost, under Wine's heap, more than the handle saves. Two paths of one
    // set share a digest about once in 10^13 sets; the check then reads
    // the other file and fails, and the next attempt digests afresh.
    struct Entry {
        uint64_t nDigest;
        HANDLE h;
    };
    uint64_t DigestLocked(const std::wstring& strPath) const;
    // Where the digest is or would go in m_entries, which is in digest
    // order.
    std::vector<Entry>::iterator FindLocked(uint64_t nDigest);

    SRWLOCK m_lock = SRWLOCK_INIT;
    std::vector<Entry> m_entries;
    uint64_t m_nSeed = 0;
    size_t m_nLimit;
};
