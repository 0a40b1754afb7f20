// Stands in for the OVKTRACE entry point inside the test program: while a recorder lives,
// leveled records land in it instead of a library. For programs without ovktrace.dll.
#pragma once

#include "trace/TraceLibraryExports.h"

#include <cstdint>
#include <string>
#include <vector>

struct OvkTraceCall {
    uint32_t categoryBits;
    uint32_t reserved1;
    uint32_t reserved2;
    std::wstring format;
    std::wstring text;  // the format applied to the arguments, as the library would
};

class COvkTraceRecorder {
public:
    // What every recorded call answers, so tests can see it passed back.
    static constexpr int kAnswer = 4711;

    COvkTraceRecorder();
    virtual ~COvkTraceRecorder();
    COvkTraceRecorder(const COvkTraceRecorder&) = delete;
    COvkTraceRecorder& operator=(const COvkTraceRecorder&) = delete;

    const std::vector<OvkTraceCall>& Calls() const { return m_calls; }
    std::vector<std::wstring> Texts() const
    {
        std::vector<std::wstring> texts;
        for (const OvkTraceCall& call : m_calls)
            texts.push_back(call.text);
        return texts;
    }

private:
    static int __cdecl Record(uint32_t categoryBits, uint32_t reserved1, uint32_t reserved2,
                              const wchar_t* format, va_list args);

    PFN_OVKTRACE m_previous;
    std::vector<OvkTraceCall> m_calls;
};
