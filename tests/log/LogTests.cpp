#include "log/Log.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Points the log at a file of the test's own and restores it afterwards.
class LogFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_strFile = m_dir / L"log.txt";
        std::wmemcpy(m_szSavedFile, g_szLogFile, MAX_PATH);
        std::swprintf(g_szLogFile, MAX_PATH, L"%ls", m_strFile.c_str());
        m_nSavedLevel = g_nLogLevel;
    }
    void TearDown() override
    {
        std::wmemcpy(g_szLogFile, m_szSavedFile, MAX_PATH);
        g_nLogLevel = m_nSavedLevel;
        CloseLogFile();
    }

    std::wstring Contents() const { return ReadFileUtf16(m_strFile); }

    CTempDir m_dir;
    std::wstring m_strFile;

private:
    wchar_t m_szSavedFile[MAX_PATH];
    int m_nSavedLevel = 1;
};

void LogAt(int nLevel, const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    Log(nLevel, pszFormat, args);
    va_end(args);
}

std::vector<std::wstring> SplitLines(const std::wstring& strText)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t pos; (pos = strText.find(L"\r\n", start)) != std::wstring::npos; start = pos + 2)
        lines.push_back(strText.substr(start, pos - start));
    EXPECT_EQ(start, strText.size()) << "text after the last CR LF";
    return lines;
}

SYSTEMTIME MakeTime(WORD wMilliseconds)
{
    SYSTEMTIME st = {};
    st.wYear = 2026;
    st.wMonth = 3;
    st.wDay = 14;
    st.wDayOfWeek = 6;
    st.wHour = 15;
    st.wMinute = 5;
    st.wSecond = 9;
    st.wMilliseconds = wMilliseconds;
    return st;
}

}  // namespace

TEST(LogHeader, PadsMillisecondsAndIds)
{
    struct Case {
        WORD wMilliseconds;
        DWORD dwProcessId;
        DWORD dwThreadId;
        const wchar_t* pszTail;
    };
    const Case cases[] = {
        {0, 0x1f, 0x2a, L":  0 001f:002a]"},
        {7, 0xabc, 0xfff, L":  7 0abc:0fff]"},
        {45, 0x1234, 0xffff, L": 45 1234:ffff]"},
        {999, 0x12345, 0xabcdef, L":999 12345:abcdef]"},
    };
    for (const Case& c : cases) {
        std::wstring strHeader = FormatLogHeader(1, MakeTime(c.wMilliseconds), c.dwProcessId, c.dwThreadId);
        SCOPED_TRACE(Narrow(strHeader));
        ASSERT_GT(strHeader.size(), std::wcslen(c.pszTail));
        EXPECT_EQ(strHeader.substr(strHeader.size() - std::wcslen(c.pszTail)), c.pszTail);
        EXPECT_EQ(strHeader.rfind(L"[Normal][", 0), 0u);
    }
}

TEST(LogHeader, DateAndTimeComeFromTheLocaleInOrder)
{
    std::wstring strHeader = FormatLogHeader(0, MakeTime(120), 0x10, 0x20);
    SCOPED_TRACE(Narrow(strHeader));
    // "[Error][<short date> <time with seconds>:120 0010:0020]"
    std::wregex layout(LR"(^\[Error\]\[(\S*2026\S*|\S*26\S*) (.*05.09.*):120 0010:0020\]$)");
    EXPECT_TRUE(std::regex_match(strHeader, layout));
}

TEST(LogHeader, TagFollowsTheLevel)
{
    EXPECT_EQ(FormatLogHeader(0, MakeTime(1), 1, 1).rfind(L"[Error][", 0), 0u);
    EXPECT_EQ(FormatLogHeader(5, MakeTime(1), 1, 1).rfind(L"[Normal5][", 0), 0u);
    EXPECT_EQ(FormatLogHeader(6, MakeTime(1), 1, 1).rfind(L"[Warning][", 0), 0u);
    EXPECT_EQ(FormatLogHeader(10, MakeTime(1), 1, 1).rfind(L"[Warning5][", 0), 0u);
}

TEST_F(LogFileTest, NewFileStartsWithTheFirstLineAndNoByteOrderMark)
{
    LogNormal(L"[CSetupDlg::Execute] count=%d name=%ls size=%ld", 3, L"核心.zip", 12345L);
    std::wstring strText = Contents();
    ASSERT_FALSE(strText.empty());
    EXPECT_EQ(strText[0], L'[');

    std::vector<std::wstring> lines = SplitLines(strText);
    ASSERT_EQ(lines.size(), 1u);
    std::wregex layout(LR"(^\[Normal\]\[[^\]]* [^\]]*:[ 0-9]{3} [0-9a-f]{4,}:[0-9a-f]{4,}\]\[CSetupDlg::Execute\] count=3 name=核心\.zip size=12345$)");
    EXPECT_TRUE(std::regex_match(lines[0], layout)) << Narrow(lines[0]);

    wchar_t szIds[32];
    std::swprintf(szIds, 32, L" %04x:%04x]", static_cast<unsigned>(::GetCurrentProcessId()),
                  static_cast<unsigned>(::GetCurrentThreadId()));
    EXPECT_NE(lines[0].find(szIds), std::wstring::npos);
}

