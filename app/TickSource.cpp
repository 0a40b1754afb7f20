#include "app/TickSource.h"

#include <atomic>

namespace {

DWORD SystemTicks()
{
    return GetTickCount();
}

std::atomic<TickSourceFn> g_tickSource{SystemTicks};

}  // namespace

DWORD AppTickCount()
{
    return g_tickSource.load()();
}

void SetAppTickSource(TickSourceFn source)
{
    g_tickSource = source != nullptr ? source : SystemTicks;
}
