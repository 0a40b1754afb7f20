#include "mvurl/UrlLog.h"

#include "trace/TraceModules.h"

namespace {

// The source path operators' tools know the module's error records by.
const char kErrorFile[] = "..\\mvurl\\mvurl";

}  // namespace

CUrlLogLine::CUrlLogLine() : m_msg(m_szBuffer, sizeof(m_szBuffer))
{
}

CUrlLogLine& CUrlLogLine::Text(const char* text)
{
    m_msg.AppendText(text);
    return *this;
}

CUrlLogLine& CUrlLogLine::Unsigned(uint32_t value)
{
    m_msg.AppendUnsigned(value);
    return *this;
}

CUrlLogLine& CUrlLogLine::Signed(int32_t value)
{
    m_msg.AppendSigned(value);
    return *this;
}

CUrlLogLine& CUrlLogLine::Pointer(const void* address)
{
    m_msg.AppendPointer(address);
    return *this;
}

void CUrlLogLine::Info()
{
    TraceMV(MV_TRACE_INFORMATION, m_msg.Text());
}

void CUrlLogLine::Error(int line)
{
    m_msg.AppendText(" at file ").AppendText(kErrorFile).AppendText(", line ").AppendSigned(line);
    TraceMV(MV_TRACE_ERROR, m_msg.Text());
}
