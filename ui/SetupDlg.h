#pragma once

#include "engine/InstallNotifier.h"
#include "engine/SetupEngine.h"
#include "framework/Dialog.h"
#include "framework/ScopedHandle.h"
#include "ui/MsgStatic.h"
#include "ui/SetupLayout.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace Gdiplus {
class Graphics;
class Image;
}  // namespace Gdiplus

// The setup window: a borderless, custom-drawn popup that holds the whole
// install state through its engine base. The install threads reach it as
// their notifier; those calls never wait for the window's thread, which
// applies them when it next runs its message loop.
class CSetupDlg : public CDialog, public CSetupEngine, public IInstallNotifier {
public:
    explicit CSetupDlg(HWND hWndParent = nullptr);
    ~CSetupDlg() override;

    // The install button: starts the install and shows the installing page.
    void OnClickSetup();
    // The browse button: lets the user pick another install folder.
    void OnClickBrowser();
    // Switches to the installing page once the install has started.
    void EnterInstallingPage();

    // Whether the face "微软雅黑" is installed, by both font systems; it
    // decides the package group of this machine.
    static bool IsFontInstalled();
    // Whether GDI enumerates the face, compared ignoring case.
    static bool FindFontByGdi(const wchar_t* pszFaceName);
    // Whether the installed GDI+ families hold the name, compared exactly.
    static bool FindFontByGdiplus(const wchar_t* pszFaceName);

    // IInstallNotifier, callable from any thread.
    void ShowErrorText(const wchar_t* pszText) override;
    void SetStatusText(const wchar_t* pszText) override;
    void HideStatusText() override;
    void PostProgress() override;
    void UpdateProgressText() override;
    void StartLaunchTimer() override;
    HWND PromptOwner() const override;

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
    // pixels at a time. m_nPageImageId is the resource it was decoded from;
    // after a failed decode the image stays null until the page changes.
    Gdiplus::Image* m_pImgPage = nullptr;
    WORD m_nPageImageId = 0;
    Gdiplus::Image* m_pImgBarTrack = nullptr;
    Gdiplus::Image* m_pImgBarFill = nullptr;

    MsgStatic m_staticPercent;
    MsgStatic m_staticStatus;
    ScopedGdiObject m_font;

    HCURSOR m_hHandCursor = nullptr;

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
    void DrawPage(Gdiplus::Graphics& graphics, int cx, int cy);
    bool DrawProgressBar(Gdiplus::Graphics& graphics);
    void DrawReadyOverlay(Gdiplus::Graphics& graphics);
    Gdiplus::Image* PageImage();

    void OnLButtonUp(POINT pt);
    void OnMouseMove(POINT pt);
    bool IsDragPoint(POINT ptScreen) const;
    void OnClickClose();
    void OnTimer(UINT_PTR nIDEvent);
    // Starts the installed client and ends the window.
    void LaunchClient();
    void OnDestroy();
    LRESULT OnInstallProgress();
    void ApplyStatusChanges();
    void QueueStatusChange(StatusChange::Kind kind, const wchar_t* pszText);
    HotAreas GetHotAreas() const;
    HBRUSH OnCtlColorStatic(HDC hdc, HWND hWndControl);
    void ReleaseImages();

    // The window as the install threads see it: null before the window
    // exists and from the start of its destruction.
    std::atomic<HWND> m_hWndNotify{nullptr};
    DWORD m_dwUiThreadId = 0;
    std::mutex m_mutexStatus;
    std::vector<StatusChange> m_vecStatusChanges;
};
