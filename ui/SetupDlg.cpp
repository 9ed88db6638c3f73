#include "ui/SetupDlg.h"

#include "engine/InstallSession.h"
#include "framework/StopToken.h"
#include "log/Log.h"
#include "net/ProxyAuthDlg.h"
#include "resources/resource.h"
#include "system/FolderSecurity.h"
#include "system/InstallLocation.h"
#include "ui/FontCheck.h"
#include "ui/ResourceImage.h"
#include "ui/UiMessages.h"

#include <shlobj.h>

#include <cwchar>

namespace {

constexpr COLORREF kErrorTextColor = RGB(255, 0, 0);
constexpr int kPercentTextUnits = 8;

// Asks for a folder in the system folder browser, modal to the owner, with
// a field to type a path into; false when cancelled or when the choice has
// no file-system path.
bool BrowseForFolder(HWND hWndOwner, wchar_t (&szFolder)[MAX_PATH])
{
    wchar_t szDisplayName[MAX_PATH] = {};
    BROWSEINFOW bi = {};
    bi.hwndOwner = hWndOwner;
    bi.pidlRoot = nullptr;
    bi.pszDisplayName = szDisplayName;
    bi.lpszTitle = kBrowseTitle;
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
    PIDLIST_ABSOLUTE pidl = ::SHBrowseForFolderW(&bi);
    if (!pidl)
        return false;
    szFolder[0] = L'\0';
    BOOL bPath = ::SHGetPathFromIDListW(pidl, szFolder);
    ::CoTaskMemFree(pidl);
    return bPath && szFolder[0] != L'\0';
}

// Ends a dialog or message box of the thread that the window owns.
BOOL CALLBACK CancelOwnedPopup(HWND hWnd, LPARAM lParam)
{
    if (::GetWindow(hWnd, GW_OWNER) == reinterpret_cast<HWND>(lParam) && ::IsWindowEnabled(hWnd))
        ::PostMessageW(hWnd, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

POINT PointFromLParam(LPARAM lParam)
{
    return {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

// The window's DPI where the system keeps one per window (Windows 10 1607
// on), else the system's. Looked up, as Windows 7 has no such call.
UINT DpiOfWindow(HWND hWnd)
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    HMODULE hUser = ::GetModuleHandleW(L"user32.dll");
    auto pfnGetDpi =
        reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void (*)()>(::GetProcAddress(hUser, "GetDpiForWindow")));
    if (UINT nDpi = pfnGetDpi ? pfnGetDpi(hWnd) : 0)
        return nDpi;
    HDC hdc = ::GetDC(nullptr);
    const int nDpi = hdc ? ::GetDeviceCaps(hdc, LOGPIXELSY) : 0;
    if (hdc)
        ::ReleaseDC(nullptr, hdc);
    return nDpi > 0 ? static_cast<UINT>(nDpi) : 96;
}

// The dialog manager of Windows 10 1703 on would scale the window and move
// its controls at a change of DPI by the template's own rules; the window
// lays itself out instead.
void KeepDialogManagerFromScaling(HWND hDlg)
{
    using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
    constexpr int kDdcDisableAll = 1;
    HMODULE hUser = ::GetModuleHandleW(L"user32.dll");
    auto pfnSetBehavior = reinterpret_cast<SetDialogDpiChangeBehaviorFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(hUser, "SetDialogDpiChangeBehavior")));
    if (pfnSetBehavior)
        pfnSetBehavior(hDlg, kDdcDisableAll, kDdcDisableAll);
}

bool IsHighContrast()
{
    HIGHCONTRASTW hc = {sizeof(hc)};
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(hc), &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON);
}

}  // namespace

// A report of the session's, in the order it came.
struct CSetupDlg::Report {
    enum Kind { kPackageStarted, kError, kErrorCleared, kDownload, kFinished, kPrompt, kCancelPrompt } kind;
    std::wstring strText;
    PackageDownloadState download;
    std::shared_ptr<Prompt> pPrompt;
};

