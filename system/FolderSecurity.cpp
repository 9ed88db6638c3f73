#include "system/FolderSecurity.h"

#include "framework/OpenRelative.h"
#include "framework/SafeFile.h"
#include "framework/ScopedHandle.h"
#include "framework/StringCompare.h"
#include "system/CommandLineArgs.h"
#include "system/DeleteFolder.h"
#include "system/FolderSwap.h"

#include <sddl.h>
#include <winternl.h>

namespace {

// Inherited by everything below: full control (FA) for SYSTEM and the
// Administrators, read and execute (0x1200a9) for Users. "P": protected.
constexpr wchar_t kFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The folder itself, never what a link in its place leads to; nobody may
// rename or remove it while it is open.
HANDLE OpenFolder(const wchar_t* pszFolder, DWORD dwAccess)
{
    return ::CreateFileW(pszFolder, dwAccess | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

Result CreateProtectedFolder(const wchar_t* pszFolder)
{
    ScopedLocal descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderSddl, SDDL_REVISION_1, descriptor.Put(),
                                                                nullptr))
        return Result::LastError(L"ConvertStringSecurityDescriptorToSecurityDescriptor");
    SECURITY_ATTRIBUTES sa = {sizeof(sa), descriptor.Get(), FALSE};
    if (!::CreateDirectoryW(pszFolder, &sa))
        return Result::LastError(L"CreateDirectory");
    return Result();
}

namespace {

// "C:\x" of "\\?\C:\x", "\\srv\sh\x" of "\\?\UNC\srv\sh\x".
std::wstring DosPathOf(const std::wstring& strFinal)
{
    if (strFinal.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\" + strFinal.substr(7);
    if (strFinal.compare(0, 4, L"\\\\?\\") == 0)
        return strFinal.substr(4);
    return strFinal;
}

std::wstring LastComponent(const std::wstring& strPath)
{
    const size_t nSlash = strPath.find_last_of(L'\\');
    return nSlash == std::wstring::npos ? strPath : strPath.substr(nSlash + 1);
}

// The folder named by the handle is the child of that name in the parent:
// a link resolves to another folder, elsewhere or beside it.
bool IsNamedChild(HANDLE hChild, const std::wstring& strParentFinal, const std::wstring& strName)
{
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!::GetFileInformationByHandleEx(hChild, FileAttributeTagInfo, &tag, sizeof(tag)) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    const std::wstring strFinal = DosPathOf(FinalPathOf(hChild));
    const size_t nSlash = strFinal.find_last_of(L'\\');
    if (strFinal.empty() || nSlash == std::wstring::npos ||
        !EqualIgnoringCase(strFinal.substr(0, nSlash).c_str(), strParentFinal.c_str()))
        return false;
    if (EqualIgnoringCase(LastComponent(strFinal).c_str(), strName.c_str()))
        return true;
    // Given by its short name.
    wchar_t szShort[MAX_PATH];
    const DWORD cch = ::GetShortPathNameW(strFinal.c_str(), szShort, MAX_PATH);
    return cch && cch < MAX_PATH && EqualIgnoringCase(LastComponent(szShort).c_str(), strName.c_str());
}

// Opens, or with a descriptor makes, the folder of that name below the
// parent's handle; the folder itself where the system opens a link as one.
HANDLE OpenChildFolder(HANDLE hParent, const std::wstring& strName, PSECURITY_DESCRIPTOR pMake)
{
    return OpenRelative(hParent, strName, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, pMake ? FILE_OPEN_IF : FILE_OPEN,
                        FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, pMake);
}

std::wstring FinalWindowsFolder()
{
    wchar_t szWindows[MAX_PATH];
    const UINT cch = ::GetWindowsDirectoryW(szWindows, MAX_PATH);
    ScopedFile folder(cch && cch < MAX_PATH ? OpenFolder(szWindows, 0) : INVALID_HANDLE_VALUE);
    return folder ? DosPathOf(FinalPathOf(folder.Get())) : std::wstring();
}

}  // namespace

Result WalkChosenFolder(const std::wstring& strFolder, bool bCreate)
{
    // Not knowing the Windows folder refuses every folder.
    const std::wstring strWindows = FinalWindowsFolder();
    if (strWindows.empty())
        return Result::LastError(L"the Windows folder");
    // "C:\" or "\\server\share\", then the components.
    size_t nRoot = 3;
    if (strFolder.compare(0, 2, L"\\\\") == 0) {
        const size_t nShare = strFolder.find(L'\\', 2);
        const size_t nEnd = nShare == std::wstring::npos ? std::wstring::npos : strFolder.find(L'\\', nShare + 1);
        nRoot = nEnd == std::wstring::npos ? strFolder.size() : nEnd + 1;
    }
    ScopedFile parent(OpenFolder(strFolder.substr(0, nRoot).c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE));
    if (!parent)
        return Result::LastError(L"open the root");
    std::wstring strParentFinal = DosPathOf(FinalPathOf(parent.Get()));
    while (!strParentFinal.empty() && strParentFinal.back() == L'\\')
        strParentFinal.pop_back();

    ScopedLocal descriptor;
    if (bCreate && !::ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderSddl, SDDL_REVISION_1,
                                                                           descriptor.Put(), nullptr))
        return Result::LastError(L"ConvertStringSecurityDescriptorToSecurityDescriptor");
    for (size_t nStart = nRoot; nStart < strFolder.size();) {
        size_t nEnd = strFolder.find(L'\\', nStart);
        if (nEnd == std::wstring::npos)
            nEnd = strFolder.size();
        const std::wstring strName = strFolder.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        ScopedFile child(OpenChildFolder(parent.Get(), strName, descriptor.Get()));
        if (!child)
            return Result::LastError(L"open");
        if (!IsNamedChild(child.Get(), strParentFinal, strName))
            return Result::Failed(L"a link on the way", ERROR_REPARSE_ATTRIBUTE_CONFLICT);
        strParentFinal = DosPathOf(FinalPathOf(child.Get()));
        if (IsInWindowsFolder(strParentFinal, strWindows))
            return Result::Failed(L"the Windows folder", ERROR_ACCESS_DENIED);
        parent = std::move(child);
    }
    return Result();
}

Result CheckPlainFolder(const wchar_t* pszFolder)
{
    ScopedFile folder(OpenFolder(pszFolder, 0));
    if (!folder)
        return Result::LastError(L"open");
    FILE_STANDARD_INFO standard = {};
    if (!IsPlainEntryAt(folder.Get(), pszFolder))
        return Result::Failed(L"is a link", ERROR_REPARSE_ATTRIBUTE_CONFLICT);
    if (!::GetFileInformationByHandleEx(folder.Get(), FileStandardInfo, &standard, sizeof(standard)) ||
        !standard.Directory)
        return Result::Failed(L"is no folder", ERROR_DIRECTORY);
    return Result();
}

CPrivateFolder::~CPrivateFolder()
{
    if (!m_folder)
        return;
    m_folder.Reset();
    RemoveFolderNowOrLater(m_strPath.c_str());
}

Result CPrivateFolder::Create(const wchar_t* pszParent, const wchar_t* pszPrefix)
{
    // 128 bits: a name nobody can prepare beforehand.
    const std::wstring strHex = RandomHex(16);
    std::wstring strPath = std::wstring(pszParent) + L"\\" + pszPrefix + L"." + strHex;
    if (strHex.empty() || strPath.size() >= MAX_PATH)
        return Result::Failed(L"RandomHex", ERROR_FILENAME_EXCED_RANGE);
    const Result made = CreateProtectedFolder(strPath.c_str());
    if (!made)
        return made;
    // Its files are made and removed by name; the handle, which shares no
    // deletion, keeps it in place.
    m_folder.Reset(OpenFolder(strPath.c_str(), 0));
    if (!m_folder)
        return Result::LastError(L"open");
    m_strPath = std::move(strPath);
    return Result();
}
