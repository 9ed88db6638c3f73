#include "system/ClientFiles.h"
#include "system/ClientProcess.h"
#include "system/SingleInstance.h"
#include "tests/support/TempDir.h"
#include "tests/system/SystemTestSupport.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <string>
#include <vector>

namespace {

std::wstring HelperPath()
{
    wchar_t szExe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    std::wstring str(szExe);
    return str.substr(0, str.find_last_of(L'\\')) + L"\\wait_helper.exe";
}

bool WaitForFile(const std::wstring& strPath)
{
    for (int i = 0; i < 500; ++i) {
        if (PathExists(strPath))
            return true;
        ::Sleep(20);
    }
    return false;
}

// Copies the helper into folders under given names, starts the copies and
// stops every helper when it goes away.
class CHelperPrograms {
public:
    CHelperPrograms() : m_hQuit(::CreateEventW(nullptr, TRUE, FALSE, L"SetupTestsQuitHelpers"))
    {
        ::ResetEvent(m_hQuit);
    }
    ~CHelperPrograms()
    {
        ::SetEvent(m_hQuit);
        for (HANDLE h : m_vecProcesses) {
            ::WaitForSingleObject(h, 10000);
            ::CloseHandle(h);
        }
        for (const std::wstring& strFolder : m_vecLaunchedIn)
            WaitUntilGone(strFolder);
        ::CloseHandle(m_hQuit);
    }
    CHelperPrograms(const CHelperPrograms&) = delete;
    CHelperPrograms& operator=(const CHelperPrograms&) = delete;

    static bool Install(const std::wstring& strFolder, const wchar_t* pszName)
    {
        ::CreateDirectoryW(strFolder.c_str(), nullptr);
        return ::CopyFileW(HelperPath().c_str(), (strFolder + L"\\" + pszName).c_str(), FALSE) != 0;
    }

    // Starts the copy and returns once it is up.
    bool Start(const std::wstring& strFolder, const wchar_t* pszName)
    {
        if (!Install(strFolder, pszName))
            return false;
        std::wstring strExe = strFolder + L"\\" + pszName;
        std::wstring strCommand = L"\"" + strExe + L"\"";
        STARTUPINFOW si = {sizeof(si)};
        PROCESS_INFORMATION pi = {};
        if (!::CreateProcessW(strExe.c_str(), &strCommand[0], nullptr, nullptr, FALSE, 0, nullptr, strFolder.c_str(),
                              &si, &pi))
            return false;
        ::CloseHandle(pi.hThread);
        m_vecProcesses.push_back(pi.hProcess);
        return WaitForFile(strFolder + L"\\started.txt");
    }

    // A program the test had started some other way.
    void Adopt(const std::wstring& strFolder) { m_vecLaunchedIn.push_back(strFolder); }

private:
    // The snapshot may drop a process before it has let go of its folder;
    // its handle says when it has ended.
    static void WaitUntilGone(const std::wstring& strFolder)
    {
        HANDLE hSnapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (hSnapshot == INVALID_HANDLE_VALUE)
            return;
        PROCESSENTRY32W entry = {sizeof(entry)};
        for (BOOL bMore = ::Process32FirstW(hSnapshot, &entry); bMore; bMore = ::Process32NextW(hSnapshot, &entry)) {
            HANDLE hProcess =
                ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
            if (!hProcess)
                continue;
            wchar_t szImage[MAX_PATH] = {};
            DWORD cch = MAX_PATH;
            if (::QueryFullProcessImageNameW(hProcess, 0, szImage, &cch) &&
                IsProgramInFolder(szImage, strFolder.c_str(), kClientProgramName))
                ::WaitForSingleObject(hProcess, 10000);
            ::CloseHandle(hProcess);
        }
        ::CloseHandle(hSnapshot);
    }

    HANDLE m_hQuit;
    std::vector<HANDLE> m_vecProcesses;
    std::vector<std::wstring> m_vecLaunchedIn;
};

std::wstring Upper(std::wstring str)
{
    ::CharUpperBuffW(&str[0], static_cast<DWORD>(str.size()));
    return str;
}

}  // namespace

