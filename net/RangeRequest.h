#pragma once

#include <cstdint>
#include <string>

// Continuing a cut download: the retry asks for the bytes from the first
// one it lacks, on condition that the file is still the one the first
// answer described (Range with If-Range), and takes the answer only when
// it is exactly that rest.

// The validator a later If-Range names: the first answer's ETag when it is
// a strong one, else its Last-Modified date; empty when it has neither,
// and such a file is fetched whole again.
std::wstring ResumeValidator(const std::wstring& strETag, const std::wstring& strLastModified);

// The headers that ask for the bytes from nFrom on of the file the
// validator names, CR LF after each.
std::wstring RangeHeaders(uint64_t nFrom, const std::wstring& strValidator);

// "bytes <first>-<last>/<total>" with first <= last < total; false for any
// other form, "*" for the total included.
bool ParseContentRange(const std::wstring& strValue, uint64_t* pnFirst, uint64_t* pnLast, uint64_t* pnTotal);

enum class RangeAnswer {
    Whole,     // the body is the file from its start
    Continue,  // the body is the rest from the byte asked for
    Refused,   // neither: the body is of no use
};

// What an answer with the status and Content-Range (empty: none) is to a
// request for the bytes from nFrom on (0: the whole file). A 200 is the
// whole file: the server ignored the range, or the file changed. A 206 is
// taken only when it runs from nFrom to the end of the file; *pnTotal is
// then the file's whole size.
RangeAnswer JudgeRangeAnswer(uint64_t nFrom, int nStatus, const std::wstring& strContentRange, uint64_t* pnTotal);
