#include "ui/SetupDlg.h"

#include "resources/resource.h"
#include "system/InstallLocation.h"
#include "ui/UiMessages.h"

#include <shlobj.h>

#include <cwchar>

namespace {

constexpr int kWindowWidth = 530;
constexpr int kWindowHeight = 360;

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

}  // namespace

CSetupDlg::CSetupDlg(HWND hWndParent) : CDialog(IDD_SETUP_DIALOG, hWndParent)
{
    m_hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    GetDestPath();
    m_hHandCursor = ::LoadCursorW(nullptr, IDC_HAND);
}

CSetupDlg::~CSetupDlg() = default;

BOOL CSetupDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    // Centred on the work area of the screen, before it is first shown.
    RECT rcWork = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    int x = rcWork.left + (rcWork.right - rcWork.left - kWindowWidth) / 2;
    int y = rcWork.top + (rcWork.bottom - rcWork.top - kWindowHeight) / 2;
    ::MoveWindow(m_hWnd, x, y, kWindowWidth, kWindowHeight, TRUE);

    m_rcClose = {500, 0, 530, 32};
    m_rcMinimize = {470, 0, 500, 32};
    m_rcInstall = {168, 168, 363, 215};
    m_rcBrowse = {440, 270, 492, 298};
    m_rcAgreeBox = {8, 334, 24, 351};
    m_rcAgreeLink = {91, 339, 162, 350};
    m_ptPathBox = {38, 270};
    m_ptSpaceLine = {38, 300};
    return TRUE;
}

bool CSetupDlg::OnMessage(UINT uMsg, WPARAM, LPARAM lParam, LRESULT* pResult)
{
    switch (uMsg) {
    case WM_PAINT:
        OnPaint();
        *pResult = 0;
        return true;
    case WM_ERASEBKGND:
        *pResult = 1;
        return true;
    case WM_LBUTTONUP:
        OnLButtonUp({static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
        *pResult = 0;
        return true;
    case WM_QUERYDRAGICON:
        *pResult = reinterpret_cast<LRESULT>(m_hIcon);
        return true;
    default:
        return false;
    }
}

void CSetupDlg::OnPaint()
{
    PAINTSTRUCT ps;
    HDC hdc = ::BeginPaint(m_hWnd, &ps);
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    ::FillRect(hdc, &rc, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));

    ::SetBkMode(hdc, TRANSPARENT);
    wchar_t szText[2 * MAX_PATH];
    std::swprintf(szText, 2 * MAX_PATH, L"%ls%ls", m_szInstallRoot, kProductFolderName);
    ::TextOutW(hdc, m_ptPathBox.x, m_ptPathBox.y, szText, static_cast<int>(wcslen(szText)));
    std::swprintf(szText, 2 * MAX_PATH, L"所需空间：%ls（当前空间%.2fG）", kRequiredSpaceText,
                  GetFreeSpaceGB(m_szInstallRoot));
    ::TextOutW(hdc, m_ptSpaceLine.x, m_ptSpaceLine.y, szText, static_cast<int>(wcslen(szText)));
    ::EndPaint(m_hWnd, &ps);
}

void CSetupDlg::OnLButtonUp(POINT pt)
{
    if (::PtInRect(&m_rcClose, pt)) {
        EndDialog(IDCANCEL);
    } else if (::PtInRect(&m_rcMinimize, pt)) {
        ::ShowWindow(m_hWnd, SW_MINIMIZE);
    } else if (m_nSetupState == PAGE_READY && ::PtInRect(&m_rcBrowse, pt)) {
        OnClickBrowser();
    }
}

void CSetupDlg::OnClickBrowser()
{
    wchar_t szFolder[MAX_PATH];
    if (!BrowseForFolder(szFolder))
        return;
    if (!SettleBrowsedLocation(szFolder)) {
        ::MessageBoxW(m_hWnd, L"所选路径太长，请选择一个较短的安装路径。", L"提示", MB_OK | MB_ICONWARNING);
        return;
    }
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}
