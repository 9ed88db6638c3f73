#include "engine/InstallSession.h"
#include "framework/ScopedHandle.h"
#include "system/ClientFiles.h"
#include "system/UninstallRegistration.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TempDir.h"
#include "tests/zip/TestZip.h"

#include <gtest/gtest.h>

#include <sddl.h>
#include <zlib.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

extern "C" LONG NTAPI NtDeleteKey(HANDLE hKey);

namespace {

std::vector<uint8_t> Zip(const std::vector<TestZipEntry>& entries)
{
    CTempDir dir;
    std::wstring strPath = dir / L"a.zip";
    EXPECT_TRUE(WriteTestZip(strPath, entries));
    return ReadFileBytes(strPath);
}

std::vector<uint8_t> Bytes(const std::string& str)
{
    return std::vector<uint8_t>(str.begin(), str.end());
}

uint32_t Crc(const std::string& str)
{
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(str.data()), static_cast<uInt>(str.size())));
}

std::wstring Path(const std::wstring& strFolder, const std::wstring& strName)
{
    return strFolder + L"\\" + strName;
}

// The names in a folder, sorted.
std::vector<std::wstring> ListFolder(const std::wstring& strFolder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    ScopedFind find(::FindFirstFileW((strFolder + L"\\*").c_str(), &fd));
    if (find) {
        do {
            if (std::wcscmp(fd.cFileName, L".") != 0 && std::wcscmp(fd.cFileName, L"..") != 0)
                names.push_back(fd.cFileName);
        } while (::FindNextFileW(find.Get(), &fd));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// An install root of the test's own below the test server's folder tree,
// a session pointed at the test package server, and helpers that put
// packages, lists and faults on that server. What a successful install
// registers stays inside folders of the test's own and is put back.
class InstallRun : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(TestServerBaseUrl().empty()) << "SETUP_TEST_HTTP_PORT is not set";
        RemoveTree(TestServerFolder() + L"\\EX3");
        RemoveTree(TestServerFolder() + L"\\.faults");
        ::DeleteFileW((TestServerFolder() + L"\\.requests").c_str());
        ::DeleteFileW((TestServerFolder() + L"\\.ranges").c_str());
        ::CreateDirectoryW((TestServerFolder() + L"\\.faults").c_str(), nullptr);

        m_settings = TestInstallSettings(m_root.Path());
        m_strSetup = m_settings.location.szSetupPath;
        m_strTemp = m_settings.location.szTempPath;
        ::CreateDirectoryW(m_strTemp.c_str(), nullptr);
        ASSERT_TRUE(m_sandbox.Ready());
    }

    // Runs a session of the settings to its end; during runs on the test's
    // thread while it goes. 0 when it succeeded.
    DWORD RunSession(const std::function<void(InstallSession&)>& during = {})
    {
        InstallSession session(m_settings, &m_observer);
        EXPECT_TRUE(session.Start());
        if (during)
            during(session);
        EXPECT_TRUE(session.Wait(120000));
        m_outcome = session.Outcome();
        EXPECT_TRUE(m_outcome.bFinished);
        EXPECT_EQ(m_observer.m_nFinished, m_outcome.bSucceeded ? 1 : 0) << "the session's last report";
        return m_outcome.bSucceeded ? 0u : 1u;
    }

    // Serves a package holding the files, and remembers their CRCs for the
    // CRC list; the unlisted entries follow them.
    void ServePackage(const std::wstring& strName, const std::vector<std::pair<std::string, std::string>>& files,
                      std::vector<TestZipEntry> entries = {})
    {
        for (const auto& file : files) {
            TestZipEntry e;
            e.strName = file.first;
            e.strData = file.second;
            entries.push_back(e);
            std::wstring strFile(file.first.begin(), file.first.end());
            std::replace(strFile.begin(), strFile.end(), L'/', L'\\');
            m_crcLines += strFile + L";" + std::to_wstring(Crc(file.second)) + L"\r\n";
        }
        ASSERT_TRUE(ServeFile(strName, Zip(entries)));
    }
    void ServeLists(const std::wstring& strPackageList)
    {
        ASSERT_TRUE(ServeFile(L"divozira.txt", ListBytes(strPackageList)));
        ASSERT_TRUE(ServeFile(L"filecrc.txt", ListBytes(m_crcLines.empty() ? L"\r\n" : m_crcLines)));
        ASSERT_TRUE(ServeFile(L"UnInstall.exe", Bytes("MZ uninstaller")));
    }
    static void SetFault(const std::wstring& strName, const std::string& strFault)
    {
        std::string strLine = strFault + "\n";
        ASSERT_TRUE(WriteFileBytes(TestServerFolder() + L"\\.faults\\" + strName, strLine.data(), strLine.size()));
    }
    static int Requests(const std::string& strPath)
    {
        std::vector<uint8_t> data = ReadFileBytes(TestServerFolder() + L"\\.requests");
        std::string strText(data.begin(), data.end());
        int n = 0;
        for (size_t pos = strText.find(strPath + "\n"); pos != std::string::npos;
             pos = strText.find(strPath + "\n", pos + 1))
            ++n;
        return n;
    }
    static bool WaitForRequest(const std::string& strPath)
    {
        for (int i = 0; i < 200 && Requests(strPath) == 0; ++i)
            ::Sleep(50);
        return Requests(strPath) > 0;
    }
    std::vector<std::wstring> LinesWith(const std::wstring& strPart) const
    {
        std::vector<std::wstring> lines;
        for (const std::wstring& line : m_log.Messages())
            if (line.find(strPart) != std::wstring::npos)
                lines.push_back(line);
        return lines;
    }

    CLogCapture m_log;
    CTempDir m_root;
    CRegistrationSandbox m_sandbox;
    InstallSettings m_settings;
    std::wstring m_strSetup;
    std::wstring m_strTemp;
    std::wstring m_crcLines;
    CRecordingObserver m_observer;
    InstallOutcome m_outcome;
};

}  // namespace

