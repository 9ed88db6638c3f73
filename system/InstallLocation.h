#pragma once

#include "framework/Result.h"

#include <windows.h>

#include <cstddef>

constexpr wchar_t kProductFolderName[] = L"Brivex Client";
// Product folder on machines without a C: drive.
constexpr wchar_t kAltProductFolderName[] = L"Orvalis";

// The paths a settled install location fixes, each a zero-terminated
// MAX_PATH array.
struct InstallLocation {
    wchar_t szInstallRoot[MAX_PATH];
    wchar_t szSetupPath[MAX_PATH];
    wchar_t szTempPath[MAX_PATH];
    wchar_t szUnInstallPath[MAX_PATH];
    wchar_t szLogFile[MAX_PATH];
};

// Picks the location from a drive list in the form GetLogicalDriveStrings
// gives (4-unit roots, cchDrives units without the final zero): "C:\" in
// any case wins, else the first root with the alternative folder name.
// Returns false, with every path empty, when the list has no root.
bool LocationFromDriveList(const wchar_t* pszDrives, size_t cchDrives, InstallLocation* pLocation);

// The location below a folder the user picked. Returns false, leaving
// *pLocation untouched, when a composed path would not fit its array.
bool LocationFromFolder(const wchar_t* pszFolder, InstallLocation* pLocation);

// Creates the temp folder closed to other users (CreateProtectedFolder), or
// uses the one there as it is, and starts a fresh log file in it. A temp
// folder that is a link, or cannot be made, is logged, and the log then
// has no file.
Result PrepareLocationFolders(const InstallLocation& location);

// Settling a location also makes it the log's: its temp folder is closed
// to other users and the log file in it started afresh (see above).
// The default location from the machine's drive list, logged.
void GetDestPath(InstallLocation* pLocation);
// The same for a given drive list; every path empty when it has no root.
void SettleDefaultLocation(const wchar_t* pszDrives, size_t cchDrives, InstallLocation* pLocation);
// The location below a folder the user picked, logged. Returns false,
// with nothing changed, when the paths below it would not fit.
bool SettleBrowsedLocation(const wchar_t* pszFolder, InstallLocation* pLocation);

// The bytes this process may still write on the volume of a file or
// folder (one that is not there yet counts by its folder); false when the
// system cannot tell.
bool GetFreeBytes(const wchar_t* pszPath, ULONGLONG* pullFree);

// Total free bytes of the volume holding the folder, in GiB; 0.0 when the
// query fails.
double GetFreeSpaceGB(const wchar_t* pszFolder);

// Free bytes to GiB, the way the disk-space line shows them.
double BytesToGB(ULONGLONG ullBytes);
