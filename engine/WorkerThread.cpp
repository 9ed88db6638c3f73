#include "engine/WorkerThread.h"

namespace {

constexpr DWORD kFirstWaitMs = 600000;
constexpr DWORD kFurtherWaitMs = 1000;
constexpr int kFurtherWaits = 600;

}  // namespace

CWorkerThread::CWorkerThread()
{
    m_hStopEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

CWorkerThread::~CWorkerThread()
{
    Close();
}

BOOL CWorkerThread::Start(unsigned nStackSize)
{
    if (m_hThread)
        return FALSE;
    m_bStopRequested = false;
    if (m_hStopEvent)
        ::ResetEvent(m_hStopEvent);
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

void CWorkerThread::Wait()
{
    if (!m_hThread || ::GetCurrentThreadId() == m_dwThreadId)
        return;
    if (::WaitForSingleObject(m_hThread, kFirstWaitMs) != WAIT_TIMEOUT)
        return;
    for (int i = 0; i < kFurtherWaits; ++i) {
        if (::WaitForSingleObject(m_hThread, kFurtherWaitMs) != WAIT_TIMEOUT)
            return;
    }
}

void CWorkerThread::Close()
{
    if (m_hThread) {
        ::CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    m_dwThreadId = 0;
    if (m_hStopEvent) {
        ::CloseHandle(m_hStopEvent);
        m_hStopEvent = nullptr;
    }
}

void CWorkerThread::RequestStop()
{
    m_bStopRequested = true;
    if (m_hStopEvent)
        ::SetEvent(m_hStopEvent);
}

DWORD WINAPI CWorkerThread::ThreadProc(LPVOID pParam)
{
    return static_cast<CWorkerThread*>(pParam)->Run();
}
