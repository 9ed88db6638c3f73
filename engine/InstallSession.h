#pragma once

#include "engine/InstallObserver.h"
#include "engine/PackageList.h"
#include "engine/ReleaseSignature.h"
#include "engine/SetupCommandLine.h"
#include "engine/WorkerThread.h"
#include "framework/HeldFiles.h"
#include "framework/ScopedHandle.h"
#include "net/ProxyAuthUi.h"
#include "system/InstallLocation.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

constexpr int32_t kDownloadBufferSize = 0xA00000;
// Zero bytes kept after a download: one UTF-16 terminator.
constexpr int32_t kDownloadTerminatorBytes = 2;
constexpr int kInstallAttempts = 3;
constexpr DWORD kRunTimeoutMs = 300000;
constexpr int32_t kClientConfigVersion = 16;

// The stop of an install run. The event ends a download's waits; the
// checks between entries and files read the flag, since under Wine even a
// wait that does not block is a trip to the server.
class RunStop {
public:
    RunStop() : m_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    bool IsValid() const { return static_cast<bool>(m_event); }
    HANDLE Event() const { return m_event.Get(); }
    bool IsSet() const { return m_bSet; }
    void Set()
    {
        m_bSet = true;
        ::SetEvent(m_event.Get());
    }
    void Reset()
    {
        ::ResetEvent(m_event.Get());
        m_bSet = false;
    }

private:
    ScopedHandle m_event;
    std::atomic<bool> m_bSet{false};
};

// Everything an install session is told; nothing else of the caller's
// reaches it.
struct InstallSettings {
    InstallLocation location = {};
    // Every server file is this followed by its name.
    std::wstring strBaseUrl;
    // Hosts that serve the same files at the same path, tried in order when
    // the base URL's host fails a file.
    std::vector<std::wstring> vecMirrorHosts;
    // The package groups this machine installs (PackageGroupsFor).
    std::set<int> setPackageGroups;
    // With a key every attempt needs a release it signed.
    bool bReleaseRequired = false;
    ReleaseKey releaseKey = {};
    // Unattended: a proxy that asks for credentials gets none.
    bool bSilent = false;
    int nAttempts = kInstallAttempts;
    // Longest wait for one install run before it is asked to stop.
    DWORD dwRunTimeout = kRunTimeoutMs;
    // Threads that write and check files beside the run's own. Under Wine
    // each file's creation or opening waits on the server, and the other
    // threads work meanwhile; each thread also keeps about 1 MiB resident.
    int nFileHelpers = 1;
};

// The settings of this program: its own server and release key.
InstallSettings ProgramInstallSettings(const InstallLocation& location, std::set<int> setPackageGroups,
                                       bool bSilent);

// A fetched body, lent to the code that fetched it for as long as that
// code runs: it cannot be copied or kept, and the next fetch reuses its
// bytes.
class PackageFile;

class BodyView {
public:
    BodyView(const uint8_t* pData, int32_t nSize) : m_pData(pData), m_nSize(nSize) {}
    BodyView(const BodyView&) = delete;
    BodyView& operator=(const BodyView&) = delete;

    const uint8_t* Data() const { return m_pData; }
    int32_t Size() const { return m_nSize; }

private:
    const uint8_t* m_pData;
    int32_t m_nSize;
};

// One install of the client: up to three attempts, each an install run on
// a thread of its own (package list, packages, uninstaller, verification),
// then the registration after the first that succeeds. It owns its threads,
// the download buffer, the stop request and the result, and reports to its
// observer. Destroying it stops the install and waits for its threads.
class InstallSession {
public:
    InstallSession(InstallSettings settings, IInstallObserver* pObserver);
    ~InstallSession();
    InstallSession(const InstallSession&) = delete;
    InstallSession& operator=(const InstallSession&) = delete;

    // Starts the install; false when it started before or cannot start.
    bool Start();
    // Asks the install to stop: the download in progress ends at once, and
    // no further package or attempt starts.
    void Stop();
    // Waits for the install to end, at most dwMilliseconds (INFINITE: the
    // long bound every exit has). True once it has ended or never started.
    bool Wait(DWORD dwMilliseconds = INFINITE);
    // How the install ended (or that it never started), for the exit code.
    InstallOutcome Outcome() const;

private:
    class Worker : public CWorkerThread {
    public:
        explicit Worker(InstallSession& session) : m_session(session) {}

    protected:
        DWORD Run() override { return m_session.Run(); }

    private:
        InstallSession& m_session;
    };

    // The worker thread: the attempts, then the report of how they ended.
    DWORD Run();
    DWORD RunAttempts();
    static DWORD WINAPI InstallThreadProc(LPVOID pParam);
    // One install run: 0 when the install folder is complete and verified,
    // 1 on failure or stop.
    DWORD InstallRun();
    // What follows a successful run, in its fixed order.
    void RunSuccessTail();
    LONG WriteRegistry();
    bool SetStartShellLink();
    void WriteClientConfig(int32_t nVersion);

