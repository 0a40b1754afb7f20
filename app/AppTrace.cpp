#include "app/AppTrace.h"

#include "trace/TraceText.h"
#include "util/SafeString.h"

#include <algorithm>
#include <cstdarg>

namespace {

constexpr size_t kLargestRecord = 2048;

}  // namespace

void TraceFormat(int32_t level, size_t cch, const wchar_t* format, ...)
{
    wchar_t text[kLargestRecord] = {};
    va_list args;
    va_start(args, format);
    BoundedFormatV(text, std::min(cch, kLargestRecord), format, args);
    va_end(args);
    TraceText(level, text);
}
