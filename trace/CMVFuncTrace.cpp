#include "trace/CMVFuncTrace.h"

#include "trace/TraceText.h"
#include "util/SafeString.h"

#include <cstring>

namespace {

// Both prefixes have this length, so the exit record reuses the name already in place.
constexpr size_t kPrefixLength = 6;

}  // namespace

CMVFuncTrace::CMVFuncTrace(const wchar_t* functionName)
{
    std::memset(m_szRecord, 0, sizeof(m_szRecord));
    BoundedCopy(m_szRecord, sizeof(m_szRecord) / sizeof(m_szRecord[0]), L"Enter ");
    if (functionName == nullptr)
        return;
    BoundedAppend(m_szRecord, sizeof(m_szRecord) / sizeof(m_szRecord[0]), functionName);
    TraceText(TRACE_LEVEL_FUNCTION, m_szRecord);
}

CMVFuncTrace::~CMVFuncTrace()
{
    std::memcpy(m_szRecord, L"Leave ", kPrefixLength * sizeof(wchar_t));
    TraceText(TRACE_LEVEL_FUNCTION, m_szRecord);
}
