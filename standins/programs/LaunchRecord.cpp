// Stand-in for the programs the updater starts (mvagtx.exe, ksagtctl.exe, mvcfg.exe): one
// program built under each name. It appends one line to launches.log beside itself,
//   <time> pid=<pid> tid=<tid> <program> args="<arguments>" cwd="<directory>" cmdline="<whole>"
// and ends with 0. The log is shared by the three and appended to whole lines at a time, so
// programs started together never mix their lines. Where MVU_INHERIT_PROBE names a handle (the
// write end of a pipe the end-to-end launcher made inheritable), the line ends with
//   probe="inherited" (a write through it worked) or probe="not inherited"
// to show whether the program that started this one passed its handles on.
#include "standins/common/CStandinLog.h"
#include "standins/ieksdlk/DlkText.h"

#include <cwchar>
#include <string>
#include <vector>

namespace {

// What follows the program's own name, as the C runtime splits it off: a quoted first token
// ends at the next quote, an unquoted one at the first blank.
const wchar_t* SkipProgramName(const wchar_t* commandLine)
{
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"')
            ++p;
        if (*p == L'"')
            ++p;
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t')
            ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return p;
}

std::string ProgramName()
{
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size())
        return "?";
    const std::wstring full(path.data(), length);
    return ToUtf8(full.substr(full.find_last_of(L"\\/") + 1).c_str());
}

std::string WorkingDirectory()
{
    std::vector<wchar_t> dir(32768);
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), dir.data());
    if (length == 0 || length >= dir.size())
        return std::string();
    return ToUtf8(dir.data());
}

// Whether the handle MVU_INHERIT_PROBE names is the pipe's write end in this process: a
// handle of that value that is no pipe, or none at all, was not inherited.
std::string InheritProbe()
{
    wchar_t value[32] = {};
    const DWORD length = GetEnvironmentVariableW(L"MVU_INHERIT_PROBE", value, 32);
    if (length == 0 || length >= 32)
        return std::string();
    const HANDLE handle =
        reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(wcstoull(value, nullptr, 10)));
    DWORD written = 0;
    const bool inherited = GetFileType(handle) == FILE_TYPE_PIPE &&
                           WriteFile(handle, "x", 1, &written, nullptr) && written == 1;
    return std::string(" probe=") + (inherited ? "\"inherited\"" : "\"not inherited\"");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    try {
        const wchar_t* commandLine = GetCommandLineW();
        const std::string line =
            ProgramName() +
            " args=" + QuoteRecordText(ToUtf8(SkipProgramName(commandLine)).c_str()) +
            " cwd=" + QuoteRecordText(WorkingDirectory().c_str()) +
            " cmdline=" + QuoteRecordText(ToUtf8(commandLine).c_str()) + InheritProbe();
        CStandinLog log(L"launches.log");
        log.Append(line);
    } catch (...) {
        // A launch that cannot be recorded still succeeds: the caller only starts the program.
    }
    return 0;
}
