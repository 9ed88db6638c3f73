#include "engine/InstallRun.h"
#include "engine/SetupEngine.h"
#include "system/ClientFiles.h"
#include "system/UninstallRegistration.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/RegOverride.h"
#include "tests/support/TempDir.h"
#include "tests/zip/TestZip.h"
#include "tests/support/SetupEngineProbe.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace {

// Records what the engine reports, with the progress value of every post.
class CRunNotifier : public CRecordingNotifier {
public:
    explicit CRunNotifier(const CSetupEngine& engine) : m_engine(engine) {}
    void PostProgress() override
    {
        CRecordingNotifier::PostProgress();
        m_vecPosted.push_back(m_engine.Progress());
    }
    void HideStatusText() override { ++m_nHides; }
    void UpdateProgressText() override { m_nProgressShown = m_engine.Progress(); }
    void StartLaunchTimer() override { m_bTimer = true; }

    const CSetupEngine& m_engine;
    std::vector<int> m_vecPosted;
    std::atomic<int> m_nHides{0};
    std::atomic<int> m_nProgressShown{-1};
    std::atomic<bool> m_bTimer{false};
};

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

// An install root of the test's own below the test server's folder tree,
// an engine pointed at the test package server, and helpers that put
// packages, lists and faults on that server.
class InstallRun : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(TestServerBaseUrl().empty()) << "SETUP_TEST_HTTP_PORT is not set";
        RemoveTree(TestServerFolder() + L"\\EX3");
        RemoveTree(TestServerFolder() + L"\\.faults");
        ::DeleteFileW((TestServerFolder() + L"\\.requests").c_str());
        ::CreateDirectoryW((TestServerFolder() + L"\\.faults").c_str(), nullptr);

        Probe(m_engine).m_strBaseUrl = TestServerBaseUrl();
        m_strSetup = m_root / L"Brivex Client";
        m_strTemp = m_root / L"temp";
        std::swprintf(Probe(m_engine).m_szInstallRoot, MAX_PATH, L"%ls\\", m_root.Path().c_str());
        std::swprintf(Probe(m_engine).m_szSetupPath, MAX_PATH, L"%ls", m_strSetup.c_str());
        std::swprintf(Probe(m_engine).m_szTempPath, MAX_PATH, L"%ls", m_strTemp.c_str());
        ::CreateDirectoryW(m_strTemp.c_str(), nullptr);
        Probe(m_engine).m_setPackageGroups = {1, 2};
        m_engine.SetNotifier(&m_notifier);
        Probe(m_engine).m_dwRunTimeout = 60000;
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
    std::wstring m_strSetup;
    std::wstring m_strTemp;
    std::wstring m_crcLines;
    CSetupEngine m_engine;
    CRunNotifier m_notifier{m_engine};
};

}  // namespace

TEST_F(InstallRun, InstallsThePackagesOfThisMachineAndVerifiesThem)
{
    ServePackage(L"core.zip", {{"iKVLRemote.exe", "client program"}, {"config/ZUZ.System.config", "[Client]\r\n"}});
    ServePackage(L"ui-yahei.zip", {{"ui/yahei.dat", "yahei"}});
    ASSERT_TRUE(ServeFile(L"ui-simsun.zip", Bytes("not even a zip")));
    // Empty files, stored or deflated, and empty folders arrive too.
    std::vector<TestZipEntry> empties(4);
    empties[0].strName = "empty-stored.txt";
    empties[0].nMethod = 0;
    empties[1].strName = "empty-deflated.txt";
    empties[2].strName = "logs/";
    empties[2].nMethod = 0;
    empties[2].nExternalAttributes = FILE_ATTRIBUTE_DIRECTORY;
    empties[3].strName = "plugins/none/";
    empties[3].nMethod = 0;
    ServePackage(L"extra.zip", {{"extra.dat", "extra"}}, empties);
    ServeLists(L"core.zip;1;1\r\nui-yahei.zip;2;2\r\nui-simsun.zip;2;3\r\nextra.zip;9;1\r\n");

    // An earlier installation with a file of the user's goes in full.
    ::CreateDirectoryW(m_strSetup.c_str(), nullptr);
    ::CreateDirectoryW(Path(m_strSetup, L"old").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(Path(m_strSetup, L"old\\user.txt"), "mine", 4));

    EXPECT_EQ(InstallThreadProc(&m_engine), 0u);

    EXPECT_EQ(m_notifier.m_vecPosted, (std::vector<int>{23, 47, 95, 97}));
    EXPECT_TRUE(m_notifier.m_vecErrors.empty());
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
    ASSERT_FALSE(m_notifier.m_vecStatus.empty());
    EXPECT_EQ(m_notifier.m_vecStatus.back(), L"正在安装extra.zip ......");
    EXPECT_EQ(LinesWith(L"sccuss filesize=").size(), 3u);
}

