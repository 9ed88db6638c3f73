#include "framework/ScopedHandle.h"
#include "framework/StopToken.h"
#include "net/DownloadBuffer.h"
#include "net/HttpDownload.h"
#include "net/RangeRequest.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr int32_t kTenMiB = 0xA00000;
constexpr int32_t kMiB = 0x100000;

std::wstring NginxUrl(const std::wstring& strName)
{
    return LocalUrl(L"NET_TEST_NGINX_PORT", L"/EX3/" + strName);
}

std::wstring FaultUrl(const std::wstring& strPath)
{
    return LocalUrl(L"NET_TEST_FAULT_PORT", strPath);
}

std::vector<uint8_t> ServedFile(const std::wstring& strName)
{
    return ReadFileBytes(WindowsPathOf(EnvString(L"NET_TEST_WWW")) + L"\\EX3\\" + strName);
}

// nginx's access log; net-servers.sh keeps nginx's state beside the served
// folder.
std::string NginxAccessLog()
{
    std::vector<uint8_t> log = ReadFileBytes(WindowsPathOf(EnvString(L"NET_TEST_WWW")) + L"\\..\\nginx\\access.log");
    return {log.begin(), log.end()};
}

std::wstring JoinLines(const std::vector<std::wstring>& lines)
{
    std::wstring str;
    for (const std::wstring& strLine : lines)
        str += strLine + L"\n";
    return str;
}

bool MatchesLine(const std::vector<std::wstring>& lines, const std::wstring& strPattern)
{
    return lines.size() == 1 && std::regex_match(lines[0], std::wregex(strPattern));
}

class HttpDownloadTest : public testing::Test {
protected:
    CLogCapture m_log;
    // No prompt may appear here; one that does is counted.
    CScriptedProxyPrompt m_ui;
};

}  // namespace

TEST_F(HttpDownloadTest, FetchesFilesFromNginxIntoTheBuffer)
{
    for (const wchar_t* pszName : {L"hello.txt", L"random-777k.bin"}) {
        SCOPED_TRACE(Narrow(pszName));
        std::vector<uint8_t> expected = ServedFile(pszName);
        ASSERT_FALSE(expected.empty());
        DownloadCaller caller;
        uint8_t* pOriginal = caller.pBuffer;
        m_log.Clear();

        EXPECT_EQ(caller.Download(NginxUrl(pszName), &m_ui), 1);
        EXPECT_TRUE(caller.Body() == expected) << "content differs";
        EXPECT_EQ(caller.pBuffer, pOriginal);
        EXPECT_EQ(caller.nCapacity, kTenMiB);
        EXPECT_EQ(caller.pBuffer[caller.nSize], 0) << "bytes past the body stay zero";
        EXPECT_TRUE(m_log.Messages().empty()) << Narrow(JoinLines(m_log.Messages()));
    }
    EXPECT_EQ(m_ui.m_nPrompts, 0);
}

// The body goes in at the caller's size. The growth rule: no growth while
// size plus the read fits; otherwise half as much again, or the bytes
// needed at that read plus 1 MiB where that is more. The body's last byte
// always comes in the read that first overflows, so the expected capacity
// is exact.
TEST_F(HttpDownloadTest, GrowsTheBufferOnlyWhenTheBodyPassesTheCapacity)
{
    struct Case {
        int32_t nCapacity;
        int32_t nPrefix;
        int32_t nBody;
        int32_t nWantCapacity;
    };
    const Case cases[] = {
        {4096, 1000, 3096, 4096},
        {4096, 1000, 3097, 4097 + kMiB},
        {kTenMiB, 0, kTenMiB, kTenMiB},
        {kTenMiB, 0, kTenMiB + 1, kTenMiB / 2 * 3},
        // No buffer at all counts as a full one.
        {0, 0, 3000, 3000 + kMiB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "capacity " << c.nCapacity << " prefix " << c.nPrefix << " body "
                                        << c.nBody);
        DownloadCaller caller(c.nCapacity);
        if (c.nPrefix)
            std::memset(caller.pBuffer, 'p', static_cast<size_t>(c.nPrefix));
        caller.nSize = c.nPrefix;
        uint8_t* pOriginal = caller.pBuffer;

        std::wstring strUrl = FaultUrl(L"/bytes/" + std::to_wstring(c.nBody));
        ASSERT_EQ(HttpDownload(strUrl.c_str(), &caller.pBuffer, &caller.nSize, &caller.nCapacity, caller.szProxyUser,
                               caller.szProxyPassword, nullptr),
                  1);
        EXPECT_EQ(caller.nCapacity, c.nWantCapacity);
        EXPECT_EQ(caller.pBuffer == pOriginal, c.nWantCapacity == c.nCapacity);
        std::vector<uint8_t> expected(static_cast<size_t>(c.nPrefix), 'p');
        std::vector<uint8_t> body = FaultPattern(static_cast<size_t>(c.nBody));
        expected.insert(expected.end(), body.begin(), body.end());
        ASSERT_EQ(caller.nSize, c.nPrefix + c.nBody);
        EXPECT_TRUE(caller.Body() == expected) << "content differs";
    }
}

