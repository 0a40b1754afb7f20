// One record of the URL module, assembled in a 513-byte message buffer and written to the
// trace module "MV": level 1 for information, level 2 for errors. Error records end with
// " at file ..\mvurl\mvurl, line N".
#pragma once

#include "trace/CTraceMsgBuf.h"
#include "trace/TraceModules.h"

#include <cstdint>

class CUrlLogLine {
public:
    CUrlLogLine();
    virtual ~CUrlLogLine() = default;

    CUrlLogLine(const CUrlLogLine&) = delete;
    CUrlLogLine& operator=(const CUrlLogLine&) = delete;

    CUrlLogLine& Text(const char* text);
    CUrlLogLine& Unsigned(uint32_t value);
    CUrlLogLine& Signed(int32_t value);
    // "0x" and the address in lower-case hexadecimal.
    CUrlLogLine& Pointer(const void* address);

    void Info();
    void Error(int line);

    const char* GetText() const { return m_szBuffer; }

private:
    char m_szBuffer[TRACE_MSG_BUF_SIZE];
    CTraceMsgBuf m_msg;
};
