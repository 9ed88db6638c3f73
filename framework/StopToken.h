#pragma once

#include "framework/ScopedHandle.h"

#include <windows.h>

#include <atomic>

// The one stop of a session, handed by reference to every layer that can
// block. A wait waits on its event beside its own handles, for at most
// WaitLimit(); the checks between steps read IsStopped(), which touches
// memory only (under Wine even a wait that does not block is a trip to the
// server). A deadline, when set, ends the holder's work as a stop does,
// without being one: the next attempt may still run.
class StopToken {
public:
    StopToken() : m_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    StopToken(const StopToken&) = delete;
    StopToken& operator=(const StopToken&) = delete;

    // Without its event nothing could be stopped.
    bool IsValid() const { return static_cast<bool>(m_event); }
    // Final: every wait ends at once, and so will every later one.
    void Stop()
    {
        m_bStop = true;
        ::SetEvent(m_event.Get());
    }
    bool IsStopRequested() const { return m_bStop; }
    // A stop, or the deadline passed.
    bool IsStopped() const { return m_bStop || DeadlinePassed(); }

    // The deadline dwMilliseconds from now; INFINITE clears it.
    void SetDeadline(DWORD dwMilliseconds)
    {
        m_nDeadline = dwMilliseconds == INFINITE ? 0 : ::GetTickCount64() + dwMilliseconds;
    }
    bool DeadlinePassed() const
    {
        const ULONGLONG nDeadline = m_nDeadline;
        return nDeadline != 0 && ::GetTickCount64() >= nDeadline;
    }

    // For a wait of the caller's own: the event to wait on beside its
    // handles, and the longest wait before the deadline (INFINITE: none).
    // A wait that times out on the limit counts as stopped.
    HANDLE Event() const { return m_event.Get(); }
    DWORD WaitLimit() const
    {
        const ULONGLONG nDeadline = m_nDeadline;
        if (nDeadline == 0)
            return INFINITE;
        const ULONGLONG nNow = ::GetTickCount64();
        return nNow >= nDeadline
                   ? 0
                   : static_cast<DWORD>(nDeadline - nNow < INFINITE - 1 ? nDeadline - nNow : INFINITE - 1);
    }
    // Waits dwMilliseconds unless stopped first; true when stopped.
    bool Sleep(DWORD dwMilliseconds) const
    {
        const DWORD dwLimit = WaitLimit();
        if (::WaitForSingleObject(m_event.Get(), dwMilliseconds < dwLimit ? dwMilliseconds : dwLimit) == WAIT_OBJECT_0)
            return true;
        return IsStopped();
    }

private:
    ScopedHandle m_event;
    std::atomic<bool> m_bStop{false};
    // GetTickCount64's value at the deadline; 0: none.
    std::atomic<ULONGLONG> m_nDeadline{0};
};
