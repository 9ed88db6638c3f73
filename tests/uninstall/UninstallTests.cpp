#include "system/ClientFiles.h"
#include "system/ClientSettings.h"
#include "system/Shortcuts.h"
#include "system/UninstallRegistration.h"
#include "tests/support/RegOverride.h"
#include "tests/support/TempDir.h"
#include "tests/system/SystemTestSupport.h"
#include "uninstall/SelfRelaunch.h"
#include "uninstall/Uninstaller.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

const std::wstring kProductKey = UninstallKeyPath();
// A neighbour of the product's entry that only shares the start of its name.
const std::wstring kNeighbourKey = UninstallKeyPath() + L" Tools";

std::wstring UninstallerPath()
{
    const char* psz = std::getenv("UNINSTALLER_EXE");
    return psz ? std::wstring(psz, psz + std::strlen(psz)) : std::wstring();
}

std::wstring TestProgramFolder(const wchar_t* pszName)
{
    wchar_t szExe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    std::wstring str(szExe);
    return str.substr(0, str.find_last_of(L'\\')) + L"\\" + pszName;
}

bool KeyExists(const std::wstring& strKey)
{
    HKEY hKey = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(hKey);
    return true;
}

// Every file and folder below a folder, as relative paths.
void CollectTree(const std::wstring& strRoot, const std::wstring& strRelative, std::set<std::wstring>* pTree)
{
    WIN32_FIND_DATAW fd;
    const std::wstring strFolder = strRelative.empty() ? strRoot : strRoot + L"\\" + strRelative;
    HANDLE hFind = ::FindFirstFileW((strFolder + L"\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring strName = fd.cFileName;
        if (strName == L"." || strName == L"..")
            continue;
        const std::wstring strPath = strRelative.empty() ? strName : strRelative + L"\\" + strName;
        pTree->insert(strPath);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectTree(strRoot, strPath, pTree);
    } while (::FindNextFileW(hFind, &fd));
    ::FindClose(hFind);
}

std::set<std::wstring> Tree(const std::wstring& strRoot)
{
    std::set<std::wstring> tree;
    CollectTree(strRoot, L"", &tree);
    return tree;
}

std::string Listing(const std::set<std::wstring>& tree)
{
    std::string str;
    for (const std::wstring& strPath : tree)
        str += Narrow(strPath) + "\n";
    return str;
}

// The folders of the uninstaller's copies in the temp folder.
std::set<std::wstring> CopyFolders()
{
    wchar_t szTemp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, szTemp);
    std::set<std::wstring> folders;
    WIN32_FIND_DATAW fd;
    HANDLE hFind = ::FindFirstFileW((std::wstring(szTemp) + L"FenmoraUninstall-*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return folders;
    do {
        folders.insert(fd.cFileName);
    } while (::FindNextFileW(hFind, &fd));
    ::FindClose(hFind);
    return folders;
}

// Runs the uninstaller with a command line after its path; the exit code,
// or -1 when it did not start or end within a minute.
int RunUninstaller(const std::wstring& strExe, const std::wstring& strArguments,
                   const std::wstring& strWorkDir = std::wstring())
{
    std::wstring strCommandLine = L"\"" + strExe + L"\" " + strArguments;
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(strExe.c_str(), &strCommandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          strWorkDir.empty() ? nullptr : strWorkDir.c_str(), &si, &pi))
        return -1;
    ::CloseHandle(pi.hThread);
    DWORD dwExit = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(pi.hProcess, &dwExit);
    ::CloseHandle(pi.hProcess);
    return static_cast<int>(dwExit);
}

// Starts the uninstaller without waiting for it.
HANDLE StartUninstaller(const std::wstring& strArguments)
{
    std::wstring strCommandLine = L"\"" + UninstallerPath() + L"\" " + strArguments;
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(UninstallerPath().c_str(), &strCommandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &si, &pi))
        return nullptr;
    ::CloseHandle(pi.hThread);
    return pi.hProcess;
}

BOOL CALLBACK FindStaticText(HWND hChild, LPARAM lParam)
{
    wchar_t szClass[32] = {};
    wchar_t szText[1024] = {};
    ::GetClassNameW(hChild, szClass, 32);
    if (::lstrcmpiW(szClass, L"Static") != 0 || ::GetWindowTextW(hChild, szText, 1024) == 0)
        return TRUE;
    *reinterpret_cast<std::wstring*>(lParam) = szText;
    return FALSE;
}

