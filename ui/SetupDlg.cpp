#include "ui/SetupDlg.h"

#include "log/Log.h"
#include "resources/resource.h"
#include "system/InstallLocation.h"
#include "ui/FontCheck.h"
#include "ui/ResourceImage.h"
#include "ui/UiMessages.h"

#include <shlobj.h>

#include <cwchar>

namespace {

constexpr COLORREF kErrorTextColor = RGB(255, 0, 0);
constexpr int kPercentTextUnits = 8;

// Asks for a folder in the system folder browser; false when cancelled or
// when the choice has no file-system path.
bool BrowseForFolder(wchar_t (&szFolder)[MAX_PATH])
{
    wchar_t szDisplayName[MAX_PATH] = {};
    BROWSEINFOW bi = {};
    bi.hwndOwner = nullptr;
    bi.pidlRoot = nullptr;
    bi.pszDisplayName = szDisplayName;
    bi.lpszTitle = kBrowseTitle;
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE pidl = ::SHBrowseForFolderW(&bi);
    if (!pidl)
        return false;
    szFolder[0] = L'\0';
    BOOL bPath = ::SHGetPathFromIDListW(pidl, szFolder);
    ::CoTaskMemFree(pidl);
    return bPath && szFolder[0] != L'\0';
}

POINT PointFromLParam(LPARAM lParam)
{
    return {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

}  // namespace

CSetupDlg::CSetupDlg(HWND hWndParent) : CDialog(IDD_SETUP_DIALOG, hWndParent)
{
    m_hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));

    // The ready page's artwork now, each slide as the install reaches it.
    PageBitmap();
    m_bmpBarFill.Reset(LoadBitmapFromResource(IDR_JPG_BAR_FILL, kBarWidth, kBarHeight));
    m_bmpBarTrack.Reset(LoadBitmapFromResource(IDR_JPG_BAR_TRACK, kBarWidth, kBarHeight));

    InstallLocation location;
    GetDestPath(&location);
    m_hHandCursor = ::LoadCursorW(nullptr, IDC_HAND);

    m_settings = ProgramInstallSettings(location, PackageGroupsFor(IsFontInstalled()), false);
}

CSetupDlg::~CSetupDlg()
{
    // The session goes first: its threads report to this window.
    m_pSession.reset();
    // Only a window that never opened still holds its images here.
    ReleaseImages();
    // The log file of the location settled here is let go with it.
    CloseLogFile();
}

bool CSetupDlg::SettleBrowsedLocation(const wchar_t* pszFolder)
{
    // The install's paths must not change under it.
    return !m_pSession && ::SettleBrowsedLocation(pszFolder, &m_settings.location);
}

InstallOutcome CSetupDlg::Outcome() const
{
    return m_pSession ? m_pSession->Outcome() : InstallOutcome();
}

BOOL CSetupDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    // Centred on the work area of the screen, before it is first shown.
    RECT rcWork = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    int x = rcWork.left + (rcWork.right - rcWork.left - kClientWidth) / 2;
    int y = rcWork.top + (rcWork.bottom - rcWork.top - kClientHeight) / 2;
    ::MoveWindow(m_hWnd, x, y, kClientWidth, kClientHeight, TRUE);

    HotAreas areas = DefaultHotAreas();
    m_rcClose = areas.rcClose;
    m_rcInstall = areas.rcInstall;
    m_rcMinimize = areas.rcMinimize;
    m_rcBrowse = areas.rcBrowse;
    m_rcAgreeBox = areas.rcAgreeBox;
    m_rcAgreeLink = areas.rcAgreeLink;
    m_ptPathBox = kPathBoxOrigin;
    m_ptSpaceLine = kSpaceLineOrigin;

    m_font.Reset(::CreateFontW(14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"宋体"));
    WPARAM wpFont = reinterpret_cast<WPARAM>(m_font.Get());

    // The labels start hidden.
    if (m_staticPercent.Create(L"", SS_RIGHT, {490, 341, 525, 359}, m_hWnd, IDC_PERCENT_LABEL)) {
        HWND hLabel = m_staticPercent.GetSafeHwnd();
        ::MoveWindow(hLabel, 490, 341, 35, 18, TRUE);
        ::SetWindowTextW(hLabel, L"0%");
        ::SendMessageW(hLabel, WM_SETFONT, wpFont, TRUE);
    }
    if (m_staticStatus.Create(L"", SS_CENTER, {34, 324, 494, 342}, m_hWnd, IDC_STATUS_LABEL))
        ::SendMessageW(m_staticStatus.GetSafeHwnd(), WM_SETFONT, wpFont, TRUE);
    // A package name is shown as it is, an "&" included.
    if (m_staticDownload.Create(L"", SS_CENTER | SS_NOPREFIX, kDownloadLineRect, m_hWnd, IDC_DOWNLOAD_LABEL)) {
        m_staticDownload.SetTextColor(m_staticPercent.GetTextColor());
        ::SendMessageW(m_staticDownload.GetSafeHwnd(), WM_SETFONT, wpFont, TRUE);
    }

    ::SetPropW(m_hWnd, kSetupWindowProp, reinterpret_cast<HANDLE>(1));
    m_hWndNotify = m_hWnd;
    return TRUE;
}

