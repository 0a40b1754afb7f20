#include "threading/CKSSyncQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct Event {
    HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Event() { CloseHandle(h); }
};

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

// A Get on an empty queue blocks until an item comes or its wake handle is signalled. A row
// whose consumer is never woken leaves it behind (the state is shared) rather than hang.
TEST(CKSSyncQueue, BlockedGetEndsOnAnItemOrItsWakeHandle)
{
    struct State {
        CKSSyncQueue queue;
        Event wake, done;
        std::atomic<ULONG_PTR> got{1};
    };
    struct Row {
        const char* name;
        bool byWake;  // woken by the wake handle, else by an item (and without a wake handle)
        ULONG_PTR expected;
    };
    const Row rows[] = {{"item", false, 0x77}, {"wake handle", true, 0}};
    for (const Row& row : rows) {
        auto s = std::make_shared<State>();
        std::thread consumer([s, row] {
            s->got = s->queue.Get(row.byWake ? s->wake.h : nullptr);
            SetEvent(s->done.h);
        });
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(s->done.h, 100))
            << row.name << ": returned with nothing queued";
        row.byWake ? SetEvent(s->wake.h) : s->queue.Put(0x77, FALSE);
        const bool returned = WaitForSingleObject(s->done.h, 10000) == WAIT_OBJECT_0;
        EXPECT_TRUE(returned) << row.name << ": the consumer was not woken";
        EXPECT_EQ(row.expected, s->got.load()) << row.name;
        if (!returned) {
            consumer.detach();
            continue;
        }
        consumer.join();
        // A later item is still delivered, and wins over a signalled wake handle.
        SetEvent(s->wake.h);
        s->queue.Put(0x5, FALSE);
        EXPECT_EQ(0x5u, s->queue.Get(s->wake.h)) << row.name;
    }
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
