#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class StopToken;

// Where the download of one package stands.
struct PackageDownloadState {
    std::wstring strName;
    uint64_t nReceived = 0;     // bytes of the file so far, a resumed part included
    uint64_t nTotal = 0;        // the whole file; 0 while unknown
    uint64_t nResumedFrom = 0;  // bytes the file held when this download began
    DWORD dwElapsedMs = 0;      // since this download began
    bool bEnded = false;        // the download is over, however it ended
};

// An error the user is shown. The run may still try again.
struct InstallError {
    enum Kind {
        kListDownload,     // the package list (or the release) could not be had
        kListEmpty,        // the package list names no package
        kFolders,          // the install or temp folder cannot be used
        kPackageDownload,  // a package's last try failed to download
        kPackageInstall,   // a package's last try failed to save or unpack
        kVerification,     // the installed files do not match the CRC list
        kTimedOut,         // the last attempt ran out of time
    } kind;
    std::wstring strPackage;  // the package, for the package kinds
};

// The fixed texts the user reads: an error, in red, and the package being
// installed.
std::wstring InstallErrorText(const InstallError& error);
std::wstring PackageStatusText(const std::wstring& strPackage);

// What an install session reports while it runs. Every call comes from the
// session's own threads and must not wait for another thread, except the
// proxy prompt's, which waits for the answer or the stop: a window posts
// what it has to do to itself and does it on its own thread.
class IInstallObserver {
public:
    virtual ~IInstallObserver() = default;

    // A package's install begins (the status line's text, not made visible).
    virtual void OnPackageStarted(const std::wstring& strPackage) = 0;
    virtual void OnError(const InstallError& error) = 0;
    // The error of a finished attempt is no longer current.
    virtual void OnErrorCleared() = 0;
    // The install's percentage, 0 to 100.
    virtual void OnProgress(int nPercent) = 0;
    // The package download in progress: at most four times a second while
    // bytes come, and once with bEnded when it is over.
    virtual void OnPackageDownload(const PackageDownloadState& state) = 0;
    // The last call of a session that ran: whether the client is installed
    // and registered.
    virtual void OnFinished(bool bSucceeded) = 0;
    // A proxy wants credentials: the entered user name and password, or
    // false when the user cancels, nobody can be asked, or stop ends the
    // wait (the prompt then closes).
    virtual bool AskProxyCredentials(const StopToken& stop, std::wstring* pstrUser, std::wstring* pstrPassword) = 0;
    // The proxy refused them; returns once the user was told or stop ends
    // the wait.
    virtual void ShowProxyCredentialsRefused(const StopToken& stop) = 0;
};