TEST_F(InstallRun, PackagesOfOtherGroupsOnlyStillFetchUninstallerAndVerify)
{
    ServePackage(L"simsun.zip", {{"a.dat", "a"}});
    m_crcLines.clear();
    ServeLists(L"simsun.zip;1;3\r\nother.zip;1;7\r\n");

    EXPECT_EQ(InstallThreadProc(&m_engine), 0u);
    EXPECT_EQ(m_notifier.m_vecPosted, (std::vector<int>{97}));
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

    EXPECT_EQ(InstallThreadProc(&m_engine), 0u);
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
    EXPECT_TRUE(m_notifier.m_vecErrors.empty());
    EXPECT_EQ(m_notifier.m_vecPosted, (std::vector<int>{47, 95, 97}));
}

TEST_F(InstallRun, FifthFailedDownloadEndsTheRun)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServePackage(L"b.zip", {{"b.dat", "b"}});
    ServeLists(L"a.zip;1;1\rb.zip;1;1\r");
    SetFault(L"b.zip", "fail 500 5");

    EXPECT_EQ(InstallThreadProc(&m_engine), 1u);
    EXPECT_EQ(m_notifier.m_vecErrors, (std::vector<std::wstring>{L"下载b.zip失败"}));
    EXPECT_EQ(Probe(m_engine).m_bConfirmClose, 0);
    EXPECT_EQ(LinesWith(L"[CSetupDlg::Execute] download b.zip failed").size(), 1u);
    EXPECT_EQ(Requests("/EX3/UnInstall.exe"), 0);
    EXPECT_TRUE(PathExists(Path(m_strSetup, L"a.dat"))) << "earlier packages stay";
}

TEST_F(InstallRun, FiveUnpackingFailuresKeepTheArchive)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ASSERT_TRUE(ServeFile(L"b.zip", Bytes("<html>not a zip</html>")));
    ServeLists(L"a.zip;1;1\rb.zip;1;1\r");

    EXPECT_EQ(InstallThreadProc(&m_engine), 1u);
    EXPECT_EQ(m_notifier.m_vecErrors, (std::vector<std::wstring>{L"安装b.zip失败"}));
    EXPECT_EQ(Requests("/EX3/b.zip"), 5);
    EXPECT_EQ(LinesWith(L"[CSetupDlg::UnZip] OpenZip").size(), 5u);
    EXPECT_EQ(ReadFileBytes(Path(m_strTemp, L"b.zip")), Bytes("<html>not a zip</html>"));
    EXPECT_TRUE(PathExists(Path(m_strSetup, L"a.dat")));
    EXPECT_EQ(m_notifier.m_vecPosted, (std::vector<int>{47}));
}

TEST_F(InstallRun, NameListedTwiceIsInstalledTwice)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServeLists(L"a.zip;1;1\ra.zip;1;1\r");
    EXPECT_EQ(InstallThreadProc(&m_engine), 0u);
    EXPECT_EQ(Requests("/EX3/a.zip"), 2);
    EXPECT_EQ(m_notifier.m_vecPosted, (std::vector<int>{47, 95, 97}));
}

TEST_F(InstallRun, FailedUninstallerDownloadDoesNotFailTheRun)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServeLists(L"a.zip;1;1\r");
    ASSERT_TRUE(RemoveServedFile(L"UnInstall.exe"));
    EXPECT_EQ(InstallThreadProc(&m_engine), 0u);
    EXPECT_EQ(LinesWith(L"[CSetupDlg::DownloadUninstallFile] download UnInstall.exe failed").size(), 1u);
    EXPECT_EQ(m_notifier.m_vecPosted, (std::vector<int>{95, 97}));
}

TEST_F(InstallRun, VerificationFailureShowsItsText)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    m_crcLines += L"missing.dat;12345\r\n";
    ServeLists(L"a.zip;1;1\r");
    EXPECT_EQ(InstallThreadProc(&m_engine), 1u);
    EXPECT_EQ(m_notifier.m_vecErrors, (std::vector<std::wstring>{L"校验失败"}));
    EXPECT_EQ(LinesWith(L"[Normal][CSetupDlg::Execute] CheckFileCRC failed").size(), 1u);
}

