#include "engine/WorkerThread.h"

CWorkerThread::~CWorkerThread()
{
    if (m_hThread)
        ::CloseHandle(m_hThread);
}

BOOL CWorkerThread::Start(unsigned nStackSize)
{
    if (m_hThread)
        return FALSE;
    // Created suspended so that handle and id are stored before Run can
    // look at them.
    DWORD dwThreadId = 0;
    HANDLE hThread = ::CreateThread(nullptr, nStackSize, ThreadProc, this, CREATE_SUSPENDED, &dwThreadId);
    if (!hThread)
        return FALSE;
    m_hThread = hThread;
    m_dwThreadId = dwThreadId;
    ::ResumeThread(hThread);
    return TRUE;
}

bool CWorkerThread::Wait(DWORD dwMilliseconds) const
{
    if (!m_hThread)
        return true;
    if (::GetCurrentThreadId() == m_dwThreadId)
        return false;
    return ::WaitForSingleObject(m_hThread, dwMilliseconds) != WAIT_TIMEOUT;
}

bool CWorkerThread::ExitCode(DWORD* pdwExitCode) const
{
    return m_hThread && ::WaitForSingleObject(m_hThread, 0) == WAIT_OBJECT_0 &&
           ::GetExitCodeThread(m_hThread, pdwExitCode);
}

DWORD WINAPI CWorkerThread::ThreadProc(LPVOID pParam)
{
    return static_cast<CWorkerThread*>(pParam)->Run();
}

namespace {

struct AlongsideRun {
    const std::function<void(int)>* pWork;
    int nWorker;
};

DWORD WINAPI AlongsideProc(LPVOID pParam)
{
    const auto* pRun = static_cast<const AlongsideRun*>(pParam);
    (*pRun->pWork)(pRun->nWorker);
    return 0;
}

// A helper's own calls are short; what it reads and writes is on the heap.
constexpr SIZE_T kHelperStackBytes = 256 * 1024;
constexpr int kMaxHelpers = MAXIMUM_WAIT_OBJECTS;

}  // namespace

void RunAlongside(int nHelpers, const std::function<void(int nWorker)>& work)
{
    if (nHelpers > kMaxHelpers)
        nHelpers = kMaxHelpers;
    AlongsideRun runs[kMaxHelpers];
    HANDLE threads[kMaxHelpers];
    int nStarted = 0;
    for (int i = 0; i < nHelpers; ++i) {
        runs[nStarted] = {&work, nStarted + 1};
        HANDLE hThread = ::CreateThread(nullptr, kHelperStackBytes, AlongsideProc, &runs[nStarted],
                                        STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (hThread)
            threads[nStarted++] = hThread;
    }
    work(0);
    if (nStarted > 0)
        ::WaitForMultipleObjects(static_cast<DWORD>(nStarted), threads, TRUE, INFINITE);
    for (int i = 0; i < nStarted; ++i)
        ::CloseHandle(threads[i]);
}
