// Base of every worker thread: a derived class overrides Run, which becomes the body of a
// Win32 thread. The base owns the thread handle and a manual-reset stop event that Run
// watches; Stop signals it, waits a bounded time and terminates a thread that did not end.
#pragma once

#include "util/UniqueHandle.h"

#include <windows.h>

class CKSThread {
public:
    CKSThread();
    // Closes the handles; does not stop a running thread (the owner calls Stop first).
    virtual ~CKSThread() = default;

    CKSThread(const CKSThread&) = delete;
    CKSThread& operator=(const CKSThread&) = delete;

    // The thread body; its result is the thread's exit code.
    virtual DWORD Run();

    // Starts the thread with CreateThread's flags (e.g. CREATE_SUSPENDED), first stopping a
    // previous one (10 s, then termination). The stop event is not reset. TRUE when started;
    // FALSE without a stop event (its creation failed), since nothing could end the thread.
    virtual BOOL Start(DWORD dwCreationFlags);

    // Signals the stop event and waits up to dwTimeout ms for the thread to end; with
    // bPumpMessages, messages sent to this thread's windows are handled while waiting (the
    // wait starts afresh after each). TRUE when the thread ended by itself or there was
    // none; FALSE when it had to be terminated. Refused (FALSE, nothing signalled) when
    // called from the thread itself, which could only wait on itself.
    BOOL Stop(DWORD dwTimeout, BOOL bPumpMessages);

    // Signals the stop event and waits up to dwTimeout ms, never terminating: a thread blocked
    // inside a library call must not be killed there (it may hold the library's locks). TRUE
    // when the thread has ended (its handle is then closed) or there was none; FALSE when it
    // is still running, its handle kept. Refused (FALSE) from the thread itself.
    BOOL StopWithin(DWORD dwTimeout);

    // Signals the stop event without waiting, so that the thread's next look at it sees the
    // stop (a caller that wakes the thread by other means asks first).
    void RequestStop();

    HANDLE GetStopEvent() const { return m_hStopEvent.Get(); }
    HANDLE GetThreadHandle() const { return m_hThread.Get(); }
    DWORD GetThreadId() const { return m_dwThreadId; }

private:
    static DWORD WINAPI ThreadProc(LPVOID param);
    BOOL WaitPumping(DWORD dwTimeout);

    UniqueKernelHandle m_hStopEvent;
    UniqueKernelHandle m_hThread;
    DWORD m_dwThreadId = 0;
};
