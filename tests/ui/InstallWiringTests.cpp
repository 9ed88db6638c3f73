#include <winsock2.h>

#include "resources/resource.h"
#include "system/ClientProcess.h"
#include "tests/support/TempDir.h"
#include "tests/ui/WindowDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <thread>

namespace {

// A server on 127.0.0.1 that answers every request with the same bytes and
// closes the connection, until it goes.
class CAnsweringServer {
public:
    explicit CAnsweringServer(std::string strAnswer) : m_strAnswer(std::move(strAnswer))
    {
        WSADATA wsa;
        ::WSAStartup(MAKEWORD(2, 2), &wsa);
        m_listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int cbAddr = sizeof(addr);
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(m_listener, 4) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &cbAddr) != 0)
            return;
        m_nPort = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CAnsweringServer()
    {
        m_bEnding = true;
        ::closesocket(m_listener);
        if (m_thread.joinable())
            m_thread.join();
        ::WSACleanup();
    }
    CAnsweringServer(const CAnsweringServer&) = delete;
    CAnsweringServer& operator=(const CAnsweringServer&) = delete;

    // 0 when it could not listen.
    int Port() const { return m_nPort; }

private:
    void Serve()
    {
        while (!m_bEnding) {
            SOCKET client = ::accept(m_listener, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                continue;
            // The request's head, then the answer.
            std::string strRequest;
            char buffer[1024];
            int cb = 0;
            while (strRequest.find("\r\n\r\n") == std::string::npos &&
                   (cb = ::recv(client, buffer, sizeof(buffer), 0)) > 0)
                strRequest.append(buffer, static_cast<size_t>(cb));
            ::send(client, m_strAnswer.data(), static_cast<int>(m_strAnswer.size()), 0);
            ::closesocket(client);
        }
    }

    const std::string m_strAnswer;
    SOCKET m_listener = INVALID_SOCKET;
    int m_nPort = 0;
    std::atomic<bool> m_bEnding{false};
    std::thread m_thread;
};

}  // namespace

TEST(InstallWiring, InstallButtonStartsTheSessionAndTheInstallingPage)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    dlg.InstallFromNowhere();

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

// The proxy prompt is the window's own, on its thread; a stop of the
// session while it is open closes it and ends the session.
TEST(InstallWiring, StopClosesAnOpenProxyPromptAndEndsTheSession)
{
    CAnsweringServer server("HTTP/1.1 407 Proxy Authentication Required\r\n"
                            "Proxy-Authenticate: Basic realm=\"test\"\r\nContent-Length: 0\r\n"
                            "Connection: close\r\n\r\n");
    ASSERT_NE(server.Port(), 0);
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    const std::wstring strUrl = L"http://127.0.0.1:" + std::to_wstring(server.Port()) + L"/EX3/";
    dlg.RunOnUiThread([&] { dlg.m_settings.strBaseUrl = strUrl; });
    window.Click({168, 168});

    HWND hPrompt = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (hPrompt = ::FindWindowW(nullptr, L"代理验证")) != nullptr; }, 20000));
    EXPECT_EQ(window.Hwnd(), ::GetWindow(hPrompt, GW_OWNER));
    EXPECT_EQ(window.ThreadId(), ::GetWindowThreadProcessId(hPrompt, nullptr)) << "the window's thread asks";
    ASSERT_NE(dlg.Session(), nullptr);
    dlg.Session()->Stop();
    EXPECT_TRUE(WaitFor([&] { return !::IsWindow(hPrompt); })) << "the prompt stayed open";
    ASSERT_TRUE(dlg.Session()->Wait(5000));
    const InstallOutcome outcome = dlg.Outcome();
    EXPECT_TRUE(outcome.bStopRequested);
    EXPECT_FALSE(outcome.bSucceeded);
    EXPECT_FALSE(window.WaitEnded(0)) << "the window stays";
}
