#include "engine/InstallSession.h"
#include "framework/ScopedHandle.h"
#include "log/Log.h"
#include "system/ClientFiles.h"
#include "system/ClientSettings.h"
#include "system/Shortcuts.h"
#include "system/UninstallRegistration.h"

#include <cwchar>

namespace {

// Waits for an install run, asking it to stop when it outlives its time: a
// run still going must never overlap the next attempt, which shares the
// buffer, the package list and the install folder. The stop ends the
// download in progress, and the run checks it before every package, file
// and entry, so the second wait is short. Returns the run's exit code, or
// WAIT_TIMEOUT for a run that had to be asked to stop, however it then
// ended.
DWORD AwaitRun(HANDLE hRun, RunStop* pRunStop, DWORD dwTimeout)
{
    if (::WaitForSingleObject(hRun, dwTimeout) == WAIT_TIMEOUT) {
        LogError(L"[Execute] install run still going after %lu ms, asking it to stop", dwTimeout);
        pRunStop->Set();
        ::WaitForSingleObject(hRun, INFINITE);
        return WAIT_TIMEOUT;
    }
    DWORD dwExitCode = STILL_ACTIVE;
    if (!::GetExitCodeThread(hRun, &dwExitCode))
        dwExitCode = 1;
    return dwExitCode;
}

}  // namespace

DWORD InstallSession::Run()
{
    const DWORD dwResult = RunAttempts();
    if (m_pObserver)
        m_pObserver->OnFinished(dwResult == 0);
    return dwResult;
}

DWORD InstallSession::RunAttempts()
{
    for (int nAttempt = 0; nAttempt < m_nAttempts; ++nAttempt) {
        DWORD dwExitCode = 1;
        ScopedHandle run(::CreateThread(nullptr, 0, InstallThreadProc, this, 0, nullptr));
        if (run)
            dwExitCode = AwaitRun(run.Get(), &m_runStop, m_dwRunTimeout);
        else
            LogError(L"[Execute] CreateThread failed error=%lu", ::GetLastError());
        // The attempt loop's own stop ends with the run; the user's stays.
        if (!m_bStopRequested)
            m_runStop.Reset();
        if (dwExitCode == 0) {
            RunSuccessTail();
            return 0;
        }

        wchar_t szText[64];
        std::swprintf(szText, 64, L"第%d安装结束，安装失败", nAttempt);
        LogNormal(L"[Execute] %ls", szText);
        if (nAttempt == m_nAttempts - 1 || m_bStopRequested) {
            // Without this the window would keep its installing page.
            if (dwExitCode == WAIT_TIMEOUT && !m_bStopRequested)
                ShowError(L"安装超时，请检查网络后重试");
            return 1;
        }
        if (m_pObserver)
            m_pObserver->OnStatusHidden();
    }
    return 1;
}

void InstallSession::RunSuccessTail()
{
    WriteClientConfig(kClientConfigVersion);

    wchar_t szClient[MAX_PATH] = {};
    wchar_t szIcon[MAX_PATH] = {};
    if (ComposeClientLinkTarget(m_location.szSetupPath, szClient) &&
        ComposeClientIconPath(m_location.szSetupPath, szIcon))
        CreateDesktopShellLink(kDisplayName, m_location.szSetupPath, szClient, szIcon);
    SetStartShellLink();

    ReportProgress(100);
    WriteRegistry();
    RecordReleaseSerial();
}

LONG InstallSession::WriteRegistry()
{
    return WriteUninstallRegistration(m_location.szSetupPath, m_location.szUnInstallPath);
}

bool InstallSession::SetStartShellLink()
{
    return CreateStartMenuShellLinks(m_location.szSetupPath);
}

void InstallSession::WriteClientConfig(int32_t nVersion)
{
    WriteClientSettings(m_location.szSetupPath, nVersion);
}
