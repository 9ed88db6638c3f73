#include "engine/WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

namespace {

// Runs a given function as Run; waits for its thread before it goes away.
class CTestWorker : public CWorkerThread {
public:
    explicit CTestWorker(std::function<DWORD(CTestWorker&)> fn) : m_fn(std::move(fn)) {}
    ~CTestWorker() override { Wait(10000); }

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

}  // namespace

TEST(WorkerThread, RunsOnceOnItsOwnThreadAndWaitWaitsForIt)
{
    std::atomic<bool> bFinished{false};
    CTestWorker worker([&](CTestWorker&) {
        ::Sleep(200);
        bFinished = true;
        return DWORD{7};
    });
    DWORD dwExit = 0;
    EXPECT_FALSE(worker.IsStarted());
    EXPECT_FALSE(worker.ExitCode(&dwExit));

    ASSERT_TRUE(worker.Start(0));
    EXPECT_TRUE(worker.IsStarted());
    EXPECT_TRUE(worker.Wait(10000));
    EXPECT_TRUE(bFinished);
    ASSERT_TRUE(worker.ExitCode(&dwExit));
    EXPECT_EQ(dwExit, 7u) << "Run's result is the exit code";
    EXPECT_NE(worker.m_dwRunThread.load(), ::GetCurrentThreadId());

    // The thread stays started after its end: no second thread, ever.
    EXPECT_FALSE(worker.Start(0));
    EXPECT_TRUE(worker.Wait(10000));
    EXPECT_EQ(worker.m_nRuns, 1);
}

TEST(WorkerThread, WaitWithoutThreadOrFromTheWorkerReturnsAtOnce)
{
    CTestWorker idle([](CTestWorker&) { return DWORD{0}; });
    EXPECT_TRUE(idle.Wait(10000));

    // Waiting for itself would never end.
    std::atomic<int> nSelfWait{-1};
    CTestWorker worker([&](CTestWorker& self) {
        nSelfWait = self.Wait(INFINITE) ? 1 : 0;
        return DWORD{3};
    });
    ASSERT_TRUE(worker.Start(64 * 1024));
    ASSERT_TRUE(worker.Wait(10000));
    EXPECT_EQ(nSelfWait, 0);
    DWORD dwExit = 0;
    ASSERT_TRUE(worker.ExitCode(&dwExit));
    EXPECT_EQ(dwExit, 3u);
}
