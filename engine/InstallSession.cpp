#include "engine/InstallSession.h"

#include "engine/BaseUrl.h"
#include "log/Log.h"
#include "engine/PackageFile.h"
#include "net/HttpDownload.h"

#include <cstring>
#include <new>

namespace {

// Unattended: a proxy that asks for credentials gets none, as if the user
// had cancelled the prompt.
class CSilentProxyAuthUi : public IProxyAuthUi {
public:
    INT_PTR AskCredentials(HWND, std::wstring*, std::wstring*) override { return IDCANCEL; }
    void ShowCredentialsRefused(HWND) override {}
};

CSilentProxyAuthUi g_silentProxyUi;

// A package download is reported at most this often.
constexpr DWORD kDownloadReportMs = 250;

}  // namespace

InstallSettings ProgramInstallSettings(const InstallLocation& location, std::set<int> setPackageGroups, bool bSilent)
{
    InstallSettings settings;
    settings.location = location;
    settings.strBaseUrl = g_strBaseUrl;
    settings.vecMirrorHosts = BuildMirrorHosts();
    settings.setPackageGroups = std::move(setPackageGroups);
    settings.bReleaseRequired = LoadReleaseKey(&settings.releaseKey);
    settings.bSilent = bSilent;
    // Unattended installs go for speed. In the window, where the user
    // watches the slides, the memory counts for more than the second.
    settings.nFileHelpers = bSilent ? 2 : 0;
    return settings;
}

// Not cleared: a page becomes resident only when a download first writes
// it, and nothing reads past the data.
InstallSession::InstallSession(InstallSettings settings, IInstallObserver* pObserver)
    : m_location(settings.location),
      m_strBaseUrl(std::move(settings.strBaseUrl)),
      m_vecMirrorHosts(std::move(settings.vecMirrorHosts)),
      m_setPackageGroups(std::move(settings.setPackageGroups)),
      m_bReleaseRequired(settings.bReleaseRequired),
      m_releaseKey(settings.releaseKey),
      m_bSilent(settings.bSilent),
      m_nAttempts(settings.nAttempts),
      m_dwRunTimeout(settings.dwRunTimeout),
      m_nFileHelpers(settings.nFileHelpers),
      m_pObserver(pObserver)
{
    m_pDownloadBuffer = new (std::nothrow) uint8_t[kDownloadBufferSize];
    if (m_pDownloadBuffer)
        m_nDownloadCapacity = kDownloadBufferSize;
}

InstallSession::~InstallSession()
{
    Stop();
    m_worker.Wait();
    if (m_bSilent && m_worker.IsStarted())
        SetProxyAuthUi(nullptr);
    delete[] m_pDownloadBuffer;
}

bool InstallSession::Start()
{
    // Without its stop event a session could not be stopped.
    if (!m_runStop.IsValid() || m_worker.IsStarted())
        return false;
    // Set before the threads that read it exist, taken back after they end.
    if (m_bSilent)
        SetProxyAuthUi(&g_silentProxyUi);
    if (m_worker.Start(0))
        return true;
    if (m_bSilent)
        SetProxyAuthUi(nullptr);
    return false;
}

void InstallSession::Stop()
{
    m_bStopRequested = true;
    m_runStop.Set();
}

bool InstallSession::Wait(DWORD dwMilliseconds)
{
    return m_worker.Wait(dwMilliseconds);
}

InstallOutcome InstallSession::Outcome() const
{
    InstallOutcome outcome;
    outcome.bStarted = m_worker.IsStarted();
    outcome.bStopRequested = m_bStopRequested;
    outcome.dwLastError = m_dwLastFailureError;
    DWORD dwExitCode = STILL_ACTIVE;
    if (m_worker.ExitCode(&dwExitCode)) {
        outcome.bFinished = true;
        outcome.bSucceeded = dwExitCode == 0;
    }
    return outcome;
}

bool InstallSession::StopRequested() const
{
    return m_bStopRequested || m_runStop.IsSet();
}

void InstallSession::ShowError(const wchar_t* pszText)
{
    if (m_pObserver)
        m_pObserver->OnErrorText(pszText);
}

void InstallSession::ReportProgress(int nPercent)
{
    if (m_pObserver)
        m_pObserver->OnProgress(nPercent);
}

bool InstallSession::FetchServerList(const wchar_t* pszUrl, int32_t* pnSize, std::wstring* pstrText)
{
    return FetchIntoBuffer(pszUrl, [&](const BodyView& body) {
        *pnSize = body.Size();
        *pstrText = ServerListText(body.Data(), body.Size());
        return true;
    });
}

