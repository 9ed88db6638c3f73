#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class IProxyPrompt;
class StopToken;

// Fetches one URL with a single GET and appends the body to *ppBuffer at
// *pnSize, growing the buffer when needed. Answers one proxy authentication
// demand with the remembered credentials (64-unit arrays) or with ones
// pPrompt is given (null: none, as if cancelled). Returns 1 when the whole
// body is in the buffer, 0 on any failure. With nMaxBody a body longer than that fails:
// at once when its length is announced, else as soon as one byte more has
// come, so that a larger body is never read to its end.
// pStop (null: never) ends the download at once when it stops before or
// during it, its deadline included, even while the server keeps silent: the
// call returns 0, and nothing it started touches the buffer or the caller's
// memory afterwards. A prompt that is open is the prompt's to end.
constexpr int32_t kAnyBodySize = -1;
int HttpDownload(const wchar_t* lpUrl, uint8_t** ppBuffer, int32_t* pnSize, int32_t* pnCapacity, wchar_t* szProxyUser,
                 wchar_t* szProxyPassword, IProxyPrompt* pPrompt, int32_t nMaxBody = kAnyBodySize,
                 const StopToken* pStop = nullptr);

// Where a body goes as it arrives.
class IBodySink {
public:
    virtual ~IBodySink() = default;
    // Before the first byte: the body continues the file at nStart (0: it
    // is the file from its start), which holds nTotal bytes in all (0:
    // unknown). False refuses the body.
    virtual bool Begin(uint64_t nStart, uint64_t nTotal) = 0;
    // The next bytes of the body; false fails the download (the sink logs
    // why).
    virtual bool Write(const uint8_t* pData, DWORD cbData) = 0;
};

constexpr uint64_t kAnyFileSize = UINT64_MAX;

// One GET as HttpDownload makes it, with the body going to a sink.
struct DownloadRequest {
    const wchar_t* lpUrl = nullptr;
    wchar_t* szProxyUser = nullptr;
    wchar_t* szProxyPassword = nullptr;
    IProxyPrompt* pPrompt = nullptr;
    // The most the whole file may hold.
    uint64_t nMaxBody = kAnyFileSize;
    const StopToken* pStop = nullptr;
    // With a validator of an earlier answer for the same file: asks only for
    // the bytes from nResumeFrom on, as long as the file is still that one
    // (net/RangeRequest.h). The sink learns from Begin what came.
    uint64_t nResumeFrom = 0;
    std::wstring strValidator;
};

// 1 when the whole body went to the sink, 0 on any failure. *pstrValidator
// (when given) gets the answer's validator, for a later request to resume.
int HttpDownloadTo(const DownloadRequest& request, IBodySink* pSink, std::wstring* pstrValidator);
