#include "tests/ui/WindowDriver.h"

#include "engine/PackageList.h"
#include "system/InstallLocation.h"
#include "ui/FontCheck.h"
#include "ui/ResourceImage.h"
#include "ui/UiMessages.h"

#include <objbase.h>

#include <cstdlib>
#include <cwchar>

namespace {

// Test-only messages of CTestSetupDlg; the product's own ids are in
// ui/UiMessages.h, far below these.
constexpr UINT kRunOnUiThreadMsg = WM_APP + 0x300;
constexpr UINT kPostedToUiThreadMsg = WM_APP + 0x301;

constexpr DWORD kOpenTimeoutMs = 10000;
constexpr DWORD kEndTimeoutMs = 10000;

void SendMouse(DWORD dwFlags, POINT ptScreen)
{
    int cxScreen = ::GetSystemMetrics(SM_CXSCREEN);
    int cyScreen = ::GetSystemMetrics(SM_CYSCREEN);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    // Rounded up, so the system's conversion back lands on the same pixel.
    input.mi.dx = static_cast<LONG>((static_cast<LONGLONG>(ptScreen.x) * 65536 + cxScreen - 1) / cxScreen);
    input.mi.dy = static_cast<LONG>((static_cast<LONGLONG>(ptScreen.y) * 65536 + cyScreen - 1) / cyScreen);
    input.mi.dwFlags = dwFlags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    ::SendInput(1, &input, sizeof(input));
}

struct ThreadStart {
    CWindowUnderTest* pThis;
    HANDLE hCreated;
};

struct MessageBoxSearch {
    HWND hOwner;
    HWND hFound;
};

BOOL CALLBACK FindMessageBoxProc(HWND hWnd, LPARAM lParam)
{
    MessageBoxSearch* pSearch = reinterpret_cast<MessageBoxSearch*>(lParam);
    wchar_t szClass[16] = {};
    ::GetClassNameW(hWnd, szClass, 16);
    if (hWnd != pSearch->hOwner && std::wcscmp(szClass, L"#32770") == 0 && ::IsWindowVisible(hWnd)) {
        pSearch->hFound = hWnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

namespace {

InstallSettings DefaultSettings()
{
    InstallLocation location;
    GetDestPath(&location);
    return ProgramInstallSettings(location, PackageGroupsFor(IsFontInstalled()), false);
}

}  // namespace

CTestSetupDlg::CTestSetupDlg()
    : CSetupDlg(DefaultSettings(), [this](const InstallSettings& settings, IInstallObserver* pObserver) {
          if (m_nextStart != SessionStart::kStarted)
              return SessionStart{m_nextStart, nullptr};
          m_pStarted = std::make_unique<InstallSession>(settings, pObserver);
          if (!m_pStarted->Start())
              return SessionStart{SessionStart::kFailed, nullptr};
          m_pSessionSeen = m_pStarted.get();
          return SessionStart{SessionStart::kStarted, m_pStarted.get()};
      })
{
}

// The session reports to the window until it has ended.
CTestSetupDlg::~CTestSetupDlg()
{
    if (m_pStarted)
        m_pStarted->Stop();
    m_pSessionSeen = nullptr;
    m_pStarted.reset();
}

void CTestSetupDlg::InstallFromNowhere()
{
    RunOnUiThread([this] { m_settings.strBaseUrl = L"http://127.0.0.1:1/EX3/"; });
}

void CTestSetupDlg::RunOnUiThread(const std::function<void()>& fn)
{
    ::SendMessageW(m_hWnd, kRunOnUiThreadMsg, 0, reinterpret_cast<LPARAM>(&fn));
}

void CTestSetupDlg::PostToUiThread(std::function<void()> fn)
{
    auto* pFn = new std::function<void()>(std::move(fn));
    if (!::PostMessageW(m_hWnd, kPostedToUiThreadMsg, 0, reinterpret_cast<LPARAM>(pFn)))
        delete pFn;
}

bool CTestSetupDlg::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (uMsg == kRunOnUiThreadMsg) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        *pResult = 0;
        return true;
    }
    if (uMsg == kPostedToUiThreadMsg) {
        auto* pFn = reinterpret_cast<std::function<void()>*>(lParam);
        (*pFn)();
        delete pFn;
        *pResult = 0;
        return true;
    }
    if (uMsg == WM_TIMER && wParam == kLaunchTimerId)
        ++m_nLaunchTimerTicks;
    if (uMsg == WM_INSTALL_REPORT) {
        // Counted once handled, so that a test that sees the count sees
        // the labels as the reports left them.
        bool bHandled = CSetupDlg::OnMessage(uMsg, wParam, lParam, pResult);
        ++m_nReportMessages;
        return bHandled;
    }
    // The dialog manager shows the window after its initialisation.
    if (uMsg == WM_SHOWWINDOW && wParam && m_hOpenedEvent)
        ::SetEvent(m_hOpenedEvent);
    return CSetupDlg::OnMessage(uMsg, wParam, lParam, pResult);
}

int Screenshot::CountDark(const RECT& rc, int nThreshold) const
{
    int nCount = 0;
    for (int y = rc.top; y < rc.bottom; ++y) {
        for (int x = rc.left; x < rc.right; ++x) {
            uint32_t px = At(x, y);
            if (Red(px) < nThreshold && Green(px) < nThreshold && Blue(px) < nThreshold)
                ++nCount;
        }
    }
    return nCount;
}

void Screenshot::Save(const std::wstring& strName) const
{
    const wchar_t* pszDir = _wgetenv(L"SETUP_SCREENSHOT_DIR");
    if (!pszDir || !*pszDir || cx == 0)
        return;
    ::CreateDirectoryW(pszDir, nullptr);
    std::wstring strPath = std::wstring(pszDir) + L"\\" + strName + L".bmp";
    BITMAPINFOHEADER bih = {};
    bih.biSize = sizeof(bih);
    bih.biWidth = cx;
    bih.biHeight = -cy;
    bih.biPlanes = 1;
    bih.biBitCount = 32;
    bih.biCompression = BI_RGB;
    DWORD cbPixels = static_cast<DWORD>(pixels.size() * sizeof(uint32_t));
    BITMAPFILEHEADER bfh = {};
    bfh.bfType = 0x4D42;
    bfh.bfOffBits = sizeof(bfh) + sizeof(bih);
    bfh.bfSize = bfh.bfOffBits + cbPixels;
    HANDLE hFile = ::CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    DWORD cbWritten = 0;
    ::WriteFile(hFile, &bfh, sizeof(bfh), &cbWritten, nullptr);
    ::WriteFile(hFile, &bih, sizeof(bih), &cbWritten, nullptr);
    ::WriteFile(hFile, pixels.data(), cbPixels, &cbWritten, nullptr);
    ::CloseHandle(hFile);
}

int Red(uint32_t px)
{
    return static_cast<int>((px >> 16) & 0xFF);
}

int Green(uint32_t px)
{
    return static_cast<int>((px >> 8) & 0xFF);
}

int Blue(uint32_t px)
{
    return static_cast<int>(px & 0xFF);
}

bool IsFillRed(uint32_t px)
{
    return Red(px) > 180 && Red(px) - Green(px) > 100 && Red(px) - Blue(px) > 100;
}

bool IsColor(uint32_t px, uint32_t rgb, int nTolerance)
{
    return std::abs(Red(px) - Red(rgb)) <= nTolerance && std::abs(Green(px) - Green(rgb)) <= nTolerance &&
           std::abs(Blue(px) - Blue(rgb)) <= nTolerance;
}

CWindowUnderTest::CWindowUnderTest()
{
    m_hOpened = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE hCreated = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ThreadStart start = {this, hCreated};
    m_hThread = ::CreateThread(nullptr, 0, &CWindowUnderTest::ThreadProc, &start, 0, &m_dwThreadId);
    ::WaitForSingleObject(hCreated, kOpenTimeoutMs);
    ::CloseHandle(hCreated);
    // A window that cannot be made ends the thread at once.
    HANDLE handles[] = {m_hOpened, m_hThread};
    if (::WaitForMultipleObjects(2, handles, FALSE, kOpenTimeoutMs) == WAIT_OBJECT_0)
        m_hWnd = m_pDlg->GetSafeHwnd();
}

DWORD WINAPI CWindowUnderTest::ThreadProc(LPVOID pParam)
{
    ThreadStart start = *static_cast<ThreadStart*>(pParam);
    CWindowUnderTest* pThis = start.pThis;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    pThis->m_pDlg = new CTestSetupDlg();
    pThis->m_pDlg->m_hOpenedEvent = pThis->m_hOpened;
    ::SetEvent(start.hCreated);
    pThis->m_nResult = pThis->m_pDlg->DoModal();
    ::CoUninitialize();
    return 0;
}

CWindowUnderTest::~CWindowUnderTest()
{
    if (::WaitForSingleObject(m_hThread, 0) == WAIT_TIMEOUT && m_hWnd) {
        if (HWND hBox = FindMessageBox())
            ::PostMessageW(hBox, WM_COMMAND, IDCANCEL, 0);
        HWND hWnd = m_hWnd;
        m_pDlg->PostToUiThread([hWnd] { ::EndDialog(hWnd, IDCANCEL); });
    }
    if (::WaitForSingleObject(m_hThread, kEndTimeoutMs) == WAIT_TIMEOUT)
        ::TerminateThread(m_hThread, 1);
    ::CloseHandle(m_hThread);
    ::CloseHandle(m_hOpened);
    delete m_pDlg;
}

bool CWindowUnderTest::WaitEnded(DWORD dwTimeoutMs)
{
    return ::WaitForSingleObject(m_hThread, dwTimeoutMs) == WAIT_OBJECT_0;
}

Screenshot ShotOf(HDC hdcSource, int cx, int cy)
{
    Screenshot shot;
    shot.cx = cx;
    shot.cy = cy;
    shot.pixels.assign(static_cast<size_t>(shot.cx) * shot.cy, 0);

    void* pBits = nullptr;
    HDC hdcMem = ::CreateCompatibleDC(hdcSource);
    HBITMAP hBitmap = CreateTopDownSection(cx, cy, 32, &pBits);
    HGDIOBJ hOld = ::SelectObject(hdcMem, hBitmap);
    ::BitBlt(hdcMem, 0, 0, shot.cx, shot.cy, hdcSource, 0, 0, SRCCOPY);
    ::GdiFlush();
    const uint32_t* pSrc = static_cast<const uint32_t*>(pBits);
    for (size_t i = 0; i < shot.pixels.size(); ++i)
        shot.pixels[i] = pSrc[i] & 0x00FFFFFF;
    ::SelectObject(hdcMem, hOld);
    ::DeleteObject(hBitmap);
    ::DeleteDC(hdcMem);
    return shot;
}

Screenshot ShotOfBitmap(HBITMAP hBitmap)
{
    BITMAP bm = {};
    if (!hBitmap || !::GetObjectW(hBitmap, sizeof(bm), &bm))
        return {};
    HDC hdc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ hOld = ::SelectObject(hdc, hBitmap);
    Screenshot shot = ShotOf(hdc, bm.bmWidth, bm.bmHeight);
    ::SelectObject(hdc, hOld);
    ::DeleteDC(hdc);
    return shot;
}

Screenshot CWindowUnderTest::Capture()
{
    HWND hWnd = m_hWnd;
    m_pDlg->RunOnUiThread([hWnd] { ::RedrawWindow(hWnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN); });
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    HDC hdcWindow = ::GetDC(hWnd);
    Screenshot shot = ShotOf(hdcWindow, rc.right, rc.bottom);
    ::ReleaseDC(hWnd, hdcWindow);
    return shot;
}

POINT CWindowUnderTest::ToScreen(POINT ptClient) const
{
    POINT pt = ptClient;
    ::ClientToScreen(m_hWnd, &pt);
    return pt;
}

void CWindowUnderTest::MoveMouseTo(POINT ptClient)
{
    SendMouse(0, ToScreen(ptClient));
    ::Sleep(50);
}

void CWindowUnderTest::Click(POINT ptClient)
{
    POINT pt = ToScreen(ptClient);
    SendMouse(0, pt);
    ::Sleep(30);
    SendMouse(MOUSEEVENTF_LEFTDOWN, pt);
    ::Sleep(30);
    SendMouse(MOUSEEVENTF_LEFTUP, pt);
    ::Sleep(100);
}

void CWindowUnderTest::Drag(POINT ptFrom, POINT ptTo)
{
    // Screen points fixed up front: the window moves under the pointer.
    POINT ptStart = ToScreen(ptFrom);
    POINT ptEnd = ToScreen(ptTo);
    SendMouse(0, ptStart);
    ::Sleep(50);
    SendMouse(MOUSEEVENTF_LEFTDOWN, ptStart);
    ::Sleep(100);
    constexpr int kSteps = 5;
    for (int i = 1; i <= kSteps; ++i) {
        POINT pt = {ptStart.x + (ptEnd.x - ptStart.x) * i / kSteps, ptStart.y + (ptEnd.y - ptStart.y) * i / kSteps};
        SendMouse(0, pt);
        ::Sleep(50);
    }
    SendMouse(MOUSEEVENTF_LEFTUP, ptEnd);
    ::Sleep(200);
}

void CWindowUnderTest::PressKey(WORD wVirtualKey, WORD wModifier)
{
    ::SetForegroundWindow(m_hWnd);
    ::Sleep(50);
    std::vector<INPUT> inputs;
    auto key = [&inputs](WORD wKey, DWORD dwFlags) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = wKey;
        input.ki.dwFlags = dwFlags;
        inputs.push_back(input);
    };
    if (wModifier)
        key(wModifier, 0);
    key(wVirtualKey, 0);
    key(wVirtualKey, KEYEVENTF_KEYUP);
    if (wModifier)
        key(wModifier, KEYEVENTF_KEYUP);
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    ::Sleep(100);
}

HWND CWindowUnderTest::FindMessageBox() const
{
    MessageBoxSearch search = {m_hWnd, nullptr};
    ::EnumThreadWindows(m_dwThreadId, &FindMessageBoxProc, reinterpret_cast<LPARAM>(&search));
    return search.hFound;
}

void CWindowUnderTest::EnterInstallingPage()
{
    CTestSetupDlg* pDlg = m_pDlg;
    pDlg->RunOnUiThread([pDlg] { pDlg->EnterInstallingPage(); });
}

LRESULT CWindowUnderTest::SendProgress(int nProgress)
{
    m_pDlg->m_nProgress = nProgress;
    return ::SendMessageW(m_hWnd, WM_INSTALL_PROGRESS, 0, 0);
}

bool WaitFor(const std::function<bool()>& pred, DWORD dwTimeoutMs)
{
    DWORD dwStart = ::GetTickCount();
    while (!pred()) {
        if (::GetTickCount() - dwStart > dwTimeoutMs)
            return false;
        ::Sleep(20);
    }
    return true;
}

std::wstring WindowText(HWND hWnd)
{
    wchar_t szText[256] = {};
    ::GetWindowTextW(hWnd, szText, 256);
    return szText;
}
