// Masking of known secret values inside a text: every occurrence of any of the values is
// replaced by "********". Pure text, no Windows header: it also builds natively for fuzzing.
#pragma once

#include <cstddef>

constexpr size_t kSecretMaskLength = 8;

// One value to mask: its characters and how many there are (never zero).
template <typename CharT>
struct SecretValue {
    const CharT* text;
    size_t length;
};

// Writes text (length characters) with every occurrence of a value masked into out (cchOut
// characters, terminated, cut when shorter) and answers the characters the whole masked text
// needs, terminator included; out may be null to ask for that size only. Where values overlap,
// the longest one found at a position is masked, so no tail of a longer value stays in clear.
template <typename CharT>
size_t MaskSecretValues(const CharT* text, size_t length, const SecretValue<CharT>* values,
                        size_t count, CharT* out, size_t cchOut)
{
    size_t needed = 0;
    auto put = [&](CharT c) {
        if (out != nullptr && needed + 1 < cchOut)
            out[needed] = c;
        ++needed;
    };
    size_t pos = 0;
    while (pos < length) {
        size_t match = 0;
        for (size_t v = 0; v < count; ++v) {
            const size_t n = values[v].length;
            if (n == 0 || n <= match || n > length - pos)
                continue;
            size_t i = 0;
            while (i < n && text[pos + i] == values[v].text[i])
                ++i;
            if (i == n)
                match = n;
        }
        if (match == 0) {
            put(text[pos]);
            ++pos;
            continue;
        }
        for (size_t i = 0; i < kSecretMaskLength; ++i)
            put(static_cast<CharT>('*'));
        pos += match;
    }
    if (out != nullptr && cchOut > 0)
        out[needed < cchOut ? needed : cchOut - 1] = CharT(0);
    return needed + 1;
}

// True when any value occurs in text: a text without one is passed on as it is.
template <typename CharT>
bool ContainsSecretValue(const CharT* text, size_t length, const SecretValue<CharT>* values,
                         size_t count)
{
    for (size_t pos = 0; pos < length; ++pos) {
        for (size_t v = 0; v < count; ++v) {
            const size_t n = values[v].length;
            if (n == 0 || n > length - pos)
                continue;
            size_t i = 0;
            while (i < n && text[pos + i] == values[v].text[i])
                ++i;
            if (i == n)
                return true;
        }
    }
    return false;
}
