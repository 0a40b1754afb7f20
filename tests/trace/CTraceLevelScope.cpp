#include "tests/trace/CTraceLevelScope.h"

#include "trace/TraceText.h"

CTraceLevelScope::CTraceLevelScope(int32_t threshold) : m_previous(g_nTraceLevel.load())
{
    SetTraceLevel(threshold);
}

CTraceLevelScope::~CTraceLevelScope()
{
    SetTraceLevel(m_previous);
}