// Only the size is reset: the body overwrites what it needs, and every
// reader stops at the size. A zero unit after the body ends it for a reader
// that stops at the first zero instead.
bool InstallSession::FetchBody(const wchar_t* pszUrl, int32_t nMaxBody, const BodyUse& use)
{
    return FromEachHost(pszUrl, [&](const wchar_t* pszHostUrl) {
        DiscardBufferPages();
        m_nDownloadSize = 0;
        const HWND hWndPromptOwner = m_pObserver ? m_pObserver->PromptOwner() : nullptr;
        const bool bFetched = HttpDownload(pszHostUrl, &m_pDownloadBuffer, &m_nDownloadSize, &m_nDownloadCapacity,
                                           m_szProxyUser, m_szProxyPassword, hWndPromptOwner, nMaxBody,
                                           m_runStop.Event()) != 0;
        if (m_pDownloadBuffer && m_nDownloadSize < m_nDownloadCapacity) {
            const int32_t cbRoom = m_nDownloadCapacity - m_nDownloadSize;
            std::memset(m_pDownloadBuffer + m_nDownloadSize, 0,
                        static_cast<size_t>(kDownloadTerminatorBytes < cbRoom ? kDownloadTerminatorBytes : cbRoom));
        }
        return bFetched && use(BodyView(m_pDownloadBuffer, m_nDownloadSize)) ? HostTry::Served : HostTry::Failed;
    });
}

bool InstallSession::FromEachHost(const wchar_t* pszUrl, const std::function<HostTry(const wchar_t*)>& fetch)
{
    std::wstring strUrl = pszUrl;
    for (size_t nMirror = 0;; ++nMirror) {
        const HostTry result = fetch(strUrl.c_str());
        if (result == HostTry::Served && !m_vecMirrorHosts.empty())
            LogNormal(L"[CSetupDlg::Execute] %ls served by %ls", pszUrl, HostOfUrl(strUrl).c_str());
        if (result != HostTry::Failed || nMirror == m_vecMirrorHosts.size() || StopRequested())
            return result == HostTry::Served;
        strUrl = UrlOnHost(pszUrl, m_vecMirrorHosts[nMirror]);
        if (strUrl.empty())
            return false;
        LogNormal(L"[CSetupDlg::Execute] %ls failed, trying %ls", pszUrl, strUrl.c_str());
    }
}

bool InstallSession::FetchPackage(const wchar_t* pszUrl, PackageFile* pArchive, DWORD* pdwError)
{
    *pdwError = ERROR_SUCCESS;
    DownloadRequest request;
    request.szProxyUser = m_szProxyUser;
    request.szProxyPassword = m_szProxyPassword;
    request.hWndOwner = m_pObserver ? m_pObserver->PromptOwner() : nullptr;
    request.hStop = m_runStop.Event();
    // The size check comes first: a longer body is not read to its end.
    const ReleaseFile* pListed = m_bReleaseRequired ? ListedFile(pszUrl) : nullptr;
    if (m_bReleaseRequired && !pListed)
        return false;
    if (pListed)
        request.nMaxBody = pListed->nSize;

    return FromEachHost(pszUrl, [&](const wchar_t* pszHostUrl) {
        request.lpUrl = pszHostUrl;
        request.nResumeFrom = pArchive->Size();
        request.strValidator = pArchive->m_strValidator;
        if (request.nResumeFrom && !request.strValidator.empty())
            LogNormal(L"[CSetupDlg::Execute] %ls continues from byte %llu", pszHostUrl,
                      static_cast<unsigned long long>(request.nResumeFrom));
        const bool bFetched = HttpDownloadTo(request, pArchive, &pArchive->m_strValidator) != 0;
        // What came stays in the file for the next try to continue.
        if (!pArchive->Flush(pdwError))
            return HostTry::GiveUp;
        if (!bFetched)
            return HostTry::Failed;
        Sha256Digest digest = {};
        if (pListed && !MatchesListed(pArchive->Size(), pArchive->Digest(&digest) ? &digest : nullptr, *pListed,
                                      pszHostUrl)) {
            // Not the release's file: the next try starts it again.
            pArchive->Close(true);
            return HostTry::GiveUp;
        }
        return HostTry::Served;
    });
}

void InstallSession::ReportDownloadBytes(uint64_t nHave, uint64_t nTotal)
{
    const DWORD dwNow = ::GetTickCount();
    const bool bFirst = !m_bDownloadBegun;
    if (bFirst) {
        m_bDownloadBegun = true;
        m_dwDownloadStart = dwNow;
        m_download.nResumedFrom = nHave;
    }
    m_download.nReceived = nHave;
    m_download.nTotal = nTotal;
    m_download.dwElapsedMs = dwNow - m_dwDownloadStart;
    if (!m_pObserver || (!bFirst && dwNow - m_dwDownloadReported < kDownloadReportMs))
        return;
    m_dwDownloadReported = dwNow;
    m_pObserver->OnPackageDownload(m_download);
}

// The previous body is no longer needed: its pages go back to the system
// and return as the next body writes them, so the buffer stays resident
// only as far as the current body reaches (the CRC files after the largest
// package, for one). The contents become undefined, which nothing reads.
void InstallSession::DiscardBufferPages()
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
