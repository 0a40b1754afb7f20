// Stopping the URL module and cancelling its work as WinInet behaves on Windows, where closing a
// handle wakes the call blocked on it, which Wine's WinInet never does: each row scripts WinInet
// (tests/mvurl/ScriptedWinInet.h), starts a request or two, cleans up at a chosen moment and
// checks what a real machine relies on: no request started after the stop, cleanup within its
// bound, nothing delivered after cleanup nor after a new start, and no worker left behind.
#include "mvurl/CUrlMgr.h"
#include "mvurl/CUrlRequest.h"
#include "mvurl/CUrlWinInetWorker.h"
#include "mvurl/MVUrl.h"
#include "tests/mvurl/ScriptedWinInet.h"
#include "threading/KSHandleCreation.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <new>
#include <ostream>
#include <string>
#include <vector>

namespace {

std::atomic<int> g_delivered{0};

int32_t CountDelivery(CUrlRequest*, int32_t, const uint8_t*)
{
    ++g_delivered;
    return 0;
}

// A manager that keeps its worker's stop event, for a connect that returns once a stop is asked.
class CObservedMgr : public CUrlMgr {
public:
    HANDLE StopEvent() const { return m_hStopEvent; }

protected:
    CUrlWorker* CreateWorker() override
    {
        auto* worker = new (std::nothrow) CUrlWinInetWorker(this);
        m_hStopEvent = worker != nullptr ? worker->GetStopEvent() : nullptr;
        return worker;
    }

private:
    HANDLE m_hStopEvent = nullptr;
};

enum class Failing { Nothing, StopEvent, Semaphore };

HANDLE WINAPI NoEvent(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR)
{
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
}

HANDLE WINAPI NoSemaphore(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR)
{
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
}

// Makes the creation of one kind of handle fail while it lives.
class CreationFailure {
public:
    explicit CreationFailure(Failing failing)
    {
        if (failing == Failing::StopEvent)
            g_pfnKSCreateEvent = NoEvent;
        if (failing == Failing::Semaphore)
            g_pfnKSCreateSemaphore = NoSemaphore;
    }
    ~CreationFailure()
    {
        g_pfnKSCreateEvent = &CreateEventW;
        g_pfnKSCreateSemaphore = &CreateSemaphoreW;
    }
    CreationFailure(const CreationFailure&) = delete;
    CreationFailure& operator=(const CreationFailure&) = delete;
};

// What the first request must have reached before the others are submitted and cleanup runs.
enum class Reached { Nothing, Send, Connect, Hold };

struct StopRow {
    const char* name;
    WinInetScript script;
    bool connectReturnsAtStop;  // the connect returns only once the stop is asked
    Failing failing;
    int requests;
    Reached cleanupAfter;
    // Expected.
    bool initialised;
    bool cleanupStopped;  // true: the worker ended and was freed, not abandoned
    DWORD cleanupWithinMs;
    int connects;
};

std::ostream& operator<<(std::ostream& out, const StopRow& row)
{
    return out << row.name;
}

using Send = WinInetScript::Send;
using Point = UrlPausePoint;

// clang-format off
const StopRow kRows[] = {
    // name; script {send, request close waits, connect close waits, hold, at, until};
    // connect returns at stop; failing; requests; cleanup after;
    // initialised, cleanup stopped, within ms, connects
    {"close_wakes_send_with_request_queued",
     {Send::BlocksUntilClosed, true, false, false, Point::BeforeHandBack, Point::StopOverdue},
     false, Failing::Nothing, 2, Reached::Send, true, true, 1000, 1},
    {"slow_connection_close",
     {Send::BlocksUntilClosed, false, true, false, Point::BeforeHandBack, Point::StopOverdue},
     false, Failing::Nothing, 2, Reached::Send, true, true, 1000, 1},
    {"stop_between_connect_and_store",
     {Send::BlocksUntilClosed, false, false, false, Point::BeforeHandBack, Point::StopOverdue},
     true, Failing::Nothing, 1, Reached::Connect, true, true, 500, 1},
    {"held_between_check_and_hand_back",
     {Send::Answers, false, false, true, Point::BeforeHandBack, Point::StopOverdue},
     false, Failing::Nothing, 1, Reached::Hold, true, true, 6000, 1},
    {"thread_finishing_at_the_deadline",
     {Send::Answers, false, false, true, Point::ThreadFinished, Point::StopOverdue},
     false, Failing::Nothing, 0, Reached::Nothing, true, true, 6000, 0},
    {"stop_event_not_created",
     {Send::Answers, false, false, false, Point::BeforeHandBack, Point::StopOverdue},
     false, Failing::StopEvent, 1, Reached::Nothing, false, true, 500, 0},
    {"semaphore_not_created",
     {Send::Answers, false, false, false, Point::BeforeHandBack, Point::StopOverdue},
     false, Failing::Semaphore, 1, Reached::Nothing, false, true, 500, 0},
};
// clang-format on

bool WaitUntilReached(Reached reached)
{
    switch (reached) {
    case Reached::Send:
        return ScriptedWinInet::WaitForSend();
    case Reached::Connect:
        return ScriptedWinInet::WaitForConnect();
    case Reached::Hold:
        return ScriptedWinInet::WaitForHold();
    default:
        return true;
    }
}

// Workers end on their own threads: polled until the count is back, for at most 10 s.
bool LiveWorkersReach(int32_t count)
{
    for (int i = 0; i < 1000 && CUrlWinInetWorker::LiveCount() != count; ++i)
        Sleep(10);
    return CUrlWinInetWorker::LiveCount() == count;
}

class WorkerStop : public ::testing::TestWithParam<StopRow> {
protected:
    void SetUp() override { g_delivered = 0; }
    void TearDown() override { ScriptedWinInet::Uninstall(); }
};

TEST_P(WorkerStop, NothingStartsOrArrivesAfterCleanupAndNoWorkerIsLeft)
{
    const StopRow& row = GetParam();
    const int32_t liveBefore = CUrlWinInetWorker::LiveCount();
    ScriptedWinInet::Install(row.script);
    CObservedMgr mgr;
    uint32_t initialised;
    {
        CreationFailure failure(row.failing);
        initialised = mgr.Init(nullptr, 0);
    }
    EXPECT_EQ(row.initialised ? 1u : 0u, initialised);
    if (row.connectReturnsAtStop)
        ScriptedWinInet::HoldConnectsUntil(mgr.StopEvent());
    for (int i = 0; i < row.requests; ++i) {
        CUrlRequest* request = nullptr;
        EXPECT_EQ(
            row.initialised ? MVURL_OK : MVURL_E_NO_WORKER,
            mgr.CreateRequest("https://scripted.mvtest.invalid/r", 1, CountDelivery, &request))
            << "request " << i;
        if (i == 0) {
            ASSERT_TRUE(WaitUntilReached(row.cleanupAfter)) << "the worker never got there";
        }
    }

    const DWORD started = GetTickCount();
    const bool stopped = mgr.Cleanup();
    const DWORD elapsed = GetTickCount() - started;
    EXPECT_EQ(row.cleanupStopped, stopped);
    EXPECT_LT(elapsed, row.cleanupWithinMs);

    // Whatever is still held goes now: an abandoned worker ends, and must deliver nothing.
    ScriptedWinInet::LetGo();
    EXPECT_TRUE(LiveWorkersReach(liveBefore))
        << CUrlWinInetWorker::LiveCount() - liveBefore << " worker(s) left";
    const int connects = ScriptedWinInet::Connects();
    mgr.DispatchResults();
    EXPECT_EQ(0, g_delivered.load()) << "delivered after cleanup";
    ScriptedWinInet::Install(WinInetScript());
    EXPECT_EQ(1u, mgr.Init(nullptr, 0));
    mgr.DispatchResults();
    EXPECT_EQ(0, g_delivered.load()) << "delivered after a new start";
    EXPECT_TRUE(mgr.Cleanup());
    EXPECT_EQ(row.connects, connects) << "connections made";
}

INSTANTIATE_TEST_SUITE_P(Windows, WorkerStop, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Wine's WinInet connects without any time-out, so a server that accepts nothing cannot show
// the connect time-out at work there (the receive time-out is shown by a silent real server):
// what WinInet is given for every request is checked here instead.
TEST(WorkerTimeOuts, TheSessionAndEveryRequestGetTheConnectSendAndReceiveTimeOuts)
{
    ScriptedWinInet::Install(WinInetScript());
    CObservedMgr mgr;
    ASSERT_EQ(1u, mgr.Init(nullptr, 0));
    g_delivered = 0;
    for (int i = 0; i < 2; ++i) {
        CUrlRequest* request = nullptr;
        ASSERT_EQ(MVURL_OK, mgr.CreateRequest("https://scripted.mvtest.invalid/r", 1, CountDelivery,
                                              &request));
    }
    for (int i = 0; i < 2000 && g_delivered < 2; ++i, Sleep(5))
        mgr.DispatchResults();
    EXPECT_EQ(2, g_delivered.load());
    EXPECT_TRUE(mgr.Cleanup());
    ScriptedWinInet::Uninstall();
    std::vector<std::string> expected;
    for (const char* handle : {"root", "request", "request"}) {
        for (const char* timeOut : {"connect 10000", "send 20000", "receive 20000"})
            expected.push_back(std::string(handle) + " " + timeOut);
    }
    EXPECT_EQ(expected, ScriptedWinInet::TimeOutsSet());
}

}  // namespace
