#pragma once

#include "engine/HeldFiles.h"
#include "engine/InstallObserver.h"
#include "engine/InstallSettings.h"
#include "engine/PackageList.h"
#include "framework/Result.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class PackageFile;
class ServerFiles;
class StopToken;

// One attempt at the install: the package list, every package of this
// machine's groups, the uninstaller, the verification. Made on the
// attempt's stack and gone with it, with the list it parsed and the files
// it holds open, so two attempts never overlap.
class InstallRun {
public:
    // bHoldFiles false: the files written are closed at once (an earlier
    // attempt may have failed for want of handles).
    InstallRun(const InstallSettings& settings, ServerFiles& server, IInstallObserver* pObserver, const StopToken& stop,
               bool bHoldFiles);
    InstallRun(const InstallRun&) = delete;
    InstallRun& operator=(const InstallRun&) = delete;

    // 0 when the install folder is complete and verified, 1 on failure or
    // stop.
    DWORD Run();
    // The system's code of the failure that ended the run; 0 when it had
    // none.
    DWORD FailureError() const { return m_dwFailureError; }

private:
    struct PackageTry;

    // Package list: downloads and parses it into m_vecPackages.
    int Execute(int* pnCount);
    // Installed-file verification against the CRC list.
    int CheckFileCRC();
    // Unpacks the archive, read through hArchive.
    BOOL UnZip(const wchar_t* pszArchive, const wchar_t* pszDestFolder, HANDLE hArchive);
    BOOL DownloadUninstallFile();
    // The uninstaller step; false when the run must end.
    bool FetchUninstaller();
    // Closes the temp and install folders to other users; false, shown and
    // logged, when that fails.
    bool SecureRunFolders();
    // One try of one package: fetched into its temp file, or the rest of it
    // after a cut, unpacked, the archive deleted.
    PackageTry TryPackage(const wchar_t* pszName, PackageFile* pArchive);
    // Logs a failed try and, on the last one, shows the package's error.
    // Returns true when that was the last try.
    bool ReportFailedTry(const PackageTry& result, int nFailures);
    void ShowError(InstallError::Kind kind, const wchar_t* pszPackage = L"");
    void ReportProgress(int nPercent);
    // The package download in progress, reported at most four times a
    // second.
    void ReportDownloadBytes(uint64_t nHave, uint64_t nTotal);

    const InstallSettings& m_settings;
    ServerFiles& m_server;
    IInstallObserver* const m_pObserver;
    const StopToken& m_stop;

    std::vector<PackageEntry> m_vecPackages;
    // The files unpacked, held open until the check has read them.
    HeldFiles m_heldFiles;
    DWORD m_dwFailureError = 0;

    // The package download in progress, as last reported.
    PackageDownloadState m_download;
    bool m_bDownloadBegun = false;
    DWORD m_dwDownloadStart = 0;
    DWORD m_dwDownloadReported = 0;
};
