// The one clock every elapsed-time decision of the application reads (GetTickCount unless a
// test puts its own in), so the 1 s, 10 s, 30 s, 180 s and 600 s limits and the wrap of
// the 32-bit millisecond count can be tested without waiting.
#pragma once

#include <windows.h>

using TickSourceFn = DWORD (*)();

DWORD AppTickCount();

// Replaces the clock; null puts GetTickCount back.
void SetAppTickSource(TickSourceFn source);