// The session's thread waits until the window's thread has answered, or
// its stop abandons the question; whichever comes second finds the other
// done.
struct CSetupDlg::Prompt {
    enum Kind { kCredentials, kRefused } kind;
    ScopedHandle hAnswered{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> bAbandoned{false};
    bool bOk = false;
    std::wstring strUser;
    std::wstring strPassword;
};

CSetupDlg::CSetupDlg(const InstallSettings& settings, SessionFactory factory, HWND hWndParent)
    : CDialog(IDD_SETUP_DIALOG, hWndParent), m_settings(settings), m_factory(std::move(factory))
{
    m_hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    m_hHandCursor = ::LoadCursorW(nullptr, IDC_HAND);
}

CSetupDlg::~CSetupDlg() = default;

bool CSetupDlg::SettleBrowsedLocation(const wchar_t* pszFolder)
{
    // The install's paths must not change under it.
    return !m_pSession && ::SettleBrowsedLocation(pszFolder, &m_settings.location);
}

BOOL CSetupDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    ::SetWindowTextW(m_hWnd, kWindowText);
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    // The controls paint over the page themselves: their buttons' focus
    // cues would go under each repaint of the page.
    ::SetWindowLongW(m_hWnd, GWL_STYLE, ::GetWindowLongW(m_hWnd, GWL_STYLE) | WS_CLIPCHILDREN);
    KeepDialogManagerFromScaling(m_hWnd);
    m_bHighContrast = IsHighContrast();

    // The labels start hidden; ApplyLayout places them.
    m_staticPercent.Create(L"0%", SS_RIGHT, {}, m_hWnd, IDC_PERCENT_LABEL);
    m_staticStatus.Create(L"", SS_CENTER, {}, m_hWnd, IDC_STATUS_LABEL);
    // A package name is shown as it is, an "&" included.
    if (m_staticDownload.Create(L"", SS_CENTER | SS_NOPREFIX, {}, m_hWnd, IDC_DOWNLOAD_LABEL))
        m_staticDownload.SetTextColor(m_staticPercent.GetTextColor());
    CreateButtons();
    ApplyLayout(DpiOfWindow(m_hWnd));

    // Centred on the work area of the screen, before it is first shown.
    RECT rcWork = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    const int cx = m_layout.client.cx;
    const int cy = m_layout.client.cy;
    ::MoveWindow(m_hWnd, rcWork.left + (rcWork.right - rcWork.left - cx) / 2,
                 rcWork.top + (rcWork.bottom - rcWork.top - cy) / 2, cx, cy, TRUE);
    // The ready page's artwork now, each slide as the install reaches it.
    PageBitmap();

    ::SetPropW(m_hWnd, kSetupWindowProp, reinterpret_cast<HANDLE>(1));
    std::lock_guard<std::mutex> lock(m_mutexReports);
    m_hWndReports = m_hWnd;
    // The focus goes to the first button, the install button.
    return TRUE;
}

void CSetupDlg::ApplyLayout(UINT nDpi)
{
    m_layout = LayoutForDpi(nDpi);
    m_font.Reset(::CreateFontW(m_layout.nLabelFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                               L"宋体"));
    struct Placed {
        MsgStatic* pLabel;
        const RECT& rc;
    };
    for (const Placed& placed :
         {Placed{&m_staticPercent, m_layout.rcPercentLabel}, Placed{&m_staticStatus, m_layout.rcStatusLabel},
          Placed{&m_staticDownload, m_layout.rcDownloadLine}}) {
        if (HWND hLabel = placed.pLabel->GetSafeHwnd()) {
            ::MoveWindow(hLabel, placed.rc.left, placed.rc.top, placed.rc.right - placed.rc.left,
                         placed.rc.bottom - placed.rc.top, TRUE);
            ::SendMessageW(hLabel, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.Get()), TRUE);
        }
    }
    UpdateButtons();

    // The artwork is drawn to the new size once it is next needed.
    m_bmpPage.Reset();
    m_nPageImageId = 0;
    const int cxBar = m_layout.rcBar.right - m_layout.rcBar.left;
    const int cyBar = m_layout.rcBar.bottom - m_layout.rcBar.top;
    m_bmpBarFill.Reset(LoadBitmapFromResource(IDR_JPG_BAR_FILL, cxBar, cyBar));
    m_bmpBarTrack.Reset(LoadBitmapFromResource(IDR_JPG_BAR_TRACK, cxBar, cyBar));
}

// The system suggests where the window goes at the new DPI, as large as the
// scaled design: the window has no frame.
void CSetupDlg::OnDpiChanged(UINT nDpi, const RECT& rcSuggested)
{
    ApplyLayout(nDpi);
    ::SetWindowPos(m_hWnd, nullptr, rcSuggested.left, rcSuggested.top, m_layout.client.cx, m_layout.client.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    RedrawPage(true);
}

void CSetupDlg::RedrawPage(bool bErase)
{
    if (m_hWnd)
        ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | (bErase ? RDW_ERASE : 0));
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
    case WM_DRAWITEM:
        DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        *pResult = TRUE;
        return true;
    case WM_COMMAND:
        return OnButtonCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        *pResult = 0;
        return true;
    case WM_CHANGEUISTATE:
    case WM_UPDATEUISTATE:
        OnUiStateChange(LOWORD(wParam), HIWORD(wParam));
        return false;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        m_bHighContrast = IsHighContrast();
        RedrawPage(true);
        return false;
    case WM_INSTALL_PROGRESS:
        *pResult = OnInstallProgress();
        return true;
    case WM_INSTALL_REPORT:
        ApplyReports();
        *pResult = 0;
        return true;
    default:
        return false;
    }
}

