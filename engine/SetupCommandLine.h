#pragma once

#include <string>

// Exit codes of the installer, as deployment tools map them.
enum SetupExit : int {
    kExitInstalled = 0,
    kExitClientRunning = 32,  // silent: the client runs from the install folder
    kExitDiskFull = 112,      // failed, the last failure a full disk
    kExitUserClosed = 1602,
    kExitFailed = 1603,
    kExitAlreadyRunning = 1618,
    kExitBadCommandLine = 1639,
};

// What the command line asks for:
//   FenmoraSetup.exe [/S] [/D=<folder>]
// Switches are case-insensitive and start with "/" or "-". /D= comes last
// and takes the rest of the line, blanks included, quotes optional.
struct SetupCommandLine {
    bool bSilent = false;
    std::wstring strFolder;  // empty without /D=
};

// Parses the arguments after the program name (as wWinMain receives
// them). False for anything else, or an empty /D=.
bool ParseSetupCommandLine(const wchar_t* pszArgs, SetupCommandLine* pCommandLine);


// How an install ended, for the exit code.
struct InstallOutcome {
    bool bStarted = false;          // the install run was started
    bool bFinished = false;         // ... and ended within the wait
    bool bSucceeded = false;        // its attempts ended with success
    bool bStopRequested = false;    // the user asked it to stop
    bool bRegistered = false;       // ... and the uninstall entry was written
    unsigned long dwLastError = 0;  // system code of the last failed try
};

// A run that never started is the user closing the window before the
// install, but a failure of a silent run. A silent install without its
// uninstall entry failed: deployment tools find an installation by it.
int ExitCodeFor(const InstallOutcome& outcome, bool bSilent);
