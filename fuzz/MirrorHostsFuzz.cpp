#include "engine/BaseUrl.h"
#include "fuzz/FuzzUnits.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The mirror list of the build and the URLs made with its hosts. Besides
// the sanitizers: the hosts kept are exactly the items of the list that
// are a DNS name or an IPv4 address with at most one port of 1-65535, and
// a URL moved to a host names that host and keeps the rest.

namespace {

[[noreturn]] void Finding(const char* pszWhat)
{
    std::fprintf(stderr, "finding: %s\n", pszWhat);
    std::abort();
}

std::wstring Trimmed(const std::wstring& str)
{
    const size_t nFirst = str.find_first_not_of(L" \t");
    return nFirst == std::wstring::npos ? L"" : str.substr(nFirst, str.find_last_not_of(L" \t") - nFirst + 1);
}

bool IsLabel(const std::wstring& str)
{
    if (str.empty() || str.size() > 63 || str.front() == L'-' || str.back() == L'-')
        return false;
    for (wchar_t ch : str)
        if (!((ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z') || (ch >= L'0' && ch <= L'9') || ch == L'-'))
            return false;
    return true;
}

bool IsHost(const std::wstring& strItem)
{
    const size_t nColon = strItem.find(L':');
    const std::wstring strName = strItem.substr(0, nColon);
    if (nColon != std::wstring::npos) {
        const std::wstring strPort = strItem.substr(nColon + 1);
        if (strPort.empty() || strPort.size() > 5 || strPort.find_first_not_of(L"0123456789") != std::wstring::npos)
            return false;
        const unsigned long nPort = std::wcstoul(strPort.c_str(), nullptr, 10);
        if (nPort < 1 || nPort > 65535)
            return false;
    }
    if (strName.empty() || strName.size() > 253)
        return false;
    size_t nStart = 0;
    for (size_t nDot = strName.find(L'.');; nDot = strName.find(L'.', nStart)) {
        if (!IsLabel(strName.substr(nStart, nDot == std::wstring::npos ? std::wstring::npos : nDot - nStart)))
            return false;
        if (nDot == std::wstring::npos)
            return true;
        nStart = nDot + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb)
{
    const std::wstring strList = WideUnits(pData, cb);
    std::vector<std::wstring> expected;
    for (size_t nStart = 0;;) {
        const size_t nComma = strList.find(L',', nStart);
        const std::wstring strItem =
            Trimmed(strList.substr(nStart, nComma == std::wstring::npos ? std::wstring::npos : nComma - nStart));
        if (IsHost(strItem))
            expected.push_back(strItem);
        if (nComma == std::wstring::npos)
            break;
        nStart = nComma + 1;
    }
    const std::vector<std::wstring> hosts = ParseMirrorHosts(strList);
    if (hosts != expected)
        Finding("the hosts kept are not the list's host names and ports");

    for (const std::wstring& strHost : hosts) {
        for (const wchar_t* pszScheme : {L"http://", L"https://"}) {
            const std::wstring strUrl = UrlOnHost(std::wstring(pszScheme) + L"127.0.0.1:8380/EX3/core.zip", strHost);
            if (strUrl != pszScheme + strHost + L"/EX3/core.zip" || HostOfUrl(strUrl) != strHost)
                Finding("a URL on a mirror that names another host or path");
        }
    }
    // The input as a URL: moved to its own host it stays itself.
    const std::wstring strHost = HostOfUrl(strList);
    if (!strHost.empty() && UrlOnHost(strList, strHost) != strList)
        Finding("a URL changed by moving it to its own host");
    return 0;
}
