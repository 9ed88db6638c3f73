#include "net/HttpDownload.h"

#include "framework/ScopedHandle.h"
#include "framework/StopToken.h"
#include "log/Log.h"
#include "net/DownloadBuffer.h"
#include "net/ProxyPrompt.h"
#include "net/RangeRequest.h"

#include <wininet.h>

#include <atomic>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

namespace {

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::InternetCloseHandle(h); }
};
using ScopedInternet = CScopedHandle<InternetHandleTraits>;

// One read of the body. Under Wine each read that finds WinINet's buffer
// empty is a queued call and its completion, several trips to the server:
// with 64 KiB reads the benchmark's eight packages came from 127.0.0.1 in
// a sixth of the time 5 KiB reads took, and a slow link costs no more.
constexpr DWORD kChunkSize = 65536;
// While the bytes keep coming no read waits, so no wait sees a stop: it is
// looked at once per this many chunks instead. Each look is a round trip to
// the Wine server; one per chunk cost nearly a third of the throughput from
// 127.0.0.1.
constexpr DWORD kChunksPerStopCheck = 16;
constexpr DWORD kTimeoutMs = 15000;
constexpr DWORD kConnectRetries = 5;
// Always from the server, never into the cache, no dialogs of WinINet's own.
constexpr DWORD kOpenUrlFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI | INTERNET_FLAG_TRANSFER_ASCII;
static_assert(kOpenUrlFlags == 0x84000201, "request flags");

void SetDwordOption(HINTERNET hInternet, DWORD dwOption, DWORD dwValue)
{
    ::InternetSetOptionExW(hInternet, dwOption, &dwValue, sizeof(dwValue), 0);
}

void SetStringOption(HINTERNET hInternet, DWORD dwOption, wchar_t* pszValue)
{
    ::InternetSetOptionExW(hInternet, dwOption, pszValue, static_cast<DWORD>(std::wcslen(pszValue) + 1), 0);
}

void SetTimeouts(HINTERNET hInternet)
{
    SetDwordOption(hInternet, INTERNET_OPTION_CONNECT_TIMEOUT, kTimeoutMs);
    SetDwordOption(hInternet, INTERNET_OPTION_CONNECT_BACKOFF, kTimeoutMs);
    SetDwordOption(hInternet, INTERNET_OPTION_CONNECT_RETRIES, kConnectRetries);
    SetDwordOption(hInternet, INTERNET_OPTION_RECEIVE_TIMEOUT, kTimeoutMs);
    SetDwordOption(hInternet, INTERNET_OPTION_SEND_TIMEOUT, kTimeoutMs);
    SetDwordOption(hInternet, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, kTimeoutMs);
    SetDwordOption(hInternet, INTERNET_OPTION_DATA_SEND_TIMEOUT, kTimeoutMs);
}

