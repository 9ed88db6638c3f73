#pragma once

#include <windows.h>

enum : UINT {
    WM_INSTALL_PROGRESS = WM_USER + 100,
};

enum : UINT_PTR {
    kLaunchTimerId = 0x1234,
};
