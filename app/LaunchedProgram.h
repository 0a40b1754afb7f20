// A program the updater started is given a moment to come up before the updater goes on, or
// exits and takes its console and desktop session with it: at most two seconds, then its handle
// is let go. Nothing waits for the program to end.
#pragma once

#include "util/UniqueHandle.h"

#include <windows.h>

constexpr DWORD kLaunchWaitMs = 2000;

inline void AwaitLaunched(UniqueKernelHandle process)
{
    if (process)
        WaitForSingleObject(process.Get(), kLaunchWaitMs);
}
