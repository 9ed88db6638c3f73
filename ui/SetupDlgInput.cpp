#include "ui/SetupDlg.h"

#include "engine/InstallSession.h"
#include "resources/resource.h"

#include <commctrl.h>

namespace {

// The artwork's buttons as controls, in tab order.
struct ArtButton {
    UINT nId;
    ClickAction action;
    const wchar_t* pszName;
};
constexpr ArtButton kArtButtons[] = {
    {IDC_INSTALL_BUTTON, ClickAction::Install, L"立即安装"},
    {IDC_BROWSE_BUTTON, ClickAction::Browse, L"浏览"},
    {IDC_MINIMIZE_BUTTON, ClickAction::Minimize, L"最小化"},
    {IDC_CLOSE_BUTTON, ClickAction::Close, L"关闭"},
};

const ArtButton* ArtButtonOf(UINT nId)
{
    for (const ArtButton& button : kArtButtons) {
        if (button.nId == nId)
            return &button;
    }
    return nullptr;
}

// The mouse goes through a button to the window, whose click areas decide
// as they always have: a release acts wherever the press was. A key the
// dialog manager reads for a button (Tab, Space, Enter) shows the focus
// cues, as the system's dialog manager has them shown where it keeps them.
LRESULT CALLBACK ArtButtonProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (uMsg == WM_NCHITTEST)
        return HTTRANSPARENT;
    const MSG* pMsg = reinterpret_cast<const MSG*>(lParam);
    if (uMsg == WM_GETDLGCODE && pMsg && (pMsg->message == WM_KEYDOWN || pMsg->message == WM_SYSKEYDOWN))
        ::SendMessageW(::GetParent(hWnd), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    return ::DefSubclassProc(hWnd, uMsg, wParam, lParam);
}

}  // namespace

void CSetupDlg::CreateButtons()
{
    for (const ArtButton& button : kArtButtons) {
        HWND hButton = ::CreateWindowExW(0, L"BUTTON", button.pszName, WS_CHILD | WS_TABSTOP | BS_OWNERDRAW, 0, 0, 0, 0,
                                         m_hWnd, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(button.nId)),
                                         ::GetModuleHandleW(nullptr), nullptr);
        if (hButton)
            ::SetWindowSubclass(hButton, ArtButtonProc, 0, 0);
    }
}

