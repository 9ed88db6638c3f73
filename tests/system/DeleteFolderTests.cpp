#include "system/DeleteFolder.h"
#include "system/FolderSecurity.h"
#include "system/FolderSwap.h"
#include "tests/support/TempDir.h"
#include "tests/support/UnixProgram.h"

#include <gtest/gtest.h>

#include <winioctl.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A folder outside the one being deleted, with a file in it.
struct OutsideFolder {
    CTempDir dir;
    std::wstring strFile = dir / L"precious.txt";
    OutsideFolder() { WriteFileBytes(strFile, "keep", 4); }
    bool Intact() const { return ReadFileBytes(strFile) == std::vector<uint8_t>{'k', 'e', 'e', 'p'}; }
};

void MakeTree(const std::wstring& strRoot)
{
    ::CreateDirectoryW(strRoot.c_str(), nullptr);
    ::CreateDirectoryW((strRoot + L"\\bin").c_str(), nullptr);
    ::CreateDirectoryW((strRoot + L"\\bin\\plugins").c_str(), nullptr);
    ::CreateDirectoryW((strRoot + L"\\empty").c_str(), nullptr);
    WriteFileBytes(strRoot + L"\\iKVLRemote.exe", "x", 1);
    WriteFileBytes(strRoot + L"\\bin\\a.dll", "x", 1);
    WriteFileBytes(strRoot + L"\\bin\\plugins\\b.dll", "", 0);
    WriteFileBytes(strRoot + L"\\用户 文件.txt", "x", 1);
    std::wstring strHidden = strRoot + L"\\bin\\hidden.dat";
    WriteFileBytes(strHidden, "x", 1);
    ::SetFileAttributesW(strHidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
}

// A mount-point reparse point, the way junction tools make one.
DWORD MakeJunction(const std::wstring& strLink, const std::wstring& strTarget)
{
    if (!::CreateDirectoryW(strLink.c_str(), nullptr))
        return ::GetLastError();
    HANDLE h = ::CreateFileW(strLink.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return ::GetLastError();
    std::wstring strSubstitute = L"\\??\\" + strTarget;
    const USHORT cbSub = static_cast<USHORT>(strSubstitute.size() * 2);
    const USHORT cbPrint = static_cast<USHORT>(strTarget.size() * 2);
    std::vector<BYTE> buffer(8 + 8 + cbSub + 2 + cbPrint + 2);
    auto put16 = [&](size_t at, USHORT v) { std::memcpy(&buffer[at], &v, 2); };
    DWORD dwTag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(&buffer[0], &dwTag, 4);
    put16(4, static_cast<USHORT>(buffer.size() - 8));
    put16(8, 0);
    put16(10, cbSub);
    put16(12, static_cast<USHORT>(cbSub + 2));
    put16(14, cbPrint);
    std::memcpy(&buffer[16], strSubstitute.c_str(), cbSub);
    std::memcpy(&buffer[16 + cbSub + 2], strTarget.c_str(), cbPrint);
    DWORD cbReturned = 0;
    BOOL bOk = ::DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr,
                                 0, &cbReturned, nullptr);
    DWORD dwError = bOk ? ERROR_SUCCESS : ::GetLastError();
    ::CloseHandle(h);
    if (!bOk)
        ::RemoveDirectoryW(strLink.c_str());
    return dwError;
}

// Under Wine: the Unix path of a Windows path, and a Unix symlink made by
// running /bin/ln. Empty when this is not Wine or ln cannot be run.
std::string UnixPath(const std::wstring& strPath)
{
    using GetUnixName = char*(CDECL*)(const wchar_t*);
    auto pfn = reinterpret_cast<GetUnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!pfn)
        return std::string();
    char* psz = pfn(strPath.c_str());
    if (!psz)
        return std::string();
    std::string str(psz);
    ::HeapFree(::GetProcessHeap(), 0, psz);
    return str;
}

