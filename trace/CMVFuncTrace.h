// Function entry and exit records: the first statement of a traced member function builds a
// local CMVFuncTrace with the function's name ("CMVAgtApp::Initialize"); it writes
// "Enter <name>" at once and "Leave <name>" on every way out, returns and exceptions alike.
// Both records go through TraceText at the function level (6).
#pragma once

class CMVFuncTrace {
public:
    // Writes "Enter " and the name, cut so the record has at most 255 characters. A null
    // name writes nothing here; the exit record is then "Leave " alone.
    explicit CMVFuncTrace(const wchar_t* functionName);
    virtual ~CMVFuncTrace();

    CMVFuncTrace(const CMVFuncTrace&) = delete;
    CMVFuncTrace& operator=(const CMVFuncTrace&) = delete;

private:
    wchar_t m_szRecord[256];
};
