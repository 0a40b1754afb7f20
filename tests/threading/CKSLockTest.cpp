#include "threading/CKSCriticalSection.h"
#include "threading/CKSLock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// Increments without atomics: only the critical section keeps the count exact, and a guard
// that failed to release would leave the other threads blocked for good.
TEST(CKSCriticalSection, GuardsExcludeOtherThreadsAndReleaseAtBlockEnd)
{
    CKSCriticalSection cs;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                CKSLock guard(cs);
                const long v = counter;
                counter = v + 1;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(80000, counter);
}

}  // namespace
