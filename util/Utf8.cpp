#include "util/Utf8.h"

#include <windows.h>

#include <cstring>

int WideToUtf8(const wchar_t* text, char* out, int cbOut)
{
    const int needed =
        text ? WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr) : 0;
    if (out == nullptr || cbOut <= 0)
        return needed;
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
    if (out == nullptr || cchOut <= 0)
        return needed;
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
    if (text == nullptr || out == nullptr || cchOut <= 0)
        return 0;
    const size_t length = std::strlen(text);
    const int bytes = length > 0x7FFFFFFF ? 0 : static_cast<int>(length);
    // Asked and converted over the same bytes; a too-small buffer is never handed to the
    // conversion, which may fill it partly (even half a surrogate pair) before failing.
    const int needed = bytes > 0 ? MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0) : 0;
    const int written = needed > 0 && needed < cchOut
                            ? MultiByteToWideChar(CP_UTF8, 0, text, bytes, out, needed)
                            : 0;
    // A conversion that would not leave room for the terminator is refused rather than cut:
    // the caller's buffer is the only limit we know of.
    if (written <= 0) {
        std::memset(out, 0, static_cast<size_t>(cchOut) * sizeof(wchar_t));
        return 0;
    }
    out[written] = L'\0';
    return written;
}
