#include "trace/CTraceLibrary.h"

HMODULE g_hOvkTraceModule = nullptr;
PFN_OVKTRACE g_pfnOVKTRACE = nullptr;
PFN_OVKTRACERAW g_pfnOVKTRACERAW = nullptr;
PFN_OVKDUMPTOFILE g_pfnOVKDumptoFile = nullptr;

namespace {

template <typename Fn>
Fn Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

CTraceLibrary::CTraceLibrary()
{
    g_hOvkTraceModule = LoadLibraryW(OVKTRACE_DLL_NAME);
    if (g_hOvkTraceModule == nullptr) return;
    g_pfnOVKTRACE = Resolve<PFN_OVKTRACE>(g_hOvkTraceModule, OVKTRACE_EXPORT_TRACE);
    g_pfnOVKTRACERAW = Resolve<PFN_OVKTRACERAW>(g_hOvkTraceModule, OVKTRACE_EXPORT_TRACE_RAW);
    g_pfnOVKDumptoFile =
        Resolve<PFN_OVKDUMPTOFILE>(g_hOvkTraceModule, OVKTRACE_EXPORT_DUMP_TO_FILE);
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
