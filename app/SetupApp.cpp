#include "app/SetupApp.h"

#include "engine/InstallSession.h"
#include "engine/SetupCommandLine.h"
#include "framework/DllSearch.h"
#include "framework/ScopedHandle.h"
#include "log/Log.h"
#include "system/ClientFiles.h"
#include "system/ClientProcess.h"
#include "system/CommandLineArgs.h"
#include "ui/FontCheck.h"
#include "ui/SetupDlg.h"
#include "ui/UiMessages.h"

#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>
#include <objbase.h>
#include <shlobj.h>

Gdiplus::GdiplusStartupInput g_gdiplusStartupInput;
ULONG_PTR g_gdiplusToken = 0;

namespace {

// One installer at a time on the machine, whoever started it.
constexpr wchar_t kSingleInstanceMutex[] = L"Global\\FenmoraSetup.Running";

CSetupApp theApp;

BOOL CALLBACK FindSetupWindow(HWND hWnd, LPARAM lParam)
{
    if (!::GetPropW(hWnd, kSetupWindowProp))
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
}

void BringRunningSetupToFront()
{
    HWND hWnd = nullptr;
    ::EnumWindows(FindSetupWindow, reinterpret_cast<LPARAM>(&hWnd));
    if (!hWnd)
        return;
    if (::IsIconic(hWnd))
        ::ShowWindow(hWnd, SW_RESTORE);
    ::SetForegroundWindow(hWnd);
}

// The path with the short names of its longest existing part expanded, so
// that "C:\WINDOW~1\x" compares as "C:\Windows\x". The root stays as given.
std::wstring ExpandedPath(const std::wstring& strPath)
{
    for (size_t nEnd = strPath.size(); nEnd != std::wstring::npos && nEnd >= 3; nEnd = strPath.rfind(L'\\', nEnd - 1)) {
        const std::wstring strPrefix = strPath.substr(0, nEnd);
        const DWORD cchNeeded = ::GetLongPathNameW(strPrefix.c_str(), nullptr, 0);
        if (!cchNeeded)
            continue;
        std::wstring strLong(cchNeeded, L'\0');
        const DWORD cch = ::GetLongPathNameW(strPrefix.c_str(), &strLong[0], cchNeeded);
        if (cch && cch < cchNeeded)
            return strLong.substr(0, cch) + strPath.substr(nEnd);
    }
    return strPath;
}

// Empty when the system does not say.
std::wstring WindowsFolder()
{
    wchar_t szFolder[MAX_PATH] = {};
    const UINT cch = ::GetWindowsDirectoryW(szFolder, MAX_PATH);
    return cch && cch < MAX_PATH ? ExpandedPath(szFolder) : std::wstring();
}

// A folder from the command line, made ready to be settled like a browsed
// one: a full path whose install paths fit, outside the Windows folder,
// existing as a folder. Nothing is made for a refused one.
bool PrepareCommandLineFolder(const std::wstring& strGiven, std::wstring* pstrFolder)
{
    if (!NormalizeFolderPath(strGiven, pstrFolder))
        return false;
    // Not knowing the Windows folder refuses every folder.
    const std::wstring strWindows = WindowsFolder();
    if (strWindows.empty() || IsInWindowsFolder(ExpandedPath(*pstrFolder), strWindows))
        return false;
    InstallLocation location;
    if (!LocationFromFolder(pstrFolder->c_str(), &location))
        return false;
    const int nCreated = ::SHCreateDirectoryExW(nullptr, pstrFolder->c_str(), nullptr);
    if (nCreated != ERROR_SUCCESS && nCreated != ERROR_ALREADY_EXISTS && nCreated != ERROR_FILE_EXISTS)
        return false;
    const DWORD dwAttributes = ::GetFileAttributesW(pstrFolder->c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// What a silent install reports goes to the log only.
class CSilentObserver : public IInstallObserver {
public:
    void OnStatusText(const wchar_t*) override {}
    void OnErrorText(const wchar_t*) override {}
    void OnStatusHidden() override {}
    void OnProgress(int) override {}
    void OnPackageDownload(const PackageDownloadState&) override {}
    void OnFinished(bool) override {}
    HWND PromptOwner() const override { return nullptr; }
};

}  // namespace

int CSetupApp::Run(const wchar_t* pszArgs)
{
    SetupCommandLine commandLine;
    const bool bValid = ParseSetupCommandLine(pszArgs, &commandLine);

    // Held until the process ends. A mutex another user made and may not
    // share also means a copy is running.
    ScopedHandle mutex(::CreateMutexW(nullptr, FALSE, kSingleInstanceMutex));
    if (!mutex || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        if (!commandLine.bSilent)
            BringRunningSetupToFront();
        return kExitAlreadyRunning;
    }
    std::wstring strFolder;
    if (!bValid || (!commandLine.strFolder.empty() && !PrepareCommandLineFolder(commandLine.strFolder, &strFolder)))
        return kExitBadCommandLine;

    InitInstance(!commandLine.bSilent);
    const int nExitCode = commandLine.bSilent ? RunSilent(strFolder) : RunWindow(strFolder);
    ExitInstance();
    return nExitCode;
}

bool CSetupApp::InitInstance(bool bWindow)
{
    // The common controls serve the windows only; a silent run never loads
    // them (about 2.5 MiB resident under Wine).
    if (bWindow) {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
        ::InitCommonControlsEx(&icc);
    }
    // The folder browser and the shell links need COM on this thread.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    Gdiplus::GdiplusStartup(&g_gdiplusToken, &g_gdiplusStartupInput, nullptr);
    return true;
}

int CSetupApp::ExitInstance()
{
    ReleaseGdiplus();
    ::CoUninitialize();
    return 0;
}

// GDI+ draws the window only. Once the window has closed it is shut down
// and its DLL let go (about 0.5 MiB resident under Wine) before the client
// is started. The DLL's delay-load slots still point into it: nothing calls
// GDI+ after this.
void CSetupApp::ReleaseGdiplus()
{
    if (!g_gdiplusToken)
        return;
    Gdiplus::GdiplusShutdown(g_gdiplusToken);
    g_gdiplusToken = 0;
    if (HMODULE hGdiplus = ::GetModuleHandleW(L"gdiplus.dll"))
        ::FreeLibrary(hGdiplus);
}

int CSetupApp::RunWindow(const std::wstring& strFolder)
{
    InstallOutcome outcome;
    bool bLaunch = false;
    std::wstring strSetupPath;
    {
        CSetupDlg dlg(nullptr);
        if (!strFolder.empty())
            dlg.SettleBrowsedLocation(strFolder.c_str());
        // IDOK: the window closed itself a second after the install.
        bLaunch = dlg.DoModal() == IDOK;
        outcome = dlg.Outcome();
        strSetupPath = dlg.m_settings.location.szSetupPath;
    }
    ReleaseGdiplus();
    if (bLaunch && outcome.bSucceeded)
        StartInstalledClient(strSetupPath.c_str());
    return ExitCodeFor(outcome, false);
}

int CSetupApp::RunSilent(const std::wstring& strFolder)
{
    InstallLocation location;
    GetDestPath(&location);
    if (!strFolder.empty())
        SettleBrowsedLocation(strFolder.c_str(), &location);
    if (FindProcess(kClientProgramName, location.szSetupPath)) {
        CloseLogFile();
        return kExitClientRunning;
    }

    CSilentObserver observer;
    InstallOutcome outcome;
    {
        InstallSession session(ProgramInstallSettings(location, PackageGroupsFor(IsFontInstalled()), true),
                               &observer);
        if (session.Start())
            session.Wait();
        outcome = session.Outcome();
    }
    CloseLogFile();
    return ExitCodeFor(outcome, true);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR pszArgs, int)
{
    // Before anything can load a DLL.
    RestrictDllSearch();
    return theApp.Run(pszArgs);
}