// Waits for the uninstaller's message box, returns its text and presses
// the button as a user would; empty when no box came within 20 s.
std::wstring AnswerMessageBox(int nButton)
{
    for (int i = 0; i < 200; ++i) {
        if (HWND hBox = ::FindWindowW(L"#32770", L"卸载Fenmora")) {
            // The text is the box's static control with text (the icon is
            // one without).
            std::wstring strText;
            ::EnumChildWindows(hBox, FindStaticText, reinterpret_cast<LPARAM>(&strText));
            ::PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(nButton, BN_CLICKED), 0);
            for (int k = 0; k < 50 && ::IsWindow(hBox); ++k)
                ::Sleep(100);
            return strText;
        }
        ::Sleep(100);
    }
    return std::wstring();
}

int ExitCode(HANDLE hProcess)
{
    DWORD dwExit = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(hProcess, 30000) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(hProcess, &dwExit);
    ::CloseHandle(hProcess);
    return static_cast<int>(dwExit);
}

bool WaitUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 300; ++i) {
        if (done())
            return true;
        ::Sleep(100);
    }
    return false;
}

// A machine of the test's own: a root standing for the drive, with the
// desktop and the Start-menu programs folder below it, the user's own files
// beside the install folder, and an installation made with the installer's
// own functions.
class Uninstalling : public testing::Test {
protected:
    Uninstalling()
        : m_desktopValue(HKEY_CURRENT_USER, kShellFoldersKey, L"Desktop"),
          m_programsValue(HKEY_LOCAL_MACHINE, kMachineShellFoldersKey, L"Common Programs")
    {
    }

    void SetUp() override
    {
        ASSERT_FALSE(UninstallerPath().empty()) << "UNINSTALLER_EXE is not set";
        RemoveKeys();
        m_strSetup = m_root / L"Brivex Client";
        m_strDesktop = m_root / L"Desktop";
        m_strPrograms = m_root / L"Programs";
        ::CreateDirectoryW(m_strDesktop.c_str(), nullptr);
        ::CreateDirectoryW(m_strPrograms.c_str(), nullptr);

        // What belongs to the user, not to the installation.
        ::CreateDirectoryW((m_root / L"Brivex Client.bak").c_str(), nullptr);
        ASSERT_TRUE(WriteFileBytes(m_root / L"notes.txt", "mine", 4));
        ASSERT_TRUE(WriteFileBytes(m_root / L"Brivex Client.bak\\iKVLRemote.exe", "older", 5));
        ASSERT_TRUE(WriteFileBytes(m_strDesktop + L"\\notes.txt", "mine", 4));
        ASSERT_TRUE(SaveLink(m_strDesktop + L"\\Other.lnk", m_root / L"Brivex Client.bak\\iKVLRemote.exe"));
        ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kNeighbourKey.c_str(), L"DisplayName", REG_SZ, L"x", 4),
                  ERROR_SUCCESS);
        m_userTree = Tree(m_root.Path());
    }

    // Where Wine's menu builder runs, it writes the real folders back into
    // the Shell Folders key after a shortcut is saved; the session turns it
    // off, and the test's folders are set again after every save all the
    // same.
    void PointShellFoldersHere()
    {
        ASSERT_TRUE(m_desktopValue.Set(m_strDesktop));
        ASSERT_TRUE(m_programsValue.Set(m_strPrograms));
    }
    void TearDown() override { RemoveKeys(); }

    static void RemoveKeys()
    {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKey.c_str());
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNeighbourKey.c_str());
    }

    // The client's files, then the success tail's steps.
    void Install()
    {
        ::CreateDirectoryW(m_strSetup.c_str(), nullptr);
        ::CreateDirectoryW((m_strSetup + L"\\config").c_str(), nullptr);
        ::CreateDirectoryW((m_strSetup + L"\\skin").c_str(), nullptr);
        ASSERT_TRUE(::CopyFileW(TestProgramFolder(L"wait_helper.exe").c_str(),
                                (m_strSetup + L"\\iKVLRemote.exe").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW(UninstallerPath().c_str(), (m_strSetup + L"\\UnInstall.exe").c_str(), FALSE));
        ASSERT_TRUE(WriteFileBytes(m_strSetup + L"\\favicon.ico", "icon", 4));
        ASSERT_TRUE(WriteFileBytes(m_strSetup + L"\\config\\ZUZ.System.config", "[Client]\r\n", 10));
        ASSERT_TRUE(WriteFileBytes(m_strSetup + L"\\skin\\font.ini", "[Skin]\r\n", 8));
        ASSERT_TRUE(WriteClientSettings(m_strSetup.c_str(), 16));

        PointShellFoldersHere();
        wchar_t szTarget[MAX_PATH];
        wchar_t szIcon[MAX_PATH];
        ASSERT_TRUE(ComposeClientLinkTarget(m_strSetup.c_str(), szTarget));
        ASSERT_TRUE(ComposeClientIconPath(m_strSetup.c_str(), szIcon));
        ASSERT_TRUE(CreateDesktopShellLink(kDisplayName, m_strSetup.c_str(), szTarget, szIcon));
        PointShellFoldersHere();
        ASSERT_TRUE(CreateStartMenuShellLinks(m_strSetup.c_str()));
        PointShellFoldersHere();
        ASSERT_TRUE(WriteUninstallRegistration(m_strSetup.c_str(), L"C:\\UnInstall Brivex Client"));

        ASSERT_TRUE(PathExists(m_strDesktop + L"\\Fenmora.lnk"));
        ASSERT_TRUE(PathExists(m_strPrograms + L"\\Fenmora\\Fenmora.lnk"));
        ASSERT_TRUE(PathExists(m_strPrograms + L"\\Fenmora\\卸载Fenmora.lnk"));
        ASSERT_TRUE(KeyExists(kProductKey));
    }

    std::wstring Quoted(const std::wstring& str) const { return L"\"" + str + L"\""; }

    void ExpectOnlyUserThingsLeft()
    {
        EXPECT_EQ(Listing(Tree(m_root.Path())), Listing(m_userTree));
        EXPECT_FALSE(KeyExists(kProductKey));
        EXPECT_TRUE(KeyExists(kNeighbourKey));
        LinkContents other = ReadLink(m_strDesktop + L"\\Other.lnk");
        EXPECT_TRUE(other.bLoaded);
    }

    CTempDir m_root;
    CRegValueOverride m_desktopValue;
    CRegValueOverride m_programsValue;
    std::wstring m_strSetup;
    std::wstring m_strDesktop;
    std::wstring m_strPrograms;
    std::set<std::wstring> m_userTree;
};

}  // namespace

