#include "system/ClientProcess.h"

#include "framework/ScopedHandle.h"
#include "framework/StringCompare.h"
#include "log/Log.h"
#include "system/ClientFiles.h"
#include "system/PathFormat.h"
#include "system/ScopedCom.h"

#include <exdisp.h>
#include <psapi.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <atomic>
#include <cwchar>
#include <memory>
#include <string>

namespace {

// The snapshot reports failure with INVALID_HANDLE_VALUE.
using ScopedSnapshot = CScopedHandle<FileHandleTraits>;

// The main module's path; the image path where the module list cannot be
// read (a 64-bit process seen from this 32-bit one).
void ReadImagePath(HANDLE hProcess, wchar_t (&szPath)[MAX_PATH])
{
    std::wmemset(szPath, 0, MAX_PATH);
    if (::GetModuleFileNameExW(hProcess, nullptr, szPath, MAX_PATH) != 0)
        return;
    DWORD cch = MAX_PATH;
    if (!::QueryFullProcessImageNameW(hProcess, 0, szPath, &cch))
        std::wmemset(szPath, 0, MAX_PATH);
}

// The automation object of the desktop's folder view. The desktop's shell
// runs as the signed-in user, so what it starts does not inherit this
// elevated token. Where there is none (no desktop window, as for a service
// or a session without the shell), the first failing step's code;
// FindWindowSW answers S_FALSE when it finds no window.
HRESULT FindDesktopShell(ScopedComPtr<IShellDispatch2>* pShell)
{
    ScopedComPtr<IShellWindows> windows;
    HRESULT hr = ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IShellWindows),
                                    windows.PutVoid());
    if (FAILED(hr))
        return hr;
    VARIANT location = {};
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT root = {};
    LONG hwnd = 0;
    ScopedComPtr<IDispatch> desktop;
    hr = windows->FindWindowSW(&location, &root, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH, desktop.Put());
    if (hr != S_OK || !desktop)
        return FAILED(hr) ? hr : E_NOINTERFACE;

    ScopedComPtr<IServiceProvider> services;
    ScopedComPtr<IShellBrowser> browser;
    ScopedComPtr<IShellView> view;
    ScopedComPtr<IDispatch> background;
    ScopedComPtr<IShellFolderViewDual> folderView;
    ScopedComPtr<IDispatch> application;
    if (FAILED(hr = desktop->QueryInterface(__uuidof(IServiceProvider), services.PutVoid())) ||
        FAILED(hr = services->QueryService(SID_STopLevelBrowser, __uuidof(IShellBrowser), browser.PutVoid())) ||
        FAILED(hr = browser->QueryActiveShellView(view.Put())) ||
        FAILED(hr = view->GetItemObject(SVGIO_BACKGROUND, __uuidof(IDispatch), background.PutVoid())) ||
        FAILED(hr = background->QueryInterface(__uuidof(IShellFolderViewDual), folderView.PutVoid())) ||
        FAILED(hr = folderView->get_Application(application.Put())))
        return hr;
    return application->QueryInterface(__uuidof(IShellDispatch2), pShell->PutVoid());
}

// The string stays with its owner.
VARIANT StringArgument(BSTR bstr)
{
    VARIANT v = {};
    v.vt = VT_BSTR;
    v.bstrVal = bstr;
    return v;
}

HRESULT ShellExecuteThrough(IShellDispatch2* pShell, const wchar_t* pszProgram, const wchar_t* pszFolder)
{
    ScopedBstr file(pszProgram);
    ScopedBstr folder(pszFolder);
    ScopedBstr verb(L"open");
    ScopedBstr empty(L"");
    if (!file || !folder || !verb || !empty)
        return E_OUTOFMEMORY;
    VARIANT show = {};
    show.vt = VT_I4;
    show.lVal = SW_SHOW;
    return pShell->ShellExecute(file.Get(), StringArgument(empty.Get()), StringArgument(folder.Get()),
                                StringArgument(verb.Get()), show);
}

// How long the shell may take to answer. Its first call may have to start
// the system's RPC service; the window has gone by then, and nothing else
// waits.
constexpr DWORD kShellAnswerMs = 30000;

struct ShellLaunch {
    std::wstring strProgram;
    std::wstring strFolder;
    // Set by the first of the shell's thread (launched) and the waiter
    // (gave up): the other then leaves the launch alone.
    std::atomic<int> nClaim{0};
    std::atomic<HRESULT> hrFind{E_PENDING};
    std::atomic<HRESULT> hrLaunch{E_PENDING};
};
enum : int { kLaunchOpen, kLaunchShell, kLaunchGivenUp };

// Finds the desktop shell and, if the launch is still unclaimed, starts the
// client through it. Owns one reference to the launch: the thread may
// outlive the caller's wait.
DWORD WINAPI ShellLaunchThread(LPVOID pParam)
{
    std::unique_ptr<std::shared_ptr<ShellLaunch>> pRef(static_cast<std::shared_ptr<ShellLaunch>*>(pParam));
    ShellLaunch& launch = **pRef;
    CComInit com;
    ScopedComPtr<IShellDispatch2> shell;
    launch.hrFind = FindDesktopShell(&shell);
    int nOpen = kLaunchOpen;
    if (FAILED(launch.hrFind) || !launch.nClaim.compare_exchange_strong(nOpen, kLaunchShell))
        return 0;
    launch.hrLaunch = ShellExecuteThrough(shell.Get(), launch.strProgram.c_str(), launch.strFolder.c_str());
    return 0;
}

