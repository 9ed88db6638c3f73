#pragma once

#include "framework/ScopedHandle.h"

#include <windows.h>

// One installer at a time on the machine, whoever started it. The mutex
// lives in a private namespace whose boundary is the Administrators group:
// only an administrator's process can make or open it, so a standard
// user's object of the same name blocks nothing. Where the system offers
// no private namespace (Wine), or the process is no administrator's, a
// global name stands in.
class CSingleInstance {
public:
    CSingleInstance() = default;
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // True when this is the only installer; held until the object goes.
    // False when another one runs, or its mutex cannot be had.
    bool Acquire();
    // Whether the private namespace holds the mutex (false: the global
    // name).
    bool IsPrivate() const { return m_hNamespace != nullptr; }

private:
    bool AcquirePrivate(bool* pbAnswered);

    HANDLE m_hBoundary = nullptr;
    HANDLE m_hNamespace = nullptr;
    ScopedHandle m_mutex;
};