TEST_F(InstallRun, UninstallerLandsInTheFallbackInstallFolder)
{
    std::wstring strOrvalis = m_root / L"Orvalis";
    std::swprintf(Probe(m_engine).m_szSetupPath, MAX_PATH, L"%ls", strOrvalis.c_str());
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServeLists(L"a.zip;1;1\r");
    EXPECT_EQ(InstallThreadProc(&m_engine), 0u);
    EXPECT_TRUE(PathExists(Path(strOrvalis, L"UnInstall.exe")));
    EXPECT_FALSE(PathExists(m_strSetup)) << "nothing goes to the root followed by \"Brivex Client\"";
}

// The run polls the stop request only before each package step: the package
// being downloaded is finished, then the run ends without a message.
TEST_F(InstallRun, StopDuringADownloadFinishesThatPackage)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServePackage(L"b.zip", {{"b.dat", "b"}});
    ServeLists(L"a.zip;1;1\rb.zip;1;1\r");
    SetFault(L"a.zip", "delay 1500");

    std::thread stopper([this] {
        ::Sleep(500);
        m_engine.RequestStop();
    });
    DWORD dwExit = InstallThreadProc(&m_engine);
    stopper.join();
    EXPECT_EQ(dwExit, 1u);
    EXPECT_TRUE(PathExists(Path(m_strSetup, L"a.dat")));
    EXPECT_EQ(m_notifier.m_vecPosted, (std::vector<int>{47}));
    EXPECT_EQ(Requests("/EX3/b.zip"), 0);
    EXPECT_TRUE(m_notifier.m_vecErrors.empty());
}

// The attempt loop on the worker thread.
class InstallAttempts : public InstallRun {
protected:
    DWORD RunWorker()
    {
        EXPECT_TRUE(m_engine.Start(0));
        m_engine.Wait();
        DWORD dwExit = STILL_ACTIVE;
        ::GetExitCodeThread(m_engine.m_hThread, &dwExit);
        return dwExit;
    }
    std::vector<std::wstring> AttemptLines() const { return LinesWith(L"安装结束，安装失败"); }
};

TEST_F(InstallAttempts, FailFailSucceedThenTheSuccessTail)
{
    // The success tail writes the machine's registration and shortcuts: keep
    // them inside folders of the test's own and put everything back.
    CTempDir desktop, programs;
    const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    CRegValueOverride desktopValue(HKEY_CURRENT_USER, kShellFolders, L"Desktop");
    CRegValueOverride programsValue(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs");
    ASSERT_TRUE(desktopValue.Set(desktop.Path()));
    ASSERT_TRUE(programsValue.Set(programs.Path()));
    const std::wstring strUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brivex Client";
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, strUninstallKey.c_str());

    ServePackage(L"a.zip", {{"iKVLRemote.exe", "client"}, {"config/ZUZ.System.config", "[Client]\r\nVersion=001\r\n"}});
    ServeLists(L"a.zip;1;1\r");
    SetFault(L"divozira.txt", "fail 404 2");

    EXPECT_EQ(RunWorker(), 0u);
    EXPECT_EQ(Requests("/EX3/divozira.txt"), 3);
    std::vector<std::wstring> attempts = AttemptLines();
    ASSERT_EQ(attempts.size(), 2u);
    EXPECT_EQ(attempts[0], L"[Normal][Execute] 第0安装结束，安装失败");
    EXPECT_EQ(attempts[1], L"[Normal][Execute] 第1安装结束，安装失败");
    EXPECT_EQ(m_notifier.m_nHides, 2);

    EXPECT_EQ(m_notifier.m_nProgressShown, 100);
    EXPECT_TRUE(m_notifier.m_bTimer);
    std::vector<uint8_t> ini = ReadFileBytes(Path(m_strSetup, L"config\\ZUZ.System.config"));
    std::string strIni(ini.begin(), ini.end());
    EXPECT_NE(strIni.find("Version=016"), std::string::npos) << strIni;
    EXPECT_TRUE(PathExists(desktop / L"Fenmora.lnk"));
    EXPECT_TRUE(PathExists(programs / L"Fenmora\\Fenmora.lnk"));

    wchar_t szDisplay[64] = {};
    DWORD cb = sizeof(szDisplay);
    EXPECT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, strUninstallKey.c_str(), L"DisplayName", RRF_RT_REG_SZ, nullptr,
                             szDisplay, &cb),
              ERROR_SUCCESS);
    EXPECT_STREQ(szDisplay, L"Fenmora");
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, strUninstallKey.c_str());
}

