#include "engine/SetupEngine.h"

#include "log/Log.h"
#include "net/HttpDownload.h"

#include <cstring>
#include <cwchar>
#include <new>

CSetupEngine::CSetupEngine()
{
    m_pDownloadBuffer = new (std::nothrow) uint8_t[kDownloadBufferSize];
    if (m_pDownloadBuffer) {
        std::memset(m_pDownloadBuffer, 0, kDownloadBufferSize);
        m_nDownloadCapacity = kDownloadBufferSize;
    }
}

CSetupEngine::~CSetupEngine()
{
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

bool CSetupEngine::FetchBody(const wchar_t* pszUrl, int32_t nMaxBody)
{
    if (m_pDownloadBuffer)
        std::memset(m_pDownloadBuffer, 0, static_cast<size_t>(m_nDownloadCapacity));
    m_nDownloadSize = 0;
    const HWND hWndPromptOwner = m_pNotifier ? m_pNotifier->PromptOwner() : nullptr;
    return HttpDownload(pszUrl, &m_pDownloadBuffer, &m_nDownloadSize, &m_nDownloadCapacity, m_szProxyUser,
                        m_szProxyPassword, hWndPromptOwner, nMaxBody) != 0;
}
