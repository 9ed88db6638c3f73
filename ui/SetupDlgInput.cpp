#include "ui/SetupDlg.h"

#include "system/ClientFiles.h"
#include "system/ClientProcess.h"

HotAreas CSetupDlg::GetHotAreas() const
{
    return {m_rcClose, m_rcInstall, m_rcMinimize, m_rcBrowse, m_rcAgreeBox, m_rcAgreeLink};
}

void CSetupDlg::OnLButtonUp(POINT pt)
{
    // The release decides, wherever the press was.
    switch (ClickActionAt(GetHotAreas(), m_nSetupState, pt)) {
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
    if (m_hHandCursor && IsHandCursorAt(GetHotAreas(), m_nSetupState, pt))
        ::SetCursor(m_hHandCursor);
}

bool CSetupDlg::IsDragPoint(POINT ptScreen) const
{
    POINT pt = ptScreen;
    ::ScreenToClient(m_hWnd, &pt);
    RECT rcClient;
    ::GetClientRect(m_hWnd, &rcClient);
    return IsDragAreaAt(GetHotAreas(), m_nSetupState, pt, rcClient);
}

void CSetupDlg::OnClickClose()
{
    // Only a running install, before any error, asks first.
    if (m_nSetupState == PAGE_INSTALLING && m_bAsksBeforeClose &&
        ::MessageBoxW(m_hWnd, L"是否终止安装？", L"询问", MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    // The download in progress ends at once, and no further package or
    // attempt starts; the window waits for the session as it closes.
    if (m_pSession)
        m_pSession->Stop();
    OnCancel();
}

void CSetupDlg::OnClickSetup()
{
    // One install per window: a second click starts nothing.
    if (m_pSession)
        return;
    if (FindProcess(kClientProgramName, m_settings.location.szSetupPath)) {
        ::MessageBoxW(m_hWnd, L"程序正在运行，请先关闭程序再安装", L"提示", MB_OK | MB_ICONINFORMATION);
        return;
    }
    m_pSession.reset(new InstallSession(m_settings, this));
    if (!m_pSession->Start()) {
        m_pSession.reset();
        return;
    }
    EnterInstallingPage();
}
