// Where the threading classes get their stop events and semaphores: from the system, unless a
// test puts failing functions in their place to see what a class does with a handle it could
// not get. The product never changes them.
#pragma once

#include <windows.h>

using KSCreateEventFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR);
using KSCreateSemaphoreFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR);

extern KSCreateEventFn g_pfnKSCreateEvent;
extern KSCreateSemaphoreFn g_pfnKSCreateSemaphore;
