#pragma once

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
};
