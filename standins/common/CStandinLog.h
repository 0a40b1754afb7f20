// The log file of a stand-in library, beside the library's own DLL. One UTF-8 line per record:
//   2024-05-01 10:11:12.345 pid=1234 tid=5678 <text>
// (local time; process and thread ids in decimal). Appends are serialised, so records from
// concurrent threads never interleave.
#pragma once

#include "threading/CKSCriticalSection.h"

#include <string>

#include <windows.h>

class CStandinLog {
public:
    // fileName: the log's name inside the directory of the DLL this code is linked into.
    explicit CStandinLog(const wchar_t* fileName);
    virtual ~CStandinLog() = default;

    CStandinLog(const CStandinLog&) = delete;
    CStandinLog& operator=(const CStandinLog&) = delete;

    // Appends one record; line breaks in text become spaces. false when the file could not
    // be written.
    bool Append(const std::string& utf8Text);

    // Copies the log as it is now to path, replacing what is there.
    bool CopyTo(const wchar_t* path);

    // The log file's full path; empty when the DLL's directory cannot be had.
    std::wstring GetPath() const;

private:
    CKSCriticalSection m_cs;
    std::wstring m_fileName;
};

// The same text as UTF-8 (empty when it cannot be converted).
std::string ToUtf8(const wchar_t* text);