TEST_F(LogFileTest, AppendsToAnExistingFileAndKeepsItsByteOrderMark)
{
    const wchar_t kOld[] = L"\xFEFFold line\r\n";
    ASSERT_TRUE(WriteFileBytes(m_strFile, kOld, sizeof(kOld) - sizeof(wchar_t)));
    LogError(L"[Test] first");
    LogNormal(L"[Test] second");

    std::wstring strText = Contents();
    ASSERT_EQ(strText.rfind(L"\xFEFFold line\r\n[Error][", 0), 0u) << Narrow(strText);
    EXPECT_EQ(strText.find(L'\xFEFF', 1), std::wstring::npos);
    std::vector<std::wstring> lines = SplitLines(strText.substr(1));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find(L"][Test] first"), std::wstring::npos);
    EXPECT_EQ(lines[2].rfind(L"[Normal][", 0), 0u);
}

TEST_F(LogFileTest, WritesMessagesUnchanged)
{
    LogNormal(L"[Test] two\r\nlines");
    LogNormal(L"[Test] no conversions, plain text");
    std::wstring strLong(5000, L'x');
    LogNormal(L"[Test] %ls", strLong.c_str());

    std::wstring strText = Contents();
    std::vector<std::wstring> lines = SplitLines(strText);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find(L"][Test] two"), std::wstring::npos);
    EXPECT_EQ(lines[1], L"lines");
    EXPECT_NE(lines[2].find(L"][Test] no conversions, plain text"), std::wstring::npos);
    EXPECT_NE(lines[3].find(L"][Test] " + strLong), std::wstring::npos);
}

TEST_F(LogFileTest, OtherLevelsThroughLog)
{
    LogAt(7, L"[Test] level %d", 7);
    std::vector<std::wstring> lines = SplitLines(Contents());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(L"[Warning2][", 0), 0u);
    EXPECT_NE(lines[0].find(L"][Test] level 7"), std::wstring::npos);
}

TEST_F(LogFileTest, NegativeLevelSwitchesTheLogOff)
{
    g_nLogLevel = -1;
    LogError(L"[Test] dropped");
    LogNormal(L"[Test] dropped");
    EXPECT_FALSE(PathExists(m_strFile));

    g_nLogLevel = 0;
    LogNormal(L"[Test] kept");
    EXPECT_EQ(SplitLines(Contents()).size(), 1u);
}

TEST_F(LogFileTest, NothingIsWrittenWithoutPathOrText)
{
    g_szLogFile[0] = L'\0';
    LogNormal(L"[Test] debugger only");
    AppendToLogFile(nullptr, L"x");
    AppendToLogFile(m_strFile.c_str(), L"");
    AppendToLogFile(m_strFile.c_str(), nullptr);
    EXPECT_FALSE(PathExists(m_strFile));
}

// Each append opens the file exclusively; a thread that finds it open waits
// briefly instead of losing its line.
TEST_F(LogFileTest, ConcurrentThreadsLoseNoLines)
{
    constexpr int kThreads = 2;
    constexpr int kLinesPerThread = 1000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesPerThread; ++i)
                LogNormal(L"[Test] thread=%d line=%d", t, i);
        });
    }
    for (std::thread& th : threads)
        th.join();

    std::vector<std::wstring> lines = SplitLines(Contents());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesPerThread));
    std::vector<int> next(kThreads, 0);
    std::wregex layout(LR"(^\[Normal\]\[.*\]\[Test\] thread=(\d) line=(\d+)$)");
    for (const std::wstring& line : lines) {
        std::wsmatch m;
        ASSERT_TRUE(std::regex_match(line, m, layout)) << Narrow(line);
        int t = std::stoi(m[1].str());
        EXPECT_EQ(std::stoi(m[2].str()), next[t]++) << "lines of one thread keep their order";
    }
}

// The file stays open between lines; a line to another path lets it go,
// as a browse moves the log.
TEST_F(LogFileTest, LineToAnotherPathLetsTheFileGo)
{
    LogNormal(L"[Test] first");
    const std::wstring strMoved = m_dir / L"moved.txt";
    std::swprintf(g_szLogFile, MAX_PATH, L"%ls", strMoved.c_str());
    LogNormal(L"[Test] second");

    HANDLE hOld = ::CreateFileW(m_strFile.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(hOld, INVALID_HANDLE_VALUE) << "the old file is still open";
    if (hOld != INVALID_HANDLE_VALUE)
        ::CloseHandle(hOld);
    std::vector<std::wstring> oldLines = SplitLines(Contents());
    std::vector<std::wstring> newLines = SplitLines(ReadFileUtf16(strMoved));
    ASSERT_EQ(oldLines.size(), 1u);
    ASSERT_EQ(newLines.size(), 1u);
    EXPECT_NE(oldLines[0].find(L"][Test] first"), std::wstring::npos);
    EXPECT_NE(newLines[0].find(L"][Test] second"), std::wstring::npos);
}

TEST_F(LogFileTest, LineIsDroppedWhileAnotherHolderKeepsTheFile)
{
    HANDLE hHolder = ::CreateFileW(m_strFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(hHolder, INVALID_HANDLE_VALUE);
    LogNormal(L"[Test] lost");
    ::CloseHandle(hHolder);
    EXPECT_TRUE(Contents().empty());

    LogNormal(L"[Test] written");
    EXPECT_EQ(SplitLines(Contents()).size(), 1u);
}
