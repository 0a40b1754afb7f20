#include "trace/CTraceLibrary.h"

#include "util/ProcAddress.h"

HMODULE g_hOvkTraceModule = nullptr;
PFN_OVKTRACE g_pfnOVKTRACE = nullptr;
PFN_OVKTRACERAW g_pfnOVKTRACERAW = nullptr;
PFN_OVKDUMPTOFILE g_pfnOVKDumptoFile = nullptr;

CTraceLibrary::CTraceLibrary()
{
    g_hOvkTraceModule = LoadLibraryW(OVKTRACE_DLL_NAME);
    if (g_hOvkTraceModule == nullptr) return;
    g_pfnOVKTRACE = GetProcAs<PFN_OVKTRACE>(g_hOvkTraceModule, OVKTRACE_EXPORT_TRACE);
    g_pfnOVKTRACERAW = GetProcAs<PFN_OVKTRACERAW>(g_hOvkTraceModule, OVKTRACE_EXPORT_TRACE_RAW);
    g_pfnOVKDumptoFile =
        GetProcAs<PFN_OVKDUMPTOFILE>(g_hOvkTraceModule, OVKTRACE_EXPORT_DUMP_TO_FILE);
}

CTraceLibrary::~CTraceLibrary()
{
    // Cleared before the library goes, so a late record finds nothing to call.
    g_pfnOVKTRACE = nullptr;
    g_pfnOVKTRACERAW = nullptr;
    g_pfnOVKDumptoFile = nullptr;
    if (g_hOvkTraceModule != nullptr) {
        FreeLibrary(g_hOvkTraceModule);
        g_hOvkTraceModule = nullptr;
    }
}