TEST(UninstallArguments, Parse)
{
    struct Case {
        std::vector<const wchar_t*> args;
        bool bOk;
        const wchar_t* pszFolder;
        bool bSilent;
        uintptr_t nWaitFor;
    };
    const Case cases[] = {
        {{L"C:\\Brivex Client"}, true, L"C:\\Brivex Client", false, 0},
        {{L"C:\\Brivex Client", L"/S"}, true, L"C:\\Brivex Client", true, 0},
        {{L"/s", L"D:\\x"}, true, L"D:\\x", true, 0},
        {{L"D:\\x", L"-S"}, true, L"D:\\x", true, 0},
        {{L"C:\\x", L"/W=1234"}, true, L"C:\\x", false, 1234},
        {{}, false, L"", false, 0},
        {{L"/S"}, false, L"", true, 0},
        {{L"C:\\x", L"D:\\y"}, false, L"", false, 0},
        {{L"C:\\x", L"/X"}, false, L"", false, 0},
        {{L"/X", L"C:\\x", L"/S"}, false, L"", true, 0},
        {{L"C:\\x", L"/W="}, false, L"", false, 0},
        {{L"C:\\x", L"/W=12a"}, false, L"", false, 0},
        {{L"C:\\x", L"/W=0"}, false, L"", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("(none)") : Narrow(c.args[0]));
        UninstallRequest request;
        ASSERT_EQ(ParseUninstallArguments(static_cast<int>(c.args.size()), c.args.data(), &request), c.bOk);
        EXPECT_EQ(request.bSilent, c.bSilent);
        if (c.bOk) {
            EXPECT_EQ(request.strFolder, c.pszFolder);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(request.hWaitFor), c.nWaitFor);
        }
    }
}

