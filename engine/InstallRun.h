#pragma once

#include "engine/HeldFiles.h"
#include "engine/InstallObserver.h"
#include "engine/InstallSettings.h"
#include "engine/PackageFile.h"
#include "engine/PackageList.h"
#include "framework/Result.h"
#include "system/FolderSecurity.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class ServerFiles;
class StopToken;

// What one attempt leaves the next of the same session.
struct AttemptCarry {
    explicit AttemptCarry(bool bHashArchives) : archives(bHashArchives) {}

    // False once an attempt failed: it may have lacked handles, and the
    // next ones hold no files open.
    bool bHoldFiles = true;
    // The archives' folder, below the temp folder; goes after them.
    CPrivateFolder workFolder;
    // The archives fetched so far, whole or in part.
    PackageArchives archives;
    // A staged and verified installation whose swap failed: the next
    // attempt only swaps it in.
    std::wstring strVerifiedStage;
};

// Removes a folder of the run's own (RemoveFolderNowOrLater) and logs how
// far that went.
void RemoveAndLog(const wchar_t* pszWhat, const std::wstring& strFolder);

// One attempt at the install: the package list, every package of this
// machine's groups and the uninstaller, unpacked into a staging folder of
// its own beside the install folder, then verified and swapped in: the
// earlier installation moves aside, the staged one takes its name, and the
// earlier one is removed. Made on the attempt's stack and gone with it,
// with the list it parsed and the files it holds open, so two attempts
// never overlap. A failed attempt removes its staging folder and leaves
// the earlier installation as it was.
class InstallRun {
public:
    InstallRun(const InstallSettings& settings, ServerFiles& server, IInstallObserver* pObserver, const StopToken& stop,
               AttemptCarry& carry);
    InstallRun(const InstallRun&) = delete;
    InstallRun& operator=(const InstallRun&) = delete;

    // 0 when the verified installation is in the install folder's place, 1
    // on failure or stop.
    DWORD Run();
    // The system's code of the failure that ended the run; 0 when it had
    // none.
    DWORD FailureError() const { return m_dwFailureError; }

private:
    struct PackageTry;

    DWORD RunSteps();
    // Fails, shown and logged, when the drive cannot take what the release
    // says the packages need.
    bool CheckRoom(int nCount);
    bool CheckInstallRoot();
    bool MakeStage();
    void RemoveStage();
    // Once the stage is verified; false, shown and logged, when the earlier
    // installation cannot move aside or the stage cannot take its name.
    bool Swap();
    // Package list: downloads and parses it into m_vecPackages.
    int Execute(int* pnCount);
    // Installed-file verification against the CRC list.
    int CheckFileCRC();
    // Unpacks the archive, read through hArchive.
    BOOL UnZip(const wchar_t* pszArchive, const wchar_t* pszDestFolder, HANDLE hArchive);
    BOOL DownloadUninstallFile();
    // The uninstaller step; false when the run must end.
    bool FetchUninstaller();
    // The session's folder for the archives, made at its first attempt;
    // false, shown and logged, when it cannot be made.
    bool PrepareWorkFolder();
    // One try of one package: fetched into its temp file, or the rest of it
    // after a cut, unpacked, the archive deleted.
    PackageTry TryPackage(size_t nIndex, const wchar_t* pszName);
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
    AttemptCarry& m_carry;

    // The staging folder while it is the run's; empty once swapped in.
    std::wstring m_strStage;
    bool m_bStageVerified = false;
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
