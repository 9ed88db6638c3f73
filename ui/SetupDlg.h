#pragma once

#include "engine/InstallObserver.h"
#include "engine/InstallSettings.h"
#include "framework/Dialog.h"
#include "framework/ScopedHandle.h"
#include "ui/MsgStatic.h"
#include "ui/SetupLayout.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class InstallSession;

namespace Gdiplus {
class Graphics;
}  // namespace Gdiplus

// What a click on the install button got: a started session, which stays
// its maker's, or why there is none.
struct SessionStart {
    enum Kind { kStarted, kClientRunning, kFailed } kind;
    InstallSession* pSession;
};
// Starts an install of the settings that reports to the observer.
using SessionFactory = std::function<SessionStart(const InstallSettings& settings, IInstallObserver* pObserver)>;

// The setup window: a borderless, custom-drawn popup. It shows the install
// location it is given, lets the user browse for another, and a click on
// the install button has the factory start a session, which it observes
// and can stop. It draws what the session reports: the session's calls
// never wait for the window's thread, they are queued and applied when the
// window next runs its message loop. The window never waits for the
// session; its maker joins it once the window has closed.
//
// The artwork's buttons are also controls, each painting its slice of the
// page: they take the keyboard focus and give screen readers their names,
// while the mouse goes on to the window, whose click areas decide. Every
// length is the design's, scaled to the window's DPI.
class CSetupDlg : public CDialog, public IInstallObserver {
public:
    CSetupDlg(const InstallSettings& settings, SessionFactory factory, HWND hWndParent = nullptr);
    ~CSetupDlg() override;

protected:
    // A report of the session's, applied on the window's thread.
    struct Report;
    // A question to the user that a session's thread waits for.
    struct Prompt;

    BOOL OnInitDialog() override;
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    // Enter: the focused button, else the install button of the ready page.
    void OnOK() override;
    // Escape, Alt+F4 and the system's close: the close button.
    void OnCancel() override;

    // IInstallObserver, callable from any thread.
    void OnPackageStarted(const std::wstring& strPackage) override;
    void OnError(const InstallError& error) override;
    void OnErrorCleared() override;
    void OnProgress(int nPercent) override;
    void OnPackageDownload(const PackageDownloadState& state) override;
    void OnFinished(bool bSucceeded) override;
    bool AskProxyCredentials(const StopToken& stop, std::wstring* pstrUser, std::wstring* pstrPassword) override;
    void ShowProxyCredentialsRefused(const StopToken& stop) override;

    // The install button: starts the install and shows the installing page.
    void OnClickSetup();
    // The browse button: lets the user pick another install folder.
    void OnClickBrowser();
    // Switches to the installing page once the install has started.
    void EnterInstallingPage();
    // Settles the location below the folder, as a browsed one; false, with
    // nothing changed, when its paths would not fit or the install began.
    bool SettleBrowsedLocation(const wchar_t* pszFolder);

    InstallSettings m_settings;
    const SessionFactory m_factory;
    // The session the install button started; its maker's to free.
    InstallSession* m_pSession = nullptr;

    HICON m_hIcon = nullptr;
    WindowLayout m_layout = LayoutForDpi(96);
    int m_nSetupState = PAGE_READY;
    // Texts over the artwork take the system's colours.
    bool m_bHighContrast = false;
    // The focused button shows a cue once the keyboard has been used in the
    // window: the system's UISF_HIDEFOCUS state, kept here too, as a system
    // may keep none (Wine shows every cue from the start).
    bool m_bFocusCues = false;

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
    // The labels' font at the window's DPI.
    ScopedGdiObject m_font;
    HCURSOR m_hHandCursor = nullptr;
    // The session's last percentage, drawn when the window next handles
    // WM_INSTALL_PROGRESS.
    std::atomic<int> m_nProgress{0};

private:
    // Places and sizes the window's labels and buttons and makes its font
    // for the DPI; the artwork is decoded afresh at its new size.
    void ApplyLayout(UINT nDpi);
    void OnDpiChanged(UINT nDpi, const RECT& rcSuggested);
    void CreateButtons();
    // Places the buttons and shows those of the page; the focus leaves a
    // button the page hides.
    void UpdateButtons();
    void DrawButton(const DRAWITEMSTRUCT& item);
    bool OnButtonCommand(UINT nId, UINT nCode);
    void OnUiStateChange(WORD wAction, WORD wFlags);
    // Repaints the page and the controls over it.
    void RedrawPage(bool bErase);

    void OnPaint();
    void DrawPage(HDC hdc, int cx, int cy);
    void DrawInstallingPage(HDC hdc, HDC hdcArt, int cx, int cy);
    void DrawReadyPage(HDC hdc, HDC hdcArt, int cx, int cy);
    void DrawReadyOverlay(Gdiplus::Graphics& graphics);
    HBITMAP PageBitmap();

    void Perform(ClickAction action);
    void OnLButtonUp(POINT pt);
    void OnMouseMove(POINT pt);
    bool IsDragPoint(POINT ptScreen) const;
    void OnClickClose();
    void OnTimer(UINT_PTR nIDEvent);
    void OnDestroy();
    LRESULT OnInstallProgress();
    void UpdateProgressText();
    HBRUSH OnCtlColorStatic(HDC hdc, HWND hWndControl);
    void ReleaseImages();

    // Queues a report and posts WM_INSTALL_REPORT unless one is on its way;
    // false once the window is gone.
    bool QueueReport(Report report);
    void ApplyReports();
    void Apply(const Report& report);
    void AnswerPrompt(Prompt& prompt);
    // Asks on the window's thread and waits for the answer or the stop.
    bool AskUser(const StopToken& stop, const std::shared_ptr<Prompt>& pPrompt);
    void UpdateDownloadLineVisibility();

    // The window as the session's threads see it: null before the window
    // exists and from the start of its destruction; the queue under the
    // mutex. A message that will apply the queue is on its way while it is
    // not empty.
    std::mutex m_mutexReports;
    HWND m_hWndReports = nullptr;
    std::vector<Report> m_reports;
    // The window's thread's own: a package is downloading, by the last
    // report it applied.
    bool m_bDownloading = false;
    // Cleared by the first error: closing the window then asks nothing.
    std::atomic<bool> m_bAsksBeforeClose{true};
};
