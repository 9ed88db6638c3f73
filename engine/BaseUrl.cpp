#include "engine/BaseUrl.h"

#include <cwctype>

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

bool IsHostUnit(wchar_t ch)
{
    return (ch < 0x80 && std::iswalnum(ch)) || ch == L'.' || ch == L'-' || ch == L':';
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
        bool bPlain = !strHost.empty() && strHost.front() != L':' && strHost.back() != L':';
        for (wchar_t ch : strHost)
            bPlain = bPlain && IsHostUnit(ch);
        if (bPlain)
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
