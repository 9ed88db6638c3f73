#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

// The longest an exit waits for a worker before it leaves it running.
constexpr DWORD kWorkerJoinMs = 1200000;

// Owns one worker thread, started at most once. The thread runs Run(); its
// return value is the thread's exit code.
class CWorkerThread {
public:
    CWorkerThread() = default;
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    BOOL Start(unsigned nStackSize);
    bool IsStarted() const { return m_hThread != nullptr; }
    // Waits for the thread to end, at most dwMilliseconds. True once it has
    // ended or never started; at once false on the worker itself.
    bool Wait(DWORD dwMilliseconds) const;
    // The thread's exit code once it has ended; false while it runs.
    bool ExitCode(DWORD* pdwExitCode) const;

protected:
    virtual DWORD Run() = 0;

private:
    static DWORD WINAPI ThreadProc(LPVOID pParam);

    HANDLE m_hThread = nullptr;
    DWORD m_dwThreadId = 0;
};

// Runs work on the calling thread and on nHelpers threads of its own at the
// same time, and returns when every run has returned. Each run is given its
// number, 0 on the calling thread. A helper that cannot be started leaves
// the work to the others, so work must take what is left from a shared
// counter rather than a fixed share.
void RunAlongside(int nHelpers, const std::function<void(int nWorker)>& work);

// Lowers the shared value to nValue unless it is already lower: the first
// failure in list order among several threads.
template <typename T>
void LowerTo(std::atomic<T>& shared, T nValue)
{
    for (T nSeen = shared; nValue < nSeen && !shared.compare_exchange_weak(nSeen, nValue);) {
    }
}
