#pragma once

#include <cstdint>
#include <string>

// Continuing a cut download: the retry asks for the bytes from the first
// one it lacks, on condition that the file is still the one the first
// answer described (Range with If-Range), and takes the answer only when
// it is exactly that rest of a file of the first answer's length.

// What a later request needs to continue the file an answer began, as one
// text: the file's whole length (nLength, 0: unknown) and the validator
// If-Range names, the answer's strong ETag, else its Last-Modified date.
// Either is taken only when it fits its grammar, so that nothing it holds
// can end the header line. Empty when the length is unknown or neither
// fits: such a file is fetched whole again.
std::wstring ResumeValidator(const std::wstring& strETag, const std::wstring& strLastModified, uint64_t nLength);

// A request for the bytes from nFrom on of a file of nTotal bytes that the
// validator names; nFrom 0 asks for the whole file.
struct ResumePoint {
    uint64_t nFrom = 0;
    uint64_t nTotal = 0;
    std::wstring strValidator;
};

// Where a request for the bytes from nFrom on continues the file a resume
// validator (ResumeValidator) names: from its start when it names none or
// nFrom is not inside that file.
ResumePoint ResumeAt(uint64_t nFrom, const std::wstring& strResume);

// The headers that ask for the rest, CR LF after each; empty for the whole
// file.
std::wstring RangeHeaders(const ResumePoint& point);

enum class RangeAnswer {
    Whole,     // the body is the file from its start
    Continue,  // the body is the rest from the byte asked for
    Refused,   // neither: the body is of no use
};

// What an answer with the status, Content-Range (empty: none) and
// Content-Length (null: none) is to the request. A 200 is the whole file:
// the server ignored the range, or the file changed. A 206 is taken only
// when its Content-Range is "bytes <from>-<total - 1>/<total>" with the
// total the file had, and its body, when announced, is that long.
RangeAnswer JudgeRangeAnswer(const ResumePoint& point, int nStatus, const std::wstring& strContentRange,
                             const uint64_t* pnContentLength);
