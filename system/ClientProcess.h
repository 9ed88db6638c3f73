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

// Opens "<folder>\iKVLRemote.exe", shown, with the folder as working
// folder: through the desktop's shell, so that the client runs as the
// signed-in user and not with this process's elevated rights, or directly
// where no desktop shell offers its window. Logs which way. True when the
// program is there and the shell took the request.
bool StartInstalledClient(const wchar_t* pszSetupPath);