// Bodies a little over 10 MiB need one growth, to 15 MiB.
TEST_F(HttpDownloadTest, TakesBodiesLargerThanTenMiB)
{
    struct Case {
        std::wstring strUrl;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {NginxUrl(L"random-12m.bin"), ServedFile(L"random-12m.bin")},
        {FaultUrl(L"/bytes/13000000"), FaultPattern(13000000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.strUrl));
        DownloadCaller caller;
        ASSERT_EQ(caller.Download(c.strUrl), 1);
        EXPECT_EQ(caller.nSize, static_cast<int32_t>(c.expected.size()));
        EXPECT_TRUE(caller.Body() == c.expected) << "content differs";
        EXPECT_EQ(caller.nCapacity, kTenMiB / 2 * 3);
    }
}

TEST_F(HttpDownloadTest, EmptyBodyIsASuccessWithNothingAppended)
{
    DownloadCaller caller;
    uint8_t* pOriginal = caller.pBuffer;
    EXPECT_EQ(caller.Download(FaultUrl(L"/bytes/0")), 1);
    EXPECT_EQ(caller.nSize, 0);
    EXPECT_EQ(caller.pBuffer, pOriginal);
    EXPECT_EQ(caller.nCapacity, kTenMiB);
    EXPECT_TRUE(m_log.Messages().empty()) << Narrow(JoinLines(m_log.Messages()));
}

TEST_F(HttpDownloadTest, StatusesOtherThan200FailWithoutAPrompt)
{
    for (const wchar_t* pszStatus : {L"401", L"404", L"500"}) {
        SCOPED_TRACE(Narrow(pszStatus));
        m_log.Clear();
        DownloadCaller caller;
        EXPECT_EQ(caller.Download(FaultUrl(std::wstring(L"/status/") + pszStatus), &m_ui), 0);
        EXPECT_EQ(caller.nSize, 0);
        EXPECT_TRUE(MatchesLine(m_log.Messages(), LR"(\[Error\]\[HttpDownload  HttpQueryInfo\[HTTP_QUERY_STATUS_CODE\]\]  error=\d+)"))
            << Narrow(JoinLines(m_log.Messages()));
    }
    EXPECT_EQ(m_ui.m_nPrompts, 0);
    EXPECT_EQ(m_ui.m_nRefusals, 0);
}

TEST_F(HttpDownloadTest, UrlThatCannotBeOpenedNamesTheUrl)
{
    struct Case {
        std::wstring strUrl;
        const wchar_t* pszError;
    };
    const Case cases[] = {
        {LocalUrl(L"NET_TEST_CLOSED_PORT", L"/EX3/hello.txt"), L"12029"},
        {L"no url at all", LR"(\d+)"},
        {L"ftp://127.0.0.1/EX3/hello.txt", L"12006"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.strUrl));
        m_log.Clear();
        DownloadCaller caller;
        EXPECT_EQ(caller.Download(c.strUrl), 0);
        std::wstring strPattern = LR"(\[Error\]\[HttpDownload  InternetOpenUrl\]  error=)" + std::wstring(c.pszError) +
                                  L" lpUrl=" + std::regex_replace(c.strUrl, std::wregex(LR"([.^$|()\[\]{}*+?\\])"), L"\\$&");
        EXPECT_TRUE(MatchesLine(m_log.Messages(), strPattern)) << Narrow(JoinLines(m_log.Messages()));
    }
}

