// Helpers of the fuzz targets: input fields, guarded output buffers, and plain std::wstring
// models of the program's text contracts written from their descriptions, so a cut, an
// off-by-one or a wrong search shows as a difference, not only as a crash.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A broken promise aborts: libFuzzer keeps the input and the run fails.
#define FUZZ_CHECK(cond, what)                                                                     \
    ((cond) ? (void)0                                                                              \
            : (std::fprintf(stderr, "fuzz check failed: %s [%s] at line %d\n", what, #cond,        \
                            __LINE__),                                                             \
               std::abort()))

namespace fuzz {

// UTF-8 to UTF-16 units (one per wchar_t, a pair above U+FFFF) up to the first zero byte, as
// the program converts; a byte that starts no complete sequence (or an overlong zero) stands
// for itself.
inline std::wstring Wide(const std::string& s)
{
    std::wstring out;
    for (size_t i = 0; i < s.size() && s[i] != 0; ++i) {
        const uint8_t b = static_cast<uint8_t>(s[i]);
        const size_t need = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        uint32_t cp = b & (0x3Fu >> need);
        size_t k = 1;
        for (; k <= need && i + k < s.size() && (s[i + k] & 0xC0) == 0x80; ++k)
            cp = cp << 6 | (s[i + k] & 0x3F);
        if (need == 0 || k <= need || cp == 0)
            cp = b;
        else
            i += need;
        if (cp >= 0x10000)
            out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10 & 0x3FF));
        out += static_cast<wchar_t>(cp < 0x10000 ? cp : 0xDC00 + (cp & 0x3FF));
    }
    return out;
}

// The input as fields: numbers, then texts ended by a zero byte; missing bytes read as zero.
class InputReader {
public:
    InputReader(const uint8_t* data, size_t size)
        : m_text(reinterpret_cast<const char*>(data), size)
    {
    }
    uint8_t Byte() { return m_pos < m_text.size() ? static_cast<uint8_t>(m_text[m_pos++]) : 0; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
    uint32_t U32() { return U16() | static_cast<uint32_t>(U16()) << 16; }
    std::string Field()
    {
        const size_t start = std::min(m_pos, m_text.size()),
                     end = std::min(m_text.find('\0', start), m_text.size());
        m_pos = end + 1;
        return m_text.substr(start, end - start);
    }
    std::string Rest()  // zero bytes included
    {
        const size_t start = std::min(m_pos, m_text.size());
        m_pos = m_text.size() + 1;
        return m_text.substr(start);
    }

private:
    std::string m_text;
    size_t m_pos = 0;
};

// Capacity elements of a non-zero pattern (an unterminated output shows) and a guard behind
// them (a write past the capacity inside the allocation shows; ASan sees those beyond it).
template <typename T>
class GuardedBuffer {
public:
    static constexpr size_t kGuard = 16;
    explicit GuardedBuffer(size_t capacity) : m_capacity(capacity), m_store(capacity, T(0x5A))
    {
        m_store.resize(capacity + kGuard, T(0x6B));
    }
    T* data() { return m_store.data(); }
    template <size_t N>
    T (&AsArray())
    [N]
    {
        FUZZ_CHECK(m_capacity == N, "guarded buffer of the array's size");
        return *reinterpret_cast<T(*)[N]>(m_store.data());
    }
    bool GuardIntact() const
    {
        return std::count(m_store.begin() + m_capacity, m_store.end(), T(0x6B)) == kGuard;
    }
    size_t TextLength() const
    {
        return std::find(m_store.begin(), m_store.begin() + m_capacity, T(0)) - m_store.begin();
    }
    bool Terminated() const { return TextLength() < m_capacity; }
    std::basic_string<T> Text() const { return std::basic_string<T>(m_store.data(), TextLength()); }

private:
    size_t m_capacity;
    std::vector<T> m_store;
};

inline std::wstring AsciiLower(std::wstring text)
{
    for (wchar_t& c : text)
        c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    return text;
}

inline std::wstring CutTo(const std::wstring& text, size_t capacity)
{
    return capacity == 0 ? std::wstring() : text.substr(0, capacity - 1);
}

struct TagModel {
    bool found = false;   // the value replaced the default and is answered in the output
    std::wstring output;  // what the output buffer holds
};

// The value between "<name>" and the first "</name>" after it, trimmed of space, CR, LF and
// tab; else the default (cut to the capacity in the output). Marks are cut at 255 characters.
inline TagModel ModelTag(const std::wstring* text, const std::wstring* name, size_t capacity,
                         const std::wstring* def)
{
    TagModel r{false, CutTo(def != nullptr ? *def : std::wstring(), capacity)};
    if (text == nullptr || name == nullptr)
        return r;
    const std::wstring open = CutTo(L"<" + *name + L">", 256),
                       close = CutTo(L"</" + *name + L">", 256);
    const std::wstring white = L" \r\n\t";
    size_t start = text->find(open);
    if (start != std::wstring::npos)
        start = text->find_first_not_of(white, start + open.size());
    const size_t found = start == std::wstring::npos ? start : text->find(close, start);
    if (found == std::wstring::npos)
        return r;
    const size_t end = std::max(start, text->find_last_not_of(white, found - 1) + 1);
    if (end - start >= capacity)
        return r;
    r.found = true;
    r.output = text->substr(start, end - start);
    return r;
}

inline TagModel ModelTag(const std::wstring& text, const std::wstring& name, size_t capacity,
                         const std::wstring& def)
{
    return ModelTag(&text, &name, capacity, &def);
}

}  // namespace fuzz
