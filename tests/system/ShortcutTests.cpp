#include "system/ClientFiles.h"
#include "system/ScopedCom.h"
#include "system/Shortcuts.h"
#include "tests/support/TempDir.h"
#include "tests/system/SystemTestSupport.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The .lnk files in the order the folder search returns them.
std::vector<std::wstring> LinksInSearchOrder(const std::wstring& strFolder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE hFind = ::FindFirstFileW((strFolder + L"\\*.lnk").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(fd.cFileName);
    while (::FindNextFileW(hFind, &fd));
    ::FindClose(hFind);
    return names;
}

// An install folder holding the files the shortcuts point to.
class CInstalledClient {
public:
    CInstalledClient() : m_strSetup(m_dir / L"Brivex Client")
    {
        ::CreateDirectoryW(m_strSetup.c_str(), nullptr);
        for (const wchar_t* pszName : {kClientProgramName, kUninstallerName, kClientIconName})
            WriteFileBytes(m_strSetup + L"\\" + pszName, "x", 1);
    }
    const std::wstring& Setup() const { return m_strSetup; }
    std::wstring Program() const { return m_strSetup + L"\\" + kClientProgramName; }
    std::wstring LinkTarget() const { return m_strSetup + L"/" + kClientProgramName; }
    std::wstring Icon() const { return m_strSetup + L"/" + kClientIconName; }

private:
    CTempDir m_dir;
    std::wstring m_strSetup;
};

constexpr wchar_t kUninstallLinkName[] = L"卸载Fenmora";

}  // namespace

TEST(Shortcuts, NormalizePath)
{
    struct Case {
        const wchar_t* pszIn;
        bool bTrailing;
        const wchar_t* pszOut;
    };
    const Case cases[] = {
        {L"C:\\Users\\me\\Desktop", true, L"C:/Users/me/Desktop/"},
        {L"C:\\Users\\me\\Desktop\\", true, L"C:/Users/me/Desktop/"},
        {L"C:\\Brivex Client/iKVLRemote.exe", false, L"C:/Brivex Client/iKVLRemote.exe"},
        {L"\\\\srv\\share", false, L"//srv/share"},
        {L"\\\\srv\\share", true, L"//srv/share/"},
        {L"C:\\a\\\\b", false, L"C:/a/b"},
        {L"C:\\a/\\/b\\\\", false, L"C:/a/b"},
        {L"\\\\\\srv", false, L"//srv"},
        {L"C:\\", true, L"C:/"},
        {L"C:\\", false, L"C:"},
        {L"/", true, L"/"},
        {L"", true, L""},
        {L"C:\\程序 文件\\客户端", true, L"C:/程序 文件/客户端/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.pszIn));
        wchar_t sz[MAX_PATH] = {};
        std::wcscpy(sz, c.pszIn);
        EXPECT_EQ(NormalizePath(sz, MAX_PATH, c.bTrailing), sz);
        EXPECT_STREQ(sz, c.pszOut);
    }
    EXPECT_EQ(NormalizePath(nullptr, MAX_PATH, true), nullptr);

    // The added slash must fit the buffer; collapsing makes room for it.
    wchar_t szFull[8] = L"C:\\abcd";
    EXPECT_EQ(NormalizePath(szFull, 8, true), nullptr);
    EXPECT_STREQ(szFull, L"C:/abcd");
    wchar_t szShrinks[8] = L"C:\\\\abc";
    EXPECT_EQ(NormalizePath(szShrinks, 8, true), szShrinks);
    EXPECT_STREQ(szShrinks, L"C:/abc/");
}

TEST(Shortcuts, ExistingLinkRule)
{
    const wchar_t* pszTarget = L"C:\\Brivex Client/iKVLRemote.exe";
    struct Case {
        const wchar_t* pszFile;
        const wchar_t* pszLinkTarget;
        ExistingLink want;
    };
    const Case cases[] = {
        {L"Old.lnk", L"C:\\Brivex Client\\iKVLRemote.exe", ExistingLink::Delete},
        {L"Old.lnk", L"c:\\brivex client\\\\IKVLREMOTE.EXE", ExistingLink::Delete},
        {L"Fenmora.lnk", L"C:\\Brivex Client\\iKVLRemote.exe", ExistingLink::Keep},
        {L"FENMORA.LNK", L"C:/Brivex Client/iKVLRemote.exe", ExistingLink::Keep},
        {L"Fenmora.lnk", L"C:\\Other\\iKVLRemote.exe", ExistingLink::Unrelated},
        {L"Old.lnk", L"C:\\Brivex Client\\UnInstall.exe", ExistingLink::Unrelated},
        {L"Old.lnk", L"C:\\Brivex Client\\iKVLRemote.exe2", ExistingLink::Unrelated},
        // A target that could not be read matches nothing.
        {L"Old.lnk", L"", ExistingLink::Unrelated},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(std::wstring(c.pszFile) + L" -> " + c.pszLinkTarget));
        EXPECT_EQ(JudgeExistingLink(c.pszFile, c.pszLinkTarget, pszTarget, L"Fenmora"), c.want);
    }
    EXPECT_EQ(JudgeExistingLink(L"Old.lnk", L"", L"", L"Fenmora"), ExistingLink::Unrelated);
}