bool CSetupDlg::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    // WM_SYSCOMMAND and WM_SIZE keep their default processing.
    switch (uMsg) {
    case WM_PAINT:
        OnPaint();
        *pResult = 0;
        return true;
    case WM_ERASEBKGND:
        // The paint covers the whole client area.
        *pResult = 1;
        return true;
    case WM_QUERYDRAGICON:
        *pResult = reinterpret_cast<LRESULT>(m_hIcon);
        return true;
    case WM_LBUTTONUP:
        OnLButtonUp(PointFromLParam(lParam));
        *pResult = 0;
        return true;
    case WM_MOUSEMOVE:
        OnMouseMove(PointFromLParam(lParam));
        return false;
    case WM_NCHITTEST:
        if (!IsDragPoint(PointFromLParam(lParam)))
            return false;
        *pResult = HTCAPTION;
        return true;
    case WM_TIMER:
        if (wParam != kLaunchTimerId)
            return false;
        OnTimer(wParam);
        *pResult = 0;
        return true;
    case WM_DESTROY:
        OnDestroy();
        return false;
    case WM_CTLCOLORSTATIC: {
        HBRUSH hBrush = OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        *pResult = reinterpret_cast<LRESULT>(hBrush);
        return hBrush != nullptr;
    }
    case WM_INSTALL_PROGRESS:
        *pResult = OnInstallProgress();
        return true;
    case WM_APPLY_STATUS:
        ApplyStatusChanges();
        *pResult = 0;
        return true;
    case WM_APPLY_DOWNLOAD:
        ApplyDownload();
        *pResult = 0;
        return true;
    case WM_START_LAUNCH_TIMER:
        ::SetTimer(m_hWnd, kLaunchTimerId, kLaunchTimerPeriodMs, nullptr);
        *pResult = 0;
        return true;
    default:
        return false;
    }
}

HBRUSH CSetupDlg::OnCtlColorStatic(HDC hdc, HWND hWndControl)
{
    for (MsgStatic* pLabel : {&m_staticPercent, &m_staticStatus, &m_staticDownload}) {
        if (hWndControl && pLabel->GetSafeHwnd() == hWndControl)
            return pLabel->CtlColor(hdc, CTLCOLOR_STATIC);
    }
    return nullptr;
}

void CSetupDlg::EnterInstallingPage()
{
    m_nSetupState = PAGE_INSTALLING;
    if (HWND hLabel = m_staticPercent.GetSafeHwnd())
        ::ShowWindow(hLabel, SW_SHOW);
    UpdateDownloadLineVisibility();
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

LRESULT CSetupDlg::OnInstallProgress()
{
    UpdateProgressText();
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
    return 1;
}

void CSetupDlg::OnTimer(UINT_PTR nIDEvent)
{
    // Stopped first, so the window ends once; the application then starts
    // the client.
    ::KillTimer(m_hWnd, nIDEvent);
    EndDialog(IDOK);
}

void CSetupDlg::OnDestroy()
{
    // From here on the install threads' calls no longer reach the window.
    m_hWndNotify = nullptr;
    ::RemovePropW(m_hWnd, kSetupWindowProp);
    ReleaseImages();
    ::KillTimer(m_hWnd, kLaunchTimerId);
    // The session's threads only post to this window, so none of them
    // waits for it while it waits for them. A stopped session ends its
    // download at once; the wait is bounded all the same.
    if (m_pSession)
        m_pSession->Wait();
    m_staticPercent.Detach();
    m_staticStatus.Detach();
    m_staticDownload.Detach();
}

void CSetupDlg::ReleaseImages()
{
    for (ScopedGdiObject* pBitmap : {&m_bmpPage, &m_bmpBarTrack, &m_bmpBarFill})
        pBitmap->Reset();
}

void CSetupDlg::OnErrorText(const wchar_t* pszText)
{
    // Decided at once, on the reporting thread: a close that follows asks
    // nothing, whenever the window gets to show the text.
    m_bAsksBeforeClose = false;
    QueueStatusChange(StatusChange::kShowError, pszText);
}

void CSetupDlg::OnStatusText(const wchar_t* pszText)
{
    QueueStatusChange(StatusChange::kSetText, pszText);
}

void CSetupDlg::OnStatusHidden()
{
    QueueStatusChange(StatusChange::kHide, nullptr);
}

void CSetupDlg::QueueStatusChange(StatusChange::Kind kind, const wchar_t* pszText)
{
    HWND hWnd = m_hWndNotify;
    if (!hWnd)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutexStatus);
        m_vecStatusChanges.push_back({kind, pszText ? pszText : L""});
    }
    ::PostMessageW(hWnd, WM_APPLY_STATUS, 0, 0);
}