TEST_F(InstallRun, InstallsThePackagesOfThisMachineAndVerifiesThem)
{
    ServePackage(L"core.zip", {{"iKVLRemote.exe", "client program"}, {"config/ZUZ.System.config", "[Client]\r\n"}});
    ServePackage(L"ui-yahei.zip", {{"ui/yahei.dat", "yahei"}});
    ASSERT_TRUE(ServeFile(L"ui-simsun.zip", Bytes("not even a zip")));
    // Empty files, stored or deflated, and empty folders arrive too. The
    // uninstaller replaces a packaged file of its name, which the run holds
    // open for the check.
    std::vector<TestZipEntry> empties(5);
    empties[0].strName = "empty-stored.txt";
    empties[0].nMethod = 0;
    empties[1].strName = "empty-deflated.txt";
    empties[2].strName = "logs/";
    empties[2].nMethod = 0;
    empties[2].nExternalAttributes = FILE_ATTRIBUTE_DIRECTORY;
    empties[3].strName = "plugins/none/";
    empties[3].nMethod = 0;
    empties[4].strName = "UnInstall.exe";
    empties[4].strData = "packaged";
    ServePackage(L"extra.zip", {{"extra.dat", "extra"}}, empties);
    ServeLists(L"core.zip;1;1\r\nui-yahei.zip;2;2\r\nui-simsun.zip;2;3\r\nextra.zip;9;1\r\n");

    // An earlier installation with a file of the user's goes in full.
    ::CreateDirectoryW(m_strSetup.c_str(), nullptr);
    ::CreateDirectoryW(Path(m_strSetup, L"old").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(Path(m_strSetup, L"old\\user.txt"), "mine", 4));

    EXPECT_EQ(RunSession(), 0u);

    EXPECT_EQ(m_observer.m_vecProgress, (std::vector<int>{23, 47, 95, 97, 100}));
    EXPECT_TRUE(m_observer.m_vecErrors.empty());
    EXPECT_EQ(ReadFileBytes(Path(m_strSetup, L"iKVLRemote.exe")), Bytes("client program"));
    EXPECT_EQ(ReadFileBytes(Path(m_strSetup, L"ui\\yahei.dat")), Bytes("yahei"));
    EXPECT_EQ(ReadFileBytes(Path(m_strSetup, L"UnInstall.exe")), Bytes("MZ uninstaller"));
    for (const wchar_t* pszEmpty : {L"empty-stored.txt", L"empty-deflated.txt"}) {
        const DWORD dwAttributes = ::GetFileAttributesW(Path(m_strSetup, pszEmpty).c_str());
        EXPECT_TRUE(dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY));
        EXPECT_TRUE(ReadFileBytes(Path(m_strSetup, pszEmpty)).empty());
    }
    for (const wchar_t* pszFolder : {L"logs", L"plugins\\none"}) {
        const DWORD dwAttributes = ::GetFileAttributesW(Path(m_strSetup, pszFolder).c_str());
        EXPECT_TRUE(dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY));
    }
    EXPECT_FALSE(PathExists(Path(m_strSetup, L"old"))) << "the earlier installation is removed";
    EXPECT_EQ(Requests("/EX3/ui-simsun.zip"), 0) << "group 3 is not this machine's";
    EXPECT_FALSE(PathExists(Path(m_strTemp, L"core.zip"))) << "installed archives are deleted";
    ASSERT_FALSE(m_observer.m_vecStatus.empty());
    EXPECT_EQ(m_observer.m_vecStatus.back(), L"正在安装extra.zip ......");
    EXPECT_EQ(LinesWith(L"sccuss filesize=").size(), 3u);
}

