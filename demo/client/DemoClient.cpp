// The demo client "iKVLRemote.exe": one window that says which version it
// is and which folder it runs from, in the font its skin package names.
#include <windows.h>

#include <string>

namespace {

constexpr wchar_t kWindowClass[] = L"FenmoraDemoClient";
constexpr int kWidth = 520;
constexpr int kHeight = 240;
constexpr int kIconId = 1;

struct ClientWindow {
    std::wstring strText;
    HFONT hFont = nullptr;
};

std::wstring ProgramFolder()
{
    wchar_t szPath[MAX_PATH] = {};
    DWORD cch = ::GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring strPath(szPath, cch < MAX_PATH ? cch : 0);
    size_t nSlash = strPath.find_last_of(L"\\/");
    return nSlash == std::wstring::npos ? std::wstring() : strPath.substr(0, nSlash);
}

std::wstring ReadProfile(const std::wstring& strFile, const wchar_t* pszSection, const wchar_t* pszKey)
{
    wchar_t szValue[128] = {};
    ::GetPrivateProfileStringW(pszSection, pszKey, L"", szValue, 128, strFile.c_str());
    return szValue;
}

void OnPaint(HWND hWnd, const ClientWindow& window)
{
    PAINTSTRUCT ps;
    HDC hdc = ::BeginPaint(hWnd, &ps);
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    ::FillRect(hdc, &rc, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::InflateRect(&rc, -24, -24);
    HGDIOBJ hOld = ::SelectObject(hdc, window.hFont ? window.hFont : ::GetStockObject(DEFAULT_GUI_FONT));
    ::SetTextColor(hdc, RGB(0x1F, 0x3A, 0x5F));
    ::SetBkMode(hdc, TRANSPARENT);
    ::DrawTextW(hdc, window.strText.c_str(), -1, &rc, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(hdc, hOld);
    ::EndPaint(hWnd, &ps);
}

LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_NCCREATE) {
        auto* pCreate = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pCreate->lpCreateParams));
    }
    auto* pWindow = reinterpret_cast<ClientWindow*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    switch (uMsg) {
    case WM_PAINT:
        if (pWindow) {
            OnPaint(hWnd, *pWindow);
            return 0;
        }
        break;
    case WM_DESTROY:
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int nShow)
{
    const std::wstring strFolder = ProgramFolder();
    const std::wstring strVersion = ReadProfile(strFolder + L"\\config\\ZUZ.System.config", L"Client", L"Version");
    const std::wstring strFace = ReadProfile(strFolder + L"\\skin\\font.ini", L"Skin", L"Face");

    // The title carries version and folder too, so a script can read them.
    const std::wstring strTitle = L"Fenmora " + strVersion + L" - " + strFolder;
    ClientWindow window;
    window.strText = L"Fenmora 客户端（演示版）\n\n版本：" +
                     (strVersion.empty() ? L"（设置文件中没有版本）" : strVersion) + L"\n运行目录：" + strFolder +
                     L"\n字体：" + (strFace.empty() ? L"（没有安装字体包）" : strFace);
    window.hFont = ::CreateFontW(-20, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                                 strFace.empty() ? L"宋体" : strFace.c_str());

    WNDCLASSEXW wc = {sizeof(wc)};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = hInstance;
    wc.hIcon = ::LoadIconW(hInstance, MAKEINTRESOURCEW(kIconId));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&wc))
        return 1;

    RECT rcWork = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    HWND hWnd = ::CreateWindowExW(0, kWindowClass, strTitle.c_str(), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU |
                                  WS_MINIMIZEBOX, rcWork.left + (rcWork.right - rcWork.left - kWidth) / 2,
                                  rcWork.top + (rcWork.bottom - rcWork.top - kHeight) / 2, kWidth, kHeight, nullptr,
                                  nullptr, hInstance, &window);
    if (!hWnd)
        return 1;
    ::ShowWindow(hWnd, nShow);
    ::UpdateWindow(hWnd);

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (window.hFont)
        ::DeleteObject(window.hFont);
    return 0;
}
