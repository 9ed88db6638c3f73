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

// How long the window's thread waits for the desktop shell. Reaching it may
// first start the system's RPC service, which can take seconds (a fresh
// Wine prefix: about ten); past this the client is started directly.
constexpr DWORD kShellAnswerMs = 2000;
enum : int { kLaunchOpen, kLaunchShell, kLaunchDirect };

struct ShellLaunch {
    std::wstring strProgram;
    std::wstring strFolder;
    std::atomic<int> nClaim{kLaunchOpen};
    std::atomic<HRESULT> hrFind{E_PENDING};
    std::atomic<HRESULT> hrLaunch{E_PENDING};
};

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

bool StartInstalledClient(const wchar_t* pszSetupPath)
{
    wchar_t szProgram[MAX_PATH] = {};
    if (!pszSetupPath || !ComposeClientProgramPath(pszSetupPath, szProgram))
        return false;
    // The desktop shell starts it later and reports nothing about the file.
    const DWORD dwAttributes = ::GetFileAttributesW(szProgram);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;

    auto pLaunch = std::make_shared<ShellLaunch>();
    pLaunch->strProgram = szProgram;
    pLaunch->strFolder = pszSetupPath;
    auto* pThreadRef = new std::shared_ptr<ShellLaunch>(pLaunch);
    ScopedHandle thread(::CreateThread(nullptr, 0, ShellLaunchThread, pThreadRef, 0, nullptr));
    if (!thread)
        delete pThreadRef;
    bool bEnded = !thread || ::WaitForSingleObject(thread.Get(), kShellAnswerMs) == WAIT_OBJECT_0;
    int nOpen = kLaunchOpen;
    // Whoever claims the launch first starts the client: the shell's thread
    // once it has the shell, or this one when the shell did not answer.
    if (!bEnded && !pLaunch->nClaim.compare_exchange_strong(nOpen, kLaunchDirect)) {
        ::WaitForSingleObject(thread.Get(), kShellAnswerMs);
        nOpen = kLaunchShell;
    }
    if (nOpen == kLaunchShell || pLaunch->nClaim == kLaunchShell) {
        const HRESULT hr = pLaunch->hrLaunch;
        LogNormal(L"[StartInstalledClient] started through the desktop shell: %ls hr=0x%08lX", szProgram, hr);
        return SUCCEEDED(hr);
    }
    // Only where no shell offers its window: the client then runs with
    // this process's rights.
    HINSTANCE hResult = ::ShellExecuteW(nullptr, L"open", szProgram, nullptr, pszSetupPath, SW_SHOW);
    const int nResult = static_cast<int>(reinterpret_cast<INT_PTR>(hResult));
    LogNormal(L"[StartInstalledClient] no desktop shell (hr=0x%08lX): started directly %ls result=%d",
              static_cast<unsigned long>(bEnded ? pLaunch->hrFind.load() : HRESULT_FROM_WIN32(WAIT_TIMEOUT)),
              szProgram, nResult);
    // Values above 32 mean success.
    return nResult > 32;
}
