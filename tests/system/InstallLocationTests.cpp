#include "log/Log.h"
#include "system/InstallLocation.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

// "C:\|D:\|" style lists, '|' standing for the zero after each root.
std::wstring DriveList(const wchar_t* pszRoots)
{
    std::wstring str(pszRoots);
    for (wchar_t& ch : str)
        if (ch == L'|')
            ch = L'\0';
    return str;
}

struct ExpectedLocation {
    const wchar_t* pszRoot;
    const wchar_t* pszSetup;
    const wchar_t* pszTemp;
    const wchar_t* pszUnInstall;
    const wchar_t* pszLogFile;
};

void ExpectLocation(const InstallLocation& loc, const ExpectedLocation& want)
{
    EXPECT_STREQ(loc.szInstallRoot, want.pszRoot);
    EXPECT_STREQ(loc.szSetupPath, want.pszSetup);
    EXPECT_STREQ(loc.szTempPath, want.pszTemp);
    EXPECT_STREQ(loc.szUnInstallPath, want.pszUnInstall);
    EXPECT_STREQ(loc.szLogFile, want.pszLogFile);
}

// Keeps the process-wide log path of one test from leaking into the next.
class LogPathGuard {
public:
    LogPathGuard() { std::wmemcpy(m_szSaved, g_szLogFile, MAX_PATH); }
    ~LogPathGuard()
    {
        CloseLogFile();
        std::wmemcpy(g_szLogFile, m_szSaved, MAX_PATH);
    }

private:
    wchar_t m_szSaved[MAX_PATH];
};

}  // namespace

TEST(InstallLocation, DriveListRule)
{
    struct Case {
        const wchar_t* pszDrives;
        ExpectedLocation want;
    };
    const Case cases[] = {
        {L"A:\\|C:\\|D:\\|",
         {L"C:\\", L"C:\\Brivex Client", L"C:\\temp", L"C:\\UnInstall Brivex Client", L"C:\\temp\\log.txt"}},
        {L"D:\\|E:\\|", {L"D:\\", L"D:\\Orvalis", L"D:\\temp", L"D:\\UnInstall Orvalis", L"D:\\temp\\log.txt"}},
        // A lower-case c:\ matches; the root is shown as "C:\".
        {L"a:\\|c:\\|",
         {L"C:\\", L"c:\\Brivex Client", L"c:\\temp", L"c:\\UnInstall Brivex Client", L"c:\\temp\\log.txt"}},
        {L"Z:\\|", {L"Z:\\", L"Z:\\Orvalis", L"Z:\\temp", L"Z:\\UnInstall Orvalis", L"Z:\\temp\\log.txt"}},
    };
    for (const Case& c : cases) {
        std::wstring strDrives = DriveList(c.pszDrives);
        SCOPED_TRACE(Narrow(c.pszDrives));
        InstallLocation loc;
        ASSERT_TRUE(LocationFromDriveList(strDrives.c_str(), strDrives.size(), &loc));
        ExpectLocation(loc, c.want);
    }
}

TEST(InstallLocation, NoDrivesLeavesEverythingEmpty)
{
    InstallLocation loc;
    std::wmemset(loc.szSetupPath, L'x', MAX_PATH);
    EXPECT_FALSE(LocationFromDriveList(L"", 0, &loc));
    EXPECT_FALSE(LocationFromDriveList(L"C:", 2, &loc));
    EXPECT_STREQ(loc.szSetupPath, L"");
    EXPECT_STREQ(loc.szInstallRoot, L"");
    EXPECT_STREQ(loc.szLogFile, L"");
}