TEST_F(InstallRun, PackagesOfOtherGroupsOnlyStillFetchUninstallerAndVerify)
{
    ServePackage(L"simsun.zip", {{"a.dat", "a"}});
    m_crcLines.clear();
    ServeLists(L"simsun.zip;1;3\r\nother.zip;1;7\r\n");

    EXPECT_EQ(RunSession(), 0u);
    EXPECT_EQ(m_observer.m_vecProgress, (std::vector<int>{97, 100}));
    EXPECT_EQ(Requests("/EX3/simsun.zip"), 0);
    EXPECT_EQ(Requests("/EX3/UnInstall.exe"), 1);
    EXPECT_EQ(Requests("/EX3/filecrc.txt"), 1);
    EXPECT_TRUE(PathExists(Path(m_strSetup, L"UnInstall.exe")));
}

TEST_F(InstallRun, FourFailedTriesThenSuccessAndTheCounterStartsAgain)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServePackage(L"b.zip", {{"b.dat", "b"}});
    ServeLists(L"a.zip;1;1\rb.zip;1;1\r");
    SetFault(L"a.zip", "fail 500 4");
    SetFault(L"b.zip", "fail 404 4");

    EXPECT_EQ(RunSession(), 0u);
    EXPECT_EQ(Requests("/EX3/a.zip"), 5);
    EXPECT_EQ(Requests("/EX3/b.zip"), 5);
    std::vector<std::wstring> failed;
    for (const std::wstring& line : LinesWith(L"download http"))
        if (line.size() > 7 && line.compare(line.size() - 7, 7, L" failed") == 0)
            failed.push_back(line);
    ASSERT_EQ(failed.size(), 8u);
    EXPECT_EQ(failed[0], L"[Error][CSetupDlg::Execute] 1 download " + TestServerBaseUrl() + L"a.zip failed");
    EXPECT_EQ(failed[3], L"[Error][CSetupDlg::Execute] 4 download " + TestServerBaseUrl() + L"a.zip failed");
    EXPECT_EQ(failed[4], L"[Error][CSetupDlg::Execute] 1 download " + TestServerBaseUrl() + L"b.zip failed");
    EXPECT_TRUE(m_observer.m_vecErrors.empty());
    EXPECT_EQ(m_observer.m_vecProgress, (std::vector<int>{47, 95, 97, 100}));
}

TEST_F(InstallRun, FifthFailedDownloadEndsTheRun)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServePackage(L"b.zip", {{"b.dat", "b"}});
    ServeLists(L"a.zip;1;1\rb.zip;1;1\r");
    SetFault(L"b.zip", "fail 500 5");
    // An earlier installation stays as it was.
    ::CreateDirectoryW(m_strSetup.c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(Path(m_strSetup, L"old.dat"), "old", 3));

    EXPECT_EQ(RunSession(), 1u);
    EXPECT_EQ(m_observer.m_vecErrors, (std::vector<std::wstring>{L"下载b.zip失败"}));
    EXPECT_EQ(LinesWith(L"[CSetupDlg::Execute] download b.zip failed").size(), 1u);
    EXPECT_EQ(Requests("/EX3/UnInstall.exe"), 0);
    EXPECT_EQ(ListFolder(m_strSetup), std::vector<std::wstring>{L"old.dat"});
    EXPECT_EQ(ReadFileBytes(Path(m_strSetup, L"old.dat")), Bytes("old"));
    EXPECT_EQ(ListFolder(m_root.Path()), (std::vector<std::wstring>{L"Brivex Client", L"temp"}))
        << "the staging folder goes with the run";
}

