#include "net/RangeRequest.h"

#include <cwchar>

namespace {

// An entity tag: a quoted run of visible ASCII but the quote, or of units
// from 0x80 on (bytes a header may carry), optionally marked weak.
bool IsEntityTag(const std::wstring& str)
{
    const size_t nOpen = str.compare(0, 2, L"W/") == 0 ? 2 : 0;
    if (str.size() < nOpen + 2 || str[nOpen] != L'"' || str.back() != L'"')
        return false;
    for (size_t i = nOpen + 1; i + 1 < str.size(); ++i) {
        const wchar_t ch = str[i];
        if (ch == L'"' || (ch < 0x80 && (ch <= 0x20 || ch == 0x7F)))
            return false;
    }
    return true;
}

// An HTTP date is printable ASCII: blanks, letters, digits, "," and ":".
bool IsHttpDate(const std::wstring& str)
{
    if (str.empty())
        return false;
    for (wchar_t ch : str)
        if (ch < 0x20 || ch > 0x7E)
            return false;
    return true;
}

}  // namespace

std::wstring ResumeValidator(const std::wstring& strETag, const std::wstring& strLastModified, uint64_t nLength)
{
    if (nLength == 0)
        return L"";
    // A weak tag may name another byte sequence of the same content; If-Range
    // takes strong tags only.
    if (IsEntityTag(strETag) && strETag[0] == L'"')
        return std::to_wstring(nLength) + L' ' + strETag;
    if (IsHttpDate(strLastModified))
        return std::to_wstring(nLength) + L' ' + strLastModified;
    return L"";
}

ResumePoint ResumeAt(uint64_t nFrom, const std::wstring& strResume)
{
    ResumePoint point;
    const size_t nBlank = strResume.find(L' ');
    if (nFrom == 0 || nBlank == std::wstring::npos || nBlank == 0)
        return point;
    uint64_t nTotal = 0;
    for (size_t i = 0; i < nBlank; ++i) {
        const wchar_t ch = strResume[i];
        if (ch < L'0' || ch > L'9' || nTotal > (UINT64_MAX - 9) / 10)
            return point;
        nTotal = nTotal * 10 + static_cast<uint64_t>(ch - L'0');
    }
    std::wstring strValidator = strResume.substr(nBlank + 1);
    if (nFrom >= nTotal || !(IsEntityTag(strValidator) || IsHttpDate(strValidator)))
        return point;
    point.nFrom = nFrom;
    point.nTotal = nTotal;
    point.strValidator = std::move(strValidator);
    return point;
}

std::wstring RangeHeaders(const ResumePoint& point)
{
    if (point.nFrom == 0)
        return L"";
    return L"Range: bytes=" + std::to_wstring(point.nFrom) + L"-\r\nIf-Range: " + point.strValidator + L"\r\n";
}

RangeAnswer JudgeRangeAnswer(const ResumePoint& point, int nStatus, const std::wstring& strContentRange,
                             const uint64_t* pnContentLength)
{
    if (nStatus == 200)
        return RangeAnswer::Whole;
    if (nStatus != 206 || point.nFrom == 0)
        return RangeAnswer::Refused;
    const std::wstring strRest = L"bytes " + std::to_wstring(point.nFrom) + L"-" + std::to_wstring(point.nTotal - 1) +
                                 L"/" + std::to_wstring(point.nTotal);
    if (strContentRange != strRest || (pnContentLength && *pnContentLength != point.nTotal - point.nFrom))
        return RangeAnswer::Refused;
    return RangeAnswer::Continue;
}
