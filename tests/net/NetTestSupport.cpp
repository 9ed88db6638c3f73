#include "tests/net/NetTestSupport.h"

#include "log/Log.h"
#include "net/HttpDownload.h"
#include "net/ProxyAuthDlg.h"
#include "tests/support/TempDir.h"
#include "tests/support/UnixProgram.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <regex>

DownloadCaller::DownloadCaller(int32_t nCapacity)
{
    if (nCapacity > 0) {
        pBuffer = new uint8_t[static_cast<size_t>(nCapacity)];
        std::memset(pBuffer, 0, static_cast<size_t>(nCapacity));
        this->nCapacity = nCapacity;
    }
}

DownloadCaller::~DownloadCaller()
{
    delete[] pBuffer;
}

int DownloadCaller::Download(const std::wstring& strUrl, IProxyPrompt* pPrompt)
{
    if (pBuffer)
        std::memset(pBuffer, 0, static_cast<size_t>(nCapacity));
    nSize = 0;
    return HttpDownload(strUrl.c_str(), &pBuffer, &nSize, &nCapacity, szProxyUser, szProxyPassword, pPrompt);
}

namespace {

std::string UnixScratchDir()
{
    std::wstring str = EnvString(L"NET_TEST_SCRATCH");
    return Narrow(str.empty() ? L"/tmp" : str);
}

std::wstring Widen(const std::string& str)
{
    int cch = ::MultiByteToWideChar(CP_UTF8, 0, str.c_str(), static_cast<int>(str.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(cch), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, str.c_str(), static_cast<int>(str.size()), &out[0], cch);
    return out;
}

}  // namespace

std::wstring EnvString(const wchar_t* pszName)
{
    const wchar_t* psz = _wgetenv(pszName);
    return psz ? psz : L"";
}

int EnvPort(const wchar_t* pszName)
{
    return _wtoi(EnvString(pszName).c_str());
}

std::wstring LocalUrl(const wchar_t* pszPortVariable, const std::wstring& strPath)
{
    return L"http://127.0.0.1:" + std::to_wstring(EnvPort(pszPortVariable)) + strPath;
}

std::wstring WindowsPathOf(const std::wstring& strUnixPath)
{
    std::wstring str = L"Z:" + strUnixPath;
    for (wchar_t& ch : str)
        if (ch == L'/')
            ch = L'\\';
    return str;
}

std::vector<uint8_t> FaultPattern(size_t cb)
{
    std::vector<uint8_t> data(cb);
    for (size_t i = 0; i < cb; ++i)
        data[i] = static_cast<uint8_t>(i % 251);
    return data;
}

int RunUnixScript(const std::string& strScript, DWORD dwTimeoutMs, std::string* pstrOutput)
{
    // A Unix child cannot be waited for: the script leaves its exit code in
    // a file instead.
    static std::atomic<unsigned> s_nNext{0};
    std::string strBase =
        UnixScratchDir() + "/run-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(s_nNext++);
    std::string strWrapped = "exec >'" + strBase + ".out' 2>&1 </dev/null\n" + strScript + "\necho $? > '" + strBase +
                             ".rc.tmp' && mv '" + strBase + ".rc.tmp' '" + strBase + ".rc'\n";
    std::wstring strScriptFile = WindowsPathOf(Widen(strBase + ".sh"));
    std::wstring strRcFile = WindowsPathOf(Widen(strBase + ".rc"));
    std::wstring strOutFile = WindowsPathOf(Widen(strBase + ".out"));
    if (!WriteFileBytes(strScriptFile, strWrapped.data(), strWrapped.size()))
        return -1;

    if (!StartUnixProgram(nullptr, L"/bin/sh " + Widen(strBase + ".sh")))
        return -1;

    int nResult = -1;
    for (DWORD dwWaited = 0; dwWaited < dwTimeoutMs; dwWaited += 50) {
        if (PathExists(strRcFile)) {
            std::vector<uint8_t> rc = ReadFileBytes(strRcFile);
            nResult = std::atoi(std::string(rc.begin(), rc.end()).c_str());
            break;
        }
        ::Sleep(50);
    }
    if (pstrOutput) {
        std::vector<uint8_t> out = ReadFileBytes(strOutFile);
        pstrOutput->assign(out.begin(), out.end());
    }
    for (const std::wstring& strFile : {strScriptFile, strRcFile, strOutFile})
        ::DeleteFileW(strFile.c_str());
    return nResult;
}

namespace {

struct DialogSearch {
    const wchar_t* pszCaption;
    HWND hFound;
};

BOOL CALLBACK FindOwnDialogProc(HWND hWnd, LPARAM lParam)
{
    auto* pSearch = reinterpret_cast<DialogSearch*>(lParam);
    DWORD dwProcessId = 0;
    ::GetWindowThreadProcessId(hWnd, &dwProcessId);
    wchar_t szClass[16] = {};
    wchar_t szCaption[64] = {};
    ::GetClassNameW(hWnd, szClass, 16);
    ::GetWindowTextW(hWnd, szCaption, 64);
    if (dwProcessId == ::GetCurrentProcessId() && ::IsWindowVisible(hWnd) && std::wcscmp(szClass, L"#32770") == 0 &&
        std::wcscmp(szCaption, pSearch->pszCaption) == 0) {
        pSearch->hFound = hWnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND WaitForDialog(const wchar_t* pszCaption, DWORD dwTimeoutMs)
{
    for (DWORD dwWaited = 0; dwWaited <= dwTimeoutMs; dwWaited += 20) {
        DialogSearch search = {pszCaption, nullptr};
        ::EnumWindows(&FindOwnDialogProc, reinterpret_cast<LPARAM>(&search));
        if (search.hFound)
            return search.hFound;
        ::Sleep(20);
    }
    return nullptr;
}

unsigned long XWindowOf(HWND hWnd)
{
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(::GetPropW(hWnd, L"__wine_x11_whole_window")));
}

namespace {

BOOL CALLBACK CloseWindowProc(HWND hWnd, LPARAM)
{
    ::PostMessageW(hWnd, WM_CLOSE, 0, 0);
    return TRUE;
}

}  // namespace

CBackgroundCall::CBackgroundCall(std::function<void()> fn) : m_hDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    m_thread = std::thread([this, fn = std::move(fn)] {
        m_dwThreadId = ::GetCurrentThreadId();
        fn();
        ::SetEvent(m_hDone);
    });
}

CBackgroundCall::~CBackgroundCall()
{
    // A call left waiting in a dialog or message box after a failed check.
    while (!Wait(200)) {
        ::EnumThreadWindows(m_dwThreadId, &CloseWindowProc, 0);
    }
    m_thread.join();
    ::CloseHandle(m_hDone);
}

bool CBackgroundCall::Wait(DWORD dwTimeoutMs)
{
    return ::WaitForSingleObject(m_hDone, dwTimeoutMs) == WAIT_OBJECT_0;
}

COwnerWindow::COwnerWindow() : m_hReady(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    m_thread = std::thread([this] {
        m_dwThreadId = ::GetCurrentThreadId();
        m_hWnd = ::CreateWindowExW(0, L"STATIC", L"owner window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100,
                                   nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        ::SetEvent(m_hReady);
        MSG msg;
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (::IsWindow(m_hWnd))
            ::DestroyWindow(m_hWnd);
    });
    ::WaitForSingleObject(m_hReady, INFINITE);
}

COwnerWindow::~COwnerWindow()
{
    ::PostThreadMessageW(m_dwThreadId, WM_QUIT, 0, 0);
    m_thread.join();
    ::CloseHandle(m_hReady);
}

bool CScriptedProxyPrompt::AskCredentials(std::wstring* pstrUser, std::wstring* pstrPassword)
{
    size_t nIndex = static_cast<size_t>(m_nPrompts++);
    if (nIndex >= m_answers.size())
        return false;
    const Answer& answer = m_answers[nIndex];
    if (answer.nResult != IDOK)
        return false;
    *pstrUser = answer.strUser;
    *pstrPassword = answer.strPassword;
    return true;
}

bool CDialogProxyPrompt::AskCredentials(std::wstring* pstrUser, std::wstring* pstrPassword)
{
    return RunProxyAuthPrompt(m_hWndOwner, pstrUser, pstrPassword);
}

void CDialogProxyPrompt::ShowCredentialsRefused()
{
    ShowProxyAuthRefused(m_hWndOwner);
}

namespace {
const wchar_t kInternetSettingsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
}

CProxySettingsGuard::CProxySettingsGuard(int nPort)
{
    HKEY hKey = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &hKey,
                          nullptr) != ERROR_SUCCESS)
        return;
    for (SavedValue& saved : m_saved) {
        DWORD cb = 0;
        if (::RegQueryValueExW(hKey, saved.pszName, nullptr, &saved.dwType, nullptr, &cb) == ERROR_SUCCESS) {
            saved.data.resize(cb);
            saved.bPresent = ::RegQueryValueExW(hKey, saved.pszName, nullptr, &saved.dwType, saved.data.data(), &cb) ==
                             ERROR_SUCCESS;
        }
    }
    DWORD dwEnable = 1;
    ::RegSetValueExW(hKey, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwEnable), sizeof(dwEnable));
    std::wstring strServer = L"127.0.0.1:" + std::to_wstring(nPort);
    ::RegSetValueExW(hKey, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(strServer.c_str()),
                     static_cast<DWORD>((strServer.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(hKey);
}

CProxySettingsGuard::~CProxySettingsGuard()
{
    HKEY hKey = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_WRITE, &hKey) != ERROR_SUCCESS)
        return;
    for (const SavedValue& saved : m_saved) {
        if (saved.bPresent)
            ::RegSetValueExW(hKey, saved.pszName, 0, saved.dwType, saved.data.data(),
                             static_cast<DWORD>(saved.data.size()));
        else
            ::RegDeleteValueW(hKey, saved.pszName);
    }
    ::RegCloseKey(hKey);
}

int Xdotool(HWND hWnd, std::initializer_list<std::string> commands)
{
    // "type" and "key" take every argument after them, so each command runs
    // as an xdotool of its own.
    std::string strScript = "set -e\nxdotool windowfocus --sync " + std::to_string(XWindowOf(hWnd)) + "\n";
    for (const std::string& strCommand : commands)
        strScript += "xdotool " + strCommand + "\n";
    std::string strOutput;
    int nResult = RunUnixScript(strScript, 20000, &strOutput);
    if (nResult != 0)
        std::printf("xdotool failed (%d): %s\n%s\n", nResult, strOutput.c_str(), strScript.c_str());
    return nResult;
}

std::string XdoClick(HWND hWnd)
{
    RECT rc = {};
    ::GetWindowRect(hWnd, &rc);
    // No --sync: xdotool waits long for a move to where the pointer already
    // is. The X server takes the move and the click in order anyway.
    return "mousemove " + std::to_string((rc.left + rc.right) / 2) + " " + std::to_string((rc.top + rc.bottom) / 2) +
           " click 1";
}