TEST(Shortcuts, DesktopShortcutContents)
{
    CInstalledClient client;
    CTempDir desktop;
    CRegValueOverride desktopValue(HKEY_CURRENT_USER, kShellFoldersKey, L"Desktop");
    // A Desktop value with backslashes and a doubled separator, as users
    // and tools leave them.
    ASSERT_TRUE(desktopValue.Set(desktop.Path() + L"\\\\"));

    wchar_t szDesktop[MAX_PATH];
    ASSERT_TRUE(GetDesktopPath(szDesktop));
    EXPECT_EQ(std::wstring(szDesktop), desktop.Path() + L"\\\\");

    ASSERT_TRUE(CreateDesktopShellLink(kDisplayName, client.Setup().c_str(), client.LinkTarget().c_str(),
                                       client.Icon().c_str()));
    LinkContents link = ReadLink(desktop / L"Fenmora.lnk");
    ASSERT_TRUE(link.bLoaded);
    EXPECT_TRUE(SameTarget(link.strTarget, client.Program())) << Narrow(link.strTarget);
    EXPECT_EQ(link.strArguments, L"");
    EXPECT_EQ(link.strWorkDir, client.Setup());
    EXPECT_EQ(link.strIcon, client.Icon());
    EXPECT_EQ(link.nIconIndex, 0);
    EXPECT_EQ(link.strDescription, L"Fenmora");
    EXPECT_EQ(LinksInSearchOrder(desktop.Path()), std::vector<std::wstring>{L"Fenmora.lnk"});

    // No Desktop value: no shortcut, no failure.
    ::DeleteFileW((desktop / L"Fenmora.lnk").c_str());
    ASSERT_TRUE(desktopValue.Remove());
    EXPECT_FALSE(GetDesktopPath(szDesktop));
    EXPECT_FALSE(CreateDesktopShellLink(kDisplayName, client.Setup().c_str(), client.LinkTarget().c_str(),
                                        client.Icon().c_str()));
    EXPECT_FALSE(PathExists(desktop / L"Fenmora.lnk"));
    ASSERT_TRUE(desktopValue.Set(L""));
    EXPECT_FALSE(CreateDesktopShellLink(kDisplayName, client.Setup().c_str(), client.LinkTarget().c_str(),
                                        client.Icon().c_str()));
}

