#pragma once

#include "engine/InstallSession.h"
#include "ui/SetupDlg.h"

#include <memory>
#include <string>

// The application: starts COM and GDI+, runs the install with or without
// the setup window as the command line says, and shuts both down.
class CSetupApp {
public:
    // The whole program after the DLL search is restricted; returns the
    // process exit code.
    int Run(const wchar_t* pszArgs);

private:
    bool InitInstance(bool bWindow);
    int ExitInstance();
    void ReleaseGdiplus();
    int RunWindow(const std::wstring& strFolder);
    int RunSilent(const std::wstring& strFolder);

    // The one check before every install, in the window and silent alike:
    // the location (the default, or the command line's folder), this
    // machine's package groups, the program's server and release key, and
    // whether the client runs from the install folder.
    static InstallLocation SettleLocation(const std::wstring& strFolder);
    static InstallSettings InstallSettingsFor(const InstallLocation& location, bool bSilent);
    static bool ClientRunsFrom(const InstallLocation& location);
    // The session factory: starts the install unless the client runs from
    // its folder. The session is the application's.
    SessionStart StartSession(const InstallSettings& settings, IInstallObserver* pObserver);
    // Waits for the session's worker, within the long bound every exit
    // keeps; false, logged, when it still runs.
    bool JoinSession();
    // The exit code of the session's outcome, once it has ended.
    int Finish(bool bSilent);

    std::unique_ptr<InstallSession> m_pSession;
};
