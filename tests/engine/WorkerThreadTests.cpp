#include "engine/WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

namespace {

// Runs a given function as Run; waits for its thread before it goes away.
class CTestWorker : public CWorkerThread {
public:
    explicit CTestWorker(std::function<DWORD(CTestWorker&)> fn) : m_fn(std::move(fn)) {}
    ~CTestWorker() override
    {
        if (m_hThread)
            ::WaitForSingleObject(m_hThread, 10000);
    }

    std::atomic<int> m_nRuns{0};
    std::atomic<DWORD> m_dwRunThread{0};

protected:
    DWORD Run() override
    {
        ++m_nRuns;
        m_dwRunThread = ::GetCurrentThreadId();
        return m_fn(*this);
    }

private:
    std::function<DWORD(CTestWorker&)> m_fn;
};

DWORD ExitCode(HANDLE hThread)
{
    DWORD dwCode = 0;
    return ::GetExitCodeThread(hThread, &dwCode) ? dwCode : 0xFFFFFFFF;
}

}  // namespace

TEST(WorkerThread, RunsOnceOnItsOwnThreadAndWaitWaitsForIt)
{
    std::atomic<bool> bFinished{false};
    CTestWorker worker([&](CTestWorker&) {
        ::Sleep(200);
        bFinished = true;
        return DWORD{7};
    });
    EXPECT_EQ(worker.m_hThread, nullptr);
    EXPECT_EQ(worker.m_dwThreadId, 0u);
    ASSERT_NE(worker.m_hStopEvent, nullptr);

    ASSERT_TRUE(worker.Start(0));
    ASSERT_NE(worker.m_hThread, nullptr);
    worker.Wait();
    EXPECT_TRUE(bFinished);
    EXPECT_EQ(ExitCode(worker.m_hThread), 7u) << "Run's result is the exit code";
    EXPECT_EQ(worker.m_dwThreadId, worker.m_dwRunThread.load());
    EXPECT_NE(worker.m_dwThreadId, ::GetCurrentThreadId());

    // The handle stays after the end: no second thread, ever.
    EXPECT_FALSE(worker.Start(0));
    worker.Wait();
    EXPECT_EQ(worker.m_nRuns, 1);

    worker.Close();
    EXPECT_EQ(worker.m_hThread, nullptr);
    EXPECT_EQ(worker.m_dwThreadId, 0u);
    EXPECT_EQ(worker.m_hStopEvent, nullptr);
    worker.Close();
}

TEST(WorkerThread, WaitWithoutThreadOrFromTheWorkerReturnsAtOnce)
{
    CTestWorker idle([](CTestWorker&) { return DWORD{0}; });
    idle.Wait();

    // Waiting for itself would never end; the wait is bounded here so a
    // fault fails the test instead of hanging it.
    CTestWorker worker([](CTestWorker& self) {
        self.Wait();
        return DWORD{3};
    });
    ASSERT_TRUE(worker.Start(64 * 1024));
    ASSERT_EQ(::WaitForSingleObject(worker.m_hThread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCode(worker.m_hThread), 3u);
}

TEST(WorkerThread, StopEventIsAutoResetAndTheRequestIsKept)
{
    HANDLE hPolled = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE hGo = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> dwBeforeGo{0}, dwFirstPoll{0}, dwSecondPoll{0};
    std::atomic<bool> bRequestSeen{false};
    CTestWorker worker([&](CTestWorker& self) {
        dwBeforeGo = ::WaitForSingleObject(self.m_hStopEvent, 1);
        ::SetEvent(hPolled);
        ::WaitForSingleObject(hGo, 10000);
        dwFirstPoll = ::WaitForSingleObject(self.m_hStopEvent, 1);
        dwSecondPoll = ::WaitForSingleObject(self.m_hStopEvent, 1);
        bRequestSeen = self.IsStopRequested();
        return DWORD{1};
    });
    // A stop signalled before the start does not reach the new thread.
    ::SetEvent(worker.m_hStopEvent);
    ASSERT_TRUE(worker.Start(0));
    EXPECT_FALSE(worker.IsStopRequested());
    ASSERT_EQ(::WaitForSingleObject(hPolled, 10000), WAIT_OBJECT_0);
    worker.RequestStop();
    ::SetEvent(hGo);
    worker.Wait();
    ::CloseHandle(hGo);
    ::CloseHandle(hPolled);

    EXPECT_EQ(dwBeforeGo, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(dwFirstPoll, WAIT_OBJECT_0);
    EXPECT_EQ(dwSecondPoll, static_cast<DWORD>(WAIT_TIMEOUT)) << "the first poll consumed it";
    EXPECT_TRUE(bRequestSeen);
    EXPECT_TRUE(worker.IsStopRequested()) << "the request outlives the consumed event";
}
