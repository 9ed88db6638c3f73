#include "engine/WorkerThread.h"

namespace {

constexpr DWORD kFirstWaitMs = 600000;
constexpr DWORD kFurtherWaitMs = 1000;
constexpr int kFurtherWaits = 600;

}  // namespace

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
    if (dwMilliseconds != INFINITE)
        return ::WaitForSingleObject(m_hThread, dwMilliseconds) != WAIT_TIMEOUT;
    if (::WaitForSingleObject(m_hThread, kFirstWaitMs) != WAIT_TIMEOUT)
        return true;
    for (int i = 0; i < kFurtherWaits; ++i) {
        if (::WaitForSingleObject(m_hThread, kFurtherWaitMs) != WAIT_TIMEOUT)
            return true;
    }
    return false;
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
