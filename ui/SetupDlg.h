#pragma once

#include "engine/SetupEngine.h"
#include "framework/Dialog.h"

#include <windows.h>

namespace Gdiplus {
class Image;
}

enum SetupPage : int {
    PAGE_READY = 0,
    PAGE_INSTALLING = 1,
};

// The setup window: a borderless, custom-drawn popup that holds the whole
// install state through its engine base.
class CSetupDlg : public CDialog, public CSetupEngine {
public:
    explicit CSetupDlg(HWND hWndParent = nullptr);
    ~CSetupDlg() override;

    // Lets the user pick another install folder.
    void OnClickBrowser();

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

    Gdiplus::Image* m_pImgReady = nullptr;
    Gdiplus::Image* m_pImgSlide1 = nullptr;
    Gdiplus::Image* m_pImgSlide2 = nullptr;
    Gdiplus::Image* m_pImgSlide3 = nullptr;
    Gdiplus::Image* m_pImgSlide4 = nullptr;
    Gdiplus::Image* m_pImgBarTrack = nullptr;
    Gdiplus::Image* m_pImgBarFill = nullptr;

    HCURSOR m_hHandCursor = nullptr;

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

private:
    void OnPaint();
    void OnLButtonUp(POINT pt);
};