TEST(Shortcuts, OlderShortcutToTheSameProgramIsReplaced)
{
    CInstalledClient client;
    CTempDir folder;
    CTempDir other;
    const std::wstring strOtherProgram = other / L"other.exe";
    WriteFileBytes(strOtherProgram, "x", 1);
    ASSERT_TRUE(SaveLink(folder / L"Old.lnk", client.Program()));
    ASSERT_TRUE(SaveLink(folder / L"Other.lnk", strOtherProgram));
    ASSERT_TRUE(WriteFileBytes(folder / L"notes.txt", "mine", 4));

    ASSERT_TRUE(CreateShellLink(kDisplayName, client.Setup().c_str(), client.LinkTarget().c_str(),
                                client.Icon().c_str(), folder.Path().c_str(), nullptr));
    EXPECT_FALSE(PathExists(folder / L"Old.lnk"));
    EXPECT_TRUE(PathExists(folder / L"Other.lnk")) << "a shortcut to another program is never deleted";
    EXPECT_TRUE(PathExists(folder / L"notes.txt"));
    EXPECT_TRUE(ReadLink(folder / L"Fenmora.lnk").bLoaded);

    // Saved again: the own file is found first and stays, then is rewritten.
    ASSERT_TRUE(CreateShellLink(kDisplayName, client.Setup().c_str(), client.LinkTarget().c_str(),
                                client.Icon().c_str(), folder.Path().c_str(), L"--again"));
    EXPECT_EQ(ReadLink(folder / L"Fenmora.lnk").strArguments, L"--again");
    EXPECT_TRUE(PathExists(folder / L"Other.lnk"));
}

TEST(Shortcuts, OnlyTheFirstMatchingShortcutIsConsidered)
{
    CInstalledClient client;

    // Two older shortcuts: the one the search returns first goes.
    {
        CTempDir folder;
        ASSERT_TRUE(SaveLink(folder / L"Older A.lnk", client.Program()));
        ASSERT_TRUE(SaveLink(folder / L"Older B.lnk", client.Program()));
        std::vector<std::wstring> order = LinksInSearchOrder(folder.Path());
        ASSERT_EQ(order.size(), 2u);
        ASSERT_TRUE(CreateShellLink(kDisplayName, client.Setup().c_str(), client.LinkTarget().c_str(),
                                    client.Icon().c_str(), folder.Path().c_str(), nullptr));
        EXPECT_FALSE(PathExists(folder / order[0]));
        EXPECT_TRUE(PathExists(folder / order[1]));
    }

    // The own file found first: an older one after it stays. The search
    // order is the file system's, so pick a name that comes after it.
    {
        CTempDir folder;
        ASSERT_TRUE(SaveLink(folder / L"Fenmora.lnk", client.Program()));
        std::wstring strAfter;
        for (int i = 0; i < 40 && strAfter.empty(); ++i) {
            std::wstring strName = L"Older " + std::to_wstring(i) + L".lnk";
            ASSERT_TRUE(SaveLink(folder / strName, client.Program()));
            std::vector<std::wstring> order = LinksInSearchOrder(folder.Path());
            if (order.size() == 2 && order[0] == L"Fenmora.lnk")
                strAfter = strName;
            else
                ::DeleteFileW((folder / strName).c_str());
        }
        if (strAfter.empty())
            GTEST_SKIP() << "the file system never listed Fenmora.lnk first";
        ASSERT_TRUE(CreateShellLink(kDisplayName, client.Setup().c_str(), client.LinkTarget().c_str(),
                                    client.Icon().c_str(), folder.Path().c_str(), nullptr));
        EXPECT_TRUE(PathExists(folder / strAfter)) << "nothing is deleted when the own file comes first";
        EXPECT_TRUE(PathExists(folder / L"Fenmora.lnk"));
    }
}

TEST(Shortcuts, CreateShellLinkRefusesWhatItCannotHold)
{
    CInstalledClient client;
    EXPECT_FALSE(CreateShellLink(kDisplayName, client.Setup().c_str(), client.LinkTarget().c_str(),
                                 client.Icon().c_str(), nullptr, nullptr));
    EXPECT_FALSE(CreateShellLink(kDisplayName, client.Setup().c_str(), client.LinkTarget().c_str(),
                                 client.Icon().c_str(), L"", nullptr));
    CTempDir folder;
    std::wstring strLongName(MAX_PATH - folder.Path().size() - 5, L'n');
    EXPECT_FALSE(CreateShellLink(strLongName.c_str(), client.Setup().c_str(), client.LinkTarget().c_str(),
                                 client.Icon().c_str(), folder.Path().c_str(), nullptr));
    EXPECT_TRUE(LinksInSearchOrder(folder.Path()).empty());
}

