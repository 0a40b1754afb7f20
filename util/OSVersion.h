// The operating-system class: -1 (not recognised) to 9 (Windows 7 and later).
// 4 or more is the NT family; 8 or more is Vista or later.
#pragma once

constexpr int kOsClassUnknown = -1;
constexpr int kOsClassWin32s = 0;
constexpr int kOsClassWin95 = 1;
constexpr int kOsClassWin98 = 2;
constexpr int kOsClassWinMe = 3;
constexpr int kOsClassNt4 = 4;
constexpr int kOsClassWin2000 = 5;
constexpr int kOsClassWinXp = 6;
constexpr int kOsClassWin2003 = 7;
constexpr int kOsClassVista = 8;
constexpr int kOsClassWin7 = 9;

// The class of a platform id and version as GetVersionEx reports them. Pure: no system call.
int OSVersionClassFromVersion(unsigned long platformId, unsigned long major, unsigned long minor);

#ifdef _WIN32
#include <windows.h>

// The class of the running system; -1 when the version cannot be read.
int GetOSVersionClass();

// TRUE when this is a 32-bit process on 64-bit Windows; FALSE when that cannot be told.
BOOL IsWow64();
#endif
