#include "engine/SetupEngine.h"

#include "log/Log.h"
#include "net/HttpDownload.h"

#include <cstring>
#include <cwchar>
#include <new>

// Not cleared: a page becomes resident only when a download or a read
// first writes it, and nothing reads past the data.
CSetupEngine::CSetupEngine()
{
    m_pDownloadBuffer = new (std::nothrow) uint8_t[kDownloadBufferSize];
    if (m_pDownloadBuffer)
        m_nDownloadCapacity = kDownloadBufferSize;
}

CSetupEngine::~CSetupEngine()
{
    // The log file of the location settled here is let go with it.
    CloseLogFile();
    delete[] m_pDownloadBuffer;
    m_pDownloadBuffer = nullptr;
    m_nDownloadCapacity = 0;
    m_nDownloadSize = 0;
}

void CSetupEngine::GetDestPath()
{
    wchar_t szDrives[MAX_PATH] = {};
    DWORD cch = ::GetLogicalDriveStringsW(MAX_PATH - 1, szDrives);
    // A list too long for the buffer is reported by its needed size only.
    if (cch >= MAX_PATH)
        cch = 0;
    SettleDefaultLocation(szDrives, cch);
}

void CSetupEngine::SettleDefaultLocation(const wchar_t* pszDrives, size_t cchDrives)
{
    std::wmemset(m_szSetupPath, 0, MAX_PATH);
    InstallLocation location;
    if (LocationFromDriveList(pszDrives, cchDrives, &location))
        ApplyLocation(location);
    LogNormal(L"[CSetupDlg::GetDestPath] setuppath=%ls UnInstallPath=%ls", m_szSetupPath, m_szUnInstallPath);
}

bool CSetupEngine::SettleBrowsedLocation(const wchar_t* pszFolder)
{
    InstallLocation location;
    if (!LocationFromFolder(pszFolder, &location))
        return false;
    ApplyLocation(location);
    LogNormal(L"[CSetupDlg::OnClickBrowser] setuppath=%ls", m_szSetupPath);
    return true;
}

void CSetupEngine::ApplyLocation(const InstallLocation& location)
{
    std::wmemcpy(m_szInstallRoot, location.szInstallRoot, MAX_PATH);
    std::wmemcpy(m_szSetupPath, location.szSetupPath, MAX_PATH);
    std::wmemcpy(m_szTempPath, location.szTempPath, MAX_PATH);
    std::wmemcpy(m_szUnInstallPath, location.szUnInstallPath, MAX_PATH);
    std::wmemcpy(g_szLogFile, location.szLogFile, MAX_PATH);
    // A log file left at the location is deleted next, also the one the
    // log holds open when the location is settled again.
    CloseLogFile();
    PrepareLocationFolders(location);
}

void CSetupEngine::ShowError(const wchar_t* pszText)
{
    m_bConfirmClose = 0;
    if (m_pNotifier)
        m_pNotifier->ShowErrorText(pszText);
}

InstallOutcome CSetupEngine::Outcome() const
{
    InstallOutcome outcome;
    outcome.bStarted = m_hThread != nullptr;
    outcome.bStopRequested = IsStopRequested();
    outcome.dwLastError = m_dwLastFailureError;
    DWORD dwExitCode = STILL_ACTIVE;
    if (m_hThread && ::WaitForSingleObject(m_hThread, 0) == WAIT_OBJECT_0 &&
        ::GetExitCodeThread(m_hThread, &dwExitCode)) {
        outcome.bFinished = true;
        outcome.bSucceeded = dwExitCode == 0;
    }
    return outcome;
}

bool CSetupEngine::FetchIntoBuffer(const wchar_t* pszUrl)
{
    if (!m_bReleaseRequired)
        return FetchBody(pszUrl, kAnyBodySize);
    // The size check comes first: a longer body is not read to its end.
    const ReleaseFile* pListed = ListedFile(pszUrl);
    return pListed && FetchBody(pszUrl, static_cast<int32_t>(pListed->nSize)) && MatchesListed(*pListed, pszUrl);
}

// Only the size is reset: the body overwrites what it needs, and every
// reader stops at the size. A zero unit after the body ends it for a reader
// that stops at the first zero instead.
bool CSetupEngine::FetchBody(const wchar_t* pszUrl, int32_t nMaxBody)
{
    DiscardBufferPages();
    m_nDownloadSize = 0;
    const HWND hWndPromptOwner = m_pNotifier ? m_pNotifier->PromptOwner() : nullptr;
    const bool bFetched = HttpDownload(pszUrl, &m_pDownloadBuffer, &m_nDownloadSize, &m_nDownloadCapacity,
                                       m_szProxyUser, m_szProxyPassword, hWndPromptOwner, nMaxBody) != 0;
    ZeroAfterData(m_nDownloadSize, kDownloadTerminatorBytes);
    return bFetched;
}

// The previous body is no longer needed: its pages go back to the system
// and return as the next body writes them, so the buffer stays resident
// only as far as the current body reaches (the CRC files after the largest
// package, for one). The contents become undefined, which nothing reads.
void CSetupEngine::DiscardBufferPages()
{
    static const uintptr_t nPage = [] {
        SYSTEM_INFO si;
        ::GetSystemInfo(&si);
        return static_cast<uintptr_t>(si.dwPageSize);
    }();
    if (!m_pDownloadBuffer || m_nDownloadCapacity <= 0)
        return;
    const uintptr_t nStart = reinterpret_cast<uintptr_t>(m_pDownloadBuffer);
    const uintptr_t nFirst = (nStart + nPage - 1) & ~(nPage - 1);
    const uintptr_t nEnd = (nStart + static_cast<uintptr_t>(m_nDownloadCapacity)) & ~(nPage - 1);
    // Whole pages inside the buffer only: the heap's own bytes around it
    // stay as they are.
    if (nEnd > nFirst)
        ::VirtualAlloc(reinterpret_cast<void*>(nFirst), nEnd - nFirst, MEM_RESET, PAGE_READWRITE);
}

void CSetupEngine::ZeroAfterData(int32_t nSize, int32_t cbZero)
{
    if (!m_pDownloadBuffer || nSize < 0 || nSize >= m_nDownloadCapacity)
        return;
    const int32_t cbRoom = m_nDownloadCapacity - nSize;
    std::memset(m_pDownloadBuffer + nSize, 0, static_cast<size_t>(cbZero < cbRoom ? cbZero : cbRoom));
}
