#pragma once

#include "engine/InstallObserver.h"
#include "engine/InstallSession.h"
#include "framework/Dialog.h"
#include "framework/ScopedHandle.h"
#include "ui/MsgStatic.h"
#include "ui/SetupLayout.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Gdiplus {
class Graphics;
class Image;
}  // namespace Gdiplus

// The setup window: a borderless, custom-drawn popup. It settles the
// install location, and a click on the install button starts an install
// session that it owns and observes; it draws what the session reports.
// The session's calls never wait for the window's thread: the window posts
// them to itself and applies them when it next runs its message loop.
class CSetupDlg : public CDialog, public IInstallObserver {
public:
    explicit CSetupDlg(HWND hWndParent = nullptr);
    ~CSetupDlg() override;

    // The install button: starts the install and shows the installing page.
    void OnClickSetup();
    // The browse button: lets the user pick another install folder.
    void OnClickBrowser();
    // Switches to the installing page once the install has started.
    void EnterInstallingPage();
    // Settles the location below the folder, as a browsed one; false, with
    // nothing changed, when its paths would not fit or the install began.
    bool SettleBrowsedLocation(const wchar_t* pszFolder);
    // How the install ended (or that it never started), once the window
    // has closed.
    InstallOutcome Outcome() const;

    // IInstallObserver, callable from any thread.
    void OnStatusText(const wchar_t* pszText) override;
    void OnErrorText(const wchar_t* pszText) override;
    void OnStatusHidden() override;
    void OnProgress(int nPercent) override;
    void OnPackageDownload(const PackageDownloadState& state) override;
    void OnFinished(bool bSucceeded) override;
    HWND PromptOwner() const override;

    // What an install started here is told: the settled location, this
    // machine's package groups, the program's server and release key.
    InstallSettings m_settings;

    HICON m_hIcon = nullptr;
    RECT m_rcClose = {};
    RECT m_rcInstall = {};
    RECT m_rcMinimize = {};
    RECT m_rcBrowse = {};
    RECT m_rcAgreeBox = {};
    RECT m_rcAgreeLink = {};
    POINT m_ptPathBox = {};
    POINT m_ptSpaceLine = {};
    int m_nSetupState = PAGE_READY;

    // The artwork of the page on screen, decoded when the page first needs
    // it and released when the page moves on: the window holds one page's
    // pixels at a time, drawn to the client's size. m_nPageImageId is the
    // resource it was decoded from; after a failed decode the bitmap stays
    // null until the page changes. The bar's track and fill are drawn to
    // the bar's size; the fill is cropped to the progress.
    ScopedGdiObject m_bmpPage;
    WORD m_nPageImageId = 0;
    ScopedGdiObject m_bmpBarTrack;
    ScopedGdiObject m_bmpBarFill;

    MsgStatic m_staticPercent;
    MsgStatic m_staticStatus;
    // The package download in progress, in the status label's row while
    // that shows no error.
    MsgStatic m_staticDownload;
    ScopedGdiObject m_font;

    HCURSOR m_hHandCursor = nullptr;
    // The session's last percentage, drawn when the window next handles
    // WM_INSTALL_PROGRESS.
    std::atomic<int> m_nProgress{0};

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

private:
    // A change of the status label asked for by an install thread.
    struct StatusChange {
        enum Kind { kSetText, kShowError, kHide } kind;
        std::wstring strText;
    };

    void OnPaint();
    void DrawPage(HDC hdc, int cx, int cy);
    void DrawInstallingPage(HDC hdc, HDC hdcArt, int cx, int cy);
    void DrawReadyPage(HDC hdc, HDC hdcArt, int cx, int cy);
    void DrawReadyOverlay(Gdiplus::Graphics& graphics);
    HBITMAP PageBitmap();

    void OnLButtonUp(POINT pt);
    void OnMouseMove(POINT pt);
    bool IsDragPoint(POINT ptScreen) const;
    void OnClickClose();
    void OnTimer(UINT_PTR nIDEvent);
    void OnDestroy();
    LRESULT OnInstallProgress();
    void UpdateProgressText();
    void ApplyStatusChanges();
    void QueueStatusChange(StatusChange::Kind kind, const wchar_t* pszText);
    void ApplyDownload();
    void UpdateDownloadLineVisibility();
    HotAreas GetHotAreas() const;
    HBRUSH OnCtlColorStatic(HDC hdc, HWND hWndControl);
    void ReleaseImages();

    // The window as the install threads see it: null before the window
    // exists and from the start of its destruction.
    std::atomic<HWND> m_hWndNotify{nullptr};
    std::mutex m_mutexStatus;
    std::vector<StatusChange> m_vecStatusChanges;
    // The latest download report, and whether a WM_APPLY_DOWNLOAD that will
    // read it is on its way; both under m_mutexStatus.
    PackageDownloadState m_download;
    bool m_bDownloadPosted = false;
    // The window's thread's own: a package is downloading, by the last
    // report it applied.
    bool m_bDownloading = false;
    // Cleared by the first error: closing the window then asks nothing.
    std::atomic<bool> m_bAsksBeforeClose{true};
    std::unique_ptr<InstallSession> m_pSession;
};
