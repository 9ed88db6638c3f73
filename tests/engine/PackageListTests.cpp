#include "engine/BaseUrl.h"
#include "engine/PackageList.h"
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Entry {
    std::wstring strName;
    int32_t nParam;
    int32_t nGroup;
    bool operator==(const Entry& o) const { return strName == o.strName && nParam == o.nParam && nGroup == o.nGroup; }
};

std::vector<Entry> Parse(const std::wstring& strText)
{
    std::vector<PackageEntry> packages = {PackageEntry{L"stale", 9, 9}};
    int n = ParsePackageList(strText, &packages);
    EXPECT_EQ(n, static_cast<int>(packages.size()));
    std::vector<Entry> entries;
    for (const PackageEntry& p : packages) {
        // Zero-filled past the name.
        const size_t cch = std::wcslen(p.szName);
        EXPECT_TRUE(std::all_of(p.szName + cch, p.szName + kPackageNameUnits, [](wchar_t ch) { return ch == 0; }));
        entries.push_back({p.szName, p.nParam, p.nGroup});
    }
    return entries;
}

void PrintTo(const Entry& e, std::ostream* os)
{
    *os << Narrow(e.strName) << ";" << e.nParam << ";" << e.nGroup;
}

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& strLine)
{
    return std::find(lines.begin(), lines.end(), strLine) != lines.end();
}

}  // namespace

TEST(PackageList, SplitString)
{
    struct Case {
        const wchar_t* pszText;
        std::vector<std::wstring> pieces;
    };
    const Case cases[] = {
        {L"", {}},
        {L"abc", {L"abc"}},
        {L"a;b;c", {L"a", L"b", L"c"}},
        {L"a;;b", {L"a", L"b"}},
        {L"a;b;", {L"a", L"b"}},
        {L"a;b;;;", {L"a", L"b"}},
        {L";a;b", {}},
        {L";", {}},
        {L"a;", {L"a"}},
        {L" ; ", {L" ", L" "}},
    };
    for (const Case& c : cases) {
        std::vector<std::wstring> pieces = {L"stale"};
        EXPECT_EQ(SplitString(c.pszText, L';', &pieces), static_cast<int>(c.pieces.size())) << Narrow(c.pszText);
        EXPECT_EQ(pieces, c.pieces) << Narrow(c.pszText);
    }
}

TEST(PackageList, ReadNumbers)
{
    struct IntCase {
        const wchar_t* pszField;
        int32_t n;
    };
    const IntCase ints[] = {
        {L"2", 2},
        {L"2a", 2},
        {L"a2", 0},
        {L"", 0},
        {L"  \t7", 7},
        {L"-3", -3},
        {L"+4", 4},
        {L"1 2", 1},
        {L"0x10", 0},
        {L"2147483647", 2147483647},
        {L"2147483648", 2147483647},
        {L"-2147483649", -2147483647 - 1},
        // Longer than 19 characters: read whole, saturated.
        {L"00000000000000000000000000000005", 5},
        {L"123456789012345678901234567890", 2147483647},
    };
    for (const IntCase& c : ints)
        EXPECT_EQ(ReadListInt(c.pszField), c.n) << Narrow(c.pszField);

    struct UnsignedCase {
        const wchar_t* pszField;
        uint32_t n;
    };
    const UnsignedCase unsigneds[] = {
        {L"1234", 1234},
        {L"4294967295", 4294967295u},
        {L"4294967296", 4294967295u},
        {L"99999999999999999999999", 4294967295u},
        {L"3421780262x", 3421780262u},
        {L"x1", 0},
        {L"", 0},
        {L" 5", 5},
    };
    for (const UnsignedCase& c : unsigneds)
        EXPECT_EQ(ReadListUnsigned(c.pszField), c.n) << Narrow(c.pszField);
}

