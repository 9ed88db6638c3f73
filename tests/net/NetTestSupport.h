#pragma once

#include "net/ProxyPrompt.h"
#include "tests/support/LogCapture.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

// What the setup window keeps for its downloads: the buffer, its counts and
// the remembered proxy credentials, used the way the install run uses them.
struct DownloadCaller {
    explicit DownloadCaller(int32_t nCapacity = 0xA00000);
    ~DownloadCaller();
    DownloadCaller(const DownloadCaller&) = delete;
    DownloadCaller& operator=(const DownloadCaller&) = delete;

    // Clears the buffer and the count, then downloads.
    int Download(const std::wstring& strUrl, IProxyPrompt* pPrompt = nullptr);
    std::vector<uint8_t> Body() const { return {pBuffer, pBuffer + nSize}; }

    uint8_t* pBuffer = nullptr;
    int32_t nCapacity = 0;
    int32_t nSize = 0;
    wchar_t szProxyUser[kProxyCredentialChars] = {};
    wchar_t szProxyPassword[kProxyCredentialChars] = {};
};

std::wstring EnvString(const wchar_t* pszName);
int EnvPort(const wchar_t* pszName);
// "http://127.0.0.1:<port of the variable><path>".
std::wstring LocalUrl(const wchar_t* pszPortVariable, const std::wstring& strPath);
// A Unix path as Wine's Z: drive shows it.
std::wstring WindowsPathOf(const std::wstring& strUnixPath);
// The body the fault server sends for /bytes/<n>.
std::vector<uint8_t> FaultPattern(size_t cb);

// Runs a shell script on the Unix side (xdotool and friends) and waits up
// to dwTimeoutMs for it; returns its exit code, -1 when it did not finish.
int RunUnixScript(const std::string& strScript, DWORD dwTimeoutMs = 20000, std::string* pstrOutput = nullptr);

// Waits for a visible top-level dialog of this process with the caption.
HWND WaitForDialog(const wchar_t* pszCaption, DWORD dwTimeoutMs = 10000);
// The X window that shows a top-level window, for xdotool.
unsigned long XWindowOf(HWND hWnd);

// Runs a function on a thread of its own (the install run's thread in the
// installer), so that the test thread stays free to drive the windows. If
// the call is still running when the object goes, the windows of its thread
// are closed so that it can end.
class CBackgroundCall {
public:
    explicit CBackgroundCall(std::function<void()> fn);
    ~CBackgroundCall();
    CBackgroundCall(const CBackgroundCall&) = delete;
    CBackgroundCall& operator=(const CBackgroundCall&) = delete;

    // True when the call has returned within the time.
    bool Wait(DWORD dwTimeoutMs);

private:
    HANDLE m_hDone;
    std::thread m_thread;
    std::atomic<DWORD> m_dwThreadId{0};
};

// A visible top-level window on a thread of its own that keeps pumping
// messages, as the setup window does on the user-interface thread: owned
// dialogs on other threads disable and enable it by sent messages.
class COwnerWindow {
public:
    COwnerWindow();
    ~COwnerWindow();
    COwnerWindow(const COwnerWindow&) = delete;
    COwnerWindow& operator=(const COwnerWindow&) = delete;

    HWND Get() const { return m_hWnd; }

private:
    HWND m_hWnd = nullptr;
    DWORD m_dwThreadId = 0;
    HANDLE m_hReady;
    std::thread m_thread;
};

// Answers the proxy prompt without a window, from a list of answers, and
// counts the prompts and refusal notices.
class CScriptedProxyPrompt : public IProxyPrompt {
public:
    struct Answer {
        INT_PTR nResult;
        std::wstring strUser;
        std::wstring strPassword;
    };

    void Queue(INT_PTR nResult, std::wstring strUser = L"", std::wstring strPassword = L"")
    {
        m_answers.push_back({nResult, std::move(strUser), std::move(strPassword)});
    }

    bool AskCredentials(std::wstring* pstrUser, std::wstring* pstrPassword) override;
    void ShowCredentialsRefused() override { ++m_nRefusals; }

    int m_nPrompts = 0;
    int m_nRefusals = 0;

private:
    std::vector<Answer> m_answers;
};

// The real prompt and notice, owned by a window, on the calling thread.
class CDialogProxyPrompt : public IProxyPrompt {
public:
    explicit CDialogProxyPrompt(HWND hWndOwner) : m_hWndOwner(hWndOwner) {}
    bool AskCredentials(std::wstring* pstrUser, std::wstring* pstrPassword) override;
    void ShowCredentialsRefused() override;

private:
    HWND m_hWndOwner;
};

// Points Wine's proxy settings (what INTERNET_OPEN_TYPE_PRECONFIG reads) at
// a proxy on 127.0.0.1 and puts the previous values back afterwards.
class CProxySettingsGuard {
public:
    explicit CProxySettingsGuard(int nPort);
    ~CProxySettingsGuard();
    CProxySettingsGuard(const CProxySettingsGuard&) = delete;
    CProxySettingsGuard& operator=(const CProxySettingsGuard&) = delete;

private:
    struct SavedValue {
        const wchar_t* pszName;
        bool bPresent = false;
        DWORD dwType = 0;
        std::vector<BYTE> data;
    };
    SavedValue m_saved[2] = {{L"ProxyEnable"}, {L"ProxyServer"}};
};

// xdotool commands that act on a window of this process as a user would:
// the window is given the keyboard focus first (there is no window manager
// to do it), then the commands run in order. Returns 0 when all succeeded.
int Xdotool(HWND hWnd, std::initializer_list<std::string> commands);
// "mousemove X Y click 1" at the middle of a window.
std::string XdoClick(HWND hWnd);
