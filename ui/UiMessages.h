#pragma once

#include <windows.h>

enum : UINT {
    // Posted by the install run after each progress step; both parameters 0.
    WM_INSTALL_PROGRESS = WM_USER + 100,
    // Posted by a session's thread when its report is the first in the
    // window's queue: apply the queue.
    WM_INSTALL_REPORT = WM_USER + 101,
};

enum : UINT_PTR {
    kLaunchTimerId = 0x1234,
};

constexpr UINT kLaunchTimerPeriodMs = 1000;

// Marks the setup window, so that a second copy of the installer can find
// it and bring it to the front.
constexpr wchar_t kSetupWindowProp[] = L"FenmoraSetup.Window";
