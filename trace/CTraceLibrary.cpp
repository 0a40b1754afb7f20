#include "trace/CTraceLibrary.h"

#include "util/ProcAddress.h"

HMODULE g_hOvkTraceModule = nullptr;
PFN_OVKTRACE g_pfnOVKTRACE = nullptr;
PFN_OVKTRACERAW g_pfnOVKTRACERAW = nullptr;
PFN_OVKDUMPTOFILE g_pfnOVKDumptoFile = nullptr;

CTraceLibrary::CTraceLibrary()
{
    g_hOvkTraceModule = LoadLibraryW(OVKTRACE_DLL_NAME);
    if (g_hOvkTraceModule == nullptr)
        return;
    g_pfnOVKTRACE = GetProcAs<PFN_OVKTRACE>(g_hOvkTraceModule, OVKTRACE_EXPORT_TRACE);
    g_pfnOVKTRACERAW = GetProcAs<PFN_OVKTRACERAW>(g_hOvkTraceModule, OVKTRACE_EXPORT_TRACE_RAW);
    g_pfnOVKDumptoFile =
        GetProcAs<PFN_OVKDUMPTOFILE>(g_hOvkTraceModule, OVKTRACE_EXPORT_DUMP_TO_FILE);
}

CTraceLibrary::~CTraceLibrary()
{
    // Runs as the process ends, while another thread (the download library's, a URL worker
    // left inside WinInet) may still write a record: the library and its entry points stay
    // as they are, and the system unloads the library with the process.
}