void CSetupDlg::UpdateButtons()
{
    for (const ArtButton& button : kArtButtons) {
        HWND hButton = ::GetDlgItem(m_hWnd, static_cast<int>(button.nId));
        if (!hButton)
            continue;
        const bool bShown = IsButtonOnPage(button.action, m_nSetupState);
        // To the next button shown, before this one goes.
        if (!bShown && hButton == ::GetFocus())
            ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 0, FALSE);
        const RECT& rc = ButtonArea(m_layout.hotAreas, button.action);
        ::SetWindowPos(hButton, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                       SWP_NOZORDER | SWP_NOACTIVATE | (bShown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
    }
}

// Exactly the button's slice of the page, so that the page looks as drawn;
// the focus cue only once the keyboard has been used.
void CSetupDlg::DrawButton(const DRAWITEMSTRUCT& item)
{
    HBITMAP hPage = PageBitmap();
    HDC hdcArt = hPage ? ::CreateCompatibleDC(item.hDC) : nullptr;
    if (!hdcArt)
        return;
    POINT ptOrigin = {0, 0};
    ::MapWindowPoints(item.hwndItem, m_hWnd, &ptOrigin, 1);
    HGDIOBJ hOld = ::SelectObject(hdcArt, hPage);
    ::BitBlt(item.hDC, 0, 0, item.rcItem.right - item.rcItem.left, item.rcItem.bottom - item.rcItem.top, hdcArt,
             ptOrigin.x, ptOrigin.y, SRCCOPY);
    ::SelectObject(hdcArt, hOld);
    ::DeleteDC(hdcArt);
    if ((item.itemState & ODS_FOCUS) && m_bFocusCues) {
        RECT rcFocus = item.rcItem;
        const int nInset = ScaleForDpi(3, m_layout.nDpi);
        ::InflateRect(&rcFocus, -nInset, -nInset);
        ::DrawFocusRect(item.hDC, &rcFocus);
    }
}

void CSetupDlg::OnUiStateChange(WORD wAction, WORD wFlags)
{
    if (m_bFocusCues || wAction != UIS_CLEAR || !(wFlags & UISF_HIDEFOCUS))
        return;
    m_bFocusCues = true;
    HWND hFocus = ::GetFocus();
    if (::IsChild(m_hWnd, hFocus))
        ::InvalidateRect(hFocus, nullptr, FALSE);
}

bool CSetupDlg::OnButtonCommand(UINT nId, UINT nCode)
{
    const ArtButton* pButton = ArtButtonOf(nId);
    if (!pButton || nCode != BN_CLICKED)
        return false;
    if (IsButtonOnPage(pButton->action, m_nSetupState))
        Perform(pButton->action);
    return true;
}

void CSetupDlg::OnOK()
{
    // During the install Enter does nothing: it would end the window.
    if (m_nSetupState != PAGE_READY)
        return;
    HWND hFocus = ::GetFocus();
    const ArtButton* pFocused = ::IsChild(m_hWnd, hFocus) ? ArtButtonOf(::GetDlgCtrlID(hFocus)) : nullptr;
    Perform(pFocused ? pFocused->action : ClickAction::Install);
}

void CSetupDlg::Perform(ClickAction action)
{
    switch (action) {
    case ClickAction::Close:
        OnClickClose();
        break;
    case ClickAction::Install:
        OnClickSetup();
        break;
    case ClickAction::Minimize:
        ::ShowWindow(m_hWnd, SW_MINIMIZE);
        break;
    case ClickAction::Browse:
        OnClickBrowser();
        break;
    case ClickAction::None:
        break;
    }
}

void CSetupDlg::OnLButtonUp(POINT pt)
{
    // The release decides, wherever the press was.
    Perform(ClickActionAt(m_layout.hotAreas, m_nSetupState, pt));
}

void CSetupDlg::OnMouseMove(POINT pt)
{
    // The class cursor (the arrow) comes back with every move; the hand is
    // set again while the pointer stays on a button.
    if (m_hHandCursor && IsHandCursorAt(m_layout.hotAreas, m_nSetupState, pt))
        ::SetCursor(m_hHandCursor);
}

bool CSetupDlg::IsDragPoint(POINT ptScreen) const
{
    POINT pt = ptScreen;
    ::ScreenToClient(m_hWnd, &pt);
    RECT rcClient;
    ::GetClientRect(m_hWnd, &rcClient);
    return IsDragAreaAt(m_layout.hotAreas, m_nSetupState, pt, rcClient);
}

void CSetupDlg::OnCancel()
{
    OnClickClose();
}

void CSetupDlg::OnClickClose()
{
    // Only a running install, before any error, asks first.
    if (m_nSetupState == PAGE_INSTALLING && m_bAsksBeforeClose &&
        ::MessageBoxW(m_hWnd, L"是否终止安装？", L"询问", MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    // The download in progress ends at once, and no further package or
    // attempt starts; the session's maker waits for it once the window has
    // closed.
    if (m_pSession)
        m_pSession->Stop();
    EndDialog(IDCANCEL);
}

void CSetupDlg::OnClickSetup()
{
    // One install per window: a second click starts nothing.
    if (m_pSession)
        return;
    const SessionStart start = m_factory(m_settings, this);
    if (start.kind == SessionStart::kClientRunning) {
        ::MessageBoxW(m_hWnd, L"程序正在运行，请先关闭程序再安装", L"提示", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (start.kind != SessionStart::kStarted)
        return;
    m_pSession = start.pSession;
    EnterInstallingPage();
}