TEST_F(InstallRun, FiveUnpackingFailuresEndTheRun)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ASSERT_TRUE(ServeFile(L"b.zip", Bytes("<html>not a zip</html>")));
    ServeLists(L"a.zip;1;1\rb.zip;1;1\r");

    EXPECT_EQ(RunSession(), 1u);
    EXPECT_EQ(m_observer.m_vecErrors, (std::vector<std::wstring>{L"安装b.zip失败"}));
    EXPECT_EQ(Requests("/EX3/b.zip"), 5);
    EXPECT_EQ(LinesWith(L"[CSetupDlg::UnZip] OpenZip").size(), 5u);
    EXPECT_TRUE(ListFolder(m_strTemp).empty()) << "the archives' own folder goes with the session";
    EXPECT_FALSE(PathExists(m_strSetup)) << "nothing of a failed run is installed";
    EXPECT_EQ(m_observer.m_vecProgress, (std::vector<int>{47}));
}

TEST_F(InstallRun, NameListedTwiceIsInstalledTwice)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServeLists(L"a.zip;1;1\ra.zip;1;1\r");
    EXPECT_EQ(RunSession(), 0u);
    EXPECT_EQ(Requests("/EX3/a.zip"), 2);
    EXPECT_EQ(m_observer.m_vecProgress, (std::vector<int>{47, 95, 97, 100}));
}

TEST_F(InstallRun, FailedUninstallerDownloadDoesNotFailTheRun)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServeLists(L"a.zip;1;1\r");
    ASSERT_TRUE(RemoveServedFile(L"UnInstall.exe"));
    EXPECT_EQ(RunSession(), 0u);
    EXPECT_EQ(LinesWith(L"[CSetupDlg::DownloadUninstallFile] download UnInstall.exe failed").size(), 1u);
    EXPECT_EQ(m_observer.m_vecProgress, (std::vector<int>{95, 97, 100}));
}

TEST_F(InstallRun, VerificationFailureShowsItsText)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    m_crcLines += L"missing.dat;12345\r\n";
    ServeLists(L"a.zip;1;1\r");
    EXPECT_EQ(RunSession(), 1u);
    EXPECT_EQ(m_observer.m_vecErrors, (std::vector<std::wstring>{L"校验失败"}));
    EXPECT_EQ(LinesWith(L"[Normal][CSetupDlg::Execute] CheckFileCRC failed").size(), 1u);
}

TEST_F(InstallRun, CrcListNotOnTheServerFailsVerification)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServeLists(L"a.zip;1;1\r");
    ASSERT_TRUE(RemoveServedFile(L"filecrc.txt"));
    EXPECT_EQ(RunSession(), 1u);
    EXPECT_EQ(m_observer.m_vecErrors, (std::vector<std::wstring>{L"校验失败"}));
    EXPECT_EQ(LinesWith(L"[Error][CAutoSetupDlg::CheckFileCRC] download filecrc.txt failed").size(), 1u);
}

// A package cut half-way is continued by the next try with a range request
// and installs byte for byte.
TEST_F(InstallRun, CutPackageContinuesWhereItStopped)
{
    const std::string strBig = Noise(400000, 3);
    ServePackage(L"a.zip", {{"big.bin", strBig}});
    ServeLists(L"a.zip;1;1\r");
    SetFault(L"a.zip", "drop 1");

    EXPECT_EQ(RunSession(), 0u);
    EXPECT_EQ(ReadFileBytes(Path(m_strSetup, L"big.bin")), Bytes(strBig));
    EXPECT_EQ(Requests("/EX3/a.zip"), 2);
    const std::vector<uint8_t> ranges = ReadFileBytes(TestServerFolder() + L"\\.ranges");
    const std::string strRanges(ranges.begin(), ranges.end());
    EXPECT_EQ(strRanges.rfind("/EX3/a.zip ", 0), 0u) << strRanges;
    ASSERT_EQ(LinesWith(L"a.zip continues from byte").size(), 1u);
    // The second download reports the part the file already held.
    ASSERT_FALSE(m_observer.m_vecDownloads.empty());
    const PackageDownloadState& last = m_observer.m_vecDownloads.back();
    EXPECT_TRUE(last.bEnded);
    EXPECT_GT(last.nResumedFrom, 0u);
    EXPECT_EQ(last.nReceived, last.nTotal);
    EXPECT_EQ(last.strName, L"a.zip");
}

