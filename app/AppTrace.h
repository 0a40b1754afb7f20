// Formatted records of the leveled trace channel: the text is formatted into a buffer of
// cch wide characters (cut there when longer) and written with TraceText.
#pragma once

#include <cstddef>
#include <cstdint>

void TraceFormat(int32_t level, size_t cch, const wchar_t* format, ...);
