#include "system/Shortcuts.h"

#include "framework/ScopedHandle.h"
#include "framework/StringCompare.h"
#include "log/Log.h"
#include "system/ClientFiles.h"
#include "system/PathFormat.h"
#include "system/ScopedCom.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kUninstallLinkFormat[] = L"卸载%ls";

std::wstring NormalizedTarget(const wchar_t* pszTarget)
{
    std::wstring str(pszTarget);
    NormalizePath(&str[0], str.size() + 1, false);
    str.resize(std::wcslen(str.c_str()));
    return str;
}

// A folder value as text. Values that need expanding are expanded; an
// empty or non-text value counts as missing.
LONG QueryFolderValue(HKEY hKey, const wchar_t* pszValue, wchar_t (&szPath)[MAX_PATH])
{
    std::wmemset(szPath, 0, MAX_PATH);
    DWORD dwType = 0;
    // One unit short of the buffer, so a value stored without its
    // terminator still ends in one.
    DWORD cbData = (MAX_PATH - 1) * sizeof(wchar_t);
    LONG lStatus = ::RegQueryValueExW(hKey, pszValue, nullptr, &dwType, reinterpret_cast<BYTE*>(szPath), &cbData);
    if (lStatus != ERROR_SUCCESS)
        return lStatus;
    if (dwType == REG_EXPAND_SZ) {
        wchar_t szRaw[MAX_PATH];
        std::wmemcpy(szRaw, szPath, MAX_PATH);
        DWORD cch = ::ExpandEnvironmentStringsW(szRaw, szPath, MAX_PATH);
        if (cch == 0 || cch > MAX_PATH)
            return ERROR_MORE_DATA;
    } else if (dwType != REG_SZ) {
        return ERROR_INVALID_DATATYPE;
    }
    return szPath[0] ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

// A folder value of a Shell Folders key: the status of the open or, once
// the key is open, of the value; *pbOpened, when asked for, tells which.
LONG ReadShellFolder(HKEY hRoot, const wchar_t* pszKey, const wchar_t* pszValue, wchar_t (&szPath)[MAX_PATH],
                     bool* pbOpened = nullptr)
{
    std::wmemset(szPath, 0, MAX_PATH);
    ScopedRegKey key;
    LONG lStatus = ::RegOpenKeyExW(hRoot, pszKey, 0, KEY_QUERY_VALUE, key.Put());
    if (pbOpened)
        *pbOpened = lStatus == ERROR_SUCCESS;
    return lStatus == ERROR_SUCCESS ? QueryFolderValue(key.Get(), pszValue, szPath) : lStatus;
}

LONG ReadCommonPrograms(wchar_t (&szPath)[MAX_PATH], bool* pbOpened = nullptr)
{
    return ReadShellFolder(HKEY_LOCAL_MACHINE, kMachineShellFoldersKey, L"Common Programs", szPath, pbOpened);
}

const wchar_t* OrEmpty(const wchar_t* psz)
{
    return psz ? psz : L"";
}

// A new shell-link object with its file interface; false when COM cannot
// make either.
bool CreateLinkObject(ScopedComPtr<IShellLinkW>* pLink, ScopedComPtr<IPersistFile>* pFile)
{
    return pLink->Create(CLSID_ShellLink) && pLink->QueryInterface(pFile);
}

}  // namespace

wchar_t* NormalizePath(wchar_t* pszPath, size_t cchPath, bool bTrailingSeparator)
{
    if (!pszPath)
        return nullptr;
    if (!*pszPath)
        return pszPath;

    auto isSeparator = [](wchar_t ch) { return ch == L'/' || ch == L'\\'; };
    size_t nOut = 0;
    for (size_t nIn = 0; pszPath[nIn]; ++nIn) {
        wchar_t ch = pszPath[nIn] == L'\\' ? L'/' : pszPath[nIn];
        // The reader is never behind the writer, so the look-ahead sees
        // the original text.
        if (ch == L'/' && nIn > 0 && isSeparator(pszPath[nIn + 1]))
            continue;
        pszPath[nOut++] = ch;
    }
    pszPath[nOut] = L'\0';

    if (bTrailingSeparator) {
        if (pszPath[nOut - 1] != L'/') {
            if (nOut + 1 >= cchPath)
                return nullptr;
            pszPath[nOut++] = L'/';
            pszPath[nOut] = L'\0';
        }
    } else if (pszPath[nOut - 1] == L'/') {
        pszPath[nOut - 1] = L'\0';
    }
    return pszPath;
}