TEST_F(InstallAttempts, ThreeFailuresEndTheInstallationWithTheLastErrorShown)
{
    ServeLists(L"a.zip;1;1\r");
    EXPECT_EQ(RunWorker(), 1u);
    std::vector<std::wstring> attempts = AttemptLines();
    ASSERT_EQ(attempts.size(), 3u);
    EXPECT_EQ(attempts[2], L"[Normal][Execute] 第2安装结束，安装失败");
    EXPECT_EQ(m_notifier.m_nHides, 2) << "the last error stays on screen";
    EXPECT_EQ(m_notifier.m_vecErrors.size(), 3u);
    EXPECT_FALSE(m_notifier.m_bTimer);
}

TEST_F(InstallAttempts, ConfirmedStopStartsNoFurtherAttempt)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServePackage(L"b.zip", {{"b.dat", "b"}});
    ServeLists(L"a.zip;1;1\rb.zip;1;1\r");
    SetFault(L"a.zip", "delay 1500");
    ASSERT_TRUE(m_engine.Start(0));
    ::Sleep(500);
    m_engine.RequestStop();
    m_engine.Wait();
    DWORD dwExit = STILL_ACTIVE;
    ::GetExitCodeThread(m_engine.m_hThread, &dwExit);
    EXPECT_EQ(dwExit, 1u);
    EXPECT_EQ(AttemptLines().size(), 1u);
    EXPECT_EQ(Requests("/EX3/divozira.txt"), 1);
}

// A run that outlives its wait is asked to stop and awaited: the next
// attempt never runs beside it.
TEST_F(InstallAttempts, RunThatOutlivesItsWaitEndsBeforeTheNextAttempt)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServePackage(L"b.zip", {{"b.dat", "b"}});
    ServeLists(L"a.zip;1;1\rb.zip;1;1\r");
    SetFault(L"a.zip", "delay 1200");
    Probe(m_engine).m_dwRunTimeout = 300;

    EXPECT_EQ(RunWorker(), 1u);
    // Every attempt downloads a.zip (1.2 s) and then stops at the poll; the
    // next list request comes only after the previous a.zip has finished.
    std::vector<std::wstring> lines = m_log.Messages();
    std::vector<std::wstring> order;
    for (const std::wstring& line : lines) {
        if (line.find(L"start download") != std::wstring::npos)
            order.push_back(L"list");
        else if (line.find(L"a.zip sccuss") != std::wstring::npos)
            order.push_back(L"a");
    }
    EXPECT_EQ(order, (std::vector<std::wstring>{L"list", L"a", L"list", L"a", L"list", L"a"}));
    EXPECT_EQ(Requests("/EX3/b.zip"), 0);
    EXPECT_EQ(AttemptLines().size(), 3u);
}

// Once asked to stop, a run that still ends with success counts as failed;
// after the last attempt the user sees why.
TEST_F(InstallAttempts, RunThatSucceedsAfterItsWaitFailsTheAttempt)
{
    ServePackage(L"a.zip", {{"a.dat", "a"}});
    ServeLists(L"a.zip;1;1\r");
    SetFault(L"filecrc.txt", "delay 700");
    Probe(m_engine).m_dwRunTimeout = 300;

    EXPECT_EQ(RunWorker(), 1u);
    EXPECT_EQ(AttemptLines().size(), 3u);
    EXPECT_FALSE(m_notifier.m_bTimer) << "the success tail ran";
    ASSERT_FALSE(m_notifier.m_vecErrors.empty());
    EXPECT_EQ(m_notifier.m_vecErrors.back(), L"安装超时，请检查网络后重试");
    EXPECT_FALSE(m_engine.AsksBeforeClose());
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

    EXPECT_EQ(InstallThreadProc(&m_engine), 1u);
    EXPECT_EQ(m_notifier.m_vecErrors, (std::vector<std::wstring>{L"安装a.zip失败"}));
    EXPECT_EQ(LinesWith(L"[Error][CSetupDlg::UnZip] QueryZipItem 1 failed").size(), 5u);
}
