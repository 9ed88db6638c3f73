#include <winsock2.h>

#include "resources/resource.h"
#include "system/ClientProcess.h"
#include "tests/support/TempDir.h"
#include "tests/ui/WindowDriver.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <thread>

TEST(InstallWiring, InstallButtonStartsTheSessionAndTheInstallingPage)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    // Nothing listens there: every attempt fails at the package list.
    dlg.RunOnUiThread([&dlg] { dlg.m_settings.strBaseUrl = L"http://127.0.0.1:1/EX3/"; });

    window.Click({168, 168});
    ASSERT_TRUE(WaitFor([&] { return dlg.m_nSetupState == PAGE_INSTALLING; }));
    EXPECT_TRUE(dlg.Outcome().bStarted);
    EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(window.Hwnd(), IDC_PERCENT_LABEL)));

    // Three failed attempts end with the error of the last one on screen.
    ASSERT_TRUE(WaitFor([&] { return dlg.Outcome().bFinished; }, 60000));
    EXPECT_FALSE(dlg.Outcome().bSucceeded);
    HWND hStatus = ::GetDlgItem(window.Hwnd(), IDC_STATUS_LABEL);
    EXPECT_TRUE(WaitFor([&] { return ::IsWindowVisible(hStatus) && !WindowText(hStatus).empty(); }));

    // A second click starts nothing more; after an error close asks nothing.
    window.Click({200, 190});
    window.Click({510, 10});
    ASSERT_TRUE(window.WaitEnded(5000));
    EXPECT_EQ(IDCANCEL, window.Result());
}

TEST(InstallWiring, ClientRunningFromTheInstallFolderRefusesToStart)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    dlg.m_nextStart = SessionStart::kClientRunning;
    window.Click({200, 190});
    HWND hBox = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (hBox = window.FindMessageBox()) != nullptr; }));
    EXPECT_EQ(L"提示", WindowText(hBox));
    EXPECT_EQ(L"程序正在运行，请先关闭程序再安装", WindowText(::GetDlgItem(hBox, 0xFFFF)));
    EXPECT_EQ(window.Hwnd(), ::GetWindow(hBox, GW_OWNER));
    ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitFor([&] { return window.FindMessageBox() == nullptr; }));
    EXPECT_EQ(PAGE_READY, dlg.m_nSetupState);
    EXPECT_FALSE(dlg.Outcome().bStarted);
}

// The application starts the client once the window has closed this way.
TEST(InstallWiring, FinishedInstallEndsTheWindowAfterASecond)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    DWORD dwStart = ::GetTickCount();
    std::thread([&dlg] { dlg.OnFinished(true); }).join();
    ASSERT_TRUE(window.WaitEnded(5000));
    EXPECT_EQ(IDOK, window.Result());
    EXPECT_GE(::GetTickCount() - dwStart, 900u);
}

// A server that takes the request and never answers: the session's
// download blocks until the stop ends it.
TEST(InstallWiring, ConfirmedCloseStopsTheSessionInItsDownload)
{
    WSADATA wsa;
    ASSERT_EQ(0, ::WSAStartup(MAKEWORD(2, 2), &wsa));
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int cbAddr = sizeof(addr);
    ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    ASSERT_EQ(0, ::listen(listener, 4));
    ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &cbAddr));
    {
        CWindowUnderTest window;
        ASSERT_TRUE(window.Opened());
        CTestSetupDlg& dlg = window.Dlg();
        const std::wstring strUrl = L"http://127.0.0.1:" + std::to_wstring(ntohs(addr.sin_port)) + L"/EX3/";
        dlg.RunOnUiThread([&] { dlg.m_settings.strBaseUrl = strUrl; });
        window.Click({168, 168});
        ASSERT_TRUE(WaitFor([&] { return dlg.m_nSetupState == PAGE_INSTALLING; }));
        ::Sleep(300);

        window.Click({510, 10});
        HWND hBox = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (hBox = window.FindMessageBox()) != nullptr; }));
        EXPECT_FALSE(dlg.Outcome().bStopRequested);
        ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(window.WaitEnded(5000)) << "the window waited for the blocked download";
        ASSERT_TRUE(dlg.Session()->Wait(5000)) << "the stop did not end the blocked download";
        const InstallOutcome outcome = dlg.Outcome();
        EXPECT_TRUE(outcome.bStopRequested);
        EXPECT_TRUE(outcome.bFinished);
        EXPECT_FALSE(outcome.bSucceeded);
    }
    ::closesocket(listener);
    ::WSACleanup();
}
