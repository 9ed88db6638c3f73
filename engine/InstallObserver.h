#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Where the download of one package stands.
struct PackageDownloadState {
    std::wstring strName;
    uint64_t nReceived = 0;  // bytes of the file so far, a resumed part included
    uint64_t nTotal = 0;     // the whole file; 0 while unknown
    uint64_t nResumedFrom = 0;  // bytes the file held when this download began
    DWORD dwElapsedMs = 0;   // since this download began
    bool bEnded = false;     // the download is over, however it ended
};

// What an install session reports while it runs. Every call comes from one
// of the session's threads and must not wait for another thread: a window
// posts what it has to do to itself and does it on its own thread.
class IInstallObserver {
public:
    virtual ~IInstallObserver() = default;

    // The status text of the package in progress, not made visible.
    virtual void OnStatusText(const wchar_t* pszText) = 0;
    // An error, to show in red. The run may still try again.
    virtual void OnErrorText(const wchar_t* pszText) = 0;
    // The error of a finished attempt is no longer current.
    virtual void OnStatusHidden() = 0;
    // The install's percentage, 0 to 100.
    virtual void OnProgress(int nPercent) = 0;
    // The package download in progress: at most four times a second while
    // bytes come, and once with bEnded when it is over.
    virtual void OnPackageDownload(const PackageDownloadState& state) = 0;
    // The last call of a session that ran: whether the client is installed
    // and registered.
    virtual void OnFinished(bool bSucceeded) = 0;
    // The window that owns the proxy prompt and its notices; null while
    // there is none.
    virtual HWND PromptOwner() const = 0;
};
