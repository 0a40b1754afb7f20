#include "trace/TraceModules.h"

#include "trace/StaticInitOrder.h"
#include "util/DllSearch.h"

// Both modules live in this file so that the URL module, which reaches "MV" through the
// functions below, also links "KSBASE".

namespace {

const TRACE_MAP_ENTRY s_ksBaseLevels[] = {
    {KSBASE_TRACE_INFORMATION, "Information", 1},
    {KSBASE_TRACE_ERROR, "Error", 1},
    {0, nullptr, 0},
};

const TRACE_MAP_ENTRY s_mvLevels[] = {
    {MV_TRACE_FUNCTION, "Function", 0},
    {MV_TRACE_INFORMATION, "Information", 1},
    {MV_TRACE_ERROR, "Error", 1},
    {0, nullptr, 0},
};

// Built first of all: the modules below load KSTRAC32.DLL as they are built.
CDllSearchRestriction s_dllSearch MVU_INIT_PRIORITY(MVU_INIT_PRIORITY_DLL_SEARCH);

CKSTraceModule s_ksBaseModule
    MVU_INIT_PRIORITY(MVU_INIT_PRIORITY_TRACE_MODULE_KSBASE)("KSBASE", s_ksBaseLevels);
CKSTraceModule s_mvModule MVU_INIT_PRIORITY(MVU_INIT_PRIORITY_TRACE_MODULE_MV)("MV", s_mvLevels);

}  // namespace

CKSTraceModule& GetKSBaseTraceModule()
{
    return s_ksBaseModule;
}

CKSTraceModule& GetMVTraceModule()
{
    return s_mvModule;
}

void TraceMV(uint32_t level, const char* text)
{
    s_mvModule.Trace(level, text);
}
