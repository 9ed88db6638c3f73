#include "net/HttpDownload.h"

#include "framework/ScopedHandle.h"
#include "log/Log.h"
#include "net/DownloadBuffer.h"
#include "net/ProxyAuthUi.h"

#include <wininet.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace {

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::InternetCloseHandle(h); }
};
using ScopedInternet = CScopedHandle<InternetHandleTraits>;

constexpr DWORD kChunkSize = 5120;
constexpr DWORD_PTR kContext = 1;
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

// Opens the URL and sends the GET, as InternetOpenUrl does for HTTP, with
// one step more: the time-outs are set on the request itself before it is
// sent. Windows hands the Internet handle's time-outs down to its requests;
// Wine does not, and a server that accepts and never answers would then
// block the download for good. On failure *pdwError is the platform error.
bool OpenUrl(HINTERNET hInternet, const wchar_t* lpUrl, ScopedInternet* phConnect, ScopedInternet* phRequest,
             DWORD* pdwError)
{
    // Zero-length fields with null pointers make the cracker point into lpUrl.
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength = 1;
    parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlW(lpUrl, 0, 0, &parts)) {
        *pdwError = ::GetLastError();
        return false;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        *pdwError = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
        return false;
    }
    std::wstring strHost(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring strUser(parts.lpszUserName ? parts.lpszUserName : L"", parts.dwUserNameLength);
    std::wstring strPassword(parts.lpszPassword ? parts.lpszPassword : L"", parts.dwPasswordLength);
    std::wstring strObject = std::wstring(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength) +
                             std::wstring(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"", parts.dwExtraInfoLength);
    if (strObject.empty())
        strObject = L"/";

    phConnect->Reset(::InternetConnectW(hInternet, strHost.c_str(), parts.nPort,
                                        strUser.empty() ? nullptr : strUser.c_str(),
                                        strPassword.empty() ? nullptr : strPassword.c_str(), INTERNET_SERVICE_HTTP, 0,
                                        kContext));
    if (!*phConnect) {
        *pdwError = ::GetLastError();
        return false;
    }
    DWORD dwFlags = kOpenUrlFlags | (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    phRequest->Reset(::HttpOpenRequestW(phConnect->Get(), L"GET", strObject.c_str(), nullptr, nullptr, nullptr,
                                        dwFlags, kContext));
    if (!*phRequest) {
        *pdwError = ::GetLastError();
        return false;
    }
    SetTimeouts(phRequest->Get());
    if (!::HttpSendRequestW(phRequest->Get(), nullptr, 0, nullptr, 0)) {
        *pdwError = ::GetLastError();
        return false;
    }
    return true;
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

enum class ProxyAuth { Accepted, Cancelled, Refused, QueryFailed };

// Answers one 407: the remembered pair when both are set, otherwise what the
// user types into the prompt; then sends the request once more.
ProxyAuth AnswerProxyChallenge(HINTERNET hRequest, wchar_t* szProxyUser, wchar_t* szProxyPassword, HWND hWndOwner)
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
    ::HttpSendRequestW(hRequest, nullptr, 0, nullptr, 0);

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

// Appends the whole body; false after logging the failure.
bool ReadBody(HINTERNET hRequest, uint8_t** ppBuffer, int32_t* pnSize, int32_t* pnCapacity, int32_t nMaxBody)
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
        return false;
    }

    uint8_t chunk[kChunkSize];
    for (;;) {
        std::memset(chunk, 0, sizeof(chunk));
        DWORD dwRecv = 0;
        // A limited read asks for one byte past the limit at most.
        DWORD cbAsk = kChunkSize;
        if (bLimited && static_cast<uint64_t>(nMaxBody) + 1 - dwReceived < cbAsk)
            cbAsk = static_cast<DWORD>(static_cast<uint64_t>(nMaxBody) + 1 - dwReceived);
        if (!::InternetReadFile(hRequest, chunk, cbAsk, &dwRecv)) {
            LogError(L"[HttpDownload  InternetReadFile]  error=%lu  size=%lu", ::GetLastError(), dwRecv);
            return false;
        }
        if (dwRecv > kChunkSize) {
            // The log text is fixed; the limit is the chunk size.
            LogError(L"[HttpDownload  InternetReadFile]  dwRecv > 1000 dwRecv=%lu", dwRecv);
            return false;
        }
        if (dwRecv == 0) {
            if (bKnownLength && dwReceived != nLength) {
                LogError(L"[HttpDownload  InternetReadFile]  body incomplete received=%lu Content-Length=%ls",
                         dwReceived, szLength);
                return false;
            }
            return true;
        }
        switch (AppendChunk(ppBuffer, pnSize, pnCapacity, chunk, dwRecv)) {
        case AppendResult::Appended:
            dwReceived += dwRecv;
            if (bLimited && dwReceived > static_cast<DWORD>(nMaxBody)) {
                LogError(L"[HttpDownload  InternetReadFile]  body too large received=%lu max=%ld", dwReceived,
                         static_cast<long>(nMaxBody));
                return false;
            }
            break;
        case AppendResult::TooLarge:
            LogError(L"[HttpDownload  InternetReadFile]  size too large size=%ld dwRecv=%lu", static_cast<long>(*pnSize),
                     dwRecv);
            return false;
        case AppendResult::NoMemory:
            LogError(L"[HttpDownload  InternetReadFile]  new buffer failed");
            return false;
        }
    }
}

}  // namespace

int HttpDownload(const wchar_t* lpUrl, uint8_t** ppBuffer, int32_t* pnSize, int32_t* pnCapacity,
                 wchar_t* szProxyUser, wchar_t* szProxyPassword, HWND hWndOwner, int32_t nMaxBody)
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

    // Declared in opening order, so that they close the other way round:
    // the request first, the Internet handle last.
    ScopedInternet hInternet(::InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!hInternet) {
        LogError(L"[HttpDownload  InternetOpen]  error=%lu", ::GetLastError());
        return 0;
    }
    SetTimeouts(hInternet.Get());

    ScopedInternet hConnect;
    ScopedInternet hRequest;
    DWORD dwError = 0;
    if (!OpenUrl(hInternet.Get(), lpUrl, &hConnect, &hRequest, &dwError)) {
        LogError(L"[HttpDownload  InternetOpenUrl]  error=%lu lpUrl=%ls", dwError, lpUrl);
        return 0;
    }

    wchar_t szStatus[32];
    if (!QueryStatus(hRequest.Get(), szStatus)) {
        LogStatusFailure();
        return 0;
    }
    if (_wcsicmp(szStatus, L"200") != 0) {
        if (_wcsicmp(szStatus, L"407") != 0) {
            LogStatusFailure();
            return 0;
        }
        switch (AnswerProxyChallenge(hRequest.Get(), szProxyUser, szProxyPassword, hWndOwner)) {
        case ProxyAuth::Accepted:
            break;
        case ProxyAuth::QueryFailed:
            LogStatusFailure();
            return 0;
        case ProxyAuth::Cancelled:
        case ProxyAuth::Refused:
            return 0;
        }
    }

    return ReadBody(hRequest.Get(), ppBuffer, pnSize, pnCapacity, nMaxBody) ? 1 : 0;
}