class StartMenuShortcuts : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t szPrograms[MAX_PATH] = {};
        DWORD cb = sizeof(szPrograms) - sizeof(wchar_t);
        ASSERT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, kMachineShellFoldersKey, L"Common Programs", RRF_RT_REG_SZ,
                                 nullptr, szPrograms, &cb),
                  ERROR_SUCCESS);
        m_strProduct = std::wstring(szPrograms) + L"\\Fenmora";
        m_strPrograms = szPrograms;
        RemoveTree(m_strProduct);
    }
    void TearDown() override { RemoveTree(m_strProduct); }

    std::wstring m_strPrograms;
    std::wstring m_strProduct;
};

TEST_F(StartMenuShortcuts, ProgramAndUninstallShortcuts)
{
    CInstalledClient client;
    CLogCapture log;
    ASSERT_TRUE(CreateStartMenuShellLinks(client.Setup().c_str()));
    EXPECT_TRUE(log.Contains(L"[CSetupDlg::SetStartShellLink] ProgramsPath=" + m_strPrograms + L"\r\n"));

    LinkContents program = ReadLink(m_strProduct + L"\\Fenmora.lnk");
    ASSERT_TRUE(program.bLoaded);
    EXPECT_TRUE(SameTarget(program.strTarget, client.Program())) << Narrow(program.strTarget);
    EXPECT_EQ(program.strArguments, L"");
    EXPECT_EQ(program.strWorkDir, client.Setup());
    EXPECT_EQ(program.strIcon, client.Icon());
    EXPECT_EQ(program.nIconIndex, 0);
    EXPECT_EQ(program.strDescription, L"Fenmora");

    LinkContents uninstall = ReadLink(m_strProduct + L"\\" + kUninstallLinkName + L".lnk");
    ASSERT_TRUE(uninstall.bLoaded);
    EXPECT_TRUE(SameTarget(uninstall.strTarget, client.Setup() + L"\\UnInstall.exe")) << Narrow(uninstall.strTarget);
    EXPECT_EQ(uninstall.strArguments, L"\"" + client.Setup() + L"\"");
    EXPECT_EQ(uninstall.strWorkDir, client.Setup());
    EXPECT_EQ(uninstall.strIcon, client.Icon());
    EXPECT_EQ(uninstall.nIconIndex, 0);
    EXPECT_EQ(uninstall.strDescription, kUninstallLinkName);

    std::vector<std::wstring> files = LinksInSearchOrder(m_strProduct);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::wstring>{L"Fenmora.lnk", std::wstring(kUninstallLinkName) + L".lnk"}));
}

TEST_F(StartMenuShortcuts, UsersFileKeepsTheFolderAndTheShortcutsAreStillWritten)
{
    CInstalledClient client;
    ASSERT_TRUE(::CreateDirectoryW(m_strProduct.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(m_strProduct + L"\\readme.txt", "mine", 4));
    // Shortcuts of an earlier install to another folder are replaced.
    ASSERT_TRUE(SaveLink(m_strProduct + L"\\Fenmora.lnk", L"C:\\Old place\\iKVLRemote.exe"));

    ASSERT_TRUE(CreateStartMenuShellLinks(client.Setup().c_str()));
    EXPECT_EQ(ReadFileBytes(m_strProduct + L"\\readme.txt"), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
    EXPECT_TRUE(SameTarget(ReadLink(m_strProduct + L"\\Fenmora.lnk").strTarget, client.Program()));
    EXPECT_TRUE(ReadLink(m_strProduct + L"\\" + kUninstallLinkName + L".lnk").bLoaded);
}

TEST_F(StartMenuShortcuts, MissingProgramsValueIsLoggedAndNothingIsMade)
{
    CInstalledClient client;
    CLogCapture log;
    CRegValueOverride programs(HKEY_LOCAL_MACHINE, kMachineShellFoldersKey, L"Common Programs");
    ASSERT_TRUE(programs.Remove());
    EXPECT_FALSE(CreateStartMenuShellLinks(client.Setup().c_str()));
    EXPECT_EQ(log.Count(L"[CSetupDlg::SetStartShellLink]"), 1u);
    EXPECT_TRUE(log.Contains(L"[CSetupDlg::SetStartShellLink] QueryValue Common Programs error=2\r\n"))
        << Narrow(log.Text());
    EXPECT_FALSE(PathExists(m_strProduct));
}