ExistingLink JudgeExistingLink(const wchar_t* pszFileName, const wchar_t* pszLinkTarget, const wchar_t* pszTarget,
                               const wchar_t* pszName)
{
    // A shortcut whose target could not be read matches nothing.
    if (!pszLinkTarget || !*pszLinkTarget || !pszTarget || !*pszTarget)
        return ExistingLink::Unrelated;
    if (!SameLinkTarget(pszLinkTarget, pszTarget))
        return ExistingLink::Unrelated;
    std::wstring strOwnFile = std::wstring(OrEmpty(pszName)) + L".lnk";
    return EqualIgnoringCase(pszFileName, strOwnFile.c_str()) ? ExistingLink::Keep : ExistingLink::Delete;
}

void RemoveStaleShellLinks(const wchar_t* pszFolder, const wchar_t* pszTarget, const wchar_t* pszName)
{
    wchar_t szPattern[MAX_PATH];
    if (!pszFolder || !FormatPath(szPattern, L"%ls*.lnk", pszFolder))
        return;
    CComInit com;
    WIN32_FIND_DATAW fd;
    ScopedFind find(::FindFirstFileW(szPattern, &fd));
    if (!find)
        return;
    do {
        wchar_t szPath[MAX_PATH];
        wchar_t szLinkTarget[MAX_PATH];
        if (!FormatPath(szPath, L"%ls%ls", pszFolder, fd.cFileName) || !ReadShellLinkTarget(szPath, szLinkTarget))
            continue;
        switch (JudgeExistingLink(fd.cFileName, szLinkTarget, pszTarget, pszName)) {
        case ExistingLink::Unrelated:
            break;
        case ExistingLink::Keep:
            return;
        case ExistingLink::Delete:
            ::DeleteFileW(szPath);
            return;
        }
    } while (::FindNextFileW(find.Get(), &fd));
}

Result CreateShellLink(const wchar_t* pszName, const wchar_t* pszWorkDir, const wchar_t* pszTarget,
                       const wchar_t* pszIcon, const wchar_t* pszFolder, const wchar_t* pszArguments)
{
    wchar_t szFolder[MAX_PATH];
    if (!pszFolder || !*pszFolder || !FormatPath(szFolder, L"%ls", pszFolder) ||
        !NormalizePath(szFolder, MAX_PATH, true))
        return Result::Failed(L"shortcut folder", ERROR_BAD_PATHNAME);
    wchar_t szFile[MAX_PATH];
    if (!FormatPath(szFile, L"%ls%ls.lnk", szFolder, OrEmpty(pszName)))
        return Result::Failed(L"shortcut path", ERROR_FILENAME_EXCED_RANGE);

    CComInit com;
    RemoveStaleShellLinks(szFolder, pszTarget, pszName);

    ScopedComPtr<IShellLinkW> link;
    ScopedComPtr<IPersistFile> file;
    if (!CreateLinkObject(&link, &file))
        return Result::Failed(L"CoCreateInstance(ShellLink)", ERROR_GEN_FAILURE);
    link->SetWorkingDirectory(OrEmpty(pszWorkDir));
    link->SetDescription(OrEmpty(pszName));
    link->SetIconLocation(OrEmpty(pszIcon), 0);
    link->SetPath(OrEmpty(pszTarget));
    if (pszArguments && *pszArguments)
        link->SetArguments(pszArguments);
    const HRESULT hr = file->Save(szFile, TRUE);
    return SUCCEEDED(hr) ? Result() : Result::Failed(L"IPersistFile::Save", static_cast<DWORD>(hr));
}

bool ReadShellLinkTarget(const wchar_t* pszLinkFile, wchar_t (&szTarget)[MAX_PATH])
{
    std::wmemset(szTarget, 0, MAX_PATH);
    CComInit com;
    ScopedComPtr<IShellLinkW> link;
    ScopedComPtr<IPersistFile> file;
    if (!CreateLinkObject(&link, &file) || FAILED(file->Load(pszLinkFile, STGM_READ))) {
        szTarget[0] = L'\0';
        return false;
    }
    // The item list keeps the target's name whole; the raw path may be kept
    // in the ANSI code page, which loses a Chinese folder name.
    PIDLIST_ABSOLUTE pidl = nullptr;
    const bool bFromItems = SUCCEEDED(link->GetIDList(&pidl)) && pidl && ::SHGetPathFromIDListW(pidl, szTarget);
    ::CoTaskMemFree(pidl);
    if (!bFromItems && FAILED(link->GetPath(szTarget, MAX_PATH, nullptr, SLGP_RAWPATH)))
        szTarget[0] = L'\0';
    return szTarget[0] != L'\0';
}

