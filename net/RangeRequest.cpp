#include "net/RangeRequest.h"

#include <cwchar>

namespace {

// Decimal digits only, at least one, no overflow; *pnPos moves past them.
bool ReadNumber(const std::wstring& str, size_t* pnPos, uint64_t* pnValue)
{
    uint64_t n = 0;
    const size_t nStart = *pnPos;
    for (; *pnPos < str.size() && str[*pnPos] >= L'0' && str[*pnPos] <= L'9'; ++*pnPos) {
        const uint64_t nDigit = static_cast<uint64_t>(str[*pnPos] - L'0');
        if (n > (UINT64_MAX - nDigit) / 10)
            return false;
        n = n * 10 + nDigit;
    }
    *pnValue = n;
    return *pnPos > nStart;
}

bool Expect(const std::wstring& str, size_t* pnPos, wchar_t ch)
{
    if (*pnPos >= str.size() || str[*pnPos] != ch)
        return false;
    ++*pnPos;
    return true;
}

}  // namespace

std::wstring ResumeValidator(const std::wstring& strETag, const std::wstring& strLastModified)
{
    // A weak tag may name another byte sequence of the same content; If-Range
    // takes strong tags only.
    if (strETag.size() >= 2 && strETag.front() == L'"' && strETag.back() == L'"')
        return strETag;
    return strLastModified;
}

std::wstring RangeHeaders(uint64_t nFrom, const std::wstring& strValidator)
{
    return L"Range: bytes=" + std::to_wstring(nFrom) + L"-\r\nIf-Range: " + strValidator + L"\r\n";
}

bool ParseContentRange(const std::wstring& strValue, uint64_t* pnFirst, uint64_t* pnLast, uint64_t* pnTotal)
{
    static const wchar_t kUnit[] = L"bytes ";
    if (strValue.compare(0, std::wcslen(kUnit), kUnit) != 0)
        return false;
    size_t nPos = std::wcslen(kUnit);
    return ReadNumber(strValue, &nPos, pnFirst) && Expect(strValue, &nPos, L'-') &&
           ReadNumber(strValue, &nPos, pnLast) && Expect(strValue, &nPos, L'/') &&
           ReadNumber(strValue, &nPos, pnTotal) && nPos == strValue.size() && *pnFirst <= *pnLast &&
           *pnLast < *pnTotal;
}

RangeAnswer JudgeRangeAnswer(uint64_t nFrom, int nStatus, const std::wstring& strContentRange, uint64_t* pnTotal)
{
    if (nStatus == 200)
        return RangeAnswer::Whole;
    uint64_t nFirst = 0;
    uint64_t nLast = 0;
    uint64_t nTotal = 0;
    if (nStatus != 206 || nFrom == 0 || !ParseContentRange(strContentRange, &nFirst, &nLast, &nTotal) ||
        nFirst != nFrom || nLast != nTotal - 1)
        return RangeAnswer::Refused;
    *pnTotal = nTotal;
    return RangeAnswer::Continue;
}