TEST(ClientProcess, ImagePathRule)
{
    struct Case {
        const wchar_t* pszImage;
        const wchar_t* pszFolder;
        bool bMatch;
    };
    const Case cases[] = {
        {L"C:\\Brivex Client\\iKVLRemote.exe", L"C:\\Brivex Client", true},
        {L"c:\\brivex client\\IKVLREMOTE.EXE", L"C:\\Brivex Client", true},
        {L"D:\\Other\\iKVLRemote.exe", L"C:\\Brivex Client", false},
        {L"C:\\Brivex Client\\sub\\iKVLRemote.exe", L"C:\\Brivex Client", false},
        {L"C:\\Brivex Client\\iKVLRemote.exe.bak", L"C:\\Brivex Client", false},
        {L"", L"C:\\Brivex Client", false},
        {L"C:\\程序\\iKVLRemote.exe", L"C:\\程序", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.pszImage));
        EXPECT_EQ(IsProgramInFolder(c.pszImage, c.pszFolder, kClientProgramName), c.bMatch);
    }
    // A folder too long for the composed path matches nothing.
    std::wstring strLong(MAX_PATH, L'a');
    EXPECT_FALSE(IsProgramInFolder((strLong + L"\\iKVLRemote.exe").c_str(), strLong.c_str(), kClientProgramName));
}

TEST(ClientProcess, FindProcessInsideAndOutsideTheFolder)
{
    CTempDir dir;
    const std::wstring strSetup = dir / L"Brivex Client";
    const std::wstring strOther = dir / L"Other";
    CLogCapture log;
    CHelperPrograms helpers;

    // Only a copy outside the install folder runs.
    ASSERT_TRUE(helpers.Start(strOther, kClientProgramName));
    EXPECT_FALSE(FindProcess(kClientProgramName, strSetup.c_str()));
    EXPECT_TRUE(log.Contains(L"[FindProcess] Path=" + strOther + L"\\iKVLRemote.exe\r\n")) << Narrow(log.Text());

    // Now one in the folder too: found whichever the snapshot lists first.
    ASSERT_TRUE(helpers.Start(strSetup, kClientProgramName));
    EXPECT_TRUE(FindProcess(kClientProgramName, strSetup.c_str()));
    EXPECT_TRUE(log.Contains(L"[FindProcess] Path=" + strSetup + L"\\iKVLRemote.exe\r\n"));
    // Name and folder in another letter case.
    EXPECT_TRUE(FindProcess(L"IKVLREMOTE.EXE", Upper(strSetup).c_str()));
    EXPECT_TRUE(FindProcess(kClientProgramName, strOther.c_str()));

    EXPECT_FALSE(FindProcess(kClientProgramName, (dir / L"Elsewhere").c_str()));
    EXPECT_FALSE(FindProcess(L"wait_helper_absent.exe", strSetup.c_str()));
    EXPECT_FALSE(FindProcess(nullptr, strSetup.c_str()));
    EXPECT_FALSE(FindProcess(L"", strSetup.c_str()));
    EXPECT_FALSE(FindProcess(kClientProgramName, nullptr));
    EXPECT_FALSE(FindProcess(kClientProgramName, L""));
}

TEST(ClientProcess, ProgramFileInAnotherCaseIsFound)
{
    CTempDir dir;
    const std::wstring strSetup = dir / L"Brivex Client";
    CHelperPrograms helpers;
    ASSERT_TRUE(helpers.Start(strSetup, L"IKVLREMOTE.EXE"));
    EXPECT_TRUE(FindProcess(kClientProgramName, strSetup.c_str()));
}