HBRUSH CSetupDlg::OnCtlColorStatic(HDC hdc, HWND hWndControl)
{
    for (MsgStatic* pLabel : {&m_staticPercent, &m_staticStatus, &m_staticDownload}) {
        if (!hWndControl || pLabel->GetSafeHwnd() != hWndControl)
            continue;
        HBRUSH hBrush = pLabel->CtlColor(hdc, CTLCOLOR_STATIC);
        if (!m_bHighContrast)
            return hBrush;
        ::SetTextColor(hdc, ::GetSysColor(COLOR_WINDOWTEXT));
        return ::GetSysColorBrush(COLOR_WINDOW);
    }
    return nullptr;
}

void CSetupDlg::EnterInstallingPage()
{
    m_nSetupState = PAGE_INSTALLING;
    if (HWND hLabel = m_staticPercent.GetSafeHwnd())
        ::ShowWindow(hLabel, SW_SHOW);
    UpdateButtons();
    UpdateDownloadLineVisibility();
    RedrawPage(true);
}

LRESULT CSetupDlg::OnInstallProgress()
{
    UpdateProgressText();
    return 1;
}

void CSetupDlg::OnTimer(UINT_PTR nIDEvent)
{
    // Stopped first, so the window ends once; the application then starts
    // the client.
    ::KillTimer(m_hWnd, nIDEvent);
    EndDialog(IDOK);
}

// Waits for nothing: whoever made the session joins it once the window has
// closed. A question a session's thread still waits for is answered "no".
void CSetupDlg::OnDestroy()
{
    std::vector<Report> reports;
    {
        std::lock_guard<std::mutex> lock(m_mutexReports);
        m_hWndReports = nullptr;
        reports.swap(m_reports);
    }
    for (Report& report : reports) {
        if (report.kind == Report::kPrompt)
            ::SetEvent(report.pPrompt->hAnswered.Get());
    }
    ::RemovePropW(m_hWnd, kSetupWindowProp);
    ReleaseImages();
    ::KillTimer(m_hWnd, kLaunchTimerId);
    m_staticPercent.Detach();
    m_staticStatus.Detach();
    m_staticDownload.Detach();
}

void CSetupDlg::ReleaseImages()
{
    for (ScopedGdiObject* pBitmap : {&m_bmpPage, &m_bmpBarTrack, &m_bmpBarFill})
        pBitmap->Reset();
}

bool CSetupDlg::QueueReport(Report report)
{
    std::lock_guard<std::mutex> lock(m_mutexReports);
    if (!m_hWndReports)
        return false;
    // A burst of download reports comes to the latest: the line shows no
    // more than that.
    if (report.kind == Report::kDownload && !m_reports.empty() && m_reports.back().kind == Report::kDownload) {
        m_reports.back() = std::move(report);
        return true;
    }
    m_reports.push_back(std::move(report));
    if (m_reports.size() == 1 && !::PostMessageW(m_hWndReports, WM_INSTALL_REPORT, 0, 0)) {
        m_reports.clear();
        return false;
    }
    return true;
}

void CSetupDlg::ApplyReports()
{
    std::vector<Report> reports;
    {
        std::lock_guard<std::mutex> lock(m_mutexReports);
        reports.swap(m_reports);
    }
    for (const Report& report : reports)
        Apply(report);
}

void CSetupDlg::Apply(const Report& report)
{
    HWND hStatus = m_staticStatus.GetSafeHwnd();
    switch (report.kind) {
    case Report::kPackageStarted:
        if (hStatus)
            ::SetWindowTextW(hStatus, report.strText.c_str());
        break;
    case Report::kError:
        if (hStatus) {
            ::ShowWindow(hStatus, SW_SHOW);
            m_staticStatus.SetTextColor(kErrorTextColor);
            ::SetWindowTextW(hStatus, report.strText.c_str());
            // Screen readers say the text, wherever the focus is.
            ::NotifyWinEvent(EVENT_SYSTEM_ALERT, hStatus, OBJID_CLIENT, CHILDID_SELF);
        }
        break;
    case Report::kErrorCleared:
        if (hStatus)
            ::ShowWindow(hStatus, SW_HIDE);
        break;
    case Report::kDownload:
        m_bDownloading = !report.download.bEnded;
        if (HWND hLabel = m_staticDownload.GetSafeHwnd(); hLabel && m_bDownloading)
            ::SetWindowTextW(hLabel, DownloadLineText(report.download).c_str());
        break;
    case Report::kFinished:
        // An installed client is started a moment later; SetTimer only
        // works on a window of the calling thread.
        ::SetTimer(m_hWnd, kLaunchTimerId, kLaunchTimerPeriodMs, nullptr);
        break;
    case Report::kPrompt:
        AnswerPrompt(*report.pPrompt);
        break;
    case Report::kCancelPrompt:
        // The prompt or notice open now is the abandoned one: the session
        // asks one question at a time.
        ::EnumThreadWindows(::GetCurrentThreadId(), CancelOwnedPopup, reinterpret_cast<LPARAM>(m_hWnd));
        break;
    }
    UpdateDownloadLineVisibility();
}