// Starts the client through the desktop shell, waiting up to the bound;
// false, with *phr saying why, when the shell was not there or refused.
bool StartThroughShell(const wchar_t* pszProgram, const wchar_t* pszFolder, HRESULT* phr)
{
    auto pLaunch = std::make_shared<ShellLaunch>();
    pLaunch->strProgram = pszProgram;
    pLaunch->strFolder = pszFolder;
    auto* pThreadRef = new std::shared_ptr<ShellLaunch>(pLaunch);
    ScopedHandle thread(::CreateThread(nullptr, 0, ShellLaunchThread, pThreadRef, 0, nullptr));
    if (!thread) {
        delete pThreadRef;
        *phr = HRESULT_FROM_WIN32(::GetLastError());
        return false;
    }
    if (::WaitForSingleObject(thread.Get(), kShellAnswerMs) != WAIT_OBJECT_0) {
        int nOpen = kLaunchOpen;
        // The shell answered in the very end: its launch goes on.
        if (pLaunch->nClaim.compare_exchange_strong(nOpen, kLaunchGivenUp)) {
            *phr = HRESULT_FROM_WIN32(WAIT_TIMEOUT);
            return false;
        }
        ::WaitForSingleObject(thread.Get(), INFINITE);
    }
    *phr = pLaunch->nClaim == kLaunchShell ? pLaunch->hrLaunch.load() : pLaunch->hrFind.load();
    return pLaunch->nClaim == kLaunchShell && SUCCEEDED(*phr);
}

// The token of the desktop's shell process, the signed-in user's, as a
// primary token to start a program with; none without a shell window.
ScopedHandle DesktopUserToken()
{
    DWORD dwProcessId = 0;
    HWND hShell = ::GetShellWindow();
    if (!hShell || !::GetWindowThreadProcessId(hShell, &dwProcessId))
        return ScopedHandle();
    ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwProcessId));
    ScopedHandle token;
    ScopedHandle primary;
    if (!process || !::OpenProcessToken(process.Get(), TOKEN_DUPLICATE, token.Put()) ||
        !::DuplicateTokenEx(token.Get(),
                            TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                                TOKEN_ADJUST_SESSIONID,
                            nullptr, SecurityImpersonation, TokenPrimary, primary.Put()))
        return ScopedHandle();
    return primary;
}

bool StartWithToken(HANDLE hToken, const wchar_t* pszProgram, const wchar_t* pszFolder, DWORD* pdwError)
{
    std::wstring strCommandLine = L"\"" + std::wstring(pszProgram) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessWithTokenW(hToken, 0, pszProgram, &strCommandLine[0], 0, nullptr, pszFolder, &si, &pi)) {
        *pdwError = ::GetLastError();
        return false;
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    *pdwError = ERROR_SUCCESS;
    return true;
}

bool IsTokenElevated(HANDLE hToken)
{
    TOKEN_ELEVATION elevation = {};
    DWORD cb = 0;
    return ::GetTokenInformation(hToken, TokenElevation, &elevation, sizeof(elevation), &cb) &&
           elevation.TokenIsElevated;
}

bool IsLocalSystem(HANDLE hToken)
{
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD cb = 0;
    BYTE system[SECURITY_MAX_SID_SIZE];
    DWORD cbSystem = sizeof(system);
    return ::GetTokenInformation(hToken, TokenUser, buffer, sizeof(buffer), &cb) &&
           ::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &cbSystem) &&
           ::EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, system);
}

// What decides how this process may start a program for the user.
LaunchFacts ProcessLaunchFacts()
{
    LaunchFacts facts;
    ScopedHandle token;
    DWORD dwSession = 1;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put())) {
        facts.bElevated = IsTokenElevated(token.Get());
        facts.bSystemInSessionZero = IsLocalSystem(token.Get()) &&
                                     ::ProcessIdToSessionId(::GetCurrentProcessId(), &dwSession) && dwSession == 0;
    }
    return facts;
}

// The privileges this process enabled (to see other processes) are off
// again before anything is started: nothing the client gets from here
// carries them.
void DisableAllPrivileges()
{
    ScopedHandle token;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Put()))
        ::AdjustTokenPrivileges(token.Get(), TRUE, nullptr, 0, nullptr, nullptr);
}

}  // namespace

bool EnablePrivilege(const wchar_t* pszName)
{
    ScopedHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Put()))
        return false;
    TOKEN_PRIVILEGES tp = {};
    if (!::LookupPrivilegeValueW(nullptr, pszName, &tp.Privileges[0].Luid))
        return false;
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // Succeeds also when the token does not hold the privilege; only the
    // error code tells.
    if (!::AdjustTokenPrivileges(token.Get(), FALSE, &tp, sizeof(tp), nullptr, nullptr))
        return false;
    return ::GetLastError() == ERROR_SUCCESS;
}

