#include "engine/PackageFile.h"

#include "engine/BufferFile.h"
#include "framework/SafeFile.h"
#include "log/Log.h"
#include "system/InstallLocation.h"

#include <cstring>
#include <new>

namespace {

// Bytes gathered before one write: few calls, little memory. A block
// this size stays resident in the heap once freed, so it is kept small.
constexpr DWORD kPendingBytes = 64 * 1024;

}  // namespace

PackageFile::PackageFile(bool bHash) : m_bHash(bHash) {}

PackageFile::~PackageFile()
{
    Close(true);
}

Result PackageFile::Create(const wchar_t* pszPath)
{
    Close(false);
    // Shared with readers only: nobody changes or deletes it meanwhile.
    m_file.Reset(CreateFreshFile(pszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ));
    m_strPath = pszPath;
    return m_file ? Result() : Result::LastError(L"CreateFile");
}

bool PackageFile::Begin(uint64_t nStart, uint64_t nTotal)
{
    if (!m_file || nStart != (nStart ? m_nSize : 0))
        return false;
    // A body that cannot fit would only fill the drive, and leave no room
    // for the log.
    ULONGLONG ullFree = 0;
    const uint64_t nNeeded = nTotal > nStart ? nTotal - nStart : 0;
    if (nNeeded && GetFreeBytes(m_strPath.c_str(), &ullFree) && ullFree < nNeeded) {
        LogError(L"[CSetupDlg::Execute] %ls needs %llu bytes more, its drive has %llu free", m_strPath.c_str(),
                 static_cast<unsigned long long>(nNeeded), static_cast<unsigned long long>(ullFree));
        m_dwWriteError = ERROR_DISK_FULL;
        return false;
    }
    m_bWhole = false;
    m_nTotal = nTotal;
    if (nStart == 0) {
        // The whole file comes (again): what it held goes.
        m_cbPending = 0;
        m_nSize = 0;
        m_dwWriteError = ERROR_SUCCESS;
        LARGE_INTEGER zero = {};
        if (!::SetFilePointerEx(m_file.Get(), zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(m_file.Get()))
            return false;
        m_hash.reset(m_bHash ? new (std::nothrow) Sha256Stream : nullptr);
        m_bDigested = false;
    }
    if (m_progress)
        m_progress(m_nSize, m_nTotal);
    return true;
}

bool PackageFile::Write(const uint8_t* pData, DWORD cbData)
{
    // Only while bytes come: a session keeps every package's file.
    if (!m_pending)
        m_pending.reset(new (std::nothrow) uint8_t[kPendingBytes]);
    if (!m_pending) {
        m_dwWriteError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    if (m_hash)
        m_hash->Add(pData, cbData);
    while (cbData > 0) {
        const DWORD cbTake = cbData < kPendingBytes - m_cbPending ? cbData : kPendingBytes - m_cbPending;
        std::memcpy(m_pending.get() + m_cbPending, pData, cbTake);
        m_cbPending += cbTake;
        pData += cbTake;
        cbData -= cbTake;
        if (m_cbPending == kPendingBytes && !Flush())
            return false;
    }
    if (m_progress)
        m_progress(m_nSize + m_cbPending, m_nTotal);
    return true;
}

Result PackageFile::Flush()
{
    if (m_dwWriteError == ERROR_SUCCESS && m_cbPending > 0) {
        if (WriteAll(m_file.Get(), m_pending.get(), m_cbPending))
            m_nSize += m_cbPending;
        else
            m_dwWriteError = ::GetLastError();
        m_cbPending = 0;
    }
    return m_dwWriteError == ERROR_SUCCESS ? Result() : Result::Failed(L"WriteFile", m_dwWriteError);
}

bool PackageFile::Digest(Sha256Digest* pDigest)
{
    if (!m_bDigested && m_hash && m_dwWriteError == ERROR_SUCCESS && m_cbPending == 0)
        m_bDigested = m_hash->Finish(&m_digest);
    if (m_bDigested)
        *pDigest = m_digest;
    return m_bDigested;
}

void PackageFile::Close(bool bDelete)
{
    if (m_file && bDelete)
        DeleteOnClose(m_file.Get());
    m_file.Reset();
    m_strValidator.clear();
    m_cbPending = 0;
    m_nSize = 0;
    m_nTotal = 0;
    m_dwWriteError = ERROR_SUCCESS;
    m_hash.reset();
    m_bWhole = false;
    m_bDigested = false;
}

PackageFile& PackageArchives::For(size_t nIndex, const std::wstring& strName)
{
    // One file per name: an entry that names a package again, or another
    // one than before, starts it afresh.
    for (Kept& kept : m_kept) {
        if ((kept.nIndex == nIndex) != (kept.strName == strName)) {
            kept.pFile->Close(true);
            kept.strName.clear();
        }
    }
    for (Kept& kept : m_kept) {
        if (kept.nIndex == nIndex) {
            kept.strName = strName;
            return *kept.pFile;
        }
    }
    m_kept.push_back({nIndex, strName, std::make_unique<PackageFile>(m_bHash)});
    return *m_kept.back().pFile;
}