TEST(PackageList, ServerListText)
{
    struct Case {
        const char* pszWhat;
        std::vector<uint8_t> data;
        int32_t nSize;
        std::wstring strText;
    };
    std::vector<uint8_t> withZero = ListBytes(L"ab");
    withZero.insert(withZero.end(), {0, 0, 'c', 0});
    // No zero inside the data; what follows it must not be read.
    std::vector<uint8_t> full = ListBytes(L"a;1\rtail.zip;1");
    const int32_t nFull = static_cast<int32_t>(full.size());
    const std::vector<uint8_t> after = ListBytes(L";5", false);
    full.insert(full.end(), after.begin(), after.end());
    full.insert(full.end(), {0, 0});
    const Case cases[] = {
        {"byte-order mark skipped", ListBytes(L"abc"), 8, L"abc"},
        {"first two bytes skipped unread", ListBytes(L"xabc", false), 8, L"abc"},
        {"ends at a zero unit", withZero, static_cast<int32_t>(withZero.size()), L"ab"},
        {"ends with the data", full, nFull, L"a;1\rtail.zip;1"},
        {"odd byte at the end left out", ListBytes(L"ab"), 5, L"a"},
        {"two bytes", ListBytes(L""), 2, L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ServerListText(c.data.data(), c.nSize), c.strText) << c.pszWhat;
}

TEST(PackageList, ParsePackageList)
{
    struct Case {
        const char* pszWhat;
        std::wstring strText;
        std::vector<Entry> entries;
    };
    const Case cases[] = {
        {"example",
         L"core.zip;1;1\r\nui-yahei.zip;2;2\r\nui-simsun.zip;2;3\r\n\r\nnotes;only two\r\nextra.zip;;1\r\n",
         {{L"core.zip", 1, 1}, {L"ui-yahei.zip", 2, 2}, {L"ui-simsun.zip", 2, 3}}},
        {"CR only", L"a.zip;1;1\rb.zip;2;2\r", {{L"a.zip", 1, 1}, {L"b.zip", 2, 2}}},
        {"LF only, two entries", L"a.zip;1;1\nb.zip;2;2\n", {}},
        {"LF only, one entry", L"a.zip;1;1\n", {{L"a.zip", 1, 1}}},
        {"LF CR pairs trimmed", L"\na.zip;1;1\n\r\nb.zip;1;2\n\r", {{L"a.zip", 1, 1}, {L"b.zip", 1, 2}}},
        {"empty first line", L"\r\na.zip;1;1\r\n", {}},
        {"separator after the third field", L"a.zip;1;1;\r\n", {{L"a.zip", 1, 1}}},
        {"doubled separators", L"a.zip;;1;;2\r\n", {{L"a.zip", 1, 2}}},
        {"second field empty", L"a.zip;;1\r\n", {}},
        {"leading separator", L";a.zip;1;1\r\n", {}},
        {"four fields", L"a.zip;1;1;1\r\n", {}},
        {"numbers with trailing letters", L"a.zip;3x;2b\r\nb.zip;1;b2\r\n", {{L"a.zip", 3, 2}, {L"b.zip", 1, 0}}},
        {"duplicates", L"a.zip;1;1\r\na.zip;1;1\r\n", {{L"a.zip", 1, 1}, {L"a.zip", 1, 1}}},
        // Names that are no plain file name are never fetched nor written.
        {"not plain file names",
         L"..\\evil.txt;1;1\r\n../e;1;1\r\nd/e.zip;1;1\r\nC:e.zip;1;1\r\ne.zip:s;1;1\r\n.;1;1\r\n..;1;1\r\n"
         L"e.zip.;1;1\r\ne.zip ;1;1\r\ne\x01.zip;1;1\r\n a.zip \t;1;1\r\nCOM1.zip;1;1\r\nlpt\u00b9;1;1\r\n"
         L"nul .txt;1;1\r\n a.zip;1;1\r\nok~1_-.zip;1;1\r\n",
         {{L"ok~1_-.zip", 1, 1}}},
        // The name is pasted into the URL as it is.
        {"characters a URL escapes or reads",
         L"a.zip?x=1;1;1\r\nx#.zip;1;1\r\n%2e%2e%2fother.zip;1;1\r\na*b.zip;1;1\r\na<b>.zip;1;1\r\n"
         L"a\"b|c.zip;1;1\r\na b.zip;1;1\r\n\u76ae\u80a4.zip;1;1\r\nok.zip;1;1\r\n",
         {{L"ok.zip", 1, 1}}},
        {"31-unit name", std::wstring(31, L'n') + L";1;1", {{std::wstring(31, L'n'), 1, 1}}},
        {"32-unit name rejected", std::wstring(32, L'n') + L";1;1\rok.zip;1;1", {{L"ok.zip", 1, 1}}},
        {"long numbers", L"a.zip;000000000000000000000000000042;99999999999999999999999", {{L"a.zip", 42, 2147483647}}},
        {"no line end at the end", L"a.zip;1;1\r\nb.zip;1;3", {{L"a.zip", 1, 1}, {L"b.zip", 1, 3}}},
        {"empty", L"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Parse(c.strText), c.entries) << c.pszWhat;
}

TEST(PackageList, GroupRule)
{
    const std::wstring strList = L"core.zip;1;1\r\nui-yahei.zip;2;2\r\nui-simsun.zip;2;3\r\n\r\nnotes;only two\r\n"
                                 L"extra.zip;;1\r\nzero.zip;1;0\r\nfour.zip;1;4\r\nneg.zip;1;-1\r\nword.zip;1;x2\r\n";
    std::vector<PackageEntry> packages;
    ASSERT_EQ(ParsePackageList(strList, &packages), 7);
    for (bool bFont : {true, false}) {
        const std::set<int> groups = PackageGroupsFor(bFont);
        std::vector<std::wstring> installed;
        for (const PackageEntry& p : packages)
            if (groups.count(p.nGroup))
                installed.push_back(p.szName);
        const std::vector<std::wstring> expected = {L"core.zip", bFont ? L"ui-yahei.zip" : L"ui-simsun.zip"};
        EXPECT_EQ(installed, expected) << (bFont ? "with the font" : "without the font");
    }
}

namespace {

// A one-attempt install session that gets as far as the list allows.
class PackageListDownload : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(TestServerBaseUrl().empty()) << "SETUP_TEST_HTTP_PORT is not set"; }

    void RunSession(CRecordingObserver* pObserver)
    {
        InstallSession session(TestInstallSettings(m_root.Path()), pObserver);
        ASSERT_TRUE(session.Start());
        ASSERT_TRUE(session.Wait(60000));
    }

    CLogCapture m_log;
    CTempDir m_root;
    CRecordingObserver m_observer;
};

}  // namespace

TEST_F(PackageListDownload, LogsTheServedList)
{
    const std::wstring strText = L"ui-simsun.zip;2;3\r\n\r\nnotes;only two\r\n";
    ASSERT_TRUE(ServeFile(L"divozira.txt", ListBytes(strText)));
    RunSession(&m_observer);

    const std::vector<std::wstring> expected = {
        L"[Normal][CSetupDlg::Execute] start download  " + TestServerBaseUrl() + L"divozira.txt",
        L"[Normal][CSetupDlg::Execute] divozira.txt Begin",
        L"[Normal][CSetupDlg::Execute] " + strText,
        L"[Normal][CSetupDlg::Execute] divozira.txt End",
        L"[Normal][CSetupDlg::Execute] download divozira.txt sccuss",
    };
    // The list's own CR LF pairs split the logged text over several lines.
    std::wstring strJoined;
    for (const std::wstring& strLine : m_log.Messages())
        strJoined += strLine + L"\r\n";
    std::wstring strWanted;
    for (const std::wstring& strLine : expected)
        strWanted += strLine + L"\r\n";
    EXPECT_NE(strJoined.find(strWanted), std::wstring::npos) << Narrow(strJoined);
}

TEST_F(PackageListDownload, FailuresShowAndLogTheirTexts)
{
    const std::wstring kDownloadFailed = L"下载Setupconfig.txt失败";
    const std::wstring kEmpty = L"divozira.txt为空";
    std::vector<uint8_t> zeroFirst = ListBytes(L"");
    zeroFirst.insert(zeroFirst.end(), {0, 0, 'a', 0});
    struct Case {
        const char* pszWhat;
        bool bServed;
        std::vector<uint8_t> data;
        std::wstring strShown;
        std::wstring strLogged;
    };
    const Case cases[] = {
        {"not on the server", false, {}, kDownloadFailed,
         L"[Error][CSetupDlg::Execute] download Setupconfig.txt failed"},
        {"two bytes", true, {0xFF, 0xFE}, kDownloadFailed, L"[Error][CSetupDlg::Execute] download Setupconfig.txt faile"},
        {"empty file", true, {}, kDownloadFailed, L"[Error][CSetupDlg::Execute] download Setupconfig.txt faile"},
        {"zero unit first", true, zeroFirst, kEmpty, L"[Error][CSetupDlg::Execute]Setupconfig.txt no content"},
        {"no line with three fields", true, ListBytes(L"notes;only two\r\nextra.zip;;1\r\n"), kEmpty,
         L"[Error][CSetupDlg::Execute]Setupconfig.txt no content"},
        {"empty first line", true, ListBytes(L"\r\ncore.zip;1;1\r\n"), kEmpty,
         L"[Error][CSetupDlg::Execute]Setupconfig.txt no content"},
        {"LF line ends", true, ListBytes(L"a.zip;1;1\nb.zip;1;1\n"), kEmpty,
         L"[Error][CSetupDlg::Execute]Setupconfig.txt no content"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_TRUE(c.bServed ? ServeFile(L"divozira.txt", c.data) : RemoveServedFile(L"divozira.txt"));
        CRecordingObserver observer;
        m_log.Clear();
        RunSession(&observer);
        EXPECT_EQ(observer.m_vecErrors, std::vector<std::wstring>{c.strShown});
        EXPECT_EQ(observer.m_nFinished, 0);
        EXPECT_TRUE(Contains(m_log.Messages(), c.strLogged));
        EXPECT_FALSE(Contains(m_log.Messages(), L"[Normal][CSetupDlg::Execute] download divozira.txt sccuss"));
    }
}

TEST_F(PackageListDownload, WithoutByteOrderMarkTheFirstCharacterIsLost)
{
    ASSERT_TRUE(ServeFile(L"divozira.txt", ListBytes(L"core.zip;1;1\r\nx\r\nb.zip;1;2\r\n", false)));
    RunSession(&m_observer);
    EXPECT_EQ(m_observer.m_vecErrors, std::vector<std::wstring>{L"下载ore.zip失败"});
    EXPECT_TRUE(Contains(m_log.Messages(), L"[Error][CSetupDlg::Execute] download ore.zip failed"));
}

TEST(BaseUrl, MirrorHostsAndTheirUrls)
{
    EXPECT_EQ(ParseMirrorHosts(L""), std::vector<std::wstring>{});
    EXPECT_EQ(ParseMirrorHosts(L" a.example:8080 ,127.0.0.1,, b-2.example "),
              (std::vector<std::wstring>{L"a.example:8080", L"127.0.0.1", L"b-2.example"}));
    // Anything that would change more than the host is left out.
    EXPECT_EQ(ParseMirrorHosts(L"a/b,user@c,:80,d:,e f,g?x,h#,ü.example,ok"), std::vector<std::wstring>{L"ok"});
    // One port of 1-65535, labels that are not empty and do not begin or
    // end with a hyphen.
    EXPECT_EQ(ParseMirrorHosts(L"a:b,a:1:2,a:99999,a:0,a:,.,-,..,a..b,.a,a.,-a.b,a-.b,a:65535,x-1.y:1"),
              (std::vector<std::wstring>{L"a:65535", L"x-1.y:1"}));

    EXPECT_EQ(UrlOnHost(L"http://127.0.0.1:8380/EX3/core.zip", L"m.example:81"), L"http://m.example:81/EX3/core.zip");
    EXPECT_EQ(UrlOnHost(L"https://s.example/EX3/a.zip", L"m.example"), L"https://m.example/EX3/a.zip");
    EXPECT_EQ(UrlOnHost(L"ftp://s.example/EX3/a.zip", L"m.example"), L"");
    EXPECT_EQ(HostOfUrl(L"http://127.0.0.1:8380/EX3/core.zip"), L"127.0.0.1:8380");
}
