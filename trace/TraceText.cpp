#include "trace/TraceText.h"

#include "trace/CTraceLibrary.h"
#include "trace/StaticInitOrder.h"

#include <cstdarg>

std::atomic<int32_t> g_nTraceLevel{7};

namespace {

// Loads ovktrace.dll before the entry runs and releases it after the entry returns. It lives
// here so that any program writing leveled records also links its loader.
CTraceLibrary s_traceLibrary MVU_INIT_PRIORITY(MVU_INIT_PRIORITY_TRACE_LIBRARY);

}  // namespace

int TraceText(int32_t level, const wchar_t* text)
{
    if (level >= g_nTraceLevel.load()) return -1;
    return TraceCategory2(L"%s", text != nullptr ? text : L"");
}

int32_t SetTraceLevel(int32_t threshold)
{
    g_nTraceLevel.store(threshold);
    return threshold;
}

int TraceCategory2(const wchar_t* format, ...)
{
    const PFN_OVKTRACE trace = g_pfnOVKTRACE;
    if (trace == nullptr || format == nullptr) return -1;
    va_list args;
    va_start(args, format);
    const int result = trace(OVKTRACE_CATEGORY_LEVELED, 0, 0, format, args);
    va_end(args);
    return result;
}
