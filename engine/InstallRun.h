#pragma once

#include <windows.h>

// Thread routine of one install run; the argument is the CSetupEngine.
DWORD WINAPI InstallThreadProc(LPVOID pParam);