TEST_F(HttpDownloadTest, NullUrlIsRefusedAfterTheVersionIsSet)
{
    DownloadCaller caller;
    EXPECT_EQ(HttpDownload(nullptr, &caller.pBuffer, &caller.nSize, &caller.nCapacity, caller.szProxyUser,
                           caller.szProxyPassword, nullptr),
              0);
    EXPECT_EQ(m_log.Messages(), std::vector<std::wstring>{L"[Error][HttpDownload  lpUrl]  lpUrl is null"});
}

// Windows fails the read on a reset; Wine reports it as the end of the body,
// which the announced length then gives away.
TEST_F(HttpDownloadTest, ConnectionResetInTheBodyFails)
{
    DownloadCaller caller;
    EXPECT_EQ(caller.Download(FaultUrl(L"/drop/100000/50000")), 0);
    EXPECT_LE(caller.nSize, 50000);
    EXPECT_TRUE(MatchesLine(m_log.Messages(), LR"(\[Error\]\[HttpDownload  InternetReadFile\]  (error=\d+  size=\d+|body incomplete received=\d+ Content-Length=100000))"))
        << Narrow(JoinLines(m_log.Messages()));
}

// WinINet ends the body quietly at an orderly close; the announced length
// is what shows that the body was cut.
TEST_F(HttpDownloadTest, ConnectionClosedBeforeTheAnnouncedLengthFails)
{
    DownloadCaller caller;
    EXPECT_EQ(caller.Download(FaultUrl(L"/short/100000/50000")), 0);
    EXPECT_EQ(caller.nSize, 50000);
    EXPECT_EQ(m_log.Messages(), std::vector<std::wstring>{
                                 L"[Error][HttpDownload  InternetReadFile]  body incomplete received=50000 Content-Length=100000"});
}

// Silent before the answer and in the body; the stop ends the call far
// inside the 15 s time-out and logs one line.
TEST_F(HttpDownloadTest, StopEndsADownloadWaitingForASilentServer)
{
    struct Case {
        const wchar_t* pszPath;
        int32_t nWantSize;
    };
    const Case cases[] = {{L"/hang", 0}, {L"/stall/100000/20000", 20000}};
    for (const Case& c : cases) {
        const std::wstring strUrl = FaultUrl(c.pszPath);
        SCOPED_TRACE(Narrow(strUrl));
        m_log.Clear();
        StopToken stop;
        DownloadCaller caller;
        int nResult = -1;
        DWORD dwReturnedAt = 0;
        DWORD dwStoppedAt = 0;
        {
            CBackgroundCall call([&] {
                nResult = HttpDownload(strUrl.c_str(), &caller.pBuffer, &caller.nSize, &caller.nCapacity,
                                       caller.szProxyUser, caller.szProxyPassword, nullptr, kAnyBodySize, &stop);
                dwReturnedAt = ::GetTickCount();
            });
            // Long enough for the request, and the first bytes of the body, to arrive.
            ASSERT_FALSE(call.Wait(1000)) << "returned before the stop";
            dwStoppedAt = ::GetTickCount();
            stop.Stop();
            ASSERT_TRUE(call.Wait(14000));
        }
        EXPECT_EQ(nResult, 0);
        EXPECT_LT(dwReturnedAt - dwStoppedAt, 2000u);
        EXPECT_EQ(caller.nSize, c.nWantSize);
        EXPECT_EQ(m_log.Messages(), std::vector<std::wstring>{L"[Error][HttpDownload] stopped lpUrl=" + strUrl});
    }
}

// The request made after the stopped call is in the access log once it has
// been answered; the stopped call's request would have come before it.
TEST_F(HttpDownloadTest, StopSignalledBeforeTheCallSendsNoRequest)
{
    const std::wstring strMark = std::to_wstring(::GetTickCount());
    const std::wstring strUrl = NginxUrl(L"hello.txt?stopped=" + strMark);
    StopToken stop;
    stop.Stop();
    DownloadCaller caller;
    EXPECT_EQ(HttpDownload(strUrl.c_str(), &caller.pBuffer, &caller.nSize, &caller.nCapacity, caller.szProxyUser,
                           caller.szProxyPassword, nullptr, kAnyBodySize, &stop),
              0);
    EXPECT_EQ(caller.nSize, 0);
    EXPECT_EQ(m_log.Messages(), std::vector<std::wstring>{L"[Error][HttpDownload] stopped lpUrl=" + strUrl});

    ASSERT_EQ(caller.Download(NginxUrl(L"hello.txt?after=" + strMark)), 1);
    // nginx writes the line after it has sent the answer.
    const std::string strAfter = "?after=" + Narrow(strMark);
    std::string strAccessLog;
    for (int i = 0; i < 100 && strAccessLog.find(strAfter) == std::string::npos; ++i) {
        ::Sleep(20);
        strAccessLog = NginxAccessLog();
    }
    ASSERT_NE(strAccessLog.find(strAfter), std::string::npos);
    EXPECT_EQ(strAccessLog.find("?stopped=" + Narrow(strMark)), std::string::npos);
}