bool SameLinkTarget(const wchar_t* pszA, const wchar_t* pszB)
{
    return EqualIgnoringCase(NormalizedTarget(pszA).c_str(), NormalizedTarget(pszB).c_str());
}

bool GetDesktopPath(wchar_t (&szPath)[MAX_PATH])
{
    return ReadShellFolder(HKEY_CURRENT_USER, kShellFoldersKey, L"Desktop", szPath) == ERROR_SUCCESS;
}

bool GetCommonProgramsPath(wchar_t (&szPath)[MAX_PATH])
{
    return ReadCommonPrograms(szPath) == ERROR_SUCCESS;
}

bool ComposeStartMenuLinks(const wchar_t* pszPrograms, StartMenuLinks* pLinks)
{
    return FormatPath(pLinks->szFolder, L"%ls\\%ls", pszPrograms, kDisplayName) &&
           FormatPath(pLinks->szUninstallName, kUninstallLinkFormat, kDisplayName) &&
           FormatPath(pLinks->szClientLink, L"%ls\\%ls.lnk", pLinks->szFolder, kDisplayName) &&
           FormatPath(pLinks->szUninstallLink, L"%ls\\%ls.lnk", pLinks->szFolder, pLinks->szUninstallName);
}

Result CreateDesktopShellLink(const wchar_t* pszName, const wchar_t* pszWorkDir, const wchar_t* pszTarget,
                              const wchar_t* pszIcon)
{
    wchar_t szDesktop[MAX_PATH];
    if (!GetDesktopPath(szDesktop))
        return Result::Failed(L"Shell Folders Desktop", ERROR_FILE_NOT_FOUND);
    return CreateShellLink(pszName, pszWorkDir, pszTarget, pszIcon, szDesktop, nullptr);
}

Result CreateStartMenuShellLinks(const wchar_t* pszSetupPath)
{
    wchar_t szPrograms[MAX_PATH];
    bool bOpened = false;
    LONG lStatus = ReadCommonPrograms(szPrograms, &bOpened);
    if (!bOpened) {
        LogNormal(L"[CSetupDlg::SetStartShellLink] OpenKey "
                  L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders error=%d",
                  static_cast<int>(lStatus));
        return Result::Failed(L"Shell Folders", static_cast<DWORD>(lStatus));
    }
    if (lStatus != ERROR_SUCCESS) {
        LogNormal(L"[CSetupDlg::SetStartShellLink] QueryValue Common Programs error=%d", static_cast<int>(lStatus));
        return Result::Failed(L"Shell Folders Common Programs", static_cast<DWORD>(lStatus));
    }
    LogNormal(L"[CSetupDlg::SetStartShellLink] ProgramsPath=%ls", szPrograms);

    StartMenuLinks links;
    if (!ComposeStartMenuLinks(szPrograms, &links))
        return Result::Failed(L"Start-menu path", ERROR_FILENAME_EXCED_RANGE);

    // Fresh files, and a fresh folder unless the user keeps files of their own
    // in it.
    ::DeleteFileW(links.szClientLink);
    ::DeleteFileW(links.szUninstallLink);
    ::RemoveDirectoryW(links.szFolder);
    ::CreateDirectoryW(links.szFolder, nullptr);

    wchar_t szTarget[MAX_PATH];
    wchar_t szIcon[MAX_PATH];
    wchar_t szUninstaller[MAX_PATH];
    wchar_t szArguments[MAX_PATH];
    if (!ComposeClientIconPath(pszSetupPath, szIcon) || !ComposeClientLinkTarget(pszSetupPath, szTarget) ||
        !ComposeUninstallerPath(pszSetupPath, szUninstaller) || !FormatPath(szArguments, L"\"%ls\"", pszSetupPath))
        return Result::Failed(L"shortcut target", ERROR_FILENAME_EXCED_RANGE);
    const Result client = CreateShellLink(kDisplayName, pszSetupPath, szTarget, szIcon, links.szFolder, nullptr);
    const Result uninstall =
        CreateShellLink(links.szUninstallName, pszSetupPath, szUninstaller, szIcon, links.szFolder, szArguments);
    return client ? uninstall : client;
}