void CSetupDlg::AnswerPrompt(Prompt& prompt)
{
    if (!prompt.bAbandoned) {
        if (prompt.kind == Prompt::kCredentials)
            prompt.bOk = RunProxyAuthPrompt(m_hWnd, &prompt.strUser, &prompt.strPassword);
        else
            ShowProxyAuthRefused(m_hWnd);
    }
    ::SetEvent(prompt.hAnswered.Get());
}

bool CSetupDlg::AskUser(const StopToken& stop, const std::shared_ptr<Prompt>& pPrompt)
{
    if (!pPrompt->hAnswered || !QueueReport({Report::kPrompt, L"", {}, pPrompt}))
        return false;
    const HANDLE handles[2] = {pPrompt->hAnswered.Get(), stop.Event()};
    if (::WaitForMultipleObjects(2, handles, FALSE, stop.WaitLimit()) == WAIT_OBJECT_0)
        return true;
    pPrompt->bAbandoned = true;
    QueueReport({Report::kCancelPrompt, L"", {}, nullptr});
    return false;
}

bool CSetupDlg::AskProxyCredentials(const StopToken& stop, std::wstring* pstrUser, std::wstring* pstrPassword)
{
    auto pPrompt = std::make_shared<Prompt>();
    pPrompt->kind = Prompt::kCredentials;
    if (!AskUser(stop, pPrompt) || !pPrompt->bOk)
        return false;
    *pstrUser = pPrompt->strUser;
    *pstrPassword = pPrompt->strPassword;
    return true;
}

void CSetupDlg::ShowProxyCredentialsRefused(const StopToken& stop)
{
    auto pPrompt = std::make_shared<Prompt>();
    pPrompt->kind = Prompt::kRefused;
    AskUser(stop, pPrompt);
}

void CSetupDlg::OnPackageStarted(const std::wstring& strPackage)
{
    QueueReport({Report::kPackageStarted, PackageStatusText(strPackage), {}, nullptr});
}

void CSetupDlg::OnError(const InstallError& error)
{
    // Decided at once, on the reporting thread: a close that follows asks
    // nothing, whenever the window gets to show the text.
    m_bAsksBeforeClose = false;
    QueueReport({Report::kError, InstallErrorText(error), {}, nullptr});
}

void CSetupDlg::OnErrorCleared()
{
    QueueReport({Report::kErrorCleared, L"", {}, nullptr});
}

void CSetupDlg::OnPackageDownload(const PackageDownloadState& state)
{
    QueueReport({Report::kDownload, L"", state, nullptr});
}

void CSetupDlg::OnFinished(bool bSucceeded)
{
    if (bSucceeded)
        QueueReport({Report::kFinished, L"", {}, nullptr});
}

void CSetupDlg::OnProgress(int nPercent)
{
    m_nProgress = nPercent;
    std::lock_guard<std::mutex> lock(m_mutexReports);
    if (m_hWndReports)
        ::PostMessageW(m_hWndReports, WM_INSTALL_PROGRESS, 0, 0);
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
    RedrawPage(false);
}

void CSetupDlg::OnClickBrowser()
{
    wchar_t szFolder[MAX_PATH];
    if (!BrowseForFolder(m_hWnd, szFolder))
        return;
    // No link, junction or Windows folder on its way; the earlier location
    // stays.
    const Result walked = WalkChosenFolder(szFolder, false);
    if (!walked) {
        LogError(L"[CSetupDlg::OnClickBrowser] %ls refused: %ls error=%lu", szFolder, walked.What(), walked.Error());
        ::MessageBoxW(m_hWnd, L"所选路径不能用于安装，请选择其他路径。", L"提示", MB_OK | MB_ICONWARNING);
        return;
    }
    if (!SettleBrowsedLocation(szFolder)) {
        ::MessageBoxW(m_hWnd, L"所选路径太长，请选择一个较短的安装路径。", L"提示", MB_OK | MB_ICONWARNING);
        return;
    }
    RedrawPage(true);
}
