// Reads the log files the trace library stand-ins write beside the test program. A program
// linking this removes those logs before its trace modules are built.
#pragma once

#include <string>
#include <vector>

// The full path of fileName in the test program's directory.
std::wstring BesideProgram(const wchar_t* fileName);

// The texts of the lines this process wrote, in order: what follows
// "YYYY-MM-DD hh:mm:ss.mmm pid=<this process> tid=<n> ".
std::vector<std::string> OwnLogTexts(const wchar_t* fileName);
