#pragma once

#include <windows.h>

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
    // The last call of a session that ran: whether the client is installed
    // and registered.
    virtual void OnFinished(bool bSucceeded) = 0;
    // The window that owns the proxy prompt and its notices; null while
    // there is none.
    virtual HWND PromptOwner() const = 0;
};
