// Stand-in for ovktrace.dll: every record becomes one line of ovktrace.log beside the DLL,
//   <time> pid=<pid> tid=<tid> cat=<category bits> <text>
#include "standins/common/CStandinLog.h"
#include "trace/TraceLibraryExports.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

extern "C" {
__declspec(dllexport) int __cdecl OVKTRACE(uint32_t categoryBits, uint32_t reserved1,
                                           uint32_t reserved2, const wchar_t* format, va_list args);
__declspec(dllexport) int __cdecl OVKTRACERAW(uint32_t categoryBits, const wchar_t* text);
__declspec(dllexport) int __cdecl OVKDumptoFile(const wchar_t* path);
}

namespace {

// The exports have exactly the types the program calls them through.
[[maybe_unused]] constexpr PFN_OVKTRACE kTraceType = &OVKTRACE;
[[maybe_unused]] constexpr PFN_OVKTRACERAW kTraceRawType = &OVKTRACERAW;
[[maybe_unused]] constexpr PFN_OVKDUMPTOFILE kDumpToFileType = &OVKDumptoFile;

CStandinLog& Log()
{
    static CStandinLog log(L"ovktrace.log");
    return log;
}

// Formats with the C runtime's own wide functions, where a bare %s takes a wide string as
// the program expects (the ISO functions of the compiler's runtime would take it as narrow).
bool FormatRecord(const wchar_t* format, va_list args, std::vector<wchar_t>& text)
{
    va_list counting;
    va_copy(counting, args);
    const int length = _vscwprintf(format, counting);
    va_end(counting);
    if (length < 0)
        return false;
    text.assign(static_cast<size_t>(length) + 1, L'\0');
    return _vsnwprintf(text.data(), text.size(), format, args) == length;
}

int WriteRecord(uint32_t categoryBits, const wchar_t* text, int length)
{
    const std::string line = "cat=" + std::to_string(categoryBits) + " " + ToUtf8(text);
    return Log().Append(line) ? length : -1;
}

}  // namespace

// Nothing escapes into the caller: a failure answers -1.

// Answers the length of the formatted text in characters, -1 when nothing was written.
int __cdecl OVKTRACE(uint32_t categoryBits, uint32_t, uint32_t, const wchar_t* format, va_list args)
{
    try {
        if (format == nullptr)
            return -1;
        std::vector<wchar_t> text;
        if (!FormatRecord(format, args, text))
            return -1;
        return WriteRecord(categoryBits, text.data(), static_cast<int>(text.size() - 1));
    } catch (...) {
        return -1;
    }
}

// Records text as it is (a null text as an empty one); answers as OVKTRACE.
int __cdecl OVKTRACERAW(uint32_t categoryBits, const wchar_t* text)
{
    try {
        if (text == nullptr)
            text = L"";
        return WriteRecord(categoryBits, text, static_cast<int>(std::wcslen(text)));
    } catch (...) {
        return -1;
    }
}

// Copies the log to path: 0 when done, -1 when not.
int __cdecl OVKDumptoFile(const wchar_t* path)
{
    try {
        return Log().CopyTo(path) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}
