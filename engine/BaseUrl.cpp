#include "engine/BaseUrl.h"

#include <algorithm>

namespace {

// Where the host[:port] of an http or https URL starts; npos without one.
size_t HostStart(const std::wstring& strUrl)
{
    for (const wchar_t* pszScheme : {L"http://", L"https://"}) {
        const std::wstring strScheme = pszScheme;
        if (strUrl.compare(0, strScheme.size(), strScheme) == 0)
            return strScheme.size();
    }
    return std::wstring::npos;
}

bool IsAsciiAlnum(wchar_t ch)
{
    return (ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z') || (ch >= L'0' && ch <= L'9');
}

// Labels of 1 to 63 letters, digits and inner hyphens, joined by single
// dots: a DNS name, or an IPv4 address.
bool IsHostName(const std::wstring& strName)
{
    if (strName.empty() || strName.size() > 253)
        return false;
    size_t nStart = 0;
    for (;;) {
        const size_t nEnd = std::min(strName.find(L'.', nStart), strName.size());
        const size_t cch = nEnd - nStart;
        if (cch == 0 || cch > 63 || strName[nStart] == L'-' || strName[nEnd - 1] == L'-')
            return false;
        for (size_t i = nStart; i < nEnd; ++i)
            if (!IsAsciiAlnum(strName[i]) && strName[i] != L'-')
                return false;
        if (nEnd == strName.size())
            return true;
        nStart = nEnd + 1;
    }
}

bool IsPort(const std::wstring& strPort)
{
    if (strPort.empty() || strPort.size() > 5)
        return false;
    unsigned long nPort = 0;
    for (wchar_t ch : strPort) {
        if (ch < L'0' || ch > L'9')
            return false;
        nPort = nPort * 10 + static_cast<unsigned long>(ch - L'0');
    }
    return nPort >= 1 && nPort <= 65535;
}

bool IsMirrorHost(const std::wstring& strHost)
{
    const size_t nColon = strHost.find(L':');
    return IsHostName(strHost.substr(0, nColon)) &&
           (nColon == std::wstring::npos || IsPort(strHost.substr(nColon + 1)));
}

}  // namespace

std::vector<std::wstring> ParseMirrorHosts(const std::wstring& strList)
{
    std::vector<std::wstring> hosts;
    size_t nStart = 0;
    while (nStart <= strList.size()) {
        size_t nEnd = strList.find(L',', nStart);
        if (nEnd == std::wstring::npos)
            nEnd = strList.size();
        std::wstring strHost = strList.substr(nStart, nEnd - nStart);
        const size_t nFirst = strHost.find_first_not_of(L" \t");
        const size_t nLast = strHost.find_last_not_of(L" \t");
        strHost = nFirst == std::wstring::npos ? L"" : strHost.substr(nFirst, nLast - nFirst + 1);
        if (IsMirrorHost(strHost))
            hosts.push_back(strHost);
        nStart = nEnd + 1;
    }
    return hosts;
}

std::wstring HostOfUrl(const std::wstring& strUrl)
{
    const size_t nStart = HostStart(strUrl);
    if (nStart == std::wstring::npos)
        return L"";
    const size_t nEnd = strUrl.find(L'/', nStart);
    return strUrl.substr(nStart, nEnd == std::wstring::npos ? std::wstring::npos : nEnd - nStart);
}

std::wstring UrlOnHost(const std::wstring& strUrl, const std::wstring& strHost)
{
    const std::wstring strOld = HostOfUrl(strUrl);
    if (strOld.empty())
        return L"";
    const size_t nStart = HostStart(strUrl);
    return strUrl.substr(0, nStart) + strHost + strUrl.substr(nStart + strOld.size());
}
