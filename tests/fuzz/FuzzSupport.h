// Helpers shared by the fuzz targets: the program's UTF-8 to wide conversion, guarded output
// buffers, splitting one input into several fields, and the check that turns a broken promise
// into a finding. Native code only: the targets run on Linux under the sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// A broken promise is a finding: the abort makes libFuzzer keep the input and fail the run.
#define FUZZ_CHECK(cond, what)                                                              \
    do {                                                                                    \
        if (!(cond)) {                                                                      \
            std::fprintf(stderr, "fuzz check failed: %s [%s] at %s:%d\n", what, #cond,      \
                         __FILE__, __LINE__);                                               \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

namespace fuzz {

constexpr wchar_t kReplacementChar = 0xFFFD;

// Decodes UTF-8 into the UTF-16 units Windows would hold (a code point above U+FFFF becomes a
// surrogate pair, so lengths count as they do in the program), one replacement character for
// each ill-formed subsequence. Stops at the first zero byte, as the program's conversion of a
// zero-padded answer does. wchar_t is 32 bits here; each element holds one UTF-16 unit.
inline std::wstring DecodeUtf8(const uint8_t* data, size_t size)
{
    std::wstring out;
    out.reserve(size);
    size_t i = 0;
    while (i < size && data[i] != 0) {
        const uint8_t b0 = data[i];
        if (b0 < 0x80) {
            out += static_cast<wchar_t>(b0);
            ++i;
            continue;
        }
        // Well-formed sequences as the Unicode standard's table lists them: the second byte's
        // range depends on the first, which excludes overlong forms, surrogates and values
        // above U+10FFFF.
        size_t need = 0;
        uint8_t lo = 0x80, hi = 0xBF;
        uint32_t cp = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            need = 1;
            cp = b0 & 0x1Fu;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            need = 2;
            cp = b0 & 0x0Fu;
            if (b0 == 0xE0) lo = 0xA0;
            if (b0 == 0xED) hi = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            need = 3;
            cp = b0 & 0x07u;
            if (b0 == 0xF0) lo = 0x90;
            if (b0 == 0xF4) hi = 0x8F;
        } else {
            out += kReplacementChar;
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= need; ++j) {
            if (i + j >= size) break;
            const uint8_t b = data[i + j];
            const uint8_t low = j == 1 ? lo : 0x80;
            const uint8_t high = j == 1 ? hi : 0xBF;
            if (b < low || b > high) break;
            cp = (cp << 6) | (b & 0x3Fu);
        }
        if (j <= need) {
            // The maximal valid prefix is replaced as one; the offending byte starts afresh.
            out += kReplacementChar;
            i += j;
            continue;
        }
        i += need + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (cp >> 10));
            out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FFu));
        } else {
            out += static_cast<wchar_t>(cp);
        }
    }
    return out;
}

inline std::wstring DecodeUtf8(const std::string& bytes)
{
    return DecodeUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Reads an input as consecutive fields: fixed-size numbers first, then texts separated by
// zero bytes (the last text runs to the end). Missing bytes read as zero, so every input is
// usable and a short one simply selects small values.
class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }

    uint16_t U16()
    {
        const uint16_t lo = Byte();
        return static_cast<uint16_t>(lo | (Byte() << 8));
    }

    uint32_t U32()
    {
        const uint32_t lo = U16();
        return lo | (static_cast<uint32_t>(U16()) << 16);
    }

    // The bytes up to the next zero byte (which is consumed) or the end.
    std::string Field()
    {
        const size_t start = m_pos;
        while (m_pos < m_size && m_data[m_pos] != 0) ++m_pos;
        std::string field(reinterpret_cast<const char*>(m_data + start), m_pos - start);
        if (m_pos < m_size) ++m_pos;
        return field;
    }

    // Everything not read yet, zero bytes included.
    std::string Rest()
    {
        std::string rest(reinterpret_cast<const char*>(m_data + m_pos), m_size - m_pos);
        m_pos = m_size;
        return rest;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// An output buffer of capacity elements followed by guard elements. The body is filled with a
// non-zero pattern first, so an output left unterminated shows; the guard shows any write past
// the capacity that stays inside the allocation (AddressSanitizer sees those beyond it).
template <typename T>
class GuardedBuffer {
public:
    static constexpr size_t kGuardCount = 16;

    explicit GuardedBuffer(size_t capacity) : m_capacity(capacity), m_store(capacity + kGuardCount)
    {
        for (size_t i = 0; i < capacity; ++i) m_store[i] = BodyPattern();
        for (size_t i = 0; i < kGuardCount; ++i) m_store[capacity + i] = GuardPattern(i);
    }

    T* data() { return m_store.data(); }
    const T* data() const { return m_store.data(); }
    size_t capacity() const { return m_capacity; }

    // The buffer as the fixed-size array a function of the program takes.
    template <size_t N>
    T (&AsArray())[N]
    {
        FUZZ_CHECK(m_capacity == N, "guarded buffer of the array's size");
        return *reinterpret_cast<T(*)[N]>(m_store.data());
    }

    bool GuardIntact() const
    {
        for (size_t i = 0; i < kGuardCount; ++i) {
            if (m_store[m_capacity + i] != GuardPattern(i)) return false;
        }
        return true;
    }

    // Length of the terminated text in the body, or capacity when it has no terminator.
    size_t TextLength() const
    {
        size_t n = 0;
        while (n < m_capacity && m_store[n] != T(0)) ++n;
        return n;
    }

    bool Terminated() const { return TextLength() < m_capacity; }

    std::basic_string<T> Text() const { return std::basic_string<T>(m_store.data(), TextLength()); }

private:
    static T BodyPattern() { return static_cast<T>(0x5A); }
    static T GuardPattern(size_t i) { return static_cast<T>(0x60 + (i & 15)); }

    size_t m_capacity;
    std::vector<T> m_store;
};

inline wchar_t AsciiLower(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

inline std::wstring AsciiLower(std::wstring text)
{
    for (wchar_t& c : text) c = AsciiLower(c);
    return text;
}

inline std::wstring CutTo(const std::wstring& text, size_t capacity)
{
    return capacity == 0 ? std::wstring() : text.substr(0, capacity - 1);
}

}  // namespace fuzz
