#include "tests/trace/COvkTraceRecorder.h"

#include "trace/CTraceLibrary.h"

#include <cstdio>
#include <cwchar>

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
    s_pActive = nullptr;
}

std::vector<std::wstring> COvkTraceRecorder::Texts() const
{
    std::vector<std::wstring> texts;
    for (const OvkTraceCall& call : m_calls) texts.push_back(call.text);
    return texts;
}

int __cdecl COvkTraceRecorder::Record(uint32_t categoryBits, uint32_t reserved1,
                                      uint32_t reserved2, const wchar_t* format, va_list args)
{
    OvkTraceCall call{categoryBits, reserved1, reserved2, format != nullptr ? format : L"",
                      L""};
    if (format != nullptr) {
        // The Windows runtime's formatting, where %s takes a wide string.
        wchar_t text[1024] = {};
        _vsnwprintf(text, 1023, format, args);
        call.text = text;
    }
    s_pActive->m_calls.push_back(call);
    return kAnswer;
}