// What an asynchronous call on the request may still touch after a stop has
// let the download return: WinINet ends the call on a thread of its own (at
// the receive time-out at the latest) and reports it here. The download
// holds one reference and the request handle one, which WinINet gives up
// with the handle's HANDLE_CLOSING, its last callback for the handle, sent
// once the handle is closed and no call on it is pending any more.
struct RequestContext {
    std::atomic<LONG> nRefs{1};
    // Set at each REQUEST_COMPLETE; a wait takes one.
    ScopedHandle hCompleted{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    INTERNET_ASYNC_RESULT result = {};
    INTERNET_BUFFERSW buffers = {};
    uint8_t chunk[kChunkSize];

    void AddRef() { ++nRefs; }
    void Release()
    {
        if (--nRefs == 0)
            delete this;
    }
};

struct RequestContextRelease {
    void operator()(RequestContext* pContext) const { pContext->Release(); }
};
using RequestContextRef = std::unique_ptr<RequestContext, RequestContextRelease>;

// Called by WinINet for the handles of the download; only the request has
// a context, the Internet and connect handles have 0.
void CALLBACK OnRequestStatus(HINTERNET, DWORD_PTR dwContext, DWORD dwStatus, void* pvInfo, DWORD)
{
    auto* pContext = reinterpret_cast<RequestContext*>(dwContext);
    if (!pContext)
        return;
    if (dwStatus == INTERNET_STATUS_REQUEST_COMPLETE) {
        pContext->result = *static_cast<const INTERNET_ASYNC_RESULT*>(pvInfo);
        ::SetEvent(pContext->hCompleted.Get());
    } else if (dwStatus == INTERNET_STATUS_HANDLE_CLOSING) {
        pContext->Release();
    }
}

enum class Outcome { Succeeded, Failed, Stopped };

bool IsStopped(const StopToken* pStop)
{
    return pStop && pStop->IsStopped();
}

// Ends a call on the request that returned bDone: one that WinINet left
// pending is waited for until it completes or the download is stopped. A
// stop leaves the call to WinINet, which then touches nothing outside the
// context. On Failed *pdwError is the call's error.
Outcome AwaitCall(BOOL bDone, RequestContext* pContext, const StopToken* pStop, DWORD* pdwError)
{
    if (bDone)
        return Outcome::Succeeded;
    *pdwError = ::GetLastError();
    if (*pdwError != ERROR_IO_PENDING)
        return Outcome::Failed;
    const HANDLE handles[2] = {pContext->hCompleted.Get(), pStop ? pStop->Event() : nullptr};
    switch (::WaitForMultipleObjects(pStop ? 2 : 1, handles, FALSE, pStop ? pStop->WaitLimit() : INFINITE)) {
    case WAIT_OBJECT_0:
        break;
    case WAIT_OBJECT_0 + 1:
    case WAIT_TIMEOUT:  // the stop's deadline
        return Outcome::Stopped;
    default:
        // The call is left pending, as at a stop.
        *pdwError = ::GetLastError();
        return Outcome::Failed;
    }
    if (!pContext->result.dwResult) {
        *pdwError = pContext->result.dwError;
        return Outcome::Failed;
    }
    return Outcome::Succeeded;
}

// Opens the URL and sends the GET, as InternetOpenUrl does for HTTP, with
// one step more: the time-outs are set on the request itself before it is
// sent. Windows hands the Internet handle's time-outs down to its requests;
// Wine does not, and a server that accepts and never answers would then
// block the download for good. On Failed *pdwError is the platform error.
Outcome OpenUrl(HINTERNET hInternet, const wchar_t* lpUrl, const std::wstring& strHeaders, RequestContext* pContext,
                const StopToken* pStop, ScopedInternet* phConnect, ScopedInternet* phRequest, DWORD* pdwError)
{
    // Zero-length fields with null pointers make the cracker point into lpUrl.
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength = 1;
    parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlW(lpUrl, 0, 0, &parts)) {
        *pdwError = ::GetLastError();
        return Outcome::Failed;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        *pdwError = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
        return Outcome::Failed;
    }
    std::wstring strHost(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring strUser(parts.lpszUserName ? parts.lpszUserName : L"", parts.dwUserNameLength);
    std::wstring strPassword(parts.lpszPassword ? parts.lpszPassword : L"", parts.dwPasswordLength);
    std::wstring strObject = std::wstring(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength) +
                             std::wstring(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"", parts.dwExtraInfoLength);
    if (strObject.empty())
        strObject = L"/";

    phConnect->Reset(
        ::InternetConnectW(hInternet, strHost.c_str(), parts.nPort, strUser.empty() ? nullptr : strUser.c_str(),
                           strPassword.empty() ? nullptr : strPassword.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
    if (!*phConnect) {
        *pdwError = ::GetLastError();
        return Outcome::Failed;
    }
    DWORD dwFlags = kOpenUrlFlags | (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    // The request handle's reference, given up at its HANDLE_CLOSING.
    pContext->AddRef();
    phRequest->Reset(::HttpOpenRequestW(phConnect->Get(), L"GET", strObject.c_str(), nullptr, nullptr, nullptr, dwFlags,
                                        reinterpret_cast<DWORD_PTR>(pContext)));
    if (!*phRequest) {
        *pdwError = ::GetLastError();
        // No handle, so no HANDLE_CLOSING either.
        pContext->Release();
        return Outcome::Failed;
    }
    SetTimeouts(phRequest->Get());
    // Added to the request, so that a send again after a proxy demand keeps
    // them. No connection outlives its download: one the platform kept for
    // reuse would hold a thread of its own (about 1 MiB under Wine) for a
    // minute after the last file.
    const std::wstring strAllHeaders = L"Connection: close\r\n" + strHeaders;
    if (!::HttpAddRequestHeadersW(phRequest->Get(), strAllHeaders.c_str(), static_cast<DWORD>(strAllHeaders.size()),
                                  HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE)) {
        *pdwError = ::GetLastError();
        return Outcome::Failed;
    }
    return AwaitCall(::HttpSendRequestW(phRequest->Get(), nullptr, 0, nullptr, 0), pContext, pStop, pdwError);
}

// The status code as text; false when the query fails.
bool QueryStatus(HINTERNET hRequest, wchar_t (&szStatus)[32])
{
    std::wmemset(szStatus, 0, 32);
    DWORD cbStatus = sizeof(szStatus);
    return ::HttpQueryInfoW(hRequest, HTTP_QUERY_STATUS_CODE, szStatus, &cbStatus, nullptr) != FALSE;
}

void LogStatusFailure()
{
    LogError(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  error=%lu", ::GetLastError());
}

enum class ProxyAuth { Accepted, Cancelled, Refused, QueryFailed, Stopped };

// Answers one 407: the remembered pair when both are set, otherwise what the
// user types into the prompt; then sends the request once more.
ProxyAuth AnswerProxyChallenge(HINTERNET hRequest, RequestContext* pContext, const StopToken* pStop,
                               wchar_t* szProxyUser, wchar_t* szProxyPassword, IProxyPrompt* pPrompt)
{
    LogNormal(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  need check username and password");
    if (szProxyUser[0] == L'\0' || szProxyPassword[0] == L'\0') {
        std::wstring strUser;
        std::wstring strPassword;
        // Without a prompt nobody can answer: as if the user cancelled.
        if (!pPrompt || !pPrompt->AskCredentials(&strUser, &strPassword)) {
            if (IsStopped(pStop))
                return ProxyAuth::Stopped;
            LogNormal(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]] check username and password cancle");
            return ProxyAuth::Cancelled;
        }
        StoreProxyCredential(szProxyUser, strUser);
        StoreProxyCredential(szProxyPassword, strPassword);
    }

    SetStringOption(hRequest, INTERNET_OPTION_PROXY_USERNAME, szProxyUser);
    SetStringOption(hRequest, INTERNET_OPTION_PROXY_PASSWORD, szProxyPassword);
    // A failed send shows up in the status query that follows.
    DWORD dwError = 0;
    if (AwaitCall(::HttpSendRequestW(hRequest, nullptr, 0, nullptr, 0), pContext, pStop, &dwError) == Outcome::Stopped)
        return ProxyAuth::Stopped;

    wchar_t szStatus[32];
    if (!QueryStatus(hRequest, szStatus))
        return ProxyAuth::QueryFailed;
    if (_wcsicmp(szStatus, L"200") != 0 && _wcsicmp(szStatus, L"206") != 0) {
        if (pPrompt)
            pPrompt->ShowCredentialsRefused();
        LogError(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  check username and password failed");
        return ProxyAuth::Refused;
    }
    LogNormal(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  check username and password success");
    return ProxyAuth::Accepted;
}

// The announced body length; false when the response has none (chunked or
// ended by the close).
bool QueryContentLength(HINTERNET hRequest, uint64_t* pnLength)
{
    wchar_t szLength[32] = {};
    DWORD cbLength = sizeof(szLength);
    if (!::HttpQueryInfoW(hRequest, HTTP_QUERY_CONTENT_LENGTH, szLength, &cbLength, nullptr))
        return false;
    wchar_t* pszEnd = nullptr;
    *pnLength = std::wcstoull(szLength, &pszEnd, 10);
    return pszEnd != szLength && *pszEnd == L'\0';
}

// Reads at most cbAsk bytes into the context's chunk; *pcbRead 0 is the end
// of the body. A read WinINet cannot serve at once completes into WinINet's
// own buffer, and the read after that returns the bytes.
Outcome ReadChunk(HINTERNET hRequest, RequestContext* pContext, const StopToken* pStop, DWORD cbAsk, DWORD* pcbRead,
                  DWORD* pdwError)
{
    for (;;) {
        INTERNET_BUFFERSW& buffers = pContext->buffers;
        buffers = {};
        buffers.dwStructSize = sizeof(buffers);
        buffers.lpvBuffer = pContext->chunk;
        buffers.dwBufferLength = cbAsk;
        const BOOL bRead =
            ::InternetReadFileExW(hRequest, &buffers, IRF_NO_WAIT, reinterpret_cast<DWORD_PTR>(pContext));
        const Outcome outcome = AwaitCall(bRead, pContext, pStop, pdwError);
        if (outcome != Outcome::Succeeded)
            return outcome;
        if (bRead) {
            *pcbRead = buffers.dwBufferLength;
            return Outcome::Succeeded;
        }
    }
}

// A header of the answer as text; empty when it has none.
std::wstring QueryHeader(HINTERNET hRequest, DWORD dwInfo)
{
    wchar_t szValue[256] = {};
    DWORD cbValue = sizeof(szValue) - sizeof(wchar_t);
    return ::HttpQueryInfoW(hRequest, dwInfo, szValue, &cbValue, nullptr) ? szValue : L"";
}

// Hands the whole body to the sink; Failed after logging the failure.
// nStart is where the body begins in the file, *pnLength (null: unknown)
// how long it must be, nMaxBody (kAnyFileSize: no limit) the most the whole
// file may hold.
Outcome ReadBody(HINTERNET hRequest, RequestContext* pContext, const StopToken* pStop, IBodySink* pSink,
                 uint64_t nStart, const uint64_t* pnLength, uint64_t nMaxBody)
{
    // WinINet reports a connection closed early as the end of the body: only
    // the length it must have tells a cut body from a whole one.
    const bool bKnownLength = pnLength != nullptr;
    const uint64_t nLength = bKnownLength ? *pnLength : 0;
    const bool bLimited = nMaxBody != kAnyFileSize;
    // What the file may still take from this body.
    const uint64_t nRoom = bLimited ? (nMaxBody > nStart ? nMaxBody - nStart : 0) : UINT64_MAX;
    if (bLimited && bKnownLength && nLength > nRoom) {
        LogError(
            L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_CONTENT_LENGTH]]  body too large Content-Length=%llu max=%llu",
            static_cast<unsigned long long>(nLength), static_cast<unsigned long long>(nMaxBody));
        return Outcome::Failed;
    }
    if (!pSink->Begin(nStart, bKnownLength ? nStart + nLength : 0))
        return Outcome::Failed;

    uint64_t nReceived = 0;
    for (DWORD nChunk = 1;; ++nChunk) {
        if (nChunk % kChunksPerStopCheck == 0 && IsStopped(pStop))
            return Outcome::Stopped;
        DWORD dwRecv = 0;
        // A limited read asks for one byte past the limit at most.
        DWORD cbAsk = kChunkSize;
        if (bLimited && nRoom - nReceived < cbAsk)
            cbAsk = static_cast<DWORD>(nRoom - nReceived + 1);
        DWORD dwError = 0;
        switch (ReadChunk(hRequest, pContext, pStop, cbAsk, &dwRecv, &dwError)) {
        case Outcome::Succeeded:
            break;
        case Outcome::Failed:
            LogError(L"[HttpDownload  InternetReadFile]  error=%lu  size=%lu", dwError, dwRecv);
            return Outcome::Failed;
        case Outcome::Stopped:
            return Outcome::Stopped;
        }
        if (dwRecv > kChunkSize) {
            // The log text is fixed; the limit is the chunk size.
            LogError(L"[HttpDownload  InternetReadFile]  dwRecv > 1000 dwRecv=%lu", dwRecv);
            return Outcome::Failed;
        }
        if (dwRecv == 0) {
            if (bKnownLength && nReceived != nLength) {
                LogError(L"[HttpDownload  InternetReadFile]  body incomplete received=%llu Content-Length=%llu",
                         static_cast<unsigned long long>(nReceived), static_cast<unsigned long long>(nLength));
                return Outcome::Failed;
            }
            return Outcome::Succeeded;
        }
        nReceived += dwRecv;
        if (bLimited && nReceived > nRoom) {
            LogError(L"[HttpDownload  InternetReadFile]  body too large received=%llu max=%llu",
                     static_cast<unsigned long long>(nStart + nReceived), static_cast<unsigned long long>(nMaxBody));
            return Outcome::Failed;
        }
        if (!pSink->Write(pContext->chunk, dwRecv))
            return Outcome::Failed;
    }
}

// The download after the checks of its arguments.
Outcome Fetch(const DownloadRequest& request, IBodySink* pSink, std::wstring* pstrValidator)
{
    const StopToken* pStop = request.pStop;
    if (IsStopped(pStop))
        return Outcome::Stopped;

    // Declared in opening order, so that they close the other way round:
    // the request first, the Internet handle last. Asynchronous, because a
    // handle closed under a synchronous call does not end the call: it
    // waits on for the server up to the time-out.
    ScopedInternet hInternet(
        ::InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC));
    if (!hInternet) {
        LogError(L"[HttpDownload  InternetOpen]  error=%lu", ::GetLastError());
        return Outcome::Failed;
    }
    SetTimeouts(hInternet.Get());
    // Handles made from this one later take the callback with them.
    if (::InternetSetStatusCallbackW(hInternet.Get(), &OnRequestStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
        LogError(L"[HttpDownload  InternetSetStatusCallback]  error=%lu", ::GetLastError());
        return Outcome::Failed;
    }
    RequestContextRef pContext(new (std::nothrow) RequestContext);
    if (!pContext || !pContext->hCompleted) {
        LogError(L"[HttpDownload  CreateEvent]  error=%lu", ::GetLastError());
        return Outcome::Failed;
    }

    // Only a file whose first answer named a validator and its length is
    // continued.
    const ResumePoint point = ResumeAt(request.nResumeFrom, request.strValidator);
    ScopedInternet hConnect;
    ScopedInternet hRequest;
    DWORD dwError = 0;
    switch (OpenUrl(hInternet.Get(), request.lpUrl, RangeHeaders(point), pContext.get(), pStop, &hConnect, &hRequest,
                    &dwError)) {
    case Outcome::Succeeded:
        break;
    case Outcome::Failed:
        LogError(L"[HttpDownload  InternetOpenUrl]  error=%lu lpUrl=%ls", dwError, request.lpUrl);
        return Outcome::Failed;
    case Outcome::Stopped:
        return Outcome::Stopped;
    }

    wchar_t szStatus[32];
    if (!QueryStatus(hRequest.Get(), szStatus)) {
        LogStatusFailure();
        return Outcome::Failed;
    }
    if (_wcsicmp(szStatus, L"407") == 0) {
        switch (AnswerProxyChallenge(hRequest.Get(), pContext.get(), pStop, request.szProxyUser,
                                     request.szProxyPassword, request.pPrompt)) {
        case ProxyAuth::Accepted:
            QueryStatus(hRequest.Get(), szStatus);
            break;
        case ProxyAuth::QueryFailed:
            LogStatusFailure();
            return Outcome::Failed;
        case ProxyAuth::Cancelled:
        case ProxyAuth::Refused:
            return Outcome::Failed;
        case ProxyAuth::Stopped:
            return Outcome::Stopped;
        }
    }
    // Any status but 200, and 206 where a range was asked for, fails.
    const int nStatus = _wcsicmp(szStatus, L"200") == 0 ? 200 : _wcsicmp(szStatus, L"206") == 0 ? 206 : 0;
    if (!nStatus || (nStatus == 206 && !point.nFrom)) {
        LogStatusFailure();
        return Outcome::Failed;
    }
    const std::wstring strContentRange = QueryHeader(hRequest.Get(), HTTP_QUERY_CONTENT_RANGE);
    uint64_t nLength = 0;
    const bool bKnownLength = QueryContentLength(hRequest.Get(), &nLength);
    const RangeAnswer answer = JudgeRangeAnswer(point, nStatus, strContentRange, bKnownLength ? &nLength : nullptr);
    if (answer == RangeAnswer::Refused) {
        LogError(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_CONTENT_RANGE]]  not the rest from %llu: %ls",
                 static_cast<unsigned long long>(point.nFrom), strContentRange.c_str());
        return Outcome::Failed;
    }
    // A rest is as long as its range, whether announced or not.
    const bool bRest = answer == RangeAnswer::Continue;
    if (bRest)
        nLength = point.nTotal - point.nFrom;
    // The whole file's length (0: unknown), which a later request to
    // continue it must find again.
    const uint64_t cbFile = bRest ? point.nTotal : bKnownLength ? nLength : 0;
    if (pstrValidator)
        *pstrValidator = ResumeValidator(QueryHeader(hRequest.Get(), HTTP_QUERY_ETAG),
                                         QueryHeader(hRequest.Get(), HTTP_QUERY_LAST_MODIFIED), cbFile);
    return ReadBody(hRequest.Get(), pContext.get(), pStop, pSink, bRest ? point.nFrom : 0,
                    bRest || bKnownLength ? &nLength : nullptr, request.nMaxBody);
}

// The body appended to the caller's growing buffer.
class CBufferSink : public IBodySink {
public:
    CBufferSink(uint8_t** ppBuffer, int32_t* pnSize, int32_t* pnCapacity)
        : m_ppBuffer(ppBuffer), m_pnSize(pnSize), m_pnCapacity(pnCapacity)
    {
    }
    bool Begin(uint64_t, uint64_t) override { return true; }
    bool Write(const uint8_t* pData, DWORD cbData) override
    {
        switch (AppendChunk(m_ppBuffer, m_pnSize, m_pnCapacity, pData, cbData)) {
        case AppendResult::Appended:
            return true;
        case AppendResult::TooLarge:
            LogError(L"[HttpDownload  InternetReadFile]  size too large size=%ld dwRecv=%lu",
                     static_cast<long>(*m_pnSize), cbData);
            return false;
        case AppendResult::NoMemory:
            LogError(L"[HttpDownload  InternetReadFile]  new buffer failed");
            return false;
        }
        return false;
    }

private:
    uint8_t** m_ppBuffer;
    int32_t* m_pnSize;
    int32_t* m_pnCapacity;
};

}  // namespace

int HttpDownloadTo(const DownloadRequest& request, IBodySink* pSink, std::wstring* pstrValidator)
{
    HTTP_VERSION_INFO version = {1, 1};
    if (!::InternetSetOptionExW(nullptr, INTERNET_OPTION_HTTP_VERSION, &version, sizeof(version), 0)) {
        LogError(L"[HttpDownload  InternetSetOptionEx]  error=%lu", ::GetLastError());
        return 0;
    }
    if (!request.lpUrl) {
        LogError(L"[HttpDownload  lpUrl]  lpUrl is null");
        return 0;
    }

    switch (Fetch(request, pSink, pstrValidator)) {
    case Outcome::Succeeded:
        return 1;
    case Outcome::Failed:
        break;
    case Outcome::Stopped:
        LogError(L"[HttpDownload] stopped lpUrl=%ls", request.lpUrl);
        break;
    }
    return 0;
}

int HttpDownload(const wchar_t* lpUrl, uint8_t** ppBuffer, int32_t* pnSize, int32_t* pnCapacity, wchar_t* szProxyUser,
                 wchar_t* szProxyPassword, IProxyPrompt* pPrompt, int32_t nMaxBody, const StopToken* pStop)
{
    DownloadRequest request;
    request.lpUrl = lpUrl;
    request.szProxyUser = szProxyUser;
    request.szProxyPassword = szProxyPassword;
    request.pPrompt = pPrompt;
    request.nMaxBody = nMaxBody == kAnyBodySize ? kAnyFileSize : static_cast<uint64_t>(nMaxBody);
    request.pStop = pStop;
    CBufferSink sink(ppBuffer, pnSize, pnCapacity);
    return HttpDownloadTo(request, &sink, nullptr);
}
