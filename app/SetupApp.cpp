#include "app/SetupApp.h"

#include "engine/InstallSession.h"
#include "engine/PackageList.h"
#include "engine/SetupCommandLine.h"
#include "framework/DllSearch.h"
#include "framework/ScopedHandle.h"
#include "log/Log.h"
#include "system/ClientFiles.h"
#include "system/ClientProcess.h"
#include "system/CommandLineArgs.h"
#include "system/FolderSecurity.h"
#include "system/SingleInstance.h"
#include "ui/FontCheck.h"
#include "ui/SetupDlg.h"
#include "ui/UiMessages.h"

#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>
#include <objbase.h>

Gdiplus::GdiplusStartupInput g_gdiplusStartupInput;
ULONG_PTR g_gdiplusToken = 0;

namespace {

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

// A folder from the command line, made ready to be settled like a browsed
// one: a full path whose install paths fit, its missing folders made closed
// to other users, and no link, junction or Windows folder on its way.
// Nothing is made below a refused part.
bool PrepareCommandLineFolder(const std::wstring& strGiven, std::wstring* pstrFolder)
{
    InstallLocation location;
    if (!NormalizeFolderPath(strGiven, pstrFolder) || !LocationFromFolder(pstrFolder->c_str(), &location))
        return false;
    const Result walked = WalkChosenFolder(*pstrFolder, true);
    if (!walked)
        LogError(L"[CSetupApp] /D=%ls refused: %ls error=%lu", pstrFolder->c_str(), walked.What(), walked.Error());
    return walked.Ok();
}

// What a silent install reports goes to the log only; a proxy that asks
// for credentials gets none, as if the user had cancelled the prompt.
class CSilentObserver : public IInstallObserver {
public:
    void OnPackageStarted(const std::wstring&) override {}
    void OnError(const InstallError&) override {}
    void OnErrorCleared() override {}
    void OnProgress(int) override {}
    void OnPackageDownload(const PackageDownloadState&) override {}
    void OnFinished(bool) override {}
    bool AskProxyCredentials(const StopToken&, std::wstring*, std::wstring*) override { return false; }
    void ShowProxyCredentialsRefused(const StopToken&) override {}
};

}  // namespace

int CSetupApp::Run(const wchar_t* pszArgs)
{
    SetupCommandLine commandLine;
    const bool bValid = ParseSetupCommandLine(pszArgs, &commandLine);

    // Held until the process ends.
    CSingleInstance instance;
    if (!instance.Acquire()) {
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

InstallLocation CSetupApp::SettleLocation(const std::wstring& strFolder)
{
    InstallLocation location;
    GetDestPath(&location);
    if (!strFolder.empty())
        SettleBrowsedLocation(strFolder.c_str(), &location);
    return location;
}

InstallSettings CSetupApp::InstallSettingsFor(const InstallLocation& location, bool bSilent)
{
    return ProgramInstallSettings(location, PackageGroupsFor(IsFontInstalled()), bSilent);
}

bool CSetupApp::ClientRunsFrom(const InstallLocation& location)
{
    return FindProcess(kClientProgramName, location.szSetupPath);
}

SessionStart CSetupApp::StartSession(const InstallSettings& settings, IInstallObserver* pObserver)
{
    if (ClientRunsFrom(settings.location))
        return {SessionStart::kClientRunning, nullptr};
    auto pSession = std::make_unique<InstallSession>(settings, pObserver);
    if (!pSession->Start())
        return {SessionStart::kFailed, nullptr};
    m_pSession = std::move(pSession);
    return {SessionStart::kStarted, m_pSession.get()};
}

bool CSetupApp::JoinSession()
{
    if (!m_pSession || m_pSession->Wait(kWorkerJoinMs))
        return true;
    // Freeing what its thread still uses could only crash: the process's
    // end takes the thread with it.
    LogError(L"[CSetupApp] install still running after %lu ms, left to the end of the process", kWorkerJoinMs);
    return false;
}

int CSetupApp::Finish(bool bSilent)
{
    const InstallOutcome outcome = m_pSession ? m_pSession->Outcome() : InstallOutcome();
    m_pSession.reset();
    CloseLogFile();
    return ExitCodeFor(outcome, bSilent);
}

int CSetupApp::RunWindow(const std::wstring& strFolder)
{
    auto pDlg = std::make_unique<CSetupDlg>(InstallSettingsFor(SettleLocation(strFolder), false),
                                            [this](const InstallSettings& settings, IInstallObserver* pObserver) {
                                                return StartSession(settings, pObserver);
                                            });
    // IDOK: the window closed itself a second after the install.
    const bool bLaunch = pDlg->DoModal() == IDOK;
    // The window is the session's observer until the session has ended.
    if (!JoinSession()) {
        pDlg.release();
        m_pSession.release();
        return kExitFailed;
    }
    pDlg.reset();
    ReleaseGdiplus();
    if (bLaunch && m_pSession && m_pSession->Outcome().bSucceeded)
        StartInstalledClient(m_pSession->Settings().location.szSetupPath);
    return Finish(false);
}

int CSetupApp::RunSilent(const std::wstring& strFolder)
{
    const InstallLocation location = SettleLocation(strFolder);
    if (ClientRunsFrom(location)) {
        CloseLogFile();
        return kExitClientRunning;
    }
    static CSilentObserver s_observer;
    if (StartSession(InstallSettingsFor(location, true), &s_observer).kind == SessionStart::kStarted &&
        !JoinSession()) {
        m_pSession.release();
        return kExitFailed;
    }
    return Finish(true);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR pszArgs, int)
{
    // Before anything can load a DLL.
    RestrictDllSearch();
    return theApp.Run(pszArgs);
}
