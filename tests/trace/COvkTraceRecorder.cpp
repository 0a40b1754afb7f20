#include "tests/trace/COvkTraceRecorder.h"

#include "trace/CTraceLibrary.h"

#include <cstdio>

namespace {

COvkTraceRecorder* s_pActive = nullptr;

}  // namespace

COvkTraceRecorder::COvkTraceRecorder() : m_previous(g_pfnOVKTRACE)
{
    s_pActive = this;
    g_pfnOVKTRACE = &COvkTraceRecorder::Record;
}

COvkTraceRecorder::~COvkTraceRecorder()
{
    g_pfnOVKTRACE = m_previous;
}

int __cdecl COvkTraceRecorder::Record(uint32_t categoryBits, uint32_t reserved1, uint32_t reserved2,
                                      const wchar_t* format, va_list args)
{
    // The Windows runtime's formatting, where %s takes a wide string.
    wchar_t text[1024] = {};
    if (format != nullptr)
        _vsnwprintf(text, 1023, format, args);
    s_pActive->m_calls.push_back(
        {categoryBits, reserved1, reserved2, format != nullptr ? format : L"", text});
    return kAnswer;
}
