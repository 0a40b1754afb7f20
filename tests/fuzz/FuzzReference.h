// Plain std::wstring models of the program's text contracts, written from their descriptions
// rather than from the code: the fuzz targets compare the program's fixed-buffer work against
// them, so a cut, an off-by-one or a wrong search shows as a difference, not only as a crash.
#pragma once

#include "tests/fuzz/FuzzSupport.h"

#include <string>

namespace fuzz {

// Room for a tag mark, terminator included; a mark of a longer name is cut to it.
constexpr size_t kModelMarkSize = 256;

inline bool IsModelTagSpace(wchar_t c)
{
    return c == L' ' || c == L'\r' || c == L'\n' || c == L'\t';
}

struct TagModelResult {
    bool found = false;      // the value replaced the default (the output is the answer)
    std::wstring output;     // what the output buffer holds
    std::wstring answer;     // the text the returned pointer shows
};

// The tag reader: the value between "<name>" and the first "</name>" after it, trimmed; the
// default (cut to the capacity) when there is no such value or it does not fit.
inline TagModelResult ModelTagGetString(const std::wstring* text, const std::wstring* name, size_t capacity,
                                        const std::wstring* defaultText)
{
    TagModelResult r;
    const std::wstring def = defaultText != nullptr ? *defaultText : std::wstring();
    r.answer = def;
    if (capacity == 0) return r;
    r.output = CutTo(def, capacity);
    if (text == nullptr || name == nullptr) return r;

    const std::wstring open = CutTo(L"<" + *name + L">", kModelMarkSize);
    const std::wstring close = CutTo(L"</" + *name + L">", kModelMarkSize);
    size_t start = text->find(open);
    if (start == std::wstring::npos) return r;
    start += open.size();
    while (start < text->size() && IsModelTagSpace((*text)[start])) ++start;
    if (start == text->size()) return r;
    size_t end = text->find(close, start);
    if (end == std::wstring::npos) return r;
    while (end > start && IsModelTagSpace((*text)[end - 1])) --end;
    if (end - start >= capacity) return r;
    r.found = true;
    r.output = text->substr(start, end - start);
    r.answer = r.output;
    return r;
}

inline TagModelResult ModelTag(const std::wstring& text, const wchar_t* name, size_t capacity, const wchar_t* def)
{
    const std::wstring n(name), d(def);
    return ModelTagGetString(&text, &n, capacity, &d);
}

// The server name of a "SURL" text: scheme dropped, a "/orvik" path cut, the first label added
// as the folder of a name without a path. Both cuts keep 255 characters.
inline std::wstring ModelServerName(const std::wstring& surl, bool& writeBack)
{
    std::wstring name = surl;
    writeBack = false;
    if (name.compare(0, 8, L"https://") == 0) {
        name.erase(0, 8);
        writeBack = true;
    } else if (name.compare(0, 7, L"http://") == 0) {
        name.erase(0, 7);
        writeBack = true;
    }
    std::wstring server = CutTo(name, 256);
    const size_t slash = server.find(L'/');
    if (slash != std::wstring::npos && AsciiLower(server.substr(slash)) == L"/orvik") server.resize(slash);
    if (server.find(L'/') == std::wstring::npos) {
        const size_t dot = server.find(L'.');
        if (dot != std::wstring::npos && dot < 128) server = CutTo(server + L"/" + server.substr(0, dot), 256);
    }
    return server;
}

// Whether Windows would open a device rather than a file for this name in a directory: the
// reserved names, alone or followed by an extension, blanks before the dot not counting
// (the system opens "nul .txt" as the null device).
inline bool ModelIsDeviceName(const std::wstring& name)
{
    std::wstring base = AsciiLower(name.substr(0, name.find(L'.')));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (const wchar_t* device : {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$"}) {
        if (base == device) return true;
    }
    if (base.size() != 4 || (base.compare(0, 3, L"com") != 0 && base.compare(0, 3, L"lpt") != 0)) return false;
    const wchar_t n = base[3];
    return (n >= L'0' && n <= L'9') || n == 0xB9 || n == 0xB2 || n == 0xB3;
}

// A name that stays a plain file inside the directory it is put in.
inline bool ModelIsSafeLocalFileName(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L"..") return false;
    for (wchar_t c : name) {
        if (c < 32 || std::wstring(L"\\/:*?\"<>|").find(c) != std::wstring::npos) return false;
    }
    if (name.back() == L'.' || name.back() == L' ') return false;
    return !ModelIsDeviceName(name);
}

}  // namespace fuzz
