#pragma once

#include "engine/InstallSession.h"
#include "ui/SetupDlg.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The setup window as the tests drive it: the real CSetupDlg at the
// program's default location, with one extra message that runs a function
// on the window's thread, its state open to the tests, and a session
// factory of its own: the sessions it starts are the test's, joined when
// the object goes.
class CTestSetupDlg : public CSetupDlg {
public:
    CTestSetupDlg();
    ~CTestSetupDlg() override;

    using CSetupDlg::EnterInstallingPage;
    using CSetupDlg::m_bHighContrast;
    using CSetupDlg::m_bmpBarFill;
    using CSetupDlg::m_bmpBarTrack;
    using CSetupDlg::m_bmpPage;
    using CSetupDlg::m_font;
    using CSetupDlg::m_hHandCursor;
    using CSetupDlg::m_hIcon;
    using CSetupDlg::m_nPageImageId;
    using CSetupDlg::m_nProgress;
    using CSetupDlg::m_nSetupState;
    using CSetupDlg::m_settings;
    using CSetupDlg::m_staticPercent;
    using CSetupDlg::m_staticStatus;
    using CSetupDlg::SettleBrowsedLocation;
    // The observer's calls, as a session's threads make them.
    using CSetupDlg::AskProxyCredentials;
    using CSetupDlg::OnError;
    using CSetupDlg::OnErrorCleared;
    using CSetupDlg::OnFinished;
    using CSetupDlg::OnPackageDownload;
    using CSetupDlg::OnPackageStarted;
    using CSetupDlg::OnProgress;

    // The session the install button started, or none; from any thread.
    InstallSession* Session() const { return m_pSessionSeen; }
    InstallOutcome Outcome() const
    {
        InstallSession* pSession = m_pSessionSeen;
        return pSession ? pSession->Outcome() : InstallOutcome();
    }
    // What the next click on the install button gets instead of a session.
    std::atomic<SessionStart::Kind> m_nextStart{SessionStart::kStarted};

    // Has the installs the window starts ask a port nothing listens on:
    // every attempt fails at the package list.
    void InstallFromNowhere();

    // Runs fn on the window's thread and returns when it has run.
    void RunOnUiThread(const std::function<void()>& fn);
    // Has the window's thread run fn when it next reads its queue; the
    // caller's thread goes on at once.
    void PostToUiThread(std::function<void()> fn);

    // Set when the window is first shown.
    HANDLE m_hOpenedEvent = nullptr;
    // Ticks of the launch timer the window has received.
    std::atomic<int> m_nLaunchTimerTicks{0};
    // Queues of reports the window has applied (WM_INSTALL_REPORT).
    std::atomic<int> m_nReportMessages{0};

protected:
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

private:
    std::unique_ptr<InstallSession> m_pStarted;
    std::atomic<InstallSession*> m_pSessionSeen{nullptr};
};

// A client-area screenshot, 32-bit 0x00RRGGBB pixels, row by row.
struct Screenshot {
    int cx = 0;
    int cy = 0;
    std::vector<uint32_t> pixels;

    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * cx + x]; }
    // Pixels in the rectangle darker than the threshold on every channel.
    int CountDark(const RECT& rc, int nThreshold = 0x90) const;
    // Writes a BMP when SETUP_SCREENSHOT_DIR names a folder.
    void Save(const std::wstring& strName) const;
};

// The pixels of a bitmap, such as the window's artwork.
Screenshot ShotOfBitmap(HBITMAP hBitmap);

int Red(uint32_t px);
int Green(uint32_t px);
int Blue(uint32_t px);
// The brand red of the progress fill, as opposed to the grey track and white.
bool IsFillRed(uint32_t px);
bool IsColor(uint32_t px, uint32_t rgb, int nTolerance = 2);

// Runs the window modally on a thread of its own, as the application does
// on its main thread, and ends it at destruction if the test did not.
class CWindowUnderTest {
public:
    CWindowUnderTest();
    ~CWindowUnderTest();
    CWindowUnderTest(const CWindowUnderTest&) = delete;
    CWindowUnderTest& operator=(const CWindowUnderTest&) = delete;

    // False when the window did not open within a few seconds.
    bool Opened() const { return m_hWnd != nullptr; }
    CTestSetupDlg& Dlg() { return *m_pDlg; }
    HWND Hwnd() const { return m_hWnd; }
    DWORD ThreadId() const { return m_dwThreadId; }

    // Waits until the modal loop has ended; false on time-out.
    bool WaitEnded(DWORD dwTimeoutMs);
    INT_PTR Result() const { return m_nResult; }

    // Paints the window now and reads its client area from the screen.
    Screenshot Capture();

    // Screen coordinates of a client point.
    POINT ToScreen(POINT ptClient) const;
    // Input through the system's input queue, as from the mouse.
    void MoveMouseTo(POINT ptClient);
    void Click(POINT ptClient);
    // Press at one client point, move in steps to another, release there.
    void Drag(POINT ptFrom, POINT ptTo);
    // A key, with a modifier such as VK_SHIFT or VK_MENU held, to the
    // window's focused control.
    void PressKey(WORD wVirtualKey, WORD wModifier = 0);

    // A message box that the window's thread shows, or null.
    HWND FindMessageBox() const;

    void EnterInstallingPage();
    // Sets the progress and sends the progress message, as the install run
    // posts it; returns the handler's result.
    LRESULT SendProgress(int nProgress);

private:
    static DWORD WINAPI ThreadProc(LPVOID pParam);

    CTestSetupDlg* m_pDlg = nullptr;
    HWND m_hWnd = nullptr;
    HANDLE m_hThread = nullptr;
    DWORD m_dwThreadId = 0;
    HANDLE m_hOpened = nullptr;
    INT_PTR m_nResult = -2;
};

// Polls pred every 20 ms until it holds or the time is up.
bool WaitFor(const std::function<bool()>& pred, DWORD dwTimeoutMs = 5000);

// The window's text of a control.
std::wstring WindowText(HWND hWnd);