void CSetupDlg::ApplyStatusChanges()
{
    std::vector<StatusChange> vecChanges;
    {
        std::lock_guard<std::mutex> lock(m_mutexStatus);
        vecChanges.swap(m_vecStatusChanges);
    }
    HWND hLabel = m_staticStatus.GetSafeHwnd();
    if (!hLabel)
        return;
    for (const StatusChange& change : vecChanges) {
        if (change.kind == StatusChange::kHide) {
            ::ShowWindow(hLabel, SW_HIDE);
            continue;
        }
        if (change.kind == StatusChange::kShowError) {
            ::ShowWindow(hLabel, SW_SHOW);
            m_staticStatus.SetTextColor(kErrorTextColor);
        }
        ::SetWindowTextW(hLabel, change.strText.c_str());
    }
    UpdateDownloadLineVisibility();
}

void CSetupDlg::OnProgress(int nPercent)
{
    m_nProgress = nPercent;
    if (HWND hWnd = m_hWndNotify)
        ::PostMessageW(hWnd, WM_INSTALL_PROGRESS, 0, 0);
}

void CSetupDlg::OnPackageDownload(const PackageDownloadState& state)
{
    HWND hWnd = m_hWndNotify;
    if (!hWnd)
        return;
    bool bPost = false;
    {
        std::lock_guard<std::mutex> lock(m_mutexStatus);
        m_download = state;
        bPost = !m_bDownloadPosted;
        m_bDownloadPosted = true;
    }
    // The message on its way reads the latest report when it is handled, so
    // a burst of reports queues one message, not one each.
    if (bPost && !::PostMessageW(hWnd, WM_APPLY_DOWNLOAD, 0, 0)) {
        std::lock_guard<std::mutex> lock(m_mutexStatus);
        m_bDownloadPosted = false;
    }
}

void CSetupDlg::ApplyDownload()
{
    PackageDownloadState state;
    {
        std::lock_guard<std::mutex> lock(m_mutexStatus);
        state = m_download;
        m_bDownloadPosted = false;
    }
    m_bDownloading = !state.bEnded;
    if (HWND hLabel = m_staticDownload.GetSafeHwnd(); hLabel && m_bDownloading)
        ::SetWindowTextW(hLabel, DownloadLineText(state).c_str());
    UpdateDownloadLineVisibility();
}

// The line shares its row with the status label, which shows only errors:
// an error hides the line until the status label is hidden again.
void CSetupDlg::UpdateDownloadLineVisibility()
{
    HWND hLabel = m_staticDownload.GetSafeHwnd();
    if (!hLabel)
        return;
    HWND hStatus = m_staticStatus.GetSafeHwnd();
    bool bErrorShown = hStatus && (::GetWindowLongW(hStatus, GWL_STYLE) & WS_VISIBLE);
    bool bShow = m_nSetupState == PAGE_INSTALLING && m_bDownloading && !bErrorShown;
    ::ShowWindow(hLabel, bShow ? SW_SHOWNA : SW_HIDE);
}

void CSetupDlg::UpdateProgressText()
{
    wchar_t szPercent[kPercentTextUnits];
    std::swprintf(szPercent, kPercentTextUnits, L"%d%%", m_nProgress.load());
    if (HWND hLabel = m_staticPercent.GetSafeHwnd())
        ::SetWindowTextW(hLabel, szPercent);
    if (m_hWnd)
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CSetupDlg::OnFinished(bool bSucceeded)
{
    // An installed client is started a moment later; SetTimer only works
    // on a window of the calling thread.
    HWND hWnd = m_hWndNotify;
    if (bSucceeded && hWnd)
        ::PostMessageW(hWnd, WM_START_LAUNCH_TIMER, 0, 0);
}

HWND CSetupDlg::PromptOwner() const
{
    return m_hWndNotify;
}

void CSetupDlg::OnClickBrowser()
{
    wchar_t szFolder[MAX_PATH];
    // The browser has no owner, so the install may have started meanwhile;
    // its paths must not change under it.
    if (!BrowseForFolder(szFolder) || m_pSession)
        return;
    if (!SettleBrowsedLocation(szFolder)) {
        ::MessageBoxW(m_hWnd, L"所选路径太长，请选择一个较短的安装路径。", L"提示", MB_OK | MB_ICONWARNING);
        return;
    }
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}
