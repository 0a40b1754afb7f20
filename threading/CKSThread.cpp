#include "threading/CKSThread.h"

#include "threading/KSHandleCreation.h"

namespace {

constexpr DWORD kRestartStopTimeout = 10000;
constexpr DWORD kTerminatedExitCode = 1;

}  // namespace

CKSThread::CKSThread() : m_hStopEvent(g_pfnKSCreateEvent(nullptr, TRUE, FALSE, nullptr))
{
}

DWORD CKSThread::Run()
{
    return 0;
}

DWORD WINAPI CKSThread::ThreadProc(LPVOID param)
{
    return static_cast<CKSThread*>(param)->Run();
}

BOOL CKSThread::Start(DWORD dwCreationFlags)
{
    // A thread that could never be told to stop would outlive every bounded wait for it.
    if (!m_hStopEvent)
        return FALSE;
    if (m_hThread)
        Stop(kRestartStopTimeout, FALSE);
    // Created suspended, so that its handle and id are stored before its body can look at them
    // (a body that asks to stop itself must be recognised, or it would wait for itself).
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &CKSThread::ThreadProc, this,
                                 dwCreationFlags | CREATE_SUSPENDED, &id);
    if (thread == nullptr)
        return FALSE;
    m_hThread.Reset(thread);
    m_dwThreadId = id;
    if ((dwCreationFlags & CREATE_SUSPENDED) == 0)
        ResumeThread(thread);
    return TRUE;
}

BOOL CKSThread::Stop(DWORD dwTimeout, BOOL bPumpMessages)
{
    // A thread waiting for its own end would wait forever or terminate itself.
    if (m_hThread && GetCurrentThreadId() == m_dwThreadId)
        return FALSE;
    if (!m_hThread)
        return TRUE;
    SetEvent(m_hStopEvent.Get());
    BOOL ended;
    if (bPumpMessages) {
        ended = WaitPumping(dwTimeout);
    } else {
        ended = WaitForSingleObject(m_hThread.Get(), dwTimeout) != WAIT_TIMEOUT;
    }
    if (!ended)
        TerminateThread(m_hThread.Get(), kTerminatedExitCode);
    m_hThread.Reset();
    return ended;
}

BOOL CKSThread::StopWithin(DWORD dwTimeout)
{
    if (m_hThread && GetCurrentThreadId() == m_dwThreadId)
        return FALSE;
    if (!m_hThread)
        return TRUE;
    SetEvent(m_hStopEvent.Get());
    if (WaitForSingleObject(m_hThread.Get(), dwTimeout) == WAIT_TIMEOUT)
        return FALSE;
    m_hThread.Reset();
    return TRUE;
}

void CKSThread::RequestStop()
{
    if (m_hStopEvent)
        SetEvent(m_hStopEvent.Get());
}

BOOL CKSThread::WaitPumping(DWORD dwTimeout)
{
    for (;;) {
        HANDLE thread = m_hThread.Get();
        const DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, dwTimeout, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0)
            return TRUE;
        if (r != WAIT_OBJECT_0 + 1)
            return FALSE;
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
}
