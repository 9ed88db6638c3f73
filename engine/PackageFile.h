#pragma once

#include "engine/ReleaseFormat.h"
#include "engine/ReleaseSignature.h"
#include "framework/Result.h"
#include "framework/ScopedHandle.h"
#include "net/HttpDownload.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A package's temp file as it downloads: written piece by piece, so that
// memory does not grow with the package, and kept across the tries and
// attempts of a session, so that a try after a cut continues from what it
// holds and a whole one is not fetched again. Counted, and hashed when a
// release lists the package, as it grows. A body that would not fit on the
// drive is refused before its first byte is written.
class PackageFile : public IBodySink {
public:
    // Told the bytes the file holds and its whole size (0: unknown) as
    // they come.
    using Progress = std::function<void(uint64_t nHave, uint64_t nTotal)>;

    explicit PackageFile(bool bHash);
    // A file still open is an unfinished download: it is deleted.
    ~PackageFile() override;
    PackageFile(const PackageFile&) = delete;
    PackageFile& operator=(const PackageFile&) = delete;

    // Makes the file new at the path (CreateFreshFile: whatever holds the
    // name is replaced, never written through).
    Result Create(const wchar_t* pszPath);
    bool IsOpen() const { return static_cast<bool>(m_file); }
    HANDLE Handle() const { return m_file.Get(); }
    // Where the bytes are reported from now on (empty: nowhere).
    void ReportTo(Progress progress) { m_progress = std::move(progress); }
    // The whole file arrived (MarkWhole); a new body starts it again.
    bool IsWhole() const { return m_bWhole; }
    void MarkWhole()
    {
        m_bWhole = true;
        m_pending.reset();
    }
    // Bytes in the file, once Flush has run.
    uint64_t Size() const { return m_nSize; }
    // The validator of the answer that began the file (net/RangeRequest.h).
    std::wstring m_strValidator;

    bool Begin(uint64_t nStart, uint64_t nTotal) override;
    bool Write(const uint8_t* pData, DWORD cbData) override;
    // Writes what is still buffered; fails when the file could not take it
    // (then or at an earlier write).
    Result Flush();
    // The SHA-256 of the whole file; false unless hashing and all went in.
    bool Digest(Sha256Digest* pDigest);
    // Closes the file; with bDelete it goes too.
    void Close(bool bDelete);

private:
    const bool m_bHash;
    Progress m_progress;
    ScopedFile m_file;
    std::wstring m_strPath;
    bool m_bWhole = false;
    std::unique_ptr<uint8_t[]> m_pending;
    DWORD m_cbPending = 0;
    uint64_t m_nSize = 0;  // written to the file
    uint64_t m_nTotal = 0;
    DWORD m_dwWriteError = ERROR_SUCCESS;
    std::unique_ptr<Sha256Stream> m_hash;
    // Made once, when the whole file is in.
    bool m_bDigested = false;
    Sha256Digest m_digest = {};
};

// The archives of a session, one per place in the package list, kept
// across its attempts: an attempt continues what an earlier one fetched.
// What is still there when the session ends is deleted.
class PackageArchives {
public:
    explicit PackageArchives(bool bHash) : m_bHash(bHash) {}
    // The archive of the list's nIndex-th entry, of that name; a new one
    // when the entry names another package than before.
    PackageFile& For(size_t nIndex, const std::wstring& strName);

private:
    struct Kept {
        size_t nIndex;
        std::wstring strName;
        std::unique_ptr<PackageFile> pFile;
    };
    const bool m_bHash;
    std::vector<Kept> m_kept;
};