    // Package list: downloads and parses it into m_vecPackages.
    int Execute(int* pnCount);
    // Installed-file verification against the CRC list.
    int CheckFileCRC();
    // Unpacks the archive, read through hArchive when one is given.
    BOOL UnZip(const wchar_t* pszArchive, const wchar_t* pszDestFolder, HANDLE hArchive = INVALID_HANDLE_VALUE);
    BOOL DownloadUninstallFile();

    // One try of one package: what failed, and what the failure texts name.
    struct PackageTry;
    PackageTry TryPackage(const wchar_t* pszName, PackageFile* pArchive);
    // Logs a failed try and, on the last one, shows the package's error.
    // Returns true when that was the last try.
    bool ReportFailedTry(const PackageTry& result, int nFailures);
    // Closes the temp and install folders to other users; false, shown and
    // logged, when that fails.
    bool SecureRunFolders();
    // The uninstaller step; false when the run must end.
    bool FetchUninstaller();
    // Whether the current run is to end: the user's stop, or the attempt
    // loop's when the run outlived its wait.
    bool StopRequested() const;
    void ShowError(const wchar_t* pszText);
    void ReportProgress(int nPercent);

    // How one host's try at a file ended.
    enum class HostTry { Served, Failed, GiveUp };
    // Tries the file on the base URL's host, then on each mirror in order,
    // until one serves it; logs which did when there are mirrors.
    bool FromEachHost(const wchar_t* pszUrl, const std::function<HostTry(const wchar_t* pszHostUrl)>& fetch);
    // Downloads a package into its file, or the rest of it after a cut; in
    // a signed release checks the whole file against the release. False
    // when it failed; *pdwError is the system's code when the file could
    // not be written.
    bool FetchPackage(const wchar_t* pszUrl, PackageFile* pArchive, DWORD* pdwError);
    // The package download in progress, reported at most four times a
    // second.
    void ReportDownloadBytes(uint64_t nHave, uint64_t nTotal);

    using BodyUse = std::function<bool(const BodyView& body)>;
    // Downloads a server file into the download buffer, from its start, and
    // hands the body to use; in a signed release only the body the release
    // lists is taken. False when the download fails or use returns false.
    bool FetchIntoBuffer(const wchar_t* pszUrl, const BodyUse& use);
    // A server list: its size in bytes and its text, copied out.
    bool FetchServerList(const wchar_t* pszUrl, int32_t* pnSize, std::wstring* pstrText);
    // Any body of at most nMaxBody bytes (kAnyBodySize: any).
    bool FetchBody(const wchar_t* pszUrl, int32_t nMaxBody, const BodyUse& use);

    // Signed releases (engine/SignedRelease.cpp). At the start of an
    // attempt: fetches and verifies the release; false, with the texts of a
    // failed package-list download, when the attempt cannot go on.
    bool StartRelease();
    bool FetchRelease();
    // The release's entry for the file a URL names; null, logged, if none.
    const ReleaseFile* ListedFile(const wchar_t* pszUrl) const;
    // Whether a file of that size and digest (null: none could be made) is
    // exactly the listed one; logs the mismatch.
    bool MatchesListed(uint64_t nSize, const Sha256Digest* pDigest, const ReleaseFile& file,
                       const wchar_t* pszUrl) const;
    // After a success: the serial, so that an older release is refused.
    void RecordReleaseSerial();
    // Gives the pages of the buffer's contents back to the system.
    void DiscardBufferPages();

    const InstallLocation m_location;
    const std::wstring m_strBaseUrl;
    const std::vector<std::wstring> m_vecMirrorHosts;
    const std::set<int> m_setPackageGroups;
    const bool m_bReleaseRequired;
    const ReleaseKey m_releaseKey;
    const bool m_bSilent;
    const int m_nAttempts;
    const DWORD m_dwRunTimeout;
    const int m_nFileHelpers;
    IInstallObserver* const m_pObserver;

    // Only the download writes it, and only one download runs at a time.
    uint8_t* m_pDownloadBuffer = nullptr;
    int32_t m_nDownloadCapacity = 0;
    int32_t m_nDownloadSize = 0;

    wchar_t m_szProxyUser[kProxyCredentialChars] = {};
    wchar_t m_szProxyPassword[kProxyCredentialChars] = {};

    std::vector<PackageEntry> m_vecPackages;
    Release m_release;  // of the current attempt
    // The files the run has unpacked, held open until the check has read
    // them; let go when the run ends.
    HeldFiles m_heldFiles;

    // The package download in progress, as last reported; the install
    // run's thread only.
    PackageDownloadState m_download;
    bool m_bDownloadBegun = false;
    DWORD m_dwDownloadStart = 0;
    DWORD m_dwDownloadReported = 0;

    // The user's stop, kept for the attempt loop; the run's event ends the
    // download in progress, set by the user's stop and by the attempt loop
    // when a run outlives its wait.
    std::atomic<bool> m_bStopRequested{false};
    RunStop m_runStop;
    // The system's code of the failure that ended the current run; 0 when
    // it had none.
    std::atomic<DWORD> m_dwLastFailureError{0};

    Worker m_worker{*this};
};
