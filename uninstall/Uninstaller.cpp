#include "uninstall/Uninstaller.h"

#include "framework/StringCompare.h"
#include "system/ClientFiles.h"
#include "system/CommandLineArgs.h"
#include "system/DeleteFolder.h"
#include "system/FolderSwap.h"
#include "system/PathFormat.h"
#include "system/Shortcuts.h"
#include "system/UninstallRegistration.h"

#include <algorithm>
#include <cwchar>

namespace {

// A drive or share root as NormalizeFolderPath gives it: "X:\" (the only
// form that keeps its separator) or "\\server\share".
bool IsRoot(const std::wstring& strFolder)
{
    if (strFolder.back() == L'\\')
        return true;
    return strFolder[0] == L'\\' && std::count(strFolder.begin() + 2, strFolder.end(), L'\\') == 1;
}

}  // namespace

bool ParseUninstallArguments(int nArgs, const wchar_t* const* ppszArgs, UninstallRequest* pRequest)
{
    *pRequest = UninstallRequest();
    // Known even when the rest is wrong, so that a scripted call never
    // waits on a message box.
    for (int i = 0; i < nArgs; ++i)
        pRequest->bSilent = pRequest->bSilent || IsSilentSwitch(ppszArgs[i]);
    bool bFolder = false;
    for (int i = 0; i < nArgs; ++i) {
        const wchar_t* pszArg = ppszArgs[i];
        if (IsSilentSwitch(pszArg)) {
            continue;
        } else if (std::wcsncmp(pszArg, L"/W=", 3) == 0) {
            wchar_t* pEnd = nullptr;
            unsigned long long nHandle = std::wcstoull(pszArg + 3, &pEnd, 10);
            if (pEnd == pszArg + 3 || *pEnd != L'\0' || nHandle == 0)
                return false;
            pRequest->hWaitFor = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(nHandle));
        } else if (pszArg[0] != L'/' && !bFolder) {
            pRequest->strFolder = pszArg;
            bFolder = true;
        } else {
            return false;
        }
    }
    return bFolder;
}

bool NormalizeInstallFolder(const wchar_t* pszGiven, std::wstring* pstrFolder)
{
    std::wstring strFolder;
    if (!pszGiven || !NormalizeFolderPath(pszGiven, &strFolder) || IsRoot(strFolder) || strFolder.size() >= MAX_PATH)
        return false;
    // Short 8.3 names spell the same folder differently.
    wchar_t szLong[MAX_PATH];
    const DWORD cch = ::GetLongPathNameW(strFolder.c_str(), szLong, MAX_PATH);
    *pstrFolder = cch > 0 && cch < MAX_PATH ? szLong : strFolder;
    return true;
}

InstallCheck JudgeInstallation(const std::wstring& strFolder, bool bIsPlainFolder, bool bHasClientProgram,
                               const wchar_t* pszRegisteredLocation)
{
    if (!bIsPlainFolder)
        return InstallCheck::NotAFolder;
    if (!bHasClientProgram)
        return InstallCheck::NoClientProgram;
    if (!pszRegisteredLocation)
        return InstallCheck::NotRegistered;
    std::wstring strRegistered;
    if (!NormalizeInstallFolder(pszRegisteredLocation, &strRegistered) ||
        !EqualIgnoringCase(strRegistered.c_str(), strFolder.c_str()))
        return InstallCheck::RegisteredElsewhere;
    return InstallCheck::Installation;
}

InstallCheck CheckInstallation(const std::wstring& strFolder)
{
    // A link in place of the folder would make the removal reach its target.
    const DWORD dwFolder = ::GetFileAttributesW(strFolder.c_str());
    const bool bPlainFolder = dwFolder != INVALID_FILE_ATTRIBUTES && (dwFolder & FILE_ATTRIBUTE_DIRECTORY) &&
                              !(dwFolder & FILE_ATTRIBUTE_REPARSE_POINT);
    wchar_t szProgram[MAX_PATH];
    DWORD dwProgram = ComposeClientProgramPath(strFolder.c_str(), szProgram) ? ::GetFileAttributesW(szProgram)
                                                                             : INVALID_FILE_ATTRIBUTES;
    const bool bProgram = dwProgram != INVALID_FILE_ATTRIBUTES && !(dwProgram & FILE_ATTRIBUTE_DIRECTORY);
    std::wstring strLocation;
    const bool bRegistered = ReadRegisteredInstallLocation(&strLocation);
    return JudgeInstallation(strFolder, bPlainFolder, bProgram, bRegistered ? strLocation.c_str() : nullptr);
}

bool ShellLinkPointsTo(const wchar_t* pszLinkFile, const wchar_t* pszTarget)
{
    if (::GetFileAttributesW(pszLinkFile) == INVALID_FILE_ATTRIBUTES)
        return false;
    wchar_t szLinkTarget[MAX_PATH];
    return ReadShellLinkTarget(pszLinkFile, szLinkTarget) && SameLinkTarget(szLinkTarget, pszTarget);
}

UninstallResult RemoveInstallation(const std::wstring& strFolder)
{
    UninstallResult result;
    const wchar_t* pszFolder = strFolder.c_str();
    wchar_t szClientTarget[MAX_PATH];
    wchar_t szUninstaller[MAX_PATH];
    if (!ComposeClientLinkTarget(pszFolder, szClientTarget) || !ComposeUninstallerPath(pszFolder, szUninstaller))
        return result;

    // Only shortcuts that lead into this folder are the installer's.
    auto removeLink = [&result](const wchar_t* pszLink, const wchar_t* pszTarget) {
        if (ShellLinkPointsTo(pszLink, pszTarget) && ::DeleteFileW(pszLink))
            ++result.nLinksRemoved;
    };
    wchar_t szDesktop[MAX_PATH];
    wchar_t szLink[MAX_PATH];
    if (GetDesktopPath(szDesktop) && FormatPath(szLink, L"%ls\\%ls.lnk", szDesktop, kDisplayName))
        removeLink(szLink, szClientTarget);
    wchar_t szPrograms[MAX_PATH];
    StartMenuLinks links;
    if (GetCommonProgramsPath(szPrograms) && ComposeStartMenuLinks(szPrograms, &links)) {
        removeLink(links.szClientLink, szClientTarget);
        removeLink(links.szUninstallLink, szUninstaller);
        // Stays when the user keeps something of their own in it.
        ::RemoveDirectoryW(links.szFolder);
    }

    DeleteFolder(pszFolder);
    result.bFolderRemoved = ::GetFileAttributesW(pszFolder) == INVALID_FILE_ATTRIBUTES;
    // A staging folder or an earlier installation moved aside that a run
    // could not remove.
    RemoveLeftoverSiblings(pszFolder, {});
    // While the program is still there the folder is still an installation
    // and the entry stays, so the removal can be tried again from the list
    // of installed programs; without it the entry would lead nowhere.
    wchar_t szProgram[MAX_PATH];
    if (!ComposeClientProgramPath(pszFolder, szProgram) || ::GetFileAttributesW(szProgram) == INVALID_FILE_ATTRIBUTES)
        result.bRegistrationRemoved = RemoveUninstallRegistration() == ERROR_SUCCESS;
    return result;
}
