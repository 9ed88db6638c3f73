#pragma once

#include <string>

// What the installer and the uninstaller both read from their command
// lines, so that the two programs take the same switches and folders.

// Switches start with "/" or "-".
bool IsSwitchStart(wchar_t ch);

// "/S" or "-S", in either case: ask nothing, show nothing.
bool IsSilentSwitch(const std::wstring& strArg);

// Checks a folder given by name and makes it a full path without trailing
// separator (a drive root keeps its "\"): it must be absolute ("X:\..." with
// an ASCII drive letter, or a share on a plainly named server other than
// its pipe and mailslot shares), hold no characters a path cannot hold, no
// direction marks nor a device name, and stay a folder below its root. A
// server's administrative shares (C$, ADMIN$, IPC$, PRINT$), which reach the
// system's own folders, are refused too. The file system is not asked.
bool NormalizeFolderPath(const std::wstring& strGiven, std::wstring* pstrFolder);

// True when a normalized folder is the Windows folder or below it. Both
// are compared as given: short names must be expanded first.
bool IsInWindowsFolder(const std::wstring& strFolder, const std::wstring& strWindowsFolder);
