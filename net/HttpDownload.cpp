#include "net/HttpDownload.h"

#include "framework/ScopedHandle.h"
#include "log/Log.h"
#include "net/DownloadBuffer.h"
#include "net/ProxyAuthUi.h"

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

constexpr DWORD kChunkSize = 5120;
// While the bytes keep coming no read waits, so no wait sees a stop: it is
// looked at once per this many chunks instead. Each look is a round trip to
// the Wine server; one per chunk cost nearly a third of the throughput from
// 127.0.0.1.
constexpr DWORD kChunksPerStopCheck = 16;
constexpr DWORD kTimeoutMs = 15000;
constexpr DWORD kConnectRetries = 5;
// Always from the server, never into the cache, no dialogs of WinINet's own.
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_TRANSFER_ASCII;
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

bool IsStopped(HANDLE hStop)
{
    return hStop && ::WaitForSingleObject(hStop, 0) == WAIT_OBJECT_0;
}

// Ends a call on the request that returned bDone: one that WinINet left
// pending is waited for until it completes or hStop is signalled. A stop
// leaves the call to WinINet, which then touches nothing outside the
// context. On Failed *pdwError is the call's error.
Outcome AwaitCall(BOOL bDone, RequestContext* pContext, HANDLE hStop, DWORD* pdwError)
{
    if (bDone)
        return Outcome::Succeeded;
    *pdwError = ::GetLastError();
    if (*pdwError != ERROR_IO_PENDING)
        return Outcome::Failed;
    const HANDLE handles[2] = {pContext->hCompleted.Get(), hStop};
    switch (::WaitForMultipleObjects(hStop ? 2 : 1, handles, FALSE, INFINITE)) {
    case WAIT_OBJECT_0:
        break;
    case WAIT_OBJECT_0 + 1:
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
Outcome OpenUrl(HINTERNET hInternet, const wchar_t* lpUrl, RequestContext* pContext, HANDLE hStop,
                ScopedInternet* phConnect, ScopedInternet* phRequest, DWORD* pdwError)
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
    return AwaitCall(::HttpSendRequestW(phRequest->Get(), nullptr, 0, nullptr, 0), pContext, hStop, pdwError);
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
ProxyAuth AnswerProxyChallenge(HINTERNET hRequest, RequestContext* pContext, HANDLE hStop, wchar_t* szProxyUser,
                               wchar_t* szProxyPassword, HWND hWndOwner)
{
    LogNormal(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  need check username and password");
    if (szProxyUser[0] == L'\0' || szProxyPassword[0] == L'\0') {
        std::wstring strUser;
        std::wstring strPassword;
        if (GetProxyAuthUi().AskCredentials(hWndOwner, &strUser, &strPassword) != IDOK) {
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
    if (AwaitCall(::HttpSendRequestW(hRequest, nullptr, 0, nullptr, 0), pContext, hStop, &dwError) == Outcome::Stopped)
        return ProxyAuth::Stopped;

    wchar_t szStatus[32];
    if (!QueryStatus(hRequest, szStatus))
        return ProxyAuth::QueryFailed;
    if (_wcsicmp(szStatus, L"200") != 0) {
        GetProxyAuthUi().ShowCredentialsRefused(hWndOwner);
        LogError(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  check username and password failed");
        return ProxyAuth::Refused;
    }
    LogNormal(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  check username and password success");
    return ProxyAuth::Accepted;
}

// The announced body length; false when the response has none (chunked or
// ended by the close).
bool QueryContentLength(HINTERNET hRequest, wchar_t (&szLength)[32], uint64_t* pnLength)
{
    std::wmemset(szLength, 0, 32);
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
Outcome ReadChunk(HINTERNET hRequest, RequestContext* pContext, HANDLE hStop, DWORD cbAsk, DWORD* pcbRead,
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
        const Outcome outcome = AwaitCall(bRead, pContext, hStop, pdwError);
        if (outcome != Outcome::Succeeded)
            return outcome;
        if (bRead) {
            *pcbRead = buffers.dwBufferLength;
            return Outcome::Succeeded;
        }
    }
}

// Appends the whole body; Failed after logging the failure.
Outcome ReadBody(HINTERNET hRequest, RequestContext* pContext, HANDLE hStop, uint8_t** ppBuffer, int32_t* pnSize,
                 int32_t* pnCapacity, int32_t nMaxBody)
{
    // WinINet reports a connection closed early as the end of the body: only
    // the announced length tells a cut body from a whole one.
    wchar_t szLength[32];
    uint64_t nLength = 0;
    bool bKnownLength = QueryContentLength(hRequest, szLength, &nLength);
    DWORD dwReceived = 0;
    const bool bLimited = nMaxBody != kAnyBodySize;
    if (bLimited && bKnownLength && nLength > static_cast<uint64_t>(nMaxBody)) {
        LogError(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_CONTENT_LENGTH]]  body too large Content-Length=%ls max=%ld",
                 szLength, static_cast<long>(nMaxBody));
        return Outcome::Failed;
    }

    for (DWORD nChunk = 1;; ++nChunk) {
        if (nChunk % kChunksPerStopCheck == 0 && IsStopped(hStop))
            return Outcome::Stopped;
        DWORD dwRecv = 0;
        // A limited read asks for one byte past the limit at most.
        DWORD cbAsk = kChunkSize;
        if (bLimited && static_cast<uint64_t>(nMaxBody) + 1 - dwReceived < cbAsk)
            cbAsk = static_cast<DWORD>(static_cast<uint64_t>(nMaxBody) + 1 - dwReceived);
        DWORD dwError = 0;
        switch (ReadChunk(hRequest, pContext, hStop, cbAsk, &dwRecv, &dwError)) {
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
            if (bKnownLength && dwReceived != nLength) {
                LogError(L"[HttpDownload  InternetReadFile]  body incomplete received=%lu Content-Length=%ls",
                         dwReceived, szLength);
                return Outcome::Failed;
            }
            return Outcome::Succeeded;
        }
        switch (AppendChunk(ppBuffer, pnSize, pnCapacity, pContext->chunk, dwRecv)) {
        case AppendResult::Appended:
            dwReceived += dwRecv;
            if (bLimited && dwReceived > static_cast<DWORD>(nMaxBody)) {
                LogError(L"[HttpDownload  InternetReadFile]  body too large received=%lu max=%ld", dwReceived,
                         static_cast<long>(nMaxBody));
                return Outcome::Failed;
            }
            break;
        case AppendResult::TooLarge:
            LogError(L"[HttpDownload  InternetReadFile]  size too large size=%ld dwRecv=%lu", static_cast<long>(*pnSize),
                     dwRecv);
            return Outcome::Failed;
        case AppendResult::NoMemory:
            LogError(L"[HttpDownload  InternetReadFile]  new buffer failed");
            return Outcome::Failed;
        }
    }
}

// The download after the checks of its arguments.
Outcome Fetch(const wchar_t* lpUrl, uint8_t** ppBuffer, int32_t* pnSize, int32_t* pnCapacity, wchar_t* szProxyUser,
              wchar_t* szProxyPassword, HWND hWndOwner, int32_t nMaxBody, HANDLE hStop)
{
    if (IsStopped(hStop))
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

    ScopedInternet hConnect;
    ScopedInternet hRequest;
    DWORD dwError = 0;
    switch (OpenUrl(hInternet.Get(), lpUrl, pContext.get(), hStop, &hConnect, &hRequest, &dwError)) {
    case Outcome::Succeeded:
        break;
    case Outcome::Failed:
        LogError(L"[HttpDownload  InternetOpenUrl]  error=%lu lpUrl=%ls", dwError, lpUrl);
        return Outcome::Failed;
    case Outcome::Stopped:
        return Outcome::Stopped;
    }

    wchar_t szStatus[32];
    if (!QueryStatus(hRequest.Get(), szStatus)) {
        LogStatusFailure();
        return Outcome::Failed;
    }
    if (_wcsicmp(szStatus, L"200") != 0) {
        if (_wcsicmp(szStatus, L"407") != 0) {
            LogStatusFailure();
            return Outcome::Failed;
        }
        switch (AnswerProxyChallenge(hRequest.Get(), pContext.get(), hStop, szProxyUser, szProxyPassword, hWndOwner)) {
        case ProxyAuth::Accepted:
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

    return ReadBody(hRequest.Get(), pContext.get(), hStop, ppBuffer, pnSize, pnCapacity, nMaxBody);
}

}  // namespace

int HttpDownload(const wchar_t* lpUrl, uint8_t** ppBuffer, int32_t* pnSize, int32_t* pnCapacity, wchar_t* szProxyUser,
                 wchar_t* szProxyPassword, HWND hWndOwner, int32_t nMaxBody, HANDLE hStop)
{
    HTTP_VERSION_INFO version = {1, 1};
    if (!::InternetSetOptionExW(nullptr, INTERNET_OPTION_HTTP_VERSION, &version, sizeof(version), 0)) {
        LogError(L"[HttpDownload  InternetSetOptionEx]  error=%lu", ::GetLastError());
        return 0;
    }
    if (!lpUrl) {
        LogError(L"[HttpDownload  lpUrl]  lpUrl is null");
        return 0;
    }

    switch (Fetch(lpUrl, ppBuffer, pnSize, pnCapacity, szProxyUser, szProxyPassword, hWndOwner, nMaxBody, hStop)) {
    case Outcome::Succeeded:
        return 1;
    case Outcome::Failed:
        break;
    case Outcome::Stopped:
        LogError(L"[HttpDownload] stopped lpUrl=%ls", lpUrl);
        break;
    }
    return 0;
}
