#include "threading/CKSThread.h"

#include "threading/KSHandleCreation.h"

namespace {

constexpr DWORD kRestartStopTimeout = 10000;
constexpr DWORD kTerminatedExitCode = 1;

}  // namespace

CKSThread::CKSThread()
{
    m_hStopEvent = g_pfnKSCreateEvent(nullptr, TRUE, FALSE, nullptr);
}

CKSThread::~CKSThread()
{
    if (m_hStopEvent != nullptr)
        CloseHandle(m_hStopEvent);
    if (m_hThread != nullptr)
        CloseHandle(m_hThread);
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
    if (m_hStopEvent == nullptr)
        return FALSE;
    if (m_hThread != nullptr)
        Stop(kRestartStopTimeout, FALSE);
    // Created suspended, so that its handle and id are stored before its body can look at them
    // (a body that asks to stop itself must be recognised, or it would wait for itself).
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &CKSThread::ThreadProc, this,
                                 dwCreationFlags | CREATE_SUSPENDED, &id);
    if (thread == nullptr)
        return FALSE;
    m_hThread = thread;
    m_dwThreadId = id;
    if ((dwCreationFlags & CREATE_SUSPENDED) == 0)
        ResumeThread(thread);
    return TRUE;
}

BOOL CKSThread::Stop(DWORD dwTimeout, BOOL bPumpMessages)
{
    // A thread waiting for its own end would wait forever or terminate itself.
    if (m_hThread != nullptr && GetCurrentThreadId() == m_dwThreadId)
        return FALSE;
    if (m_hThread == nullptr)
        return TRUE;
    SetEvent(m_hStopEvent);
    BOOL ended;
    if (bPumpMessages) {
        ended = WaitPumping(dwTimeout);
    } else {
        ended = WaitForSingleObject(m_hThread, dwTimeout) != WAIT_TIMEOUT;
    }
    if (!ended)
        TerminateThread(m_hThread, kTerminatedExitCode);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    return ended;
}

BOOL CKSThread::StopWithin(DWORD dwTimeout)
{
    if (m_hThread != nullptr && GetCurrentThreadId() == m_dwThreadId)
        return FALSE;
    if (m_hThread == nullptr)
        return TRUE;
    SetEvent(m_hStopEvent);
    if (WaitForSingleObject(m_hThread, dwTimeout) == WAIT_TIMEOUT)
        return FALSE;
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    return TRUE;
}

void CKSThread::RequestStop()
{
    if (m_hStopEvent != nullptr)
        SetEvent(m_hStopEvent);
}

BOOL CKSThread::WaitPumping(DWORD dwTimeout)
{
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &m_hThread, FALSE, dwTimeout, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0)
            return TRUE;
        if (r != WAIT_OBJECT_0 + 1)
            return FALSE;
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
}
