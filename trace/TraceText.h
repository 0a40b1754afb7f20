// The leveled wide-text channel: records go to ovktrace.dll when their level is below the
// process-wide threshold. Every call returns at once when the library is absent.
#pragma once

#include <atomic>
#include <cstdint>

// Levels in use: the run's progress, detail, and function entry and exit records.
constexpr int32_t TRACE_LEVEL_PROGRESS = -1;
constexpr int32_t TRACE_LEVEL_DETAIL = 0;
constexpr int32_t TRACE_LEVEL_FUNCTION = 6;

// The threshold: a record of level L is written only when L < g_nTraceLevel. 7 until the
// application sets the configured value at start-up.
extern std::atomic<int32_t> g_nTraceLevel;

// Writes text (null counts as empty) as one record when level passes the threshold.
// -1 when it is filtered out or the library is absent, otherwise the library's answer.
int TraceText(int32_t level, const wchar_t* text);

// Stores the threshold and returns it.
int32_t SetTraceLevel(int32_t threshold);

// Writes one record formatted from format and its arguments, under category 2 and whatever
// the threshold. format is a wide format in the Windows C runtime's sense: a bare %s takes a
// wide string. -1 when the library is absent or format is null.
int TraceCategory2(const wchar_t* format, ...);
