#include "ui/SetupDlg.h"

#include "engine/InstallSession.h"

void CSetupDlg::OnLButtonUp(POINT pt)
{
    // The release decides, wherever the press was.
    switch (ClickActionAt(m_hotAreas, m_nSetupState, pt)) {
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

void CSetupDlg::OnMouseMove(POINT pt)
{
    // The class cursor (the arrow) comes back with every move; the hand is
    // set again while the pointer stays on a button.
    if (m_hHandCursor && IsHandCursorAt(m_hotAreas, m_nSetupState, pt))
        ::SetCursor(m_hHandCursor);
}

bool CSetupDlg::IsDragPoint(POINT ptScreen) const
{
    POINT pt = ptScreen;
    ::ScreenToClient(m_hWnd, &pt);
    RECT rcClient;
    ::GetClientRect(m_hWnd, &rcClient);
    return IsDragAreaAt(m_hotAreas, m_nSetupState, pt, rcClient);
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
    OnCancel();
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