TEST(UninstallArguments, RelaunchCommandLineParsesBack)
{
    for (bool bSilent : {false, true}) {
        const std::wstring strLine =
            ComposeRelaunchCommandLine(L"C:\\temp dir\\UnInstall.exe", L"D:\\应用 程序\\Brivex Client",
                                       reinterpret_cast<HANDLE>(uintptr_t{0x1F4}), bSilent);
        int nArgs = 0;
        wchar_t** ppszArgs = ::CommandLineToArgvW(strLine.c_str(), &nArgs);
        ASSERT_NE(ppszArgs, nullptr);
        EXPECT_STREQ(ppszArgs[0], L"C:\\temp dir\\UnInstall.exe");
        UninstallRequest request;
        EXPECT_TRUE(ParseUninstallArguments(nArgs - 1, ppszArgs + 1, &request));
        ::LocalFree(ppszArgs);
        EXPECT_EQ(request.strFolder, L"D:\\应用 程序\\Brivex Client");
        EXPECT_EQ(reinterpret_cast<uintptr_t>(request.hWaitFor), 0x1F4u);
        EXPECT_EQ(request.bSilent, bSilent);
    }
}

TEST(UninstallFolder, Normalize)
{
    struct Case {
        const wchar_t* pszGiven;
        const wchar_t* pszFolder;  // null: refused
    };
    const Case cases[] = {
        {L"C:\\Brivex Client\\", L"C:\\Brivex Client"},
        {L"\\\\srv\\share\\Brivex Client", L"\\\\srv\\share\\Brivex Client"},
        {L"C:\\", nullptr},
        {L"\\\\srv\\share", nullptr},
        {L"\\\\srv\\share\\", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.pszGiven));
        std::wstring strFolder;
        ASSERT_EQ(NormalizeInstallFolder(c.pszGiven, &strFolder), c.pszFolder != nullptr);
        if (c.pszFolder) {
            EXPECT_EQ(strFolder, c.pszFolder);
        }
    }
}

TEST(UninstallFolder, Judge)
{
    const std::wstring strFolder = L"C:\\Brivex Client";
    struct Case {
        bool bPlainFolder;
        bool bProgram;
        const wchar_t* pszRegistered;
        InstallCheck expected;
    };
    const Case cases[] = {
        {true, true, L"C:\\Brivex Client\\", InstallCheck::Installation},
        {true, true, L"c:\\brivex client", InstallCheck::Installation},
        {true, true, L"C:/Brivex Client/", InstallCheck::Installation},
        {true, true, L"D:\\Brivex Client\\", InstallCheck::RegisteredElsewhere},
        {true, true, L"C:\\Brivex Client\\sub\\", InstallCheck::RegisteredElsewhere},
        {true, true, L"C:\\", InstallCheck::RegisteredElsewhere},
        {true, true, L"", InstallCheck::RegisteredElsewhere},
        {true, true, nullptr, InstallCheck::NotRegistered},
        {true, false, L"C:\\Brivex Client\\", InstallCheck::NoClientProgram},
        {false, true, L"C:\\Brivex Client\\", InstallCheck::NotAFolder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszRegistered ? Narrow(c.pszRegistered) : std::string("(none)"));
        EXPECT_EQ(JudgeInstallation(strFolder, c.bPlainFolder, c.bProgram, c.pszRegistered), c.expected);
    }
}

TEST(UninstallFolder, InsideFolder)
{
    EXPECT_TRUE(IsInsideFolder(L"C:\\Brivex Client\\UnInstall.exe", L"C:\\Brivex Client"));
    EXPECT_TRUE(IsInsideFolder(L"c:\\BRIVEX CLIENT\\UnInstall.exe", L"C:\\Brivex Client"));
    EXPECT_TRUE(IsInsideFolder(L"C:\\Brivex Client\\sub\\UnInstall.exe", L"C:\\Brivex Client"));
    EXPECT_FALSE(IsInsideFolder(L"C:\\Brivex Client2\\UnInstall.exe", L"C:\\Brivex Client"));
    EXPECT_FALSE(IsInsideFolder(L"C:\\Brivex Client", L"C:\\Brivex Client"));
    EXPECT_FALSE(IsInsideFolder(L"C:\\temp\\UnInstall.exe", L"C:\\Brivex Client"));
}

