#include "tests/support/FailingAllocation.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> g_countdown{0};
std::atomic<size_t> g_failFrom{SIZE_MAX};
std::atomic<bool> g_failedOne{false};

void* Allocate(size_t size)
{
    if (size >= g_failFrom.load() || (g_countdown.load() > 0 && g_countdown.fetch_sub(1) == 1)) {
        g_failedOne = true;
        return nullptr;
    }
    return std::malloc(size != 0 ? size : 1);
}

void* AllocateOrDie(size_t size)
{
    void* p = Allocate(size);
    if (p == nullptr) {
        // The product builds without exceptions: an allocation that can only throw ends the
        // process, which is the fault the failures look for.
        std::fputs("a throwing operator new failed: the process would end here\n", stderr);
        std::abort();
    }
    return p;
}

}  // namespace

void FailAllocation(long n)
{
    g_failedOne = false;
    g_countdown = n;
}

void FailAllocationsFrom(size_t size)
{
    g_failedOne = false;
    g_failFrom = size;
}

bool AllocationFailed()
{
    return g_failedOne;
}

// The runtime's array forms come through these; its nothrow forms would call the
// throwing one, so they are replaced too.
void* operator new(size_t size)
{
    return AllocateOrDie(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}