bool EnableDebugPrivilege()
{
    return EnablePrivilege(SE_DEBUG_NAME);
}

bool IsProgramInFolder(const wchar_t* pszImagePath, const wchar_t* pszFolder, const wchar_t* pszExeName)
{
    wchar_t szExpected[MAX_PATH];
    if (!pszImagePath || !*pszImagePath || !FormatPath(szExpected, L"%ls\\%ls", pszFolder, pszExeName))
        return false;
    return EqualIgnoringCase(pszImagePath, szExpected);
}

bool FindProcess(const wchar_t* pszExeName, const wchar_t* pszFolder)
{
    if (!pszExeName || !*pszExeName || !pszFolder || !*pszFolder)
        return false;
    ScopedSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return false;

    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = ::Process32FirstW(snapshot.Get(), &entry); bMore;
         bMore = ::Process32NextW(snapshot.Get(), &entry)) {
        if (EqualIgnoringCase(entry.szExeFile, pszExeName)) {
            EnableDebugPrivilege();
            ScopedHandle process(
                ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID));
            if (process) {
                wchar_t szImage[MAX_PATH];
                ReadImagePath(process.Get(), szImage);
                LogNormal(L"[FindProcess] Path=%ls", szImage);
                if (IsProgramInFolder(szImage, pszFolder, pszExeName))
                    return true;
            }
        }
        entry = {};
        entry.dwSize = sizeof(entry);
    }
    return false;
}

LaunchWay ChooseLaunchWay(const LaunchFacts& facts)
{
    if (facts.bSystemInSessionZero)
        return LaunchWay::kNotStarted;
    if (!facts.bElevated)
        return LaunchWay::kDirect;
    if (facts.bShellStarted)
        return LaunchWay::kShell;
    if (facts.bUserToken)
        return LaunchWay::kUserToken;
    return LaunchWay::kNotStarted;
}

void LogLaunch(LaunchWay way, const LaunchFacts& facts, const wchar_t* pszProgram, unsigned long nResult)
{
    switch (way) {
    case LaunchWay::kDirect:
        LogNormal(L"[StartInstalledClient] not elevated: started directly %ls result=%lu", pszProgram, nResult);
        break;
    case LaunchWay::kShell:
        LogNormal(L"[StartInstalledClient] started through the desktop shell: %ls hr=0x%08lX", pszProgram, nResult);
        break;
    case LaunchWay::kUserToken:
        LogNormal(L"[StartInstalledClient] no desktop shell: started as the desktop's user %ls error=%lu", pszProgram,
                  nResult);
        break;
    case LaunchWay::kNotStarted:
        if (facts.bSystemInSessionZero)
            LogNormal(L"[StartInstalledClient] running as SYSTEM in session 0: %ls is not started", pszProgram);
        else
            LogError(L"[StartInstalledClient] no desktop shell (hr=0x%08lX) and no desktop user's token: %ls is not "
                     L"started, not with this process's rights",
                     nResult, pszProgram);
        break;
    }
}

bool StartInstalledClient(const wchar_t* pszSetupPath)
{
    wchar_t szProgram[MAX_PATH] = {};
    if (!pszSetupPath || !ComposeClientProgramPath(pszSetupPath, szProgram))
        return false;
    // The desktop shell starts it later and reports nothing about the file.
    const DWORD dwAttributes = ::GetFileAttributesW(szProgram);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;

    DisableAllPrivileges();
    LaunchFacts facts = ProcessLaunchFacts();
    // Elevated, the client must not get this process's token: the shell's
    // own process starts it, or else the shell's user's token does.
    HRESULT hrShell = S_FALSE;
    if (facts.bElevated && !facts.bSystemInSessionZero)
        facts.bShellStarted = StartThroughShell(szProgram, pszSetupPath, &hrShell);
    ScopedHandle userToken;
    if (facts.bElevated && !facts.bSystemInSessionZero && !facts.bShellStarted) {
        userToken = DesktopUserToken();
        facts.bUserToken = static_cast<bool>(userToken);
    }

    const LaunchWay way = ChooseLaunchWay(facts);
    unsigned long nResult = static_cast<unsigned long>(hrShell);
    bool bStarted = false;
    switch (way) {
    case LaunchWay::kDirect: {
        const HINSTANCE hResult = ::ShellExecuteW(nullptr, L"open", szProgram, nullptr, pszSetupPath, SW_SHOW);
        nResult = static_cast<unsigned long>(reinterpret_cast<INT_PTR>(hResult));
        // Values above 32 mean success.
        bStarted = nResult > 32;
        break;
    }
    case LaunchWay::kShell:
        bStarted = true;
        break;
    case LaunchWay::kUserToken: {
        DWORD dwError = ERROR_SUCCESS;
        bStarted = StartWithToken(userToken.Get(), szProgram, pszSetupPath, &dwError);
        nResult = dwError;
        break;
    }
    case LaunchWay::kNotStarted:
        break;
    }
    LogLaunch(way, facts, szProgram, nResult);
    return bStarted;
}
