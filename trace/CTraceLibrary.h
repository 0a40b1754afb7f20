// Binds ovktrace.dll for the leveled channel. The program has exactly one instance, a static
// object (trace/TraceText.cpp): its constructor loads the library and resolves the three
// exports; the library stays loaded until the process ends.
#pragma once

#include "trace/TraceLibraryExports.h"

#include <windows.h>

// The library and its exports, each null when not found. Written only by the one
// CTraceLibrary, before the entry runs; read from any thread.
extern HMODULE g_hOvkTraceModule;
extern PFN_OVKTRACE g_pfnOVKTRACE;
extern PFN_OVKTRACERAW g_pfnOVKTRACERAW;
extern PFN_OVKDUMPTOFILE g_pfnOVKDumptoFile;

class CTraceLibrary {
public:
    // Loads the library through the normal search order; a missing library or export leaves
    // its value null and tracing silent.
    CTraceLibrary();
    virtual ~CTraceLibrary();

    CTraceLibrary(const CTraceLibrary&) = delete;
    CTraceLibrary& operator=(const CTraceLibrary&) = delete;
};
