#include "threading/CKSThread.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace {

// Every wait here is bounded, so a thread that never ends fails the test instead of hanging it.
constexpr DWORD kEndWithin = 10000;

// A thread whose body each test gives.
class CTestThread : public CKSThread {
public:
    explicit CTestThread(std::function<DWORD(CKSThread&)> body) : m_body(std::move(body)) {}
    DWORD Run() override { return m_body(*this); }

private:
    std::function<DWORD(CKSThread&)> m_body;
};

HANDLE Duplicate(HANDLE thread)
{
    HANDLE dup = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &dup, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    return dup;
}

DWORD ExitCodeOnceEnded(HANDLE thread)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(thread, kEndWithin) == WAIT_OBJECT_0)
        GetExitCodeThread(thread, &code);
    return code;
}

TEST(CKSThread, StartFlagsApplyAndRunResultIsTheExitCode)
{
    CTestThread t([](CKSThread&) -> DWORD { return 7; });
    EXPECT_TRUE(t.Stop(0, FALSE)) << "no thread yet";
    ASSERT_TRUE(t.Start(CREATE_SUSPENDED));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(t.GetThreadHandle(), 0))
        << "ran although suspended";
    ResumeThread(t.GetThreadHandle());
    EXPECT_EQ(7u, ExitCodeOnceEnded(t.GetThreadHandle()));
    EXPECT_TRUE(t.Stop(INFINITE, FALSE));
    EXPECT_EQ(nullptr, t.GetThreadHandle());
}

TEST(CKSThread, RestartStopsTheOldThreadThroughItsEventAndLeavesItSignalled)
{
    // Ends when its stop event is signalled (3), or after the bounded wait (4).
    CTestThread t([](CKSThread& self) -> DWORD {
        return WaitForSingleObject(self.GetStopEvent(), kEndWithin) == WAIT_OBJECT_0 ? 3 : 4;
    });
    ASSERT_TRUE(t.Start(0));
    const HANDLE first = Duplicate(t.GetThreadHandle());
    ASSERT_TRUE(t.Start(0));
    EXPECT_EQ(3u, ExitCodeOnceEnded(first)) << "the first thread was not stopped";
    EXPECT_EQ(3u, ExitCodeOnceEnded(t.GetThreadHandle()))
        << "the second thread found the event reset";
    EXPECT_TRUE(t.Stop(kEndWithin, FALSE));
    CloseHandle(first);
}

// The thread is terminated once inside its body: the emulator may crash the process when a
// thread is terminated while it is still starting.
TEST(CKSThread, ThreadThatIgnoresTheEventIsTerminatedWithExitCodeOne)
{
    const HANDLE inside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CTestThread t([inside](CKSThread&) -> DWORD {
        SetEvent(inside);
        Sleep(INFINITE);
        return 0;
    });
    ASSERT_TRUE(t.Start(0));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(inside, kEndWithin));
    const HANDLE dup = Duplicate(t.GetThreadHandle());
    EXPECT_FALSE(t.Stop(0, FALSE));
    EXPECT_EQ(1u, ExitCodeOnceEnded(dup));
    CloseHandle(dup);
    CloseHandle(inside);
}

TEST(CKSThread, StoppingFromInsideRunIsRefused)
{
    BOOL results[3] = {TRUE, TRUE, TRUE};
    bool signalled = true;
    CTestThread t([&](CKSThread& self) -> DWORD {
        results[0] = self.Stop(INFINITE, FALSE);
        results[1] = self.Stop(1000, FALSE);
        results[2] = self.StopWithin(1000);
        signalled = WaitForSingleObject(self.GetStopEvent(), 0) == WAIT_OBJECT_0;
        return 0;
    });
    ASSERT_TRUE(t.Start(0));
    ASSERT_EQ(0u, ExitCodeOnceEnded(t.GetThreadHandle()));
    EXPECT_FALSE(results[0] || results[1] || results[2] || signalled);
    EXPECT_TRUE(t.Stop(INFINITE, FALSE));
}

// The thread sends to a window of the stopping thread once asked to stop: without pumping,
// each would wait for the other.
TEST(CKSThread, PumpingStopHandlesMessagesSentMeanwhile)
{
    HWND window =
        CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    CTestThread t([window](CKSThread& self) -> DWORD {
        WaitForSingleObject(self.GetStopEvent(), INFINITE);
        return static_cast<DWORD>(
            SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"sent")));
    });
    ASSERT_TRUE(t.Start(0));
    EXPECT_TRUE(t.Stop(kEndWithin, TRUE));
    wchar_t text[8] = {};
    GetWindowTextW(window, text, 8);
    EXPECT_STREQ(L"sent", text);
    DestroyWindow(window);
}

}  // namespace
