#pragma once

#include <windows.h>

// How the install threads reach the setup window. Every call comes from a
// worker or install thread and must not wait for the window's thread: the
// window posts or queues what it has to do on its own thread.
class IInstallNotifier {
public:
    virtual ~IInstallNotifier() = default;

    // Shows the text in red in the status label.
    virtual void ShowErrorText(const wchar_t* pszText) = 0;
    // Puts the text into the status label without showing it.
    virtual void SetStatusText(const wchar_t* pszText) = 0;
    // Hides the status label (the error of a finished attempt).
    virtual void HideStatusText() = 0;
    // Posts WM_INSTALL_PROGRESS; the window then shows m_nProgress.
    virtual void PostProgress() = 0;
    // Sets the percentage label from m_nProgress and repaints. Called from
    // another thread it only posts, as PostProgress does, and the window
    // sets the label when it handles the message.
    virtual void UpdateProgressText() = 0;
    // Starts the launch timer on the window.
    virtual void StartLaunchTimer() = 0;
    // The window that owns the proxy prompt and its notices; null while
    // there is none.
    virtual HWND PromptOwner() const = 0;
};
