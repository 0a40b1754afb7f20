#include "threading/CKSSyncQueue.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(0xCu, q.Get(nullptr));
    EXPECT_EQ(0xDu, q.Get(nullptr));
    EXPECT_EQ(0xAu, q.Get(nullptr));
    EXPECT_EQ(0xBu, q.Get(nullptr));
    EXPECT_EQ(0u, q.GetCount());
}

TEST(CKSSyncQueue, SignalledWakeHandleStillYieldsQueuedItems)
{
    CKSSyncQueue q;
    Event stop;
    SetEvent(stop.h);
    q.Put(0x1234, FALSE);
    EXPECT_EQ(0x1234u, q.Get(stop.h));
    // Nothing queued: the wake handle answers at once with "no item".
    EXPECT_EQ(0u, q.Get(stop.h));
}

TEST(CKSSyncQueue, PointerSizedItemsSurviveWhole)
{
    CKSSyncQueue q;
    int object = 0;
    q.Put(reinterpret_cast<ULONG_PTR>(&object), FALSE);
    EXPECT_EQ(&object, reinterpret_cast<int*>(q.Get(nullptr)));
}

TEST(CKSSyncQueue, GetWithoutWakeHandleBlocksUntilPut)
{
    CKSSyncQueue q;
    ULONG_PTR got = 0;
    std::thread consumer([&] { got = q.Get(nullptr); });
    // A consumer that returned early would be wrong; give it a chance to do so.
    Sleep(100);
    EXPECT_EQ(0u, got);
    q.Put(0x77, FALSE);
    consumer.join();
    EXPECT_EQ(0x77u, got);
}

TEST(CKSSyncQueue, WakeHandleEndsABlockedGet)
{
    CKSSyncQueue q;
    Event stop;
    ULONG_PTR got = 1;
    std::thread consumer([&] { got = q.Get(stop.h); });
    SetEvent(stop.h);
    consumer.join();
    EXPECT_EQ(0u, got);
    // The wake took no announcement: a later item is still delivered.
    q.Put(0x5, FALSE);
    EXPECT_EQ(0x5u, q.Get(nullptr));
}

TEST(CKSSyncQueue, ManyProducersOneConsumerLoseNothing)
{
    constexpr int kProducers = 4;
    constexpr ULONG_PTR kPerProducer = 5000;
    CKSSyncQueue q;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&q, p] {
            for (ULONG_PTR i = 1; i <= kPerProducer; ++i) q.Put((static_cast<ULONG_PTR>(p) << 20) | i, (i % 7) == 0);
        });
    }
    std::vector<ULONG_PTR> lastNormal(kProducers, 0);
    std::vector<ULONG_PTR> seen(kProducers, 0);
    for (ULONG_PTR n = 0; n < kProducers * kPerProducer; ++n) {
        const ULONG_PTR item = q.Get(nullptr);
        ASSERT_NE(0u, item);
        const int p = static_cast<int>(item >> 20);
        const ULONG_PTR i = item & 0xFFFFF;
        ASSERT_LT(p, kProducers);
        ++seen[p];
        if (i % 7 != 0) {
            EXPECT_GT(i, lastNormal[p]) << "normal items of one producer out of order";
            lastNormal[p] = i;
        }
    }
    for (auto& t : producers) t.join();
    for (int p = 0; p < kProducers; ++p) EXPECT_EQ(kPerProducer, seen[p]);
    EXPECT_EQ(0u, q.GetCount());
}

}  // namespace