TEST_F(InstallRun, UninstallerLandsInTheFallbackInstallFolder)
{
    std::wstring strOrvalis = m_root / L"Orvalis";
    std::swprintf(m_settings.location.szSetupPath, MAX_PATH, L"%ls", strOrvalis.c_str());
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServeLists(L"a.zip;1;1\r");
    EXPECT_EQ(RunSession(), 0u);
    EXPECT_TRUE(PathExists(Path(strOrvalis, L"UnInstall.exe")));
    EXPECT_FALSE(PathExists(m_strSetup)) << "nothing goes to the root followed by \"Brivex Client\"";
}

// A stop ends the download in progress at once, even while the server
// holds its answer back; the run then ends without a message, and no
// further package or attempt starts.
TEST_F(InstallRun, StopEndsTheDownloadInProgress)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServePackage(L"b.zip", {{"b.dat", "b"}});
    ServeLists(L"a.zip;1;1\rb.zip;1;1\r");
    SetFault(L"a.zip", "delay 20000");
    m_settings.nAttempts = kInstallAttempts;

    EXPECT_EQ(RunSession([this](InstallSession& session) {
                  ASSERT_TRUE(WaitForRequest("/EX3/a.zip"));
                  session.Stop();
                  EXPECT_TRUE(session.Wait(5000)) << "the stop did not end the download";
              }),
              1u);
    EXPECT_FALSE(PathExists(Path(m_strSetup, L"a.dat")));
    EXPECT_TRUE(m_observer.m_vecProgress.empty());
    EXPECT_EQ(Requests("/EX3/b.zip"), 0);
    EXPECT_EQ(Requests("/EX3/divozira.txt"), 1);
    EXPECT_TRUE(m_observer.m_vecErrors.empty());
    EXPECT_EQ(LinesWith(L"安装结束，安装失败").size(), 1u);
}

// The attempt loop on the worker thread.
class InstallAttempts : public InstallRun {
protected:
    void SetUp() override
    {
        InstallRun::SetUp();
        m_settings.nAttempts = kInstallAttempts;
    }
    std::vector<std::wstring> AttemptLines() const { return LinesWith(L"安装结束，安装失败"); }
};

TEST_F(InstallAttempts, FailFailSucceedThenTheSuccessTail)
{
    ServePackage(L"a.zip", {{"iKVLRemote.exe", "client"}, {"config/ZUZ.System.config", "[Client]\r\nVersion=001\r\n"}});
    ServeLists(L"a.zip;1;1\r");
    SetFault(L"divozira.txt", "fail 404 2");

    EXPECT_EQ(RunSession(), 0u);
    EXPECT_EQ(Requests("/EX3/divozira.txt"), 3);
    std::vector<std::wstring> attempts = AttemptLines();
    ASSERT_EQ(attempts.size(), 2u);
    EXPECT_EQ(attempts[0], L"[Normal][Execute] 第0安装结束，安装失败");
    EXPECT_EQ(attempts[1], L"[Normal][Execute] 第1安装结束，安装失败");
    EXPECT_EQ(m_observer.m_nHides, 2);

    EXPECT_EQ(m_observer.m_vecProgress.back(), 100);
    std::vector<uint8_t> ini = ReadFileBytes(Path(m_strSetup, L"config\\ZUZ.System.config"));
    std::string strIni(ini.begin(), ini.end());
    EXPECT_NE(strIni.find("Version=016"), std::string::npos) << strIni;
    EXPECT_TRUE(PathExists(m_sandbox.Desktop() / L"Fenmora.lnk"));
    EXPECT_TRUE(PathExists(m_sandbox.Programs() / L"Fenmora\\Fenmora.lnk"));

    wchar_t szDisplay[64] = {};
    DWORD cb = sizeof(szDisplay);
    EXPECT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, UninstallKeyPath().c_str(), L"DisplayName", RRF_RT_REG_SZ, nullptr,
                             szDisplay, &cb),
              ERROR_SUCCESS);
    EXPECT_STREQ(szDisplay, L"Fenmora");
}

