#pragma once

#include <windows.h>

#include <atomic>

// Owns one worker thread and its auto-reset stop event. The thread runs
// Run(); its return value is the thread's exit code.
class CWorkerThread {
public:
    CWorkerThread();
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    virtual BOOL Start(unsigned nStackSize);
    void Wait();
    void Close();

    // Signals the stop event and keeps the request: the run's poll consumes
    // the auto-reset event, the flag stays set for the attempt loop.
    void RequestStop();
    bool IsStopRequested() const { return m_bStopRequested; }

    HANDLE m_hThread = nullptr;
    DWORD m_dwThreadId = 0;
    HANDLE m_hStopEvent = nullptr;

protected:
    virtual DWORD Run() = 0;

private:
    static DWORD WINAPI ThreadProc(LPVOID pParam);

    std::atomic<bool> m_bStopRequested{false};
};
