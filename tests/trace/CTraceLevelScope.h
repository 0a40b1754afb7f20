// Test helper: the trace threshold for one scope, the old one put back at its end.
#pragma once

#include "trace/TraceText.h"

#include <cstdint>

class CTraceLevelScope {
public:
    explicit CTraceLevelScope(int32_t threshold) : m_previous(g_nTraceLevel.load())
    {
        SetTraceLevel(threshold);
    }
    virtual ~CTraceLevelScope() { SetTraceLevel(m_previous); }

    CTraceLevelScope(const CTraceLevelScope&) = delete;
    CTraceLevelScope& operator=(const CTraceLevelScope&) = delete;

private:
    int32_t m_previous;
};
