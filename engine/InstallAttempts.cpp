#include "engine/InstallAttempts.h"

#include "engine/InstallRun.h"
#include "engine/SetupEngine.h"
#include "framework/ScopedHandle.h"
#include "log/Log.h"
#include "system/ClientFiles.h"
#include "system/ClientSettings.h"
#include "system/Shortcuts.h"
#include "system/UninstallRegistration.h"

#include <cwchar>

DWORD AwaitRun(HANDLE hRun, HANDLE hStopEvent, DWORD dwTimeout, bool bUserStop)
{
    if (::WaitForSingleObject(hRun, dwTimeout) == WAIT_TIMEOUT) {
        LogError(L"[Execute] install run still going after %lu ms, asking it to stop", dwTimeout);
        ::SetEvent(hStopEvent);
        ::WaitForSingleObject(hRun, INFINITE);
        // A run that ended before it polled leaves the event set; the next
        // attempt must not take it for the user's stop.
        if (!bUserStop)
            ::ResetEvent(hStopEvent);
        return WAIT_TIMEOUT;
    }
    DWORD dwExitCode = STILL_ACTIVE;
    if (!::GetExitCodeThread(hRun, &dwExitCode))
        dwExitCode = 1;
    return dwExitCode;
}

DWORD CSetupEngine::Run()
{
    for (int nAttempt = 0; nAttempt < kInstallAttempts; ++nAttempt) {
        DWORD dwExitCode = 1;
        ScopedHandle run(::CreateThread(nullptr, 0, InstallThreadProc, this, 0, nullptr));
        if (run)
            dwExitCode = AwaitRun(run.Get(), m_hStopEvent, m_dwRunTimeout, IsStopRequested());
        else
            LogError(L"[Execute] CreateThread failed error=%lu", ::GetLastError());
        if (dwExitCode == 0) {
            RunSuccessTail();
            return 0;
        }

        wchar_t szText[64];
        std::swprintf(szText, 64, L"第%d安装结束，安装失败", nAttempt);
        LogNormal(L"[Execute] %ls", szText);
        if (nAttempt == kInstallAttempts - 1 || IsStopRequested()) {
            // Without this the window would keep its installing page.
            if (dwExitCode == WAIT_TIMEOUT && !IsStopRequested())
                ShowError(L"安装超时，请检查网络后重试");
            return 1;
        }
        if (m_pNotifier)
            m_pNotifier->HideStatusText();
    }
    return 1;
}

void CSetupEngine::RunSuccessTail()
{
    WriteClientConfig(kClientConfigVersion);

    wchar_t szClient[MAX_PATH] = {};
    wchar_t szIcon[MAX_PATH] = {};
    if (ComposeClientLinkTarget(m_szSetupPath, szClient) && ComposeClientIconPath(m_szSetupPath, szIcon))
        CreateDesktopShellLink(kDisplayName, m_szSetupPath, szClient, szIcon);
    SetStartShellLink();

    m_nProgress = 100;
    if (m_pNotifier)
        m_pNotifier->UpdateProgressText();
    WriteRegistry();
    RecordReleaseSerial();
    if (m_pNotifier)
        m_pNotifier->StartLaunchTimer();
}

LONG CSetupEngine::WriteRegistry()
{
    return WriteUninstallRegistration(m_szSetupPath, m_szUnInstallPath);
}

bool CSetupEngine::SetStartShellLink()
{
    return CreateStartMenuShellLinks(m_szSetupPath);
}

void CSetupEngine::WriteClientConfig(int32_t nVersion)
{
    WriteClientSettings(m_szSetupPath, nVersion);
}
