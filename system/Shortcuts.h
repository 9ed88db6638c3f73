#pragma once

#include "framework/Result.h"

#include <windows.h>

#include <cstddef>

constexpr wchar_t kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr wchar_t kMachineShellFoldersKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Rewrites the path in place: backslashes become slashes, a run of
// separators collapses to one (a leading pair, as in //server/share,
// stays), then one trailing slash is added or one is removed as asked.
// Returns the path; null when it is null or the added slash would not fit
// the cchPath units of the buffer (the path is then normalised but without
// it). An empty path stays empty.
wchar_t* NormalizePath(wchar_t* pszPath, size_t cchPath, bool bTrailingSeparator);

// What to do with an existing shortcut file found next to a new one.
enum class ExistingLink {
    Unrelated,  // points elsewhere: leave it and look further
    Keep,       // the new shortcut's own file: leave it and stop looking
    Delete,     // another name for the same target: delete it and stop
};

// Targets are compared after normalisation, ignoring case; the file name is
// compared with "<name>.lnk" ignoring case.
ExistingLink JudgeExistingLink(const wchar_t* pszFileName, const wchar_t* pszLinkTarget, const wchar_t* pszTarget,
                               const wchar_t* pszName);

// Looks at the .lnk files of a normalised folder ending in a slash, in the
// order the search returns them, up to the first one that points to the
// target; deletes that one unless it is "<name>.lnk".
void RemoveStaleShellLinks(const wchar_t* pszFolder, const wchar_t* pszTarget, const wchar_t* pszName);

// Saves "<name>.lnk" in the folder (overwriting it) with the working folder,
// the name as description, the icon with index 0, the target and, when not
// empty, the arguments. An older shortcut to the same target under another
// name is removed first. Fails unless the file was saved.
Result CreateShellLink(const wchar_t* pszName, const wchar_t* pszWorkDir, const wchar_t* pszTarget,
                       const wchar_t* pszIcon, const wchar_t* pszFolder, const wchar_t* pszArguments);

// The target of a shortcut file as stored, not resolved; false, with an
// empty target, when the file cannot be read as a shortcut or names none.
bool ReadShellLinkTarget(const wchar_t* pszLinkFile, wchar_t (&szTarget)[MAX_PATH]);

// Shortcut targets name the same file when they are equal after
// normalisation, ignoring case.
bool SameLinkTarget(const wchar_t* pszA, const wchar_t* pszB);

// The current user's desktop folder from the Shell Folders key; false when
// the key or a non-empty value is not there.
bool GetDesktopPath(wchar_t (&szPath)[MAX_PATH]);

// The machine's Start-menu programs folder ("Common Programs"); false when
// the key or a non-empty value is not there.
bool GetCommonProgramsPath(wchar_t (&szPath)[MAX_PATH]);

// The Start-menu product folder below a programs folder and the two
// shortcut files in it, as the installer makes and the uninstaller removes
// them. False when a path would not fit.
struct StartMenuLinks {
    wchar_t szFolder[MAX_PATH];
    wchar_t szUninstallName[64];  // "卸载Fenmora"
    wchar_t szClientLink[MAX_PATH];
    wchar_t szUninstallLink[MAX_PATH];
};
bool ComposeStartMenuLinks(const wchar_t* pszPrograms, StartMenuLinks* pLinks);

// The shortcut on the current user's desktop, without arguments.
Result CreateDesktopShellLink(const wchar_t* pszName, const wchar_t* pszWorkDir, const wchar_t* pszTarget,
                              const wchar_t* pszIcon);

// The Start-menu product folder "Fenmora" below the machine's programs
// folder with the client and the uninstall shortcut; the two files are
// replaced and the folder is recreated when it is empty. Fails, with a log
// line, when the programs folder is not found, and when a shortcut could
// not be saved.
Result CreateStartMenuShellLinks(const wchar_t* pszSetupPath);
