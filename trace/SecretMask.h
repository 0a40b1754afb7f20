// Masking of secrets inside a text, for both character widths: the access token behind its
// "TK=" parameter, and known secret values wherever they stand. Every mask is "********".
// Pure text, no Windows header: it also builds natively for fuzzing.
#pragma once

#include <cstddef>

// What stands for a secret in every record.
constexpr char kSecretMask[] = "********";
constexpr size_t kSecretMaskLength = sizeof(kSecretMask) - 1;

namespace secret_mask {

// Writes a text into out (cchOut characters, terminated, cut when shorter; null to measure only)
// and counts the characters the whole text needs.
template <typename CharT>
class CMaskedWriter {
public:
    CMaskedWriter(CharT* out, size_t cchOut) : m_out(out), m_cchOut(cchOut) {}

    void Put(CharT c)
    {
        if (m_out != nullptr && m_needed + 1 < m_cchOut)
            m_out[m_needed] = c;
        ++m_needed;
    }

    void PutMask()
    {
        for (size_t i = 0; i < kSecretMaskLength; ++i)
            Put(static_cast<CharT>(kSecretMask[i]));
    }

    // Terminates the output; answers the characters the whole text needs, terminator included.
    size_t Finish()
    {
        if (m_out != nullptr && m_cchOut > 0)
            m_out[m_needed < m_cchOut ? m_needed : m_cchOut - 1] = CharT(0);
        return m_needed + 1;
    }

private:
    CharT* m_out;
    size_t m_cchOut;
    size_t m_needed = 0;
};

// Whether a "TK=" parameter starts at pos: after "?" or "&", or at the very start.
template <typename CharT>
bool IsTokenParameter(const CharT* text, size_t length, size_t pos)
{
    if (length - pos < 3 || text[pos] != CharT('T') || text[pos + 1] != CharT('K') ||
        text[pos + 2] != CharT('='))
        return false;
    return pos == 0 || text[pos - 1] == CharT('?') || text[pos - 1] == CharT('&');
}

}  // namespace secret_mask

// How far a token behind "TK=" reaches. The token is put into a URL as its last parameter,
// without escaping, so it may hold "&": in a URL it runs to the text's end, and the mask stands
// there even for an empty token. A server's answer is lines, one of which may echo the request:
// there the token runs to its line's end, and a line ending right behind "TK=" keeps it as is.
enum class TokenExtent { ToTextEnd, ToLineEnd };

// Writes text (length characters) with every "TK=" parameter's token masked into out (cchOut
// characters, terminated, cut when shorter) and answers the characters the whole masked text
// needs, terminator included; out may be null to ask for that size only. The parameter's name
// stays; "TK=" inside a word is no parameter.
template <typename CharT>
size_t MaskTokenParameters(const CharT* text, size_t length, TokenExtent extent, CharT* out,
                           size_t cchOut)
{
    secret_mask::CMaskedWriter<CharT> writer(out, cchOut);
    size_t pos = 0;
    while (pos < length) {
        if (!secret_mask::IsTokenParameter(text, length, pos)) {
            writer.Put(text[pos]);
            ++pos;
            continue;
        }
        for (size_t i = 0; i < 3; ++i)
            writer.Put(text[pos + i]);
        pos += 3;
        size_t end = length;
        if (extent == TokenExtent::ToLineEnd) {
            end = pos;
            while (end < length && text[end] != CharT('\r') && text[end] != CharT('\n'))
                ++end;
        }
        if (end > pos || extent == TokenExtent::ToTextEnd)
            writer.PutMask();
        pos = end;
    }
    return writer.Finish();
}

// Where the token of text's first "TK=" parameter starts (it runs to the text's end), or null
// when text has no such parameter.
template <typename CharT>
const CharT* TokenOfParameter(const CharT* text, size_t length)
{
    for (size_t pos = 0; pos < length; ++pos) {
        if (secret_mask::IsTokenParameter(text, length, pos))
            return text + pos + 3;
    }
    return nullptr;
}

// One value to mask: its characters and how many there are (never zero).
template <typename CharT>
struct SecretValue {
    const CharT* text;
    size_t length;
};

// Writes text (length characters) with every occurrence of a value masked into out, sized and
// cut as MaskTokenParameters does. Where values overlap, the longest one found at a position
// is masked, so no tail of a longer value stays in clear.
template <typename CharT>
size_t MaskSecretValues(const CharT* text, size_t length, const SecretValue<CharT>* values,
                        size_t count, CharT* out, size_t cchOut)
{
    secret_mask::CMaskedWriter<CharT> writer(out, cchOut);
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
            writer.Put(text[pos]);
            ++pos;
            continue;
        }
        writer.PutMask();
        pos += match;
    }
    return writer.Finish();
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