// Both silent servers in one test, side by side, so that the suite waits for
// the 15 s time-out once. The servers keep silent for two minutes: a call
// that returns well before that was ended by its own time-out.
TEST_F(HttpDownloadTest, SilentServerTimesOut)
{
    struct Call {
        std::wstring strUrl;
        const wchar_t* pszLinePattern;
        int nResult = -1;
        DWORD dwElapsedMs = 0;
        DownloadCaller caller;
    };
    Call calls[2];
    calls[0].strUrl = FaultUrl(L"/hang");
    calls[0].pszLinePattern = LR"(\[Error\]\[HttpDownload  InternetOpenUrl\]  error=\d+ lpUrl=http://127\.0\.0\.1:\d+/hang)";
    calls[1].strUrl = FaultUrl(L"/stall/100000/20000");
    calls[1].pszLinePattern = LR"(\[Error\]\[HttpDownload  InternetReadFile\]  error=\d+  size=\d+)";
    {
        std::vector<std::unique_ptr<CBackgroundCall>> threads;
        for (Call& call : calls) {
            threads.push_back(std::make_unique<CBackgroundCall>([&call] {
                DWORD dwStart = ::GetTickCount();
                call.nResult = call.caller.Download(call.strUrl);
                call.dwElapsedMs = ::GetTickCount() - dwStart;
            }));
        }
        for (auto& pThread : threads)
            ASSERT_TRUE(pThread->Wait(150000));
    }
    std::vector<std::wstring> lines = m_log.Messages();
    ASSERT_EQ(lines.size(), 2u) << Narrow(JoinLines(lines));
    for (Call& call : calls) {
        SCOPED_TRACE(Narrow(call.strUrl));
        EXPECT_EQ(call.nResult, 0);
        EXPECT_GE(call.dwElapsedMs, 14000u);
        EXPECT_LT(call.dwElapsedMs, 60000u);
        std::wregex pattern(call.pszLinePattern);
        EXPECT_TRUE(std::regex_match(lines[0], pattern) || std::regex_match(lines[1], pattern))
            << Narrow(JoinLines(lines));
    }
    EXPECT_LE(calls[1].caller.nSize, 20000);
}

// Only the counts are consulted before the buffer is touched: a count at
// the signed 32-bit limit must fail, not wrap into a write before the buffer.
TEST_F(HttpDownloadTest, BodyPassingTheSignedSizeLimitFails)
{
    DownloadCaller caller(16);
    uint8_t* pOriginal = caller.pBuffer;
    const int32_t nLimit = std::numeric_limits<int32_t>::max();
    caller.nSize = nLimit;
    caller.nCapacity = nLimit;
    EXPECT_EQ(HttpDownload(NginxUrl(L"random-777k.bin").c_str(), &caller.pBuffer, &caller.nSize, &caller.nCapacity,
                           caller.szProxyUser, caller.szProxyPassword, nullptr),
              0);
    EXPECT_EQ(caller.nSize, nLimit);
    EXPECT_EQ(caller.nCapacity, nLimit);
    EXPECT_EQ(caller.pBuffer, pOriginal);
    EXPECT_TRUE(MatchesLine(m_log.Messages(),
                            LR"(\[Error\]\[HttpDownload  InternetReadFile\]  size too large size=2147483647 dwRecv=\d+)"))
        << Narrow(JoinLines(m_log.Messages()));
    caller.nCapacity = 16;
}

