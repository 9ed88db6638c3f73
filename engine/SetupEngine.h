#pragma once

#include "engine/BaseUrl.h"
#include "engine/InstallNotifier.h"
#include "engine/PackageList.h"
#include "engine/ReleaseSignature.h"
#include "engine/SetupCommandLine.h"
#include "engine/WorkerThread.h"
#include "net/ProxyAuthUi.h"
#include "system/InstallLocation.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

constexpr int32_t kDownloadBufferSize = 0xA00000;
// Zero bytes kept after a download: one UTF-16 terminator.
constexpr int32_t kDownloadTerminatorBytes = 2;
// A file larger than the buffer grows it to its size plus this; as many
// zero bytes follow every file read into the buffer.
constexpr int32_t kFileBufferSlack = 10;
constexpr int kInstallAttempts = 3;
constexpr DWORD kRunTimeoutMs = 300000;
constexpr int32_t kClientConfigVersion = 16;

// The install state of the setup window and the operations on it: download
// buffer, install paths, progress, proxy credentials, the package list, the
// install run and what follows it. The window derives from it and plugs in
// as the notifier; the engine's tests use it without a window. The window
// reaches the engine's own state through the public calls below, and the
// thread handle and stop request through CWorkerThread's public members.
class CSetupEngine : public CWorkerThread {
public:
    CSetupEngine();
    ~CSetupEngine() override;
    CSetupEngine(const CSetupEngine&) = delete;
    CSetupEngine& operator=(const CSetupEngine&) = delete;

    // Settles the default location from the machine's drive list.
    void GetDestPath();
    // The same for a given drive list (as GetLogicalDriveStrings gives it).
    void SettleDefaultLocation(const wchar_t* pszDrives, size_t cchDrives);
    // Settles the location below a folder the user picked. Returns false,
    // with nothing changed, when the paths below it would not fit.
    bool SettleBrowsedLocation(const wchar_t* pszFolder);

    const wchar_t* InstallRoot() const { return m_szInstallRoot; }
    const wchar_t* SetupPath() const { return m_szSetupPath; }
    // Percentage of the install run; written by the install threads.
    int Progress() const { return m_nProgress; }
    // False once an error is shown: closing the window then asks nothing.
    bool AsksBeforeClose() const { return m_bConfirmClose == 1; }
    // How the install ended (or that it never started), for the exit code.
    InstallOutcome Outcome() const;

    // The package groups this machine installs (PackageGroupsFor).
    void SetPackageGroups(std::set<int> setGroups) { m_setPackageGroups = std::move(setGroups); }
    void SetNotifier(IInstallNotifier* pNotifier) { m_pNotifier = pNotifier; }
    // Sets m_bConfirmClose to 0 and shows the text in red.
    void ShowError(const wchar_t* pszText);

    // Package list: downloads and parses it into m_vecPackages.
    int Execute(int* pnCount);
    // Installed-file verification against the CRC list.
    int CheckFileCRC();
    uint32_t GetFileCRC(const wchar_t* pszRelativeName);

    // One install run, the body of InstallThreadProc: 0 when the install
    // folder is complete and verified, 1 on failure or stop.
    DWORD InstallRun();
    // Unpacks the archive, read through hArchive when one is given.
    BOOL UnZip(const wchar_t* pszArchive, const wchar_t* pszDestFolder, HANDLE hArchive = INVALID_HANDLE_VALUE);
    BOOL DownloadUninstallFile();

    // What follows a successful run, in its fixed order.
    void RunSuccessTail();
    LONG WriteRegistry();
    bool SetStartShellLink();
    void WriteClientConfig(int32_t nVersion);

protected:
    // The attempt loop on the worker thread: up to three install runs, then
    // the success tail after the first that succeeds.
    DWORD Run() override;

private:
    friend class CSetupEngineProbe;  // the tests' view of the state

    // One try of one package: what failed, and what the failure texts name.
    struct PackageTry;
    PackageTry TryPackage(const wchar_t* pszName);
    // Logs a failed try and, on the last one, shows the package's error.
    // Returns true when that was the last try.
    bool ReportFailedTry(const PackageTry& result, int nFailures);
    // Closes the temp and install folders to other users; false, shown and
    // logged, when that fails.
    bool SecureRunFolders();
    // The uninstaller step; false when the run must end.
    bool FetchUninstaller();
    void ApplyLocation(const InstallLocation& location);
    // Downloads a server file into the download buffer, from its start; in
    // a signed release only the body the release lists is taken.
    bool FetchIntoBuffer(const wchar_t* pszUrl);
    // The same for any body of at most nMaxBody bytes (kAnyBodySize: any).
    bool FetchBody(const wchar_t* pszUrl, int32_t nMaxBody);

    // Signed releases (engine/SignedRelease.cpp). At the start of an
    // attempt: fetches and verifies the release; false, with the texts of a
    // failed package-list download, when the attempt cannot go on.
    bool StartRelease();
    bool FetchRelease();
    // The release's entry for the file a URL names; null, logged, if none.
    const ReleaseFile* ListedFile(const wchar_t* pszUrl) const;
    // Whether the buffer holds exactly that file; logs the mismatch.
    bool MatchesListed(const ReleaseFile& file, const wchar_t* pszUrl);
    // After a success: the serial, so that an older release is refused.
    void RecordReleaseSerial();
    // Gives the pages of the buffer's contents back to the system.
    void DiscardBufferPages();
    // Clears up to cbZero bytes after the first nSize, as far as the
    // capacity reaches.
    void ZeroAfterData(int32_t nSize, int32_t cbZero);

    uint8_t* m_pDownloadBuffer = nullptr;
    int32_t m_nDownloadCapacity = 0;
    int32_t m_nDownloadSize = 0;

    wchar_t m_szSetupPath[MAX_PATH] = {};
    wchar_t m_szUnInstallPath[MAX_PATH] = {};
    wchar_t m_szInstallRoot[MAX_PATH] = {};

    // Written by the install threads, read by the window's thread.
    std::atomic<int> m_nProgress{0};

    wchar_t m_szTempPath[MAX_PATH] = {};
    std::atomic<int> m_bConfirmClose{1};

    wchar_t m_szProxyUser[kProxyCredentialChars] = {};
    wchar_t m_szProxyPassword[kProxyCredentialChars] = {};

    std::set<int> m_setPackageGroups;
    std::vector<PackageEntry> m_vecPackages;

    // Longest wait for one install run before it is asked to stop.
    DWORD m_dwRunTimeout = kRunTimeoutMs;
    // Every server file is this followed by its name; tests point it at
    // a server of their own.
    std::wstring m_strBaseUrl = g_strBaseUrl;

    IInstallNotifier* m_pNotifier = nullptr;
    // The system's code of the failure that ended the current run; 0 when
    // it had none.
    std::atomic<DWORD> m_dwLastFailureError{0};

    // With a key in the exe every attempt needs a release it signed.
    ReleaseKey m_releaseKey = {};
    const bool m_bReleaseRequired = LoadReleaseKey(&m_releaseKey);
    Release m_release;  // of the current attempt
};
