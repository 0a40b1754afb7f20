// Reads the log files the trace library stand-ins write beside the test program. A program
// linking this removes those logs before its trace modules are built.
#pragma once

#include <string>
#include <vector>

struct StandinLogLine {
    bool wellFormed;    // "YYYY-MM-DD hh:mm:ss.mmm pid=<n> tid=<n> <text>"
    unsigned long pid;
    unsigned long tid;
    std::string text;   // UTF-8, after the thread id and its space
    std::string raw;
};

// The full path of fileName in the test program's directory.
std::wstring BesideProgram(const wchar_t* fileName);

// Every line of the log; an absent log has none.
std::vector<StandinLogLine> ReadStandinLog(const wchar_t* fileName);

// The texts of the lines this process wrote, in order.
std::vector<std::string> OwnLogTexts(const wchar_t* fileName);

// Whether the file exists.
bool FileExists(const std::wstring& path);
