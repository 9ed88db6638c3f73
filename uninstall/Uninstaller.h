#pragma once

#include <windows.h>

#include <string>

// What UnInstall.exe is asked to do:
//   UnInstall.exe "<install folder>" [/S] [/W=<handle>]
// /S answers every question with yes and shows no message (for tests and
// scripted removal). /W is passed by the copy of itself the uninstaller
// starts from the temp folder: the handle of the process to wait for.
struct UninstallRequest {
    std::wstring strFolder;
    bool bSilent = false;
    HANDLE hWaitFor = nullptr;
};

// False when the arguments are not one folder and known switches; the
// silent switch is taken all the same.
bool ParseUninstallArguments(int nArgs, const wchar_t* const* ppszArgs, UninstallRequest* pRequest);

// Exit codes of UnInstall.exe, as deployment tools map them: removed, the
// user said no, or refused or failed for any of the other reasons.
enum UninstallExit : int {
    kUninstallDone = 0,
    kUninstallCancelled = 1602,   // the user said no
    kUninstallRefused = 1603,     // not an installation of this product
    kUninstallIncomplete = 1603,  // files stayed behind
    kUninstallRunning = 1603,     // the client runs from the folder
    kUninstallUsage = 1603,       // bad arguments, or the temp copy did not start
};

// The folder as NormalizeFolderPath gives it, short names expanded; false
// also for a drive or share root and a path too long.
bool NormalizeInstallFolder(const wchar_t* pszGiven, std::wstring* pstrFolder);

enum class InstallCheck {
    Installation,
    NotAFolder,           // missing, a file, or a link to elsewhere
    NoClientProgram,      // no iKVLRemote.exe in it
    NotRegistered,        // no "Brivex Client" entry
    RegisteredElsewhere,  // the entry's InstallLocation names another folder
};

// The decision, from what was found: a folder is an installation of this
// product only when it holds the client program and the system's entry
// for the product names this very folder. pszRegisteredLocation is null
// when there is no entry.
InstallCheck JudgeInstallation(const std::wstring& strFolder, bool bIsPlainFolder, bool bHasClientProgram,
                               const wchar_t* pszRegisteredLocation);

// The same, reading the file system and the registry.
InstallCheck CheckInstallation(const std::wstring& strFolder);

struct UninstallResult {
    int nLinksRemoved = 0;
    bool bFolderRemoved = false;
    bool bRegistrationRemoved = false;
};

// Removes what the installer made for the folder: the desktop shortcut and
// the two Start-menu shortcuts when they point into it, the Start-menu
// folder when nothing else is left in it, the install folder, and, once its
// program is gone, the system's entry. Nothing beside the folder is touched.
UninstallResult RemoveInstallation(const std::wstring& strFolder);

// True when a shortcut file's target is the path (both normalised, ignoring
// case).
bool ShellLinkPointsTo(const wchar_t* pszLinkFile, const wchar_t* pszTarget);