TEST(ClientProcess, StartInstalledClientRunsItInTheInstallFolder)
{
    CTempDir dir;
    const std::wstring strSetup = dir / L"Brivex Client";
    CHelperPrograms helpers;
    ASSERT_TRUE(CHelperPrograms::Install(strSetup, kClientProgramName));
    helpers.Adopt(strSetup);

    ASSERT_TRUE(StartInstalledClient(strSetup.c_str()));
    ASSERT_TRUE(WaitForFile(strSetup + L"\\started.txt"));
    EXPECT_EQ(Upper(ReadFileUtf16(strSetup + L"\\started.txt")), Upper(strSetup)) << "working folder";
    EXPECT_EQ(ReadFileUtf16(strSetup + L"\\shown.txt"), L"5") << "show command";
    EXPECT_TRUE(FindProcess(kClientProgramName, strSetup.c_str()));

    EXPECT_FALSE(StartInstalledClient((dir / L"Not installed").c_str()));
    EXPECT_FALSE(StartInstalledClient(nullptr));
}

TEST(ClientProcess, EnableDebugPrivilege)
{
    // The test session runs as an administrator, whose token holds it.
    EXPECT_TRUE(EnableDebugPrivilege());
    HANDLE hToken = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken));
    LUID luid;
    ASSERT_TRUE(::LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &luid));
    PRIVILEGE_SET set = {1, PRIVILEGE_SET_ALL_NECESSARY, {{luid, 0}}};
    BOOL bHeld = FALSE;
    EXPECT_TRUE(::PrivilegeCheck(hToken, &set, &bHeld));
    EXPECT_TRUE(bHeld);
    ::CloseHandle(hToken);
}

// The second installer finds the first, and the guard goes with its
// holder. Wine offers no private namespace, so here the global name stands
// in; Windows keeps the mutex where only administrators reach it.
TEST(SingleInstance, SecondGuardFindsTheFirstUntilItGoes)
{
    {
        CSingleInstance first;
        ASSERT_TRUE(first.Acquire());
        CSingleInstance second;
        EXPECT_FALSE(second.Acquire());
        EXPECT_EQ(first.IsPrivate(), second.IsPrivate());
    }
    CSingleInstance again;
    EXPECT_TRUE(again.Acquire());
}

// Elevated, the client never starts with the installer's token: the
// shell's process, else its user's token, else not at all; not elevated it
// starts directly. Each way says so in the log.
TEST(ClientProcess, LaunchWayAndItsLine)
{
    struct Case {
        bool bElevated;
        bool bSystemInSessionZero;
        bool bShellStarted;
        bool bUserToken;
        LaunchWay way;
        const wchar_t* pszLine;
    };
    const Case cases[] = {
        {false, false, false, false, LaunchWay::kDirect,
         L"[Normal][StartInstalledClient] not elevated: started directly C:\\x.exe result=42"},
        {false, false, true, true, LaunchWay::kDirect,
         L"[Normal][StartInstalledClient] not elevated: started directly C:\\x.exe result=42"},
        {true, false, true, true, LaunchWay::kShell,
         L"[Normal][StartInstalledClient] started through the desktop shell: C:\\x.exe hr=0x0000002A"},
        {true, false, false, true, LaunchWay::kUserToken,
         L"[Normal][StartInstalledClient] no desktop shell: started as the desktop's user C:\\x.exe error=42"},
        {true, false, false, false, LaunchWay::kNotStarted,
         L"[Error][StartInstalledClient] no desktop shell (hr=0x0000002A) and no desktop user's token: C:\\x.exe is "
         L"not started, not with this process's rights"},
        {true, true, true, true, LaunchWay::kNotStarted,
         L"[Normal][StartInstalledClient] running as SYSTEM in session 0: C:\\x.exe is not started"},
    };
    for (const Case& c : cases) {
        LaunchFacts facts;
        facts.bElevated = c.bElevated;
        facts.bSystemInSessionZero = c.bSystemInSessionZero;
        facts.bShellStarted = c.bShellStarted;
        facts.bUserToken = c.bUserToken;
        EXPECT_EQ(ChooseLaunchWay(facts), c.way) << &c - cases;
        CLogCapture log;
        LogLaunch(ChooseLaunchWay(facts), facts, L"C:\\x.exe", 42);
        EXPECT_EQ(log.Messages(), std::vector<std::wstring>{c.pszLine}) << &c - cases;
    }
}
