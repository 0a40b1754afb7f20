#include "util/Utf8.h"

#include <windows.h>

#include <cstring>

int WideToUtf8(const wchar_t* text, char* out, int cbOut)
{
    const int needed = text ? WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr) : 0;
    if (out == nullptr || cbOut <= 0) return needed;
    if (needed <= 0 || cbOut < needed) {
        out[0] = '\0';
        return needed <= 0 ? needed : -1;
    }
    std::memset(out, 0, static_cast<size_t>(cbOut));
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, cbOut, nullptr, nullptr);
    return needed;
}

int Utf8ToWide(const char* text, wchar_t* out, int cchOut)
{
    const int needed = text ? MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0) : 0;
    if (out == nullptr || cchOut <= 0) return needed;
    if (needed <= 0 || cchOut < needed) {
        out[0] = L'\0';
        return needed <= 0 ? needed : -1;
    }
    std::memset(out, 0, static_cast<size_t>(cchOut) * sizeof(wchar_t));
    MultiByteToWideChar(CP_UTF8, 0, text, -1, out, cchOut);
    return needed;
}

int Utf8ToWideRaw(const char* text, wchar_t* out, int cchOut)
{
    if (text == nullptr || out == nullptr || cchOut <= 0) return 0;
    const size_t length = std::strlen(text);
    // The count the conversion itself reports is the one to trust: for invalid input a
    // size query and the conversion need not agree.
    const int written = length == 0 || length > 0x7FFFFFFF
                            ? 0
                            : MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), out, cchOut - 1);
    // A conversion that would not leave room for the terminator is refused rather than cut:
    // the caller's buffer is the only limit we know of.
    if (written <= 0) {
        std::memset(out, 0, static_cast<size_t>(cchOut) * sizeof(wchar_t));
        return 0;
    }
    out[written] = L'\0';
    return written;
}
