#include "trace/TraceText.h"

#include "trace/CTraceLibrary.h"
#include "trace/CTraceSecrets.h"
#include "trace/StaticInitOrder.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>

std::atomic<int32_t> g_nTraceLevel{7};

namespace {

// Loads ovktrace.dll before the entry runs and releases it after the entry returns. It lives
// here so that any program writing leveled records also links its loader.
CTraceLibrary s_traceLibrary MVU_INIT_PRIORITY(MVU_INIT_PRIORITY_TRACE_LIBRARY);

}  // namespace

int TraceText(int32_t level, const wchar_t* text)
{
    if (level >= g_nTraceLevel.load())
        return -1;
    return TraceCategory2(L"%s", text != nullptr ? text : L"");
}

int32_t SetTraceLevel(int32_t threshold)
{
    g_nTraceLevel.store(threshold);
    return threshold;
}

namespace {

// Hands the finished record to the library, which formats it once more: as "%s", so nothing
// in the record is read as a format.
int WriteRecord(PFN_OVKTRACE trace, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int result = trace(OVKTRACE_CATEGORY_LEVELED, 0, 0, format, args);
    va_end(args);
    return result;
}

// Most records fit here: formatting them needs no heap.
constexpr size_t kStackRecordChars = 1024;

// The record formatted by the Windows C runtime's rules: into stackBuffer when it fits, else
// into *heap; null when memory runs out.
const wchar_t* FormatRecord(wchar_t (&stackBuffer)[kStackRecordChars],
                            std::unique_ptr<wchar_t[]>* heap, const wchar_t* format, va_list args)
{
    va_list counting;
    va_copy(counting, args);
    const int length = _vscwprintf(format, counting);
    va_end(counting);
    if (length < 0)
        return nullptr;
    const size_t size = static_cast<size_t>(length) + 1;
    wchar_t* text = stackBuffer;
    if (size > kStackRecordChars) {
        heap->reset(new (std::nothrow) wchar_t[size]);
        text = heap->get();
    }
    if (text == nullptr || _vsnwprintf(text, size, format, args) < 0)
        return nullptr;
    text[size - 1] = L'\0';
    return text;
}

}  // namespace

int TraceCategory2(const wchar_t* format, ...)
{
    const PFN_OVKTRACE trace = g_pfnOVKTRACE;
    if (trace == nullptr || format == nullptr)
        return -1;
    wchar_t stackBuffer[kStackRecordChars];
    std::unique_ptr<wchar_t[]> heap;
    va_list args;
    va_start(args, format);
    const wchar_t* formatted = FormatRecord(stackBuffer, &heap, format, args);
    va_end(args);
    // The record is masked whole, after formatting, so that no argument can carry a secret past
    // the table; a record that cannot be formatted or masked is dropped.
    std::unique_ptr<wchar_t[]> masked;
    const wchar_t* text = formatted ? CTraceSecrets::Instance().Mask(formatted, &masked) : nullptr;
    if (text == nullptr)
        return -1;
    return WriteRecord(trace, L"%s", text);
}
