// Named points of the worker and its cleanup at which a test may hold a thread, to force an
// interleaving no scheduler shows on demand. Null in the product, where each point costs one
// load and one branch.
#pragma once

enum class UrlPausePoint {
    // The worker, its exchange over, about to hand the request back to the manager.
    BeforeHandBack,
    // The worker thread at its very end, its state already finished.
    ThreadFinished,
    // Cleanup, its wait run out, with a thread that is not blocked in WinInet (on its way out,
    // or handing a request back): just before the short last wait for it.
    StopOverdue,
};

using UrlTestPauseFn = void (*)(UrlPausePoint point);

extern UrlTestPauseFn g_pfnUrlTestPause;

inline void UrlTestPause(UrlPausePoint point)
{
    if (g_pfnUrlTestPause != nullptr)
        g_pfnUrlTestPause(point);
}
