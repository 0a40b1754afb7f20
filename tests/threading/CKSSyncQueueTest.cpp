#include "threading/CKSSyncQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(CKSSyncQueue, PriorityItemsOvertakeNormalOnesEachListFifo)
{
    CKSSyncQueue q;
    q.Put(0xA, FALSE);
    q.Put(0xB, FALSE);
    q.Put(0xC, TRUE);
    q.Put(0xD, TRUE);
    EXPECT_EQ(4u, q.GetCount());
    for (ULONG_PTR expected : {0xC, 0xD, 0xA, 0xB})
        EXPECT_EQ(expected, q.Get(nullptr));
    EXPECT_EQ(0u, q.GetCount());
}

struct LatePut {
    CKSSyncQueue* queue;
    std::atomic<bool> done{false};
};

void CALLBACK PutLate(void* late, BOOLEAN)
{
    auto* put = static_cast<LatePut*>(late);
    put->done = true;
    put->queue->Put(0x77, FALSE);
}

// A Get on an empty queue waits until its wake handle is signalled (a timer here: a Get with a
// time-out), or without one until an item is put: a timer puts it after Get was called. Either
// way Get must come back only after that, which a Get that returns at once cannot show.
TEST(CKSSyncQueue, GetOnAnEmptyQueueWaitsForItsWakeHandleOrAnItem)
{
    CKSSyncQueue q;
    HANDLE timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    ASSERT_NE(nullptr, timer);
    LARGE_INTEGER due;
    due.QuadPart = -2000000;  // 200 ms from now
    ASSERT_TRUE(SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE));
    EXPECT_EQ(0u, q.Get(timer));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(timer, 0)) << "returned before its wake handle";
    // The timer stays signalled: a queued item still wins over it.
    q.Put(0x5, FALSE);
    EXPECT_EQ(0x5u, q.Get(timer));
    CloseHandle(timer);

    // Kept for the whole run: a Get that came back early leaves the timer to fire after the test.
    static CKSSyncQueue late;
    static LatePut put{&late};
    HANDLE putter = nullptr;
    ASSERT_TRUE(CreateTimerQueueTimer(&putter, nullptr, PutLate, &put, 200, 0, WT_EXECUTEONLYONCE));
    EXPECT_EQ(0x77u, late.Get(nullptr));
    EXPECT_TRUE(put.done) << "returned before the item was put";
    DeleteTimerQueueTimer(nullptr, putter, INVALID_HANDLE_VALUE);
}

// Every producer's items must arrive in its order, each exactly once.
TEST(CKSSyncQueue, ManyProducersOneConsumerLoseNothing)
{
    constexpr size_t kProducers = 4;
    constexpr ULONG_PTR kPerProducer = 5000;
    CKSSyncQueue q;
    std::vector<std::thread> producers;
    for (size_t p = 0; p < kProducers; ++p) {
        producers.emplace_back([&q, p] {
            for (ULONG_PTR i = 1; i <= kPerProducer; ++i)
                q.Put((p << 20) | i, FALSE);
        });
    }
    std::vector<ULONG_PTR> last(kProducers, 0);
    bool inOrder = true;
    for (ULONG_PTR n = 0; n < kProducers * kPerProducer; ++n) {
        const ULONG_PTR item = q.Get(nullptr);
        const size_t p = (item >> 20) % kProducers;
        inOrder = inOrder && item >> 20 < kProducers && (item & 0xFFFFF) == last[p] + 1;
        last[p] = item & 0xFFFFF;
    }
    for (auto& t : producers)
        t.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(std::vector<ULONG_PTR>(kProducers, kPerProducer), last);
    EXPECT_EQ(0u, q.GetCount());
}

}  // namespace