bool MakeUnixSymlink(const std::wstring& strLink, const std::wstring& strTarget)
{
    std::string strUnixTarget = UnixPath(strTarget);
    std::wstring strParent = strLink.substr(0, strLink.find_last_of(L'\\'));
    std::string strUnixParent = UnixPath(strParent);
    if (strUnixTarget.empty() || strUnixParent.empty())
        return false;
    std::wstring strName = strLink.substr(strParent.size() + 1);
    std::wstring strCommand = L"ln -s \"" + std::wstring(strUnixTarget.begin(), strUnixTarget.end()) + L"\" \"" +
                              std::wstring(strUnixParent.begin(), strUnixParent.end()) + L"/" + strName + L"\"";
    if (!StartUnixProgram(L"Z:\\bin\\ln", strCommand))
        return false;
    // Look for the link.
    for (int i = 0; i < 250; ++i) {
        if (::GetFileAttributesW(strLink.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
        ::Sleep(20);
    }
    return false;
}

}  // namespace

TEST(DeleteFolder, RemovesTheWholeTree)
{
    CTempDir dir;
    std::wstring strRoot = dir / L"Brivex Client";
    MakeTree(strRoot);
    EXPECT_TRUE(DeleteFolder(strRoot.c_str()));
    EXPECT_FALSE(PathExists(strRoot));
    EXPECT_TRUE(PathExists(dir.Path()));

    EXPECT_FALSE(DeleteFolder(strRoot.c_str())) << "nothing left to remove";
    EXPECT_FALSE(DeleteFolder(L""));
    EXPECT_FALSE(DeleteFolder(nullptr));
}

TEST(DeleteFolder, ReadOnlyEntriesGoToo)
{
    CTempDir dir;
    std::wstring strRoot = dir / L"Brivex Client";
    MakeTree(strRoot);
    std::wstring strLocked = strRoot + L"\\bin\\locked.cfg";
    WriteFileBytes(strLocked, "x", 1);
    ::SetFileAttributesW(strLocked.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW((strRoot + L"\\bin\\plugins").c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_TRUE(DeleteFolder(strRoot.c_str()));
    EXPECT_FALSE(PathExists(strRoot));
}

// A read-only file elsewhere with a second name in the folder: the
// attribute is the file's, so clearing it for the name would clear it for
// the other one too. The file stays read-only and whole; only a system
// that deletes read-only names as they are takes its name.
TEST(DeleteFolder, ReadOnlyFileWithAnotherNameKeepsItsAttribute)
{
    OutsideFolder outside;
    ASSERT_TRUE(::SetFileAttributesW(outside.strFile.c_str(), FILE_ATTRIBUTE_READONLY));
    CTempDir dir;
    const std::wstring strRoot = dir / L"Brivex Client";
    MakeTree(strRoot);
    ASSERT_TRUE(::CreateHardLinkW((strRoot + L"\\bin\\linked.cfg").c_str(), outside.strFile.c_str(), nullptr));

    DeleteFolder(strRoot.c_str());
    EXPECT_TRUE(outside.Intact());
    EXPECT_NE(::GetFileAttributesW(outside.strFile.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_FALSE(PathExists(strRoot + L"\\iKVLRemote.exe")) << "the rest goes";
    ::SetFileAttributesW(outside.strFile.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::SetFileAttributesW((strRoot + L"\\bin\\linked.cfg").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(DeleteFolder, JunctionIsRemovedNotFollowed)
{
    OutsideFolder outside;
    CTempDir dir;
    std::wstring strRoot = dir / L"Brivex Client";
    MakeTree(strRoot);
    DWORD dwError = MakeJunction(strRoot + L"\\data", outside.dir.Path());
    if (dwError != ERROR_SUCCESS)
        GTEST_SKIP() << "this system cannot make a junction (error " << dwError << ")";

    EXPECT_TRUE(DeleteFolder(strRoot.c_str()));
    EXPECT_FALSE(PathExists(strRoot));
    EXPECT_TRUE(outside.Intact());
}

TEST(DeleteFolder, SymbolicLinksAreRemovedNotFollowed)
{
    OutsideFolder outside;
    CTempDir dir;
    std::wstring strRoot = dir / L"Brivex Client";
    MakeTree(strRoot);
    std::wstring strDirLink = strRoot + L"\\data";
    std::wstring strFileLink = strRoot + L"\\settings.txt";
    ::CreateSymbolicLinkW(strDirLink.c_str(), outside.dir.Path().c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    ::CreateSymbolicLinkW(strFileLink.c_str(), outside.strFile.c_str(), 0);
    if (!PathExists(strDirLink) || !PathExists(strFileLink))
        GTEST_SKIP() << "this system's CreateSymbolicLinkW made no link (error " << ::GetLastError() << ")";

    EXPECT_TRUE(DeleteFolder(strRoot.c_str()));
    EXPECT_FALSE(PathExists(strRoot));
    EXPECT_TRUE(outside.Intact());
}

// Wine shows a Unix symlink to a folder as a reparse point when listing,
// but every open resolves it: removing it would remove what it points to.
// Such a link must stay, with what it points to. A symlink to a file it
// does not show as a link at all; it must go as a name, its target stay.
TEST(DeleteFolder, UnixFolderSymlinkUnderWineIsNotFollowed)
{
    OutsideFolder outside;
    CTempDir emptyOutside;
    CTempDir dir;
    std::wstring strRoot = dir / L"Brivex Client";
    MakeTree(strRoot);
    if (!MakeUnixSymlink(strRoot + L"\\data", outside.dir.Path()) ||
        !MakeUnixSymlink(strRoot + L"\\bin\\cache", emptyOutside.Path()) ||
        !MakeUnixSymlink(strRoot + L"\\bin\\settings.txt", outside.strFile))
        GTEST_SKIP() << "not Wine, or /bin/ln could not make a Unix symlink";
    ASSERT_NE(::GetFileAttributesW((strRoot + L"\\data").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u)
        << "Wine no longer lists a folder symlink as a reparse point";

    BOOL bRemoved = DeleteFolder(strRoot.c_str());
    EXPECT_TRUE(outside.Intact());
    EXPECT_TRUE(PathExists(emptyOutside.Path())) << "an empty folder pointed to survives too";
    EXPECT_EQ(bRemoved != FALSE, !PathExists(strRoot));
    // Everything that is not a link is gone.
    EXPECT_FALSE(PathExists(strRoot + L"\\iKVLRemote.exe"));
    EXPECT_FALSE(PathExists(strRoot + L"\\bin\\plugins"));
    EXPECT_FALSE(PathExists(strRoot + L"\\empty"));
    EXPECT_FALSE(PathExists(strRoot + L"\\bin\\settings.txt"));
    // The links themselves stay where the system cannot remove them as links;
    // the test folder's clean-up removes them the Unix way below.
    std::string strUnixRoot = UnixPath(strRoot);
    if (!bRemoved && !strUnixRoot.empty()) {
        std::wstring strCommand = L"rm -rf \"" + std::wstring(strUnixRoot.begin(), strUnixRoot.end()) + L"\"";
        if (StartUnixProgram(L"Z:\\bin\\rm", strCommand)) {
            for (int i = 0; i < 250 && PathExists(strRoot); ++i)
                ::Sleep(20);
        }
    }
    EXPECT_TRUE(outside.Intact());
}

// The folder itself a link, as another user could plant it: nothing is
// removed through it.
TEST(DeleteFolder, FolderThatIsItselfALinkIsNotListed)
{
    OutsideFolder outside;
    CTempDir dir;
    const std::wstring strLink = dir / L"Brivex Client";
    if (!MakeUnixSymlink(strLink, outside.dir.Path()))
        GTEST_SKIP() << "not Wine, or /bin/ln could not make a Unix symlink";
    ASSERT_TRUE(IsLink(strLink.c_str()));

    EXPECT_FALSE(DeleteFolder(strLink.c_str())) << "Wine resolves every open of the link, so it stays";
    EXPECT_TRUE(outside.Intact());
    EXPECT_TRUE(IsLink(strLink.c_str()));
    // Left to the system's next start: the link alone, not what it leads to.
    EXPECT_EQ(RemoveFolderNowOrLater(strLink.c_str()), 1u);
    EXPECT_TRUE(outside.Intact());
    EXPECT_FALSE(IsLink(dir.Path().c_str()));
    const std::string strUnixLink = UnixPath(strLink);
    std::wstring strCommand = L"rm -f \"" + std::wstring(strUnixLink.begin(), strUnixLink.end()) + L"\"";
    if (StartUnixProgram(L"Z:\\bin\\rm", strCommand)) {
        for (int i = 0; i < 250 && PathExists(strLink); ++i)
            ::Sleep(20);
    }
    EXPECT_TRUE(outside.Intact());
}

// Only names of the shape a run gives its staging and moved-aside folders
// are taken for leftovers; the user's own names beside the install folder
// are not.
TEST(FolderSwap, SiblingNames)
{
    const std::wstring strSibling = RandomSibling(L"C:\\Brivex Client");
    ASSERT_EQ(strSibling.size(), std::wstring(L"C:\\Brivex Client.").size() + 8);
    EXPECT_TRUE(IsSiblingName(strSibling.substr(3), L"Brivex Client"));
    EXPECT_NE(strSibling, RandomSibling(L"C:\\Brivex Client"));
    EXPECT_TRUE(RandomSibling((L"C:\\" + std::wstring(250, L'x')).c_str()).empty()) << "too long for MAX_PATH";
    struct Case {
        const wchar_t* pszName;
        bool bSibling;
    };
    const Case cases[] = {
        {L"Brivex Client.0a1b2c3d", true},   {L"brivex client.0A1B2C3D", true},  {L"Brivex Client.0a1b2c3", false},
        {L"Brivex Client.0a1b2c3d4", false}, {L"Brivex Client.0a1b2c3g", false}, {L"Brivex Client 0a1b2c3d", false},
        {L"Brivex Client.bak", false},       {L"Brivex Client", false},          {L"Orvalis.0a1b2c3d", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsSiblingName(c.pszName, L"Brivex Client"), c.bSibling) << Narrow(c.pszName);
}

// A chosen folder is walked from its root: missing folders are made, and a
// link on the way or the Windows folder refuses it before anything is made
// below them.
TEST(ChosenFolder, MadeFolderByFolderAndRefusedAtALink)
{
    CTempDir dir;
    const std::wstring strChosen = dir / L"Apps\\Fenmora\\Client";
    ASSERT_TRUE(WalkChosenFolder(strChosen, true));
    EXPECT_TRUE(PathExists(strChosen));
    EXPECT_TRUE(WalkChosenFolder(strChosen, false)) << "walked again as it is";
    EXPECT_FALSE(WalkChosenFolder(dir / L"Apps\\Missing", false)) << "nothing made without being asked to";
    EXPECT_FALSE(PathExists(dir / L"Apps\\Missing"));

    wchar_t szWindows[MAX_PATH];
    ASSERT_GT(::GetWindowsDirectoryW(szWindows, MAX_PATH), 0u);
    const std::wstring strInWindows = std::wstring(szWindows) + L"\\FenmoraChosenTest";
    EXPECT_EQ(WalkChosenFolder(strInWindows, true).Error(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(PathExists(strInWindows));

    // A link on the way, as another user may plant it.
    OutsideFolder outside;
    const std::wstring strLink = dir / L"Apps\\Linked";
    if (!MakeUnixSymlink(strLink, outside.dir.Path()))
        GTEST_SKIP() << "not Wine, or /bin/ln could not make a Unix symlink";
    EXPECT_EQ(WalkChosenFolder(strLink + L"\\Sub", true).Error(), static_cast<DWORD>(ERROR_REPARSE_ATTRIBUTE_CONFLICT));
    EXPECT_FALSE(PathExists(outside.dir / L"Sub")) << "made through the link";
    EXPECT_TRUE(outside.Intact());
    const std::string strUnixLink = UnixPath(strLink);
    std::wstring strCommand = L"rm -f \"" + std::wstring(strUnixLink.begin(), strUnixLink.end()) + L"\"";
    if (StartUnixProgram(L"Z:\\bin\\rm", strCommand)) {
        for (int i = 0; i < 250 && PathExists(strLink); ++i)
            ::Sleep(20);
    }
}
