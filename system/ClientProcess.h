#pragma once

#include <windows.h>

// Enables a privilege in this process's token. True only when the token
// holds it.
bool EnablePrivilege(const wchar_t* pszName);

// Enables SeDebugPrivilege in this process's token, so that processes of
// other sessions can be opened. True only when the privilege was granted.
bool EnableDebugPrivilege();

// True when a process's image path is "<folder>\<exe name>", ignoring case.
bool IsProgramInFolder(const wchar_t* pszImagePath, const wchar_t* pszFolder, const wchar_t* pszExeName);

// True when a running process has the executable name and was started from
// "<folder>\<exe name>" (both ignoring case); false at once for a null or
// empty argument. Logs the image path of every process it could open.
bool FindProcess(const wchar_t* pszExeName, const wchar_t* pszFolder);

// How the client is started for the user.
enum class LaunchWay {
    kDirect,      // this process is not elevated: its own rights are the user's
    kShell,       // through the desktop shell's own process
    kUserToken,   // with the token of the desktop shell's process
    kNotStarted,  // neither, or a service's SYSTEM in session 0
};
struct LaunchFacts {
    bool bElevated = false;
    bool bSystemInSessionZero = false;
    bool bShellStarted = false;  // the shell took the request
    bool bUserToken = false;     // the shell's process lent its token
};
// Elevated, the client never starts with this process's token: the shell
// first, then the desktop user's token, else not at all. A deployment
// tool's SYSTEM in session 0 has no user to start it for.
LaunchWay ChooseLaunchWay(const LaunchFacts& facts);
// The log line of the way taken; nResult is the way's own result (the
// shell's HRESULT, ShellExecute's value, CreateProcessWithToken's error).
void LogLaunch(LaunchWay way, const LaunchFacts& facts, const wchar_t* pszProgram, unsigned long nResult);

// Opens "<folder>\iKVLRemote.exe", shown, with the folder as working
// folder, the way ChooseLaunchWay decides, after this process's privileges
// are disabled again. Elevated, the shell is waited for up to 30 s. Logs
// which way. True when the program is there and was started.
bool StartInstalledClient(const wchar_t* pszSetupPath);
