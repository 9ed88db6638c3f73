#include "engine/ServerFiles.h"

#include "engine/BaseUrl.h"
#include "engine/InstallObserver.h"
#include "engine/PackageFile.h"
#include "engine/PackageList.h"
#include "framework/StopToken.h"
#include "log/Log.h"
#include "net/HttpDownload.h"

#include <cstring>
#include <new>

namespace {

constexpr int32_t kDownloadBufferSize = 0xA00000;
// Zero bytes kept after a download: one UTF-16 terminator.
constexpr int32_t kDownloadTerminatorBytes = 2;

}  // namespace

// Not cleared: a page becomes resident only when a download first writes
// it, and nothing reads past the data.
ServerFiles::ServerFiles(const InstallSettings& settings, IInstallObserver* pObserver, const StopToken& stop)
    : m_strBaseUrl(settings.strBaseUrl), m_vecMirrorHosts(settings.vecMirrorHosts),
      m_bReleaseRequired(settings.bReleaseRequired), m_releaseKey(settings.releaseKey), m_pObserver(pObserver),
      m_stop(stop)
{
    m_pDownloadBuffer = new (std::nothrow) uint8_t[kDownloadBufferSize];
    if (m_pDownloadBuffer)
        m_nDownloadCapacity = kDownloadBufferSize;
}

ServerFiles::~ServerFiles()
{
    delete[] m_pDownloadBuffer;
}

bool ServerFiles::AskCredentials(std::wstring* pstrUser, std::wstring* pstrPassword)
{
    return m_pObserver && m_pObserver->AskProxyCredentials(m_stop, pstrUser, pstrPassword);
}

void ServerFiles::ShowCredentialsRefused()
{
    if (m_pObserver)
        m_pObserver->ShowProxyCredentialsRefused(m_stop);
}

bool ServerFiles::FetchServerList(const wchar_t* pszUrl, int32_t* pnSize, std::wstring* pstrText)
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
bool ServerFiles::FetchBody(const wchar_t* pszUrl, int32_t nMaxBody, const BodyUse& use)
{
    return FromEachHost(pszUrl, [&](const wchar_t* pszHostUrl) {
        DiscardBufferPages();
        m_nDownloadSize = 0;
        const bool bFetched = HttpDownload(pszHostUrl, &m_pDownloadBuffer, &m_nDownloadSize, &m_nDownloadCapacity,
                                           m_szProxyUser, m_szProxyPassword, this, nMaxBody, &m_stop) != 0;
        if (m_pDownloadBuffer && m_nDownloadSize < m_nDownloadCapacity) {
            const int32_t cbRoom = m_nDownloadCapacity - m_nDownloadSize;
            std::memset(m_pDownloadBuffer + m_nDownloadSize, 0,
                        static_cast<size_t>(kDownloadTerminatorBytes < cbRoom ? kDownloadTerminatorBytes : cbRoom));
        }
        return bFetched && use(BodyView(m_pDownloadBuffer, m_nDownloadSize)) ? HostTry::Served : HostTry::Failed;
    });
}

bool ServerFiles::FromEachHost(const wchar_t* pszUrl, const std::function<HostTry(const wchar_t*)>& fetch)
{
    std::wstring strUrl = pszUrl;
    for (size_t nMirror = 0;; ++nMirror) {
        const HostTry result = fetch(strUrl.c_str());
        if (result == HostTry::Served && !m_vecMirrorHosts.empty())
            LogNormal(L"[CSetupDlg::Execute] %ls served by %ls", pszUrl, HostOfUrl(strUrl).c_str());
        if (result != HostTry::Failed || nMirror == m_vecMirrorHosts.size() || m_stop.IsStopped())
            return result == HostTry::Served;
        strUrl = UrlOnHost(pszUrl, m_vecMirrorHosts[nMirror]);
        if (strUrl.empty())
            return false;
        LogNormal(L"[CSetupDlg::Execute] %ls failed, trying %ls", pszUrl, strUrl.c_str());
    }
}

bool ServerFiles::FetchPackage(const wchar_t* pszUrl, PackageFile* pArchive, Result* pSaved)
{
    *pSaved = Result();
    DownloadRequest request;
    request.szProxyUser = m_szProxyUser;
    request.szProxyPassword = m_szProxyPassword;
    request.pPrompt = this;
    request.pStop = &m_stop;
    // The size check comes first: a longer body is not read to its end.
    const ReleaseFile* pListed = m_bReleaseRequired ? ListedFile(pszUrl) : nullptr;
    if (m_bReleaseRequired && !pListed)
        return false;
    if (pListed)
        request.nMaxBody = pListed->nSize;
    if (pArchive->IsWhole()) {
        Sha256Digest digest = {};
        if (!pListed ||
            MatchesListed(pArchive->Size(), pArchive->Digest(&digest) ? &digest : nullptr, *pListed, pszUrl))
            return true;
        pArchive->Close(true);
        return false;
    }

    const bool bServed = FromEachHost(pszUrl, [&](const wchar_t* pszHostUrl) {
        request.lpUrl = pszHostUrl;
        request.nResumeFrom = pArchive->Size();
        request.strValidator = pArchive->m_strValidator;
        if (request.nResumeFrom && !request.strValidator.empty())
            LogNormal(L"[CSetupDlg::Execute] %ls continues from byte %llu", pszHostUrl,
                      static_cast<unsigned long long>(request.nResumeFrom));
        const bool bFetched = HttpDownloadTo(request, pArchive, &pArchive->m_strValidator) != 0;
        // What came stays in the file for the next try to continue.
        *pSaved = pArchive->Flush();
        if (!*pSaved)
            return HostTry::GiveUp;
        if (!bFetched)
            return HostTry::Failed;
        Sha256Digest digest = {};
        if (pListed &&
            !MatchesListed(pArchive->Size(), pArchive->Digest(&digest) ? &digest : nullptr, *pListed, pszHostUrl)) {
            // Not the release's file: the next try starts it again.
            pArchive->Close(true);
            return HostTry::GiveUp;
        }
        return HostTry::Served;
    });
    if (bServed)
        pArchive->MarkWhole();
    return bServed;
}

// The previous body is no longer needed: its pages go back to the system
// and return as the next body writes them, so the buffer stays resident
// only as far as the current body reaches (the CRC files after the largest
// package, for one). The contents become undefined, which nothing reads.
void ServerFiles::DiscardBufferPages()
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