TEST_F(Uninstalling, RemovesWhatTheInstallerMadeAndNothingElse)
{
    Install();
    // What runs that ended left beside the install folder goes too; names
    // of another shape are the user's.
    ASSERT_TRUE(::CreateDirectoryW((m_root / L"Brivex Client.0a1b2c3d").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(m_root / L"Brivex Client.0a1b2c3d\\iKVLRemote.exe", "staged", 6));
    for (const wchar_t* pszUsers : {L"Brivex Client.0a1b2c3", L"Brivex Client.0a1b2c3g", L"Brivex Client 0a1b2c3d"}) {
        ASSERT_TRUE(::CreateDirectoryW((m_root / pszUsers).c_str(), nullptr));
        m_userTree.insert(pszUsers);
    }
    EXPECT_EQ(RunUninstaller(UninstallerPath(), Quoted(m_strSetup) + L" /S"), kUninstallDone);
    ExpectOnlyUserThingsLeft();
}

// As the Start-menu shortcut starts it: from inside the install folder,
// which is also its working folder. It hands over to a copy of itself and
// ends; the copy removes everything, its starter's file included.
TEST_F(Uninstalling, FromInsideTheInstallFolder)
{
    Install();
    const std::set<std::wstring> before = CopyFolders();
    EXPECT_EQ(RunUninstaller(m_strSetup + L"\\UnInstall.exe", Quoted(m_strSetup) + L" /S", m_strSetup), kUninstallDone);
    EXPECT_TRUE(WaitUntil([this] { return !PathExists(m_strSetup) && !KeyExists(kProductKey); }))
        << "the copy in the temp folder did not remove the installation within 30 s";
    ExpectOnlyUserThingsLeft();

    // A name another user could not have prepared: 128 random bits.
    std::vector<std::wstring> added;
    const std::set<std::wstring> after = CopyFolders();
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    ASSERT_EQ(added.size(), 1u);
    const std::wstring strSuffix = added[0].substr(std::wcslen(L"FenmoraUninstall-"));
    EXPECT_EQ(strSuffix.size(), 32u) << Narrow(added[0]);
    EXPECT_EQ(strSuffix.find_first_not_of(L"0123456789abcdef"), std::wstring::npos) << Narrow(added[0]);
}

TEST_F(Uninstalling, KeepsTheStartMenuFolderWithTheUsersFile)
{
    Install();
    ASSERT_TRUE(WriteFileBytes(m_strPrograms + L"\\Fenmora\\mine.txt", "x", 1));
    EXPECT_EQ(RunUninstaller(UninstallerPath(), Quoted(m_strSetup) + L" /S"), kUninstallDone);
    m_userTree.insert(L"Programs\\Fenmora");
    m_userTree.insert(L"Programs\\Fenmora\\mine.txt");
    ExpectOnlyUserThingsLeft();
}

TEST_F(Uninstalling, LeavesShortcutsThatLeadElsewhere)
{
    Install();
    // The user's own shortcut under the product's name, to another copy.
    ASSERT_TRUE(SaveLink(m_strDesktop + L"\\Fenmora.lnk", m_root / L"Brivex Client.bak\\iKVLRemote.exe"));
    PointShellFoldersHere();
    EXPECT_EQ(RunUninstaller(UninstallerPath(), Quoted(m_strSetup) + L" /S"), kUninstallDone);
    m_userTree.insert(L"Desktop\\Fenmora.lnk");
    ExpectOnlyUserThingsLeft();
}

TEST_F(Uninstalling, RefusesWhatIsNoInstallation)
{
    struct Case {
        const char* pszWhat;
        std::function<void()> prepare;
        std::wstring strArguments;
        int nExit;
    };
    const std::vector<Case> cases = {
        {"no client program", [this] { ::DeleteFileW((m_strSetup + L"\\iKVLRemote.exe").c_str()); }, L"",
         kUninstallRefused},
        {"registered for another folder",
         [this] { WriteUninstallRegistration((m_root / L"Brivex Client.bak").c_str(), L""); }, L"", kUninstallRefused},
        {"not registered", [] { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKey.c_str()); }, L"", kUninstallRefused},
        {"a drive root", nullptr, L"C:\\ /S", kUninstallRefused},
        {"a relative folder", nullptr, L"\"Brivex Client\" /S", kUninstallRefused},
        {"the folder beside it", nullptr, L"\"" + (m_root / L"Brivex Client.bak") + L"\" /S", kUninstallRefused},
        {"no folder", nullptr, L"/S", kUninstallUsage},
        {"an unknown switch", nullptr, L"/Q \"" + m_strSetup + L"\" /S", kUninstallUsage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        Install();
        if (c.prepare)
            c.prepare();
        const std::set<std::wstring> before = Tree(m_root.Path());
        const bool bRegistered = KeyExists(kProductKey);
        EXPECT_EQ(
            RunUninstaller(UninstallerPath(), c.strArguments.empty() ? Quoted(m_strSetup) + L" /S" : c.strArguments),
            c.nExit);
        EXPECT_EQ(Listing(Tree(m_root.Path())), Listing(before));
        EXPECT_EQ(KeyExists(kProductKey), bRegistered);
    }
}

TEST_F(Uninstalling, RefusesWhileTheClientRuns)
{
    Install();
    HANDLE hQuit = ::CreateEventW(nullptr, TRUE, FALSE, L"SetupTestsQuitHelpers");
    ::ResetEvent(hQuit);
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    std::wstring strProgram = m_strSetup + L"\\iKVLRemote.exe";
    std::wstring strCommandLine = Quoted(strProgram);
    ASSERT_TRUE(::CreateProcessW(strProgram.c_str(), &strCommandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                 m_strSetup.c_str(), &si, &pi));
    ::CloseHandle(pi.hThread);
    EXPECT_TRUE(WaitUntil([this] { return PathExists(m_strSetup + L"\\started.txt"); }));
    const std::set<std::wstring> before = Tree(m_root.Path());

    EXPECT_EQ(RunUninstaller(UninstallerPath(), Quoted(m_strSetup) + L" /S"), kUninstallRunning);
    EXPECT_EQ(Listing(Tree(m_root.Path())), Listing(before));
    EXPECT_TRUE(KeyExists(kProductKey));

    ::SetEvent(hQuit);
    ::WaitForSingleObject(pi.hProcess, 10000);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(hQuit);
}

// A file that cannot be deleted stays, and the entry in the list of
// installed programs stays as long as the program does, so the removal can
// be tried again; without the program it would lead nowhere.
TEST_F(Uninstalling, FilesThatStayBehind)
{
    struct Case {
        const wchar_t* pszHeld;
        bool bEntryStays;
    };
    for (const Case& c : {Case{L"skin\\font.ini", false}, Case{L"iKVLRemote.exe", true}}) {
        SCOPED_TRACE(Narrow(c.pszHeld));
        Install();
        HANDLE hHeld = ::CreateFileW((m_strSetup + L"\\" + c.pszHeld).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     0, nullptr);
        ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
        EXPECT_EQ(RunUninstaller(UninstallerPath(), Quoted(m_strSetup) + L" /S"), kUninstallIncomplete);
        EXPECT_TRUE(PathExists(m_strSetup + L"\\" + c.pszHeld));
        EXPECT_FALSE(PathExists(m_strSetup + L"\\favicon.ico"));
        EXPECT_EQ(KeyExists(kProductKey), c.bEntryStays);
        ::CloseHandle(hHeld);

        EXPECT_EQ(RunUninstaller(UninstallerPath(), Quoted(m_strSetup) + L" /S"),
                  c.bEntryStays ? kUninstallDone : kUninstallRefused);
        RemoveTree(m_strSetup);
        ExpectOnlyUserThingsLeft();
    }
}

// Without /S the user is asked first and told the outcome.
TEST_F(Uninstalling, AsksTheUserFirst)
{
    Install();
    const std::set<std::wstring> before = Tree(m_root.Path());
    HANDLE hProcess = StartUninstaller(Quoted(m_strSetup));
    ASSERT_NE(hProcess, nullptr);
    const std::wstring strQuestion = AnswerMessageBox(IDNO);
    EXPECT_NE(strQuestion.find(L"确定要卸载Fenmora吗？"), std::wstring::npos) << Narrow(strQuestion);
    EXPECT_NE(strQuestion.find(m_strSetup), std::wstring::npos) << "the question names the folder";
    EXPECT_EQ(ExitCode(hProcess), kUninstallCancelled);
    EXPECT_EQ(Listing(Tree(m_root.Path())), Listing(before));
    EXPECT_TRUE(KeyExists(kProductKey));

    hProcess = StartUninstaller(Quoted(m_strSetup));
    ASSERT_NE(hProcess, nullptr);
    EXPECT_NE(AnswerMessageBox(IDYES), L"");
    EXPECT_EQ(AnswerMessageBox(IDOK), L"Fenmora已成功卸载。");
    EXPECT_EQ(ExitCode(hProcess), kUninstallDone);
    ExpectOnlyUserThingsLeft();

    hProcess = StartUninstaller(Quoted(m_strSetup));
    ASSERT_NE(hProcess, nullptr);
    EXPECT_EQ(AnswerMessageBox(IDOK), m_strSetup + L"\n不是Fenmora的安装目录，无法卸载。");
    EXPECT_EQ(ExitCode(hProcess), kUninstallRefused);
}
