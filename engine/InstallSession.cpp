#include "engine/InstallSession.h"

#include "engine/BaseUrl.h"
#include "engine/InstallRun.h"
#include "engine/ReleaseSignature.h"
#include "engine/ServerFiles.h"
#include "log/Log.h"
#include "system/ClientFiles.h"
#include "system/ClientSettings.h"
#include "system/Shortcuts.h"
#include "system/UninstallRegistration.h"

#include <cwchar>

InstallSettings ProgramInstallSettings(const InstallLocation& location, std::set<int> setPackageGroups, bool bSilent)
{
    InstallSettings settings;
    settings.location = location;
    settings.strBaseUrl = g_strBaseUrl;
    settings.vecMirrorHosts = BuildMirrorHosts();
    settings.setPackageGroups = std::move(setPackageGroups);
    settings.bReleaseRequired = LoadReleaseKey(&settings.releaseKey);
    settings.bSilent = bSilent;
    // Unattended installs go for speed. In the window, where the user
    // watches the slides, the memory counts for more than the second.
    settings.nFileHelpers = bSilent ? 2 : 0;
    return settings;
}

InstallSession::InstallSession(InstallSettings settings, IInstallObserver* pObserver)
    : m_settings(std::move(settings)), m_pObserver(pObserver)
{
}

InstallSession::~InstallSession()
{
    Stop();
    m_worker.Wait(INFINITE);
}

bool InstallSession::Start()
{
    // Without its stop's event a session could not be stopped.
    return m_stop.IsValid() && !m_worker.IsStarted() && m_worker.Start(0);
}

void InstallSession::Stop()
{
    m_stop.Stop();
}

bool InstallSession::Wait(DWORD dwMilliseconds)
{
    return m_worker.Wait(dwMilliseconds);
}

InstallOutcome InstallSession::Outcome() const
{
    InstallOutcome outcome;
    outcome.bStarted = m_worker.IsStarted();
    outcome.bStopRequested = m_stop.IsStopRequested();
    DWORD dwExitCode = STILL_ACTIVE;
    if (m_worker.ExitCode(&dwExitCode)) {
        outcome.bFinished = true;
        outcome.bSucceeded = dwExitCode == 0;
        outcome.dwLastError = m_dwFailureError;
        outcome.bRegistered = m_bRegistered;
    }
    return outcome;
}

DWORD InstallSession::Run()
{
    DWORD dwResult = 1;
    {
        ServerFiles server(m_settings, m_pObserver, m_stop);
        AttemptCarry carry(m_settings.bReleaseRequired);
        dwResult = RunAttempts(server, carry);
        // A session that ends cleans up only what it made: a verified stage
        // that never took the install folder's place goes; the archives go
        // with the carry.
        if (!carry.strVerifiedStage.empty())
            RemoveAndLog(L"staging folder", carry.strVerifiedStage);
    }
    if (m_pObserver)
        m_pObserver->OnFinished(dwResult == 0);
    return dwResult;
}

DWORD InstallSession::RunAttempts(ServerFiles& server, AttemptCarry& carry)
{
    for (int nAttempt = 0; nAttempt < m_settings.nAttempts; ++nAttempt) {
        // The attempt's time ends its download, wait or unpacking like a
        // stop, and the run looks at it before every package, entry and
        // file: an attempt never overlaps the next.
        m_stop.SetDeadline(m_settings.dwRunTimeout);
        DWORD dwExitCode = 1;
        {
            InstallRun run(m_settings, server, m_pObserver, m_stop, carry);
            dwExitCode = run.Run();
            m_dwFailureError = run.FailureError();
        }
        const bool bTimedOut = dwExitCode != 0 && !m_stop.IsStopRequested() && m_stop.DeadlinePassed();
        m_stop.SetDeadline(INFINITE);
        if (bTimedOut)
            LogError(L"[Execute] install run still going after %lu ms, asking it to stop", m_settings.dwRunTimeout);
        if (dwExitCode == 0) {
            RunSuccessTail(server);
            return 0;
        }

        wchar_t szText[64];
        std::swprintf(szText, 64, L"第%d安装结束，安装失败", nAttempt);
        LogNormal(L"[Execute] %ls", szText);
        if (nAttempt == m_settings.nAttempts - 1 || m_stop.IsStopRequested()) {
            // Without this the window would keep its installing page.
            if (bTimedOut && m_pObserver)
                m_pObserver->OnError({InstallError::kTimedOut, L""});
            return 1;
        }
        if (m_pObserver)
            m_pObserver->OnErrorCleared();
    }
    return 1;
}

void InstallSession::RunSuccessTail(ServerFiles& server)
{
    const wchar_t* pszSetupPath = m_settings.location.szSetupPath;
    LogTailStep(L"settings file", WriteClientSettings(pszSetupPath, kClientConfigVersion));

    wchar_t szClient[MAX_PATH] = {};
    wchar_t szIcon[MAX_PATH] = {};
    if (ComposeClientLinkTarget(pszSetupPath, szClient) && ComposeClientIconPath(pszSetupPath, szIcon))
        LogTailStep(L"desktop shortcut", CreateDesktopShellLink(kDisplayName, pszSetupPath, szClient, szIcon));
    LogTailStep(L"Start-menu shortcuts", CreateStartMenuShellLinks(pszSetupPath));

    if (m_pObserver)
        m_pObserver->OnProgress(100);
    const Result registered = WriteUninstallRegistration(pszSetupPath, m_settings.location.szUnInstallPath);
    LogTailStep(L"uninstall registration", registered);
    m_bRegistered = registered.Ok();
    LogTailStep(L"release serial", server.RecordReleaseSerial());
}

void InstallSession::LogTailStep(const wchar_t* pszStep, const Result& result)
{
    if (!result)
        LogError(L"[Execute] %ls failed: %ls error=%lu", pszStep, result.What(), result.Error());
}
