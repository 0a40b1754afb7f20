#include "threading/CKSThread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

class ReturnsSeven : public CKSThread {
public:
    DWORD Run() override { return 7; }
};

// Busy until told through its own flag; ignores the stop event.
class Stubborn : public CKSThread {
public:
    DWORD Run() override
    {
        started = true;
        while (!release) Sleep(1);
        return 0;
    }
    std::atomic<bool> started{false};
    std::atomic<bool> release{false};
};

// Ends when the stop event is signalled.
class Obedient : public CKSThread {
public:
    DWORD Run() override
    {
        WaitForSingleObject(GetStopEvent(), INFINITE);
        return 3;
    }
};

// Tries to stop itself from inside its body.
class SelfStopper : public CKSThread {
public:
    DWORD Run() override
    {
        infiniteResult = Stop(INFINITE, FALSE);
        finiteResult = Stop(1000, FALSE);
        eventSignalled = WaitForSingleObject(GetStopEvent(), 0) == WAIT_OBJECT_0;
        return 0;
    }
    BOOL infiniteResult = TRUE;
    BOOL finiteResult = TRUE;
    bool eventSignalled = true;
};

DWORD WaitAndExitCode(HANDLE thread)
{
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    return code;
}

TEST(CKSThread, StopWithoutThreadSucceeds)
{
    CKSThread t;
    EXPECT_TRUE(t.Stop(0, FALSE));
    EXPECT_TRUE(t.Stop(INFINITE, TRUE));
}

TEST(CKSThread, RunResultIsTheExitCode)
{
    ReturnsSeven t;
    ASSERT_TRUE(t.Start(0));
    EXPECT_NE(0u, t.GetThreadId());
    EXPECT_EQ(7u, WaitAndExitCode(t.GetThreadHandle()));
    EXPECT_TRUE(t.Stop(INFINITE, FALSE));
    EXPECT_EQ(nullptr, t.GetThreadHandle());
}

TEST(CKSThread, StopSignalsTheEventAndWaits)
{
    Obedient t;
    ASSERT_TRUE(t.Start(0));
    EXPECT_TRUE(t.Stop(INFINITE, FALSE));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t.GetStopEvent(), 0));
}

TEST(CKSThread, BusyThreadIsTerminatedWithExitCodeOne)
{
    Stubborn t;
    ASSERT_TRUE(t.Start(0));
    while (!t.started) Sleep(1);
    HANDLE dup = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), t.GetThreadHandle(), GetCurrentProcess(), &dup, 0,
                                FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_FALSE(t.Stop(0, FALSE));
    EXPECT_EQ(1u, WaitAndExitCode(dup));
    CloseHandle(dup);
}

TEST(CKSThread, StopFromInsideRunIsRefused)
{
    SelfStopper t;
    ASSERT_TRUE(t.Start(0));
    WaitForSingleObject(t.GetThreadHandle(), INFINITE);
    EXPECT_FALSE(t.infiniteResult);
    EXPECT_FALSE(t.finiteResult);
    EXPECT_FALSE(t.eventSignalled);
    EXPECT_TRUE(t.Stop(INFINITE, FALSE));
}

TEST(CKSThread, SuspendedStartRunsAfterResume)
{
    ReturnsSeven t;
    ASSERT_TRUE(t.Start(CREATE_SUSPENDED));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(t.GetThreadHandle(), 0));
    ResumeThread(t.GetThreadHandle());
    EXPECT_EQ(7u, WaitAndExitCode(t.GetThreadHandle()));
    EXPECT_TRUE(t.Stop(INFINITE, FALSE));
}

TEST(CKSThread, RestartStopsTheOldThreadAndKeepsTheEventSignalled)
{
    Obedient t;
    ASSERT_TRUE(t.Start(0));
    ASSERT_TRUE(t.Start(0));
    // The second thread finds the event still signalled and ends by itself.
    EXPECT_EQ(3u, WaitAndExitCode(t.GetThreadHandle()));
    EXPECT_TRUE(t.Stop(INFINITE, FALSE));
}

// Sends a message to a window of the stopping thread once asked to stop.
class Sender : public CKSThread {
public:
    explicit Sender(HWND target) : m_target(target) {}
    DWORD Run() override
    {
        WaitForSingleObject(GetStopEvent(), INFINITE);
        return static_cast<DWORD>(SendMessageW(m_target, WM_APP, 0, 0));
    }

private:
    HWND m_target;
};

std::atomic<int> g_handled{0};

LRESULT CALLBACK CountingWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_APP) return ++g_handled;
    return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST(CKSThread, PumpingStopHandlesMessagesSentMeanwhile)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CountingWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"CKSThreadTestWnd";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(nullptr, hwnd);

    g_handled = 0;
    Sender t(hwnd);
    ASSERT_TRUE(t.Start(0));
    EXPECT_TRUE(t.Stop(INFINITE, TRUE));
    EXPECT_EQ(1, g_handled.load());
    DestroyWindow(hwnd);
}

}  // namespace
