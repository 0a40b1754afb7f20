// Process-wide values the entry sets on the main thread.
#pragma once

#include <windows.h>

class CMVAgtApp;

// The program's own instance; also the module strings are loaded from.
extern HINSTANCE g_hInstance;
// The operating-system class computed once at start (-1 to 9).
extern int g_nOSVersionClass;
// The one application object; null before it is created and after it is destroyed.
extern CMVAgtApp* g_pAgtApp;
