#pragma once

// The application: starts GDI+, runs the setup window modally and shuts
// GDI+ down when it has closed.
class CSetupApp {
public:
    bool InitInstance();
    int ExitInstance();
};
