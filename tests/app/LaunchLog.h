// launches.log, which the stand-ins of the programs the updater starts write beside the test
// program: a line for each start, naming the program and its arguments.
#pragma once

#include "util/ModulePath.h"

#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

inline std::wstring ProgramDir()
{
    wchar_t dir[MAX_PATH];
    GetModuleDir(nullptr, dir, MAX_PATH, 0);
    return dir;
}

inline bool Names(const std::string& line, const std::string& program, const std::string& args)
{
    return line.find(" " + program + " args=\"" + args + "\"") != std::string::npos;
}

// The complete lines of the log (a line still being written is not yet one); with a program,
// only those of its starts with args.
inline std::vector<std::string> LaunchLines(const char* program = nullptr, const char* args = "")
{
    std::vector<std::string> lines;
    std::ifstream file((ProgramDir() + L"\\launches.log").c_str(), std::ios::binary);
    for (std::string line; std::getline(file, line) && !file.eof();) {
        if (program == nullptr || Names(line, program, args))
            lines.push_back(line);
    }
    return lines;
}

// Those lines once there are count of them, or after 20 s: the shell starts programs without
// waiting for them.
inline std::vector<std::string> WaitForLaunches(size_t count, const char* program = nullptr,
                                                const char* args = "")
{
    for (int i = 0; i < 2000 && LaunchLines(program, args).size() < count; ++i)
        Sleep(10);
    return LaunchLines(program, args);
}