TEST(InstallLocation, BrowsedFolder)
{
    struct Case {
        const wchar_t* pszFolder;
        ExpectedLocation want;
    };
    const Case cases[] = {
        {L"D:\\Apps",
         {L"D:\\Apps\\", L"D:\\Apps\\Brivex Client", L"D:\\Apps\\temp", L"D:\\Apps\\UnInstall Brivex Client",
          L"D:\\Apps\\temp\\log.txt"}},
        {L"E:\\", {L"E:\\", L"E:\\Brivex Client", L"E:\\temp", L"E:\\UnInstall Brivex Client", L"E:\\temp\\log.txt"}},
        {L"D:\\Apps\\",
         {L"D:\\Apps\\", L"D:\\Apps\\Brivex Client", L"D:\\Apps\\temp", L"D:\\Apps\\UnInstall Brivex Client",
          L"D:\\Apps\\temp\\log.txt"}},
        {L"C:\\程序 文件",
         {L"C:\\程序 文件\\", L"C:\\程序 文件\\Brivex Client", L"C:\\程序 文件\\temp",
          L"C:\\程序 文件\\UnInstall Brivex Client", L"C:\\程序 文件\\temp\\log.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.pszFolder));
        InstallLocation loc;
        ASSERT_TRUE(LocationFromFolder(c.pszFolder, &loc));
        ExpectLocation(loc, c.want);
    }
}

TEST(InstallLocation, FolderTooLongForThePathsIsRefused)
{
    // The longest composed path is "<root>UnInstall Brivex Client" (27 units
    // after the root); one unit less than that fits.
    const size_t kAdded = std::wcslen(L"UnInstall Brivex Client");
    std::wstring strFits = L"D:\\" + std::wstring(MAX_PATH - 1 - kAdded - 4, L'a');
    std::wstring strTooLong = strFits + L"b";

    InstallLocation loc;
    ASSERT_TRUE(LocationFromFolder(strFits.c_str(), &loc));
    EXPECT_EQ(std::wcslen(loc.szUnInstallPath), static_cast<size_t>(MAX_PATH - 1));

    std::wmemset(loc.szSetupPath, 0, MAX_PATH);
    EXPECT_FALSE(LocationFromFolder(strTooLong.c_str(), &loc));
    EXPECT_STREQ(loc.szSetupPath, L"") << "a refused folder leaves the location untouched";
    std::wstring strMax(MAX_PATH - 1, L'a');
    EXPECT_FALSE(LocationFromFolder(strMax.c_str(), &loc));
    EXPECT_FALSE(LocationFromFolder(L"", &loc));
}

TEST(InstallLocation, FreeSpace)
{
    EXPECT_DOUBLE_EQ(BytesToGB(1ull << 30), 1.0);
    EXPECT_DOUBLE_EQ(BytesToGB(0), 0.0);
    wchar_t szLine[64];
    std::swprintf(szLine, 64, L"%.2f", BytesToGB(13421772800ull));
    EXPECT_STREQ(szLine, L"12.50");

    ULARGE_INTEGER available, total, free;
    ASSERT_TRUE(::GetDiskFreeSpaceExW(L"C:\\", &available, &total, &free));
    double dGB = GetFreeSpaceGB(L"C:\\");
    EXPECT_GT(dGB, 0.0);
    // The figure is the volume's total free bytes; files may come and go in
    // between, so allow a little.
    EXPECT_NEAR(dGB, BytesToGB(free.QuadPart), 0.01);
    EXPECT_EQ(GetFreeSpaceGB(L"Q:\\no such volume\\"), 0.0);
}

TEST(SettledLocation, DefaultLocationCreatesTempFolderAndStartsAFreshLog)
{
    LogPathGuard guard;
    // R: is the test session's own drive; it stands for a machine without
    // C: in the list.
    RemoveTree(L"R:\\temp");
    ASSERT_TRUE(::CreateDirectoryW(L"R:\\temp", nullptr));
    const char kOld[] = "old run";
    ASSERT_TRUE(WriteFileBytes(L"R:\\temp\\log.txt", kOld, sizeof(kOld)));

    {
        InstallLocation location;
        std::wstring strDrives = DriveList(L"R:\\|");
        SettleDefaultLocation(strDrives.c_str(), strDrives.size(), &location);
        EXPECT_STREQ(location.szInstallRoot, L"R:\\");
        EXPECT_STREQ(location.szSetupPath, L"R:\\Orvalis");
        EXPECT_STREQ(location.szTempPath, L"R:\\temp");
        EXPECT_STREQ(location.szUnInstallPath, L"R:\\UnInstall Orvalis");
        EXPECT_STREQ(g_szLogFile, L"R:\\temp\\log.txt");
    }
    CloseLogFile();
    std::wstring strLog = ReadFileUtf16(L"R:\\temp\\log.txt");
    EXPECT_EQ(strLog.find(L"old run"), std::wstring::npos);
    EXPECT_EQ(strLog.rfind(L"[Normal]["), 0u) << "the old file was deleted, the new one holds one line";
    EXPECT_NE(strLog.find(L"][CSetupDlg::GetDestPath] setuppath=R:\\Orvalis UnInstallPath=R:\\UnInstall Orvalis\r\n"),
              std::wstring::npos)
        << Narrow(strLog);
    EXPECT_FALSE(PathExists(L"R:\\Orvalis")) << "the install folder itself is made by the install";
    RemoveTree(L"R:\\temp");
}

// The log keeps its file open between lines; settling the same folder
// again still starts a fresh file.
TEST(SettledLocation, BrowsingToTheSameFolderAgainStartsAFreshLog)
{
    LogPathGuard guard;
    CTempDir root;
    InstallLocation location;
    ASSERT_TRUE(SettleBrowsedLocation(root.Path().c_str(), &location));
    LogNormal(L"[Test] before the second browse");
    ASSERT_TRUE(SettleBrowsedLocation(root.Path().c_str(), &location));

    std::wstring strLog = ReadFileUtf16(root / L"temp\\log.txt");
    EXPECT_EQ(strLog.find(L"before the second browse"), std::wstring::npos) << Narrow(strLog);
    EXPECT_EQ(strLog.rfind(L"[Normal]["), 0u) << "one line, the second browse's";
    EXPECT_NE(strLog.find(L"[CSetupDlg::OnClickBrowser] setuppath=" + (root / L"Brivex Client")), std::wstring::npos);
}

TEST(SettledLocation, NoDrivesLogsAnEmptySetupPath)
{
    LogPathGuard guard;
    g_szLogFile[0] = L'\0';
    InstallLocation location;
    SettleDefaultLocation(L"", 0, &location);
    EXPECT_STREQ(location.szSetupPath, L"");
    EXPECT_STREQ(location.szTempPath, L"");
    EXPECT_STREQ(g_szLogFile, L"");
}

TEST(SettledLocation, BrowsedLocationMovesTheLogAndKeepsTheOldOne)
{
    LogPathGuard guard;
    CTempDir first, second;
    InstallLocation location;
    ASSERT_TRUE(SettleBrowsedLocation(first.Path().c_str(), &location));
    ASSERT_TRUE(PathExists(first / L"temp\\log.txt"));
    ASSERT_TRUE(SettleBrowsedLocation((second.Path() + L"\\").c_str(), &location));

    EXPECT_EQ(std::wstring(location.szSetupPath), second / L"Brivex Client");
    EXPECT_EQ(std::wstring(g_szLogFile), second / L"temp\\log.txt");
    std::wstring strOld = ReadFileUtf16(first / L"temp\\log.txt");
    std::wstring strNew = ReadFileUtf16(second / L"temp\\log.txt");
    EXPECT_NE(strOld.find(L"[CSetupDlg::OnClickBrowser] setuppath=" + (first / L"Brivex Client")), std::wstring::npos);
    EXPECT_NE(strNew.find(L"[CSetupDlg::OnClickBrowser] setuppath=" + (second / L"Brivex Client")), std::wstring::npos);
    EXPECT_EQ(strNew.find(first.Path()), std::wstring::npos);

    // Too long: refused, every path and the log file stay as they were.
    std::wstring strLong = second.Path() + L"\\" + std::wstring(240, L'x');
    EXPECT_FALSE(SettleBrowsedLocation(strLong.c_str(), &location));
    EXPECT_EQ(std::wstring(location.szSetupPath), second / L"Brivex Client");
    EXPECT_EQ(std::wstring(location.szTempPath), second / L"temp");
    EXPECT_EQ(std::wstring(g_szLogFile), second / L"temp\\log.txt");
}