// A limited download stops at the announced length when there is one, and
// otherwise one byte past the limit, however long the body goes on; the
// bytes past the limit never reach the buffer.
TEST_F(HttpDownloadTest, BodyLongerThanItsLimitFailsBeforeItsEnd)
{
    const int32_t n777k = static_cast<int32_t>(ServedFile(L"random-777k.bin").size());
    struct Case {
        std::wstring strUrl;
        int32_t nMaxBody;
        int nWant;
        int32_t nWantSize;
        const wchar_t* pszLinePattern;  // null: no line
    };
    const Case cases[] = {
        {NginxUrl(L"random-777k.bin"), n777k, 1, n777k, nullptr},
        {NginxUrl(L"random-777k.bin"), n777k - 1, 0, 0,
         LR"(\[Error\]\[HttpDownload  HttpQueryInfo\[HTTP_QUERY_CONTENT_LENGTH\]\]  body too large Content-Length=\d+ max=\d+)"},
        {FaultUrl(L"/bytes/0"), 0, 1, 0, nullptr},
        {FaultUrl(L"/chunked-short/3000000"), 5000, 0, 0,
         LR"(\[Error\]\[HttpDownload  InternetReadFile\]  body too large received=5001 max=5000)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << Narrow(c.strUrl) << " at most " << c.nMaxBody);
        m_log.Clear();
        DownloadCaller caller;
        EXPECT_EQ(HttpDownload(c.strUrl.c_str(), &caller.pBuffer, &caller.nSize, &caller.nCapacity, caller.szProxyUser,
                               caller.szProxyPassword, nullptr, c.nMaxBody),
                  c.nWant);
        EXPECT_EQ(caller.nSize, c.nWantSize);
        if (c.pszLinePattern) {
            EXPECT_TRUE(MatchesLine(m_log.Messages(), c.pszLinePattern)) << Narrow(JoinLines(m_log.Messages()));
        } else {
            EXPECT_TRUE(m_log.Messages().empty()) << Narrow(JoinLines(m_log.Messages()));
        }
    }
}

TEST(RangeRequest, Decisions)
{
    const std::wstring strDate = L"Mon, 07 Dec 2026 10:00:00 GMT";
    EXPECT_EQ(ResumeValidator(L"\"5f-a1\"", strDate, 1000), L"1000 \"5f-a1\"");
    EXPECT_EQ(ResumeValidator(L"W/\"5f-a1\"", strDate, 1000), L"1000 " + strDate) << "a weak tag cannot name the bytes";
    EXPECT_EQ(ResumeValidator(L"\"\u00e9t\u00e9\"", L"", 1000), L"1000 \"\u00e9t\u00e9\"");
    EXPECT_EQ(ResumeValidator(L"", L"", 1000), L"");
    EXPECT_EQ(ResumeValidator(L"\"5f-a1\"", strDate, 0), L"") << "a file of unknown length";
    // Nothing that could end the header line or split the tag is sent.
    EXPECT_EQ(ResumeValidator(L"\"a\"\r\nX-Injected: \"b\"", L"", 1000), L"");
    EXPECT_EQ(ResumeValidator(L"\"a b\"", strDate + L"\nX: 1", 1000), L"");
    EXPECT_EQ(ResumeValidator(L"\"a\"b\"", strDate, 1000), L"1000 " + strDate);
    EXPECT_EQ(ResumeValidator(L"\"a\x7F\"", L"", 1000), L"");

    EXPECT_EQ(RangeHeaders(ResumeAt(500, L"1000 \"t\"")), L"Range: bytes=500-\r\nIf-Range: \"t\"\r\n");
    EXPECT_EQ(RangeHeaders(ResumeAt(500, L"1000 " + strDate)), L"Range: bytes=500-\r\nIf-Range: " + strDate + L"\r\n");
    EXPECT_EQ(RangeHeaders(ResumeAt(1000, L"1000 \"t\"")), L"") << "nothing left to ask for";
    EXPECT_EQ(RangeHeaders(ResumeAt(500, L"\"t\"")), L"") << "no length";
    EXPECT_EQ(RangeHeaders(ResumeAt(500, L"1000 \"t\"\r\nX: \"u\"")), L"");
    EXPECT_EQ(RangeHeaders(ResumeAt(500, L"99999999999999999999 \"t\"")), L"");

    struct Case {
        uint64_t nFrom;
        int nStatus;
        const wchar_t* pszContentRange;
        int64_t nContentLength;  // -1: none
        RangeAnswer want;
    };
    const Case cases[] = {
        {0, 200, L"", -1, RangeAnswer::Whole},
        {500, 200, L"", -1, RangeAnswer::Whole},  // range ignored, or the file changed
        {500, 206, L"bytes 500-999/1000", -1, RangeAnswer::Continue},
        {500, 206, L"bytes 500-999/1000", 500, RangeAnswer::Continue},
        {500, 206, L"bytes 500-999/1000", 499, RangeAnswer::Refused},  // a body other than the range
        {500, 206, L"bytes 500-999/1000", 1000, RangeAnswer::Refused},
        {500, 206, L"bytes 500-1499/1500", -1, RangeAnswer::Refused},  // a file of another length
        {500, 206, L"bytes 0-999/1000", -1, RangeAnswer::Refused},     // another start
        {500, 206, L"bytes 500-799/1000", -1, RangeAnswer::Refused},   // not to the end
        {500, 206, L"bytes 500-999/*", -1, RangeAnswer::Refused},
        {500, 206, L"bytes 500-999/999", -1, RangeAnswer::Refused},  // past the end
        {500, 206, L"", -1, RangeAnswer::Refused},
        {500, 206, L"bytes 500-999/1000 ", -1, RangeAnswer::Refused},
        {500, 206, L"bytes 0500-999/1000", -1, RangeAnswer::Refused},
        {500, 206, L"items 500-999/1000", -1, RangeAnswer::Refused},
        {500, 206, L"bytes 500-18446744073709551616/1000", -1, RangeAnswer::Refused},
        {0, 206, L"bytes 0-999/1000", -1, RangeAnswer::Refused},  // nothing was asked
        {500, 416, L"bytes */1000", -1, RangeAnswer::Refused},
    };
    for (const Case& c : cases) {
        const uint64_t nLength = static_cast<uint64_t>(c.nContentLength);
        EXPECT_EQ(JudgeRangeAnswer(ResumeAt(c.nFrom, L"1000 \"t\""), c.nStatus, c.pszContentRange,
                                   c.nContentLength < 0 ? nullptr : &nLength),
                  c.want)
            << Narrow(c.pszContentRange) << " " << c.nContentLength;
    }
}

namespace {

// Keeps a body and where it began.
class CRecordingSink : public IBodySink {
public:
    bool Begin(uint64_t nStart, uint64_t nTotal) override
    {
        m_nStart = nStart;
        m_nTotal = nTotal;
        return true;
    }
    bool Write(const uint8_t* pData, DWORD cbData) override
    {
        m_body.insert(m_body.end(), pData, pData + cbData);
        return true;
    }

    uint64_t m_nStart = UINT64_MAX;
    uint64_t m_nTotal = 0;
    std::vector<uint8_t> m_body;
};

}  // namespace

// nginx serves ranges: the rest comes while the validator still names the
// file, the whole file once it does not.
TEST_F(HttpDownloadTest, RestOfAFileWhileItsValidatorHolds)
{
    const std::vector<uint8_t> file = ServedFile(L"random-777k.bin");
    const std::wstring strUrl = NginxUrl(L"random-777k.bin");
    DownloadRequest request;
    request.lpUrl = strUrl.c_str();
    CRecordingSink first;
    std::wstring strValidator;
    ASSERT_EQ(HttpDownloadTo(request, &first, &strValidator), 1);
    ASSERT_FALSE(strValidator.empty());
    EXPECT_EQ(first.m_nStart, 0u);
    EXPECT_TRUE(first.m_body == file);

    request.nResumeFrom = 300000;
    request.strValidator = strValidator;
    CRecordingSink rest;
    ASSERT_EQ(HttpDownloadTo(request, &rest, nullptr), 1);
    EXPECT_EQ(rest.m_nStart, 300000u);
    EXPECT_EQ(rest.m_nTotal, file.size());
    EXPECT_TRUE(rest.m_body == std::vector<uint8_t>(file.begin() + 300000, file.end()));

    request.strValidator = std::to_wstring(file.size()) + L" \"another-file\"";
    CRecordingSink whole;
    ASSERT_EQ(HttpDownloadTo(request, &whole, nullptr), 1);
    EXPECT_EQ(whole.m_nStart, 0u);
    EXPECT_TRUE(whole.m_body == file);
    EXPECT_TRUE(m_log.Messages().empty()) << Narrow(JoinLines(m_log.Messages()));
}
