#include "threading/CKSCriticalSection.h"
#include "threading/CKSLock.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// Asks from another thread whether the critical section is free right now. The section
// must be probed from another thread: the owner may always enter it again.
bool IsFreeForOthers(CRITICAL_SECTION* cs)
{
    struct Probe {
        CRITICAL_SECTION* cs;
        bool free;
    } probe{cs, false};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            auto* pr = static_cast<Probe*>(p);
            pr->free = TryEnterCriticalSection(pr->cs) != FALSE;
            if (pr->free) LeaveCriticalSection(pr->cs);
            return 0;
        },
        &probe, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return probe.free;
}

// Exposes the critical section so tests can observe whether it is held.
class ObservableSection : public CKSCriticalSection {
public:
    CRITICAL_SECTION* Raw() { return &m_cs; }
};

// A lock that counts calls, to check the guard's pairing on any lockable.
class CountingLock : public CKSLockable {
public:
    void Lock() override { ++locks; }
    void Unlock() override { ++unlocks; }
    BOOL TryLock() override { return TRUE; }
    int locks = 0;
    int unlocks = 0;
};

TEST(CKSCriticalSection, TryLockNeverSucceeds)
{
    CKSCriticalSection cs;
    EXPECT_FALSE(cs.TryLock());
    CKSLock hold(cs);
    EXPECT_FALSE(cs.TryLock());
}

TEST(CKSLock, HoldsForTheBlockOnly)
{
    ObservableSection cs;
    ASSERT_TRUE(IsFreeForOthers(cs.Raw()));
    {
        CKSLock guard(cs);
        EXPECT_FALSE(IsFreeForOthers(cs.Raw()));
    }
    EXPECT_TRUE(IsFreeForOthers(cs.Raw()));
}

TEST(CKSLock, NestedGuardsOnOneThreadDoNotBlock)
{
    ObservableSection cs;
    {
        CKSLock outer(cs);
        {
            CKSLock inner(cs);
            EXPECT_FALSE(IsFreeForOthers(cs.Raw()));
        }
        EXPECT_FALSE(IsFreeForOthers(cs.Raw())) << "freed after the inner guard only";
    }
    EXPECT_TRUE(IsFreeForOthers(cs.Raw()));
}

TEST(CKSLock, ReleasesWhenTheBlockThrows)
{
    ObservableSection cs;
    EXPECT_THROW(
        {
            CKSLock guard(cs);
            throw std::runtime_error("leave the block");
        },
        std::runtime_error);
    EXPECT_TRUE(IsFreeForOthers(cs.Raw()));
}

TEST(CKSLock, PairsLockAndUnlockOnAnyLockable)
{
    CountingLock lock;
    {
        CKSLock a(lock);
        CKSLock b(lock);
        EXPECT_EQ(2, lock.locks);
        EXPECT_EQ(0, lock.unlocks);
    }
    EXPECT_EQ(2, lock.unlocks);
}

TEST(CKSCriticalSection, ExcludesOtherThreads)
{
    CKSCriticalSection cs;
    long counter = 0;
    struct Ctx {
        CKSCriticalSection* cs;
        long* counter;
    } ctx{&cs, &counter};
    auto worker = [](LPVOID p) -> DWORD {
        auto* c = static_cast<Ctx*>(p);
        for (int i = 0; i < 20000; ++i) {
            CKSLock guard(*c->cs);
            const long v = *c->counter;
            *c->counter = v + 1;
        }
        return 0;
    };
    HANDLE threads[4];
    for (auto& t : threads) t = CreateThread(nullptr, 0, worker, &ctx, 0, nullptr);
    WaitForMultipleObjects(4, threads, TRUE, INFINITE);
    for (auto t : threads) CloseHandle(t);
    EXPECT_EQ(80000, counter);
}

}  // namespace