// Deployment tools find an installation by its entry: a silent install
// whose entry cannot be written failed, and the log says which step. The
// window's install counts all the same.
TEST_F(InstallAttempts, SilentInstallWithoutItsUninstallEntryFails)
{
    ServePackage(L"a.zip", {{"iKVLRemote.exe", "client"}});
    ServeLists(L"a.zip;1;1\r");
    // An entry key that cannot be written: a link to a key that is not
    // there. (Wine keeps no ACL on keys.)
    ScopedRegKey link;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, UninstallKeyPath().c_str(), 0, nullptr,
                                REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr,
                                link.Put(), nullptr),
              ERROR_SUCCESS);
    const std::wstring strTarget = L"\\Registry\\Machine\\Software\\FenmoraTestNowhere\\Entry";
    ASSERT_EQ(::RegSetValueExW(link.Get(), L"SymbolicLinkValue", 0, REG_LINK,
                               reinterpret_cast<const BYTE*>(strTarget.data()),
                               static_cast<DWORD>(strTarget.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
    m_settings.bSilent = true;

    EXPECT_EQ(RunSession(), 0u);
    EXPECT_FALSE(m_outcome.bRegistered);
    EXPECT_EQ(ExitCodeFor(m_outcome, true), kExitFailed);
    EXPECT_EQ(ExitCodeFor(m_outcome, false), kExitInstalled);
    EXPECT_EQ(LinesWith(L"[Error][Execute] uninstall registration failed: RegCreateKeyEx error=").size(), 1u);
    EXPECT_EQ(::NtDeleteKey(link.Get()), 0);
}

TEST_F(InstallAttempts, ThreeFailuresEndTheInstallationWithTheLastErrorShown)
{
    ServeLists(L"a.zip;1;1\r");
    EXPECT_EQ(RunSession(), 1u);
    std::vector<std::wstring> attempts = AttemptLines();
    ASSERT_EQ(attempts.size(), 3u);
    EXPECT_EQ(attempts[2], L"[Normal][Execute] 第2安装结束，安装失败");
    EXPECT_EQ(m_observer.m_nHides, 2) << "the last error stays on screen";
    EXPECT_EQ(m_observer.m_vecErrors.size(), 3u);
    EXPECT_EQ(m_observer.m_nFinished, 0);
}

// A run that outlives its wait is asked to stop, which ends its download,
// and is awaited: the next attempt never runs beside it. After the last
// attempt the user sees why.
TEST_F(InstallAttempts, RunThatOutlivesItsWaitIsStoppedBeforeTheNextAttempt)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServePackage(L"b.zip", {{"b.dat", "b"}});
    ServeLists(L"a.zip;1;1\rb.zip;1;1\r");
    SetFault(L"a.zip", "delay 20000");
    m_settings.dwRunTimeout = 1000;

    EXPECT_EQ(RunSession(), 1u);
    std::vector<std::wstring> order;
    for (const std::wstring& line : m_log.Messages()) {
        if (line.find(L"start download") != std::wstring::npos)
            order.push_back(L"list");
        else if (line.find(L"[HttpDownload] stopped lpUrl=" + TestServerBaseUrl() + L"a.zip") != std::wstring::npos)
            order.push_back(L"a stopped");
    }
    EXPECT_EQ(order, (std::vector<std::wstring>{L"list", L"a stopped", L"list", L"a stopped", L"list", L"a stopped"}));
    EXPECT_EQ(Requests("/EX3/b.zip"), 0);
    EXPECT_EQ(AttemptLines().size(), 3u);
    ASSERT_FALSE(m_observer.m_vecErrors.empty());
    EXPECT_EQ(m_observer.m_vecErrors.back(), L"安装超时，请检查网络后重试");
}

TEST_F(InstallRun, EntryThatCannotBeReadFailsThePackage)
{
    std::vector<TestZipEntry> entries(2);
    entries[0].strName = "a.dat";
    entries[0].strData = "a";
    entries[1].strName = "b.dat";
    entries[1].strData = "b";
    std::vector<uint8_t> archive = Zip(entries);
    long nLocal = LocalHeaderOffset(archive, 1);
    ASSERT_GT(nLocal, 0);
    PutLe32(&archive, static_cast<size_t>(nLocal), 0x12345678);  // no local header signature
    ASSERT_TRUE(ServeFile(L"a.zip", archive));
    ServeLists(L"a.zip;1;1\r");

    EXPECT_EQ(RunSession(), 1u);
    EXPECT_EQ(m_observer.m_vecErrors, (std::vector<std::wstring>{L"安装a.zip失败"}));
    EXPECT_EQ(LinesWith(L"[Error][CSetupDlg::UnZip] QueryZipItem 1 failed").size(), 5u);
}
