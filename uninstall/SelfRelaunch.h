#pragma once

#include "uninstall/Uninstaller.h"

#include <windows.h>

#include <string>

// A running program cannot delete its own file, nor the folder that holds
// it. An uninstaller started from the install folder therefore hands over
// to a copy of itself in the temp folder and ends; the copy waits for it to
// end before it removes anything.

// True when the path lies below the folder (ignoring case).
bool IsInsideFolder(const std::wstring& strPath, const std::wstring& strFolder);

// The copy's command line: its path, the folder, the handle it waits for
// and the silent switch when set.
std::wstring ComposeRelaunchCommandLine(const std::wstring& strCopy, const std::wstring& strFolder, HANDLE hWaitFor,
                                        bool bSilent);

// Copies this program into a new folder below the temp folder, named at
// random and closed to other users, and starts it there, with an
// inheritable handle to this process to wait for. The copy and its folder
// are set to be removed at the next restart. False when the copy could not
// be made or started.
bool RelaunchFromTemp(const std::wstring& strFolder, bool bSilent);
