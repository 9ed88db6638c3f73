#include "fuzz/FuzzUnits.h"
#include "net/RangeRequest.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The validator a cut download keeps, the headers that ask for the rest,
// and the answer a retry takes. The input: the byte to continue from and
// the first answer's length (8 bytes each, little-endian), a status
// (0: 200, 1: 206, else 416), then UTF-16 units with U+0000 between the
// ETag, the Last-Modified date, the Content-Range and the Content-Length.
// Besides the sanitizers: nothing a server sends ends a header line, and
// only "bytes <from>-<length - 1>/<length>" with a body of the rest's
// length continues the file.

namespace {

[[noreturn]] void Finding(const char* pszWhat)
{
    std::fprintf(stderr, "finding: %s\n", pszWhat);
    std::abort();
}

uint64_t Le64(const uint8_t* p)
{
    uint64_t n = 0;
    for (int i = 7; i >= 0; --i)
        n = n << 8 | p[i];
    return n;
}

// Decimal digits without a leading zero (but "0"); false for anything else
// or more than fits.
bool ReadCanonical(const std::wstring& str, size_t* pnPos, uint64_t* pn)
{
    const size_t nStart = *pnPos;
    uint64_t n = 0;
    while (*pnPos < str.size() && str[*pnPos] >= L'0' && str[*pnPos] <= L'9') {
        const uint64_t nDigit = static_cast<uint64_t>(str[(*pnPos)++] - L'0');
        if (n > (UINT64_MAX - nDigit) / 10)
            return false;
        n = n * 10 + nDigit;
    }
    *pn = n;
    return *pnPos > nStart && (str[nStart] != L'0' || *pnPos == nStart + 1);
}

// "bytes <first>-<last>/<total>" read field by field.
bool ReadContentRange(const std::wstring& str, uint64_t* pnFirst, uint64_t* pnLast, uint64_t* pnTotal)
{
    size_t nPos = 6;
    return str.compare(0, 6, L"bytes ") == 0 && ReadCanonical(str, &nPos, pnFirst) && nPos < str.size() &&
           str[nPos++] == L'-' && ReadCanonical(str, &nPos, pnLast) && nPos < str.size() && str[nPos++] == L'/' &&
           ReadCanonical(str, &nPos, pnTotal) && nPos == str.size();
}

bool EndsNoLine(const std::wstring& str)
{
    for (wchar_t ch : str)
        if (ch < 0x20 || ch == 0x7F)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb)
{
    if (cb < 17)
        return 0;
    const uint64_t nFrom = Le64(pData);
    const uint64_t nLength = Le64(pData + 8);
    const int nStatus = pData[16] == 0 ? 200 : pData[16] == 1 ? 206 : 416;
    std::vector<std::wstring> fields(1);
    for (wchar_t ch : WideUnits(pData + 17, cb - 17)) {
        if (ch == 0)
            fields.emplace_back();
        else
            fields.back() += ch;
    }
    fields.resize(4);

    const std::wstring strResume = ResumeValidator(fields[0], fields[1], nLength);
    const std::wstring strPrefix = std::to_wstring(nLength) + L" ";
    if (!strResume.empty() &&
        (nLength == 0 || strResume.compare(0, strPrefix.size(), strPrefix) != 0 || !EndsNoLine(strResume)))
        Finding("a validator that could end a header line, or without the length");

    const ResumePoint point = ResumeAt(nFrom, strResume);
    const std::wstring strHeaders = RangeHeaders(point);
    const std::wstring strRange = L"Range: bytes=" + std::to_wstring(nFrom) + L"-\r\nIf-Range: ";
    if (!strHeaders.empty() &&
        (point.nFrom != nFrom || point.nTotal != nLength || nFrom >= nLength ||
         strHeaders.compare(0, strRange.size(), strRange) != 0 || strHeaders.size() < strRange.size() + 2 ||
         strHeaders.compare(strHeaders.size() - 2, 2, L"\r\n") != 0 ||
         !EndsNoLine(strHeaders.substr(strRange.size(), strHeaders.size() - strRange.size() - 2))))
        Finding("headers other than the two that ask for the rest");

    uint64_t nContentLength = 0;
    size_t nPos = 0;
    const bool bContentLength = ReadCanonical(fields[3], &nPos, &nContentLength) && nPos == fields[3].size();
    const RangeAnswer answer = JudgeRangeAnswer(point, nStatus, fields[2], bContentLength ? &nContentLength : nullptr);
    uint64_t nFirst = 0;
    uint64_t nLast = 0;
    uint64_t nTotal = 0;
    const bool bRest = nStatus == 206 && point.nFrom != 0 && ReadContentRange(fields[2], &nFirst, &nLast, &nTotal) &&
                       nFirst == point.nFrom && nTotal == point.nTotal && nLast + 1 == nTotal &&
                       (!bContentLength || nContentLength == nTotal - nFirst);
    RangeAnswer expected = bRest ? RangeAnswer::Continue : RangeAnswer::Refused;
    if (nStatus == 200)
        expected = RangeAnswer::Whole;
    if (answer != expected)
        Finding(answer == RangeAnswer::Continue ? "a rest taken that is not the file's"
                                                : "not the answer the rules give");
    return 0;
}
