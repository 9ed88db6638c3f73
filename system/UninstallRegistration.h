#pragma once

#include "framework/Result.h"

#include <windows.h>

#include <string>
#include <vector>

// The entry in the system's list of installed programs, below
// HKEY_LOCAL_MACHINE. The key keeps the brand name for every install folder.
constexpr wchar_t kUninstallParentKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kUninstallKeyName[] = L"Brivex Client";

// The product key's path below HKEY_LOCAL_MACHINE.
std::wstring UninstallKeyPath();

struct UninstallValue {
    const wchar_t* pszName;
    std::wstring strData;
};

// The REG_SZ values for an install folder, in the order they are written:
// the seven of the entry and the quiet uninstall command. Nothing is cut: a
// long folder gives long values.
std::vector<UninstallValue> ComposeUninstallValues(const wchar_t* pszSetupPath);

// Creates or opens the product key and stores the text values, each with
// its terminating zero counted in its length, then "NoModify" and
// "NoRepair" (1) and "EstimatedSize" (the folder's files in KiB) as
// REG_DWORD; other values under the key stay. The uninstall path is only
// logged. Fails with the open or the first value that failed (the others
// are still written).
Result WriteUninstallRegistration(const wchar_t* pszSetupPath, const wchar_t* pszUnInstallPath);

// Bytes in KiB, rounded up, as "EstimatedSize" holds them.
DWORD EstimatedSizeKB(ULONGLONG ullBytes);

// The "InstallLocation" of the product key as stored (with its trailing
// backslash); false when the key or a text value is not there.
bool ReadRegisteredInstallLocation(std::wstring* pstrLocation);

// Removes the product key with everything under it. ERROR_SUCCESS also when
// it was not there.
LONG RemoveUninstallRegistration();
