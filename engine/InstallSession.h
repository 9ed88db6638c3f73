#pragma once

#include "engine/InstallObserver.h"
#include "engine/InstallSettings.h"
#include "engine/SetupCommandLine.h"
#include "engine/WorkerThread.h"
#include "framework/Result.h"
#include "framework/StopToken.h"

#include <windows.h>

#include <atomic>

class ServerFiles;
struct AttemptCarry;

constexpr int32_t kClientConfigVersion = 16;

// One install of the client, on a worker thread of its own: up to
// nAttempts attempts (InstallRun), one after the other, each with the
// session's time-out as the stop's deadline, then the registration after
// the first that succeeds. The server's files (ServerFiles) live on the
// worker's stack for the whole session. Reports go to the observer; the
// outcome is read once the worker has ended.
class InstallSession {
public:
    InstallSession(InstallSettings settings, IInstallObserver* pObserver);
    // Stops the install and waits for its worker however long it takes:
    // its owner joins it first (Wait) and, when that fails, never destroys
    // it, so that nothing is freed under a running thread.
    ~InstallSession();
    InstallSession(const InstallSession&) = delete;
    InstallSession& operator=(const InstallSession&) = delete;

    // Starts the install; false when it started before or cannot start.
    bool Start();
    // Asks the install to stop: the download, prompt or wait in progress
    // ends at once, and no further package or attempt starts.
    void Stop();
    // Waits for the worker to end, at most dwMilliseconds. True once it has
    // ended or never started.
    bool Wait(DWORD dwMilliseconds);
    // How the install ended (or that it never started), for the exit code.
    InstallOutcome Outcome() const;
    const InstallSettings& Settings() const { return m_settings; }

private:
    class Worker : public CWorkerThread {
    public:
        explicit Worker(InstallSession& session) : m_session(session) {}

    protected:
        DWORD Run() override { return m_session.Run(); }

    private:
        InstallSession& m_session;
    };

    // The worker thread: the attempts, then the report of how they ended.
    DWORD Run();
    DWORD RunAttempts(ServerFiles& server, AttemptCarry& carry);
    // What follows a successful attempt, in its fixed order; each step's
    // failure is logged, and the registration's reaches the outcome.
    void RunSuccessTail(ServerFiles& server);
    void LogTailStep(const wchar_t* pszStep, const Result& result);

    const InstallSettings m_settings;
    IInstallObserver* const m_pObserver;
    StopToken m_stop;
    // Written by the worker, read once it has ended.
    std::atomic<DWORD> m_dwFailureError{0};
    std::atomic<bool> m_bRegistered{false};
    Worker m_worker{*this};
};
