// Formatted records of the leveled trace channel: the text is formatted into a buffer of
// cch wide characters (cut there when longer) and written with TraceText.
#pragma once

#include <cstddef>
#include <cstdint>

// The records' capacities, terminator included: a short one for a line with a number or a
// name, a long one for a line with a path or a URL in it.
constexpr size_t kShortRecord = 256;
constexpr size_t kLongRecord = 512;

void TraceFormat(int32_t level, size_t cch, const wchar_t* format, ...);
