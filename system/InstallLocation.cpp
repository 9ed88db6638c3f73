#include "system/InstallLocation.h"

#include "log/Log.h"
#include "system/FolderSecurity.h"
#include "system/PathFormat.h"

#include <cwchar>
#include <cwctype>
#include <string>

namespace {

constexpr size_t kDriveRootUnits = 4;

bool IsDriveC(const wchar_t* pszRoot)
{
    return std::towupper(pszRoot[0]) == L'C' && pszRoot[1] == L':' && pszRoot[2] == L'\\' && pszRoot[3] == L'\0';
}

// The root is given apart from the base of the other paths: a listed "c:\"
// is shown as the root "C:\" but composes "c:\Brivex Client".
bool ComposeLocation(const wchar_t* pszShownRoot, const wchar_t* pszRoot, const wchar_t* pszFolderName,
                     InstallLocation* pOut)
{
    InstallLocation loc = {};
    if (!FormatPath(loc.szInstallRoot, L"%ls", pszShownRoot) ||
        !FormatPath(loc.szSetupPath, L"%ls%ls", pszRoot, pszFolderName) ||
        !FormatPath(loc.szTempPath, L"%lstemp", pszRoot) ||
        !FormatPath(loc.szUnInstallPath, L"%lsUnInstall %ls", pszRoot, pszFolderName) ||
        !FormatPath(loc.szLogFile, L"%lstemp\\log.txt", pszRoot))
        return false;
    *pOut = loc;
    return true;
}

}  // namespace

bool LocationFromDriveList(const wchar_t* pszDrives, size_t cchDrives, InstallLocation* pLocation)
{
    *pLocation = {};
    if (!pszDrives || cchDrives < kDriveRootUnits)
        return false;

    for (size_t i = 0; i + kDriveRootUnits <= cchDrives; i += kDriveRootUnits) {
        if (IsDriveC(pszDrives + i))
            return ComposeLocation(L"C:\\", pszDrives + i, kProductFolderName, pLocation);
    }

    // The first root, whatever kind of drive it is.
    wchar_t szFirst[kDriveRootUnits] = {};
    std::wmemcpy(szFirst, pszDrives, kDriveRootUnits - 1);
    return ComposeLocation(szFirst, szFirst, kAltProductFolderName, pLocation);
}

bool LocationFromFolder(const wchar_t* pszFolder, InstallLocation* pLocation)
{
    if (!pszFolder || !*pszFolder)
        return false;
    wchar_t szRoot[MAX_PATH];
    size_t cch = std::wcslen(pszFolder);
    const wchar_t* pszFormat = pszFolder[cch - 1] == L'\\' ? L"%ls" : L"%ls\\";
    if (!FormatPath(szRoot, pszFormat, pszFolder))
        return false;
    return ComposeLocation(szRoot, szRoot, kProductFolderName, pLocation);
}

Result PrepareLocationFolders(const InstallLocation& location)
{
    // A temp folder made here is closed to other users from its creation;
    // one found is used as it is: it may be shared, and its DACL is its
    // owner's. Only the log goes there, written link-safely.
    Result usable = CreateProtectedFolder(location.szTempPath);
    if (usable || usable.Error() == ERROR_ALREADY_EXISTS)
        usable = CheckPlainFolder(location.szTempPath);
    if (usable) {
        StartLogFile(location.szLogFile);
        return usable;
    }
    // A log through a link could be made to land anywhere: the lines go to
    // the debugger channel only.
    g_szLogFile[0] = L'\0';
    LogError(L"[CSetupDlg::GetDestPath] %ls cannot hold the log: %ls error=%lu", location.szTempPath, usable.What(),
             usable.Error());
    return usable;
}

namespace {

void ApplyLocation(const InstallLocation& location, InstallLocation* pLocation)
{
    *pLocation = location;
    std::wmemcpy(g_szLogFile, location.szLogFile, MAX_PATH);
    // A log file left at the location is deleted next, also the one the
    // log holds open when the location is settled again.
    CloseLogFile();
    PrepareLocationFolders(location);
}

}  // namespace

void GetDestPath(InstallLocation* pLocation)
{
    wchar_t szDrives[MAX_PATH] = {};
    DWORD cch = ::GetLogicalDriveStringsW(MAX_PATH - 1, szDrives);
    // A list too long for the buffer is reported by its needed size only.
    if (cch >= MAX_PATH)
        cch = 0;
    SettleDefaultLocation(szDrives, cch, pLocation);
}

void SettleDefaultLocation(const wchar_t* pszDrives, size_t cchDrives, InstallLocation* pLocation)
{
    InstallLocation location;
    if (LocationFromDriveList(pszDrives, cchDrives, &location))
        ApplyLocation(location, pLocation);
    else
        *pLocation = location;
    LogNormal(L"[CSetupDlg::GetDestPath] setuppath=%ls UnInstallPath=%ls", pLocation->szSetupPath,
              pLocation->szUnInstallPath);
}

bool SettleBrowsedLocation(const wchar_t* pszFolder, InstallLocation* pLocation)
{
    InstallLocation location;
    if (!LocationFromFolder(pszFolder, &location))
        return false;
    ApplyLocation(location, pLocation);
    LogNormal(L"[CSetupDlg::OnClickBrowser] setuppath=%ls", pLocation->szSetupPath);
    return true;
}

double BytesToGB(ULONGLONG ullBytes)
{
    return static_cast<double>(ullBytes) * 9.313225746154785e-10;
}

bool GetFreeBytes(const wchar_t* pszPath, ULONGLONG* pullFree)
{
    // The folder of a file, or the folder itself: the volume is the same.
    std::wstring strFolder = pszPath;
    const size_t nSlash = strFolder.find_last_of(L"\\/");
    if (nSlash != std::wstring::npos && ::GetFileAttributesW(pszPath) == INVALID_FILE_ATTRIBUTES)
        strFolder.resize(nSlash + 1);
    ULARGE_INTEGER available;
    if (!::GetDiskFreeSpaceExW(strFolder.c_str(), &available, nullptr, nullptr))
        return false;
    *pullFree = available.QuadPart;
    return true;
}

double GetFreeSpaceGB(const wchar_t* pszFolder)
{
    ULARGE_INTEGER available, total, free;
    if (!::GetDiskFreeSpaceExW(pszFolder, &available, &total, &free))
        return 0.0;
    return BytesToGB(free.QuadPart);
}
