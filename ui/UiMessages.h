#pragma once

#include <windows.h>

enum : UINT {
    // Posted by the install run after each progress step; both parameters 0.
    WM_INSTALL_PROGRESS = WM_USER + 100,
    // Posted by an install thread after it queued a status-label change.
    WM_APPLY_STATUS = WM_USER + 101,
    // Posted by the worker after a successful install: arm the launch timer.
    WM_START_LAUNCH_TIMER = WM_USER + 102,
    // Posted by an install thread after it kept a new package download
    // report, unless one is posted and not yet handled.
    WM_APPLY_DOWNLOAD = WM_USER + 103,
};

enum : UINT_PTR {
    kLaunchTimerId = 0x1234,
};

constexpr UINT kLaunchTimerPeriodMs = 1000;

// Marks the setup window, so that a second copy of the installer can find
// it and bring it to the front.
constexpr wchar_t kSetupWindowProp[] = L"FenmoraSetup.Window";
