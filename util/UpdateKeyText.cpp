#include "util/UpdateKeyText.h"

#include <cstring>

namespace {

// The DER SubjectPublicKeyInfo of a P-256 key up to its point: SEQUENCE { SEQUENCE {
// id-ecPublicKey, prime256v1 }, BIT STRING (no unused bits) 04 X Y }. DER has one encoding
// for each value, so any other byte here is another key type, curve, form or length.
constexpr uint8_t kP256SpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48,
                                       0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                       0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
constexpr size_t kP256SpkiSize = sizeof(kP256SpkiPrefix) + kEcPointSize;
// Longest key text worth decoding: a few bytes beyond the one size that can be right.
constexpr size_t kMaxKeyText = 4 * (kP256SpkiSize + 2) / 3 + 4;

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

}  // namespace

bool Base64DecodeStrict(const char* text, size_t length, uint8_t* out, size_t cbOut,
                        size_t* decoded)
{
    *decoded = 0;
    if (length == 0 || length % 4 != 0)
        return false;
    size_t padding = 0;
    if (text[length - 1] == '=')
        padding = text[length - 2] == '=' ? 2 : 1;
    const size_t bytes = length / 4 * 3 - padding;
    if (bytes > cbOut)
        return false;
    size_t written = 0;
    for (size_t i = 0; i < length; i += 4) {
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k) {
            const bool pad = i + k >= length - padding;
            const int v = pad ? 0 : Base64Value(text[i + k]);
            if (v < 0)
                return false;
            group = group << 6 | static_cast<uint32_t>(v);
        }
        for (size_t k = 0; k < 3 && written < bytes; ++k)
            out[written++] = static_cast<uint8_t>(group >> (16 - 8 * k));
    }
    *decoded = written;
    return true;
}

bool ParseUpdateKey(const char* text, size_t length, EcPublicKey& key)
{
    if (length > kMaxKeyText)
        return false;
    uint8_t der[kP256SpkiSize + 3];
    size_t size = 0;
    if (!Base64DecodeStrict(text, length, der, sizeof(der), &size) || size != kP256SpkiSize)
        return false;
    if (std::memcmp(der, kP256SpkiPrefix, sizeof(kP256SpkiPrefix)) != 0)
        return false;
    std::memcpy(key.xy, der + sizeof(kP256SpkiPrefix), kEcPointSize);
    return true;
}

size_t ParseUpdateKeyList(const wchar_t* text, EcPublicKey* keys, size_t maxKeys, size_t* pieces)
{
    size_t found = 0;
    size_t nonEmpty = 0;
    const wchar_t* p = text != nullptr ? text : L"";
    while (*p != L'\0') {
        const wchar_t* end = p;
        while (*end != L'\0' && *end != L';')
            ++end;
        const wchar_t* first = p;
        const wchar_t* last = end;
        while (first < last && IsBlank(*first))
            ++first;
        while (last > first && IsBlank(last[-1]))
            --last;
        const size_t length = static_cast<size_t>(last - first);
        if (length > 0) {
            ++nonEmpty;
            char narrow[kMaxKeyText + 1];
            bool ascii = length <= kMaxKeyText;
            for (size_t i = 0; ascii && i < length; ++i) {
                ascii = first[i] > 0 && first[i] < 0x80;
                narrow[i] = static_cast<char>(first[i]);
            }
            if (ascii && found < maxKeys && ParseUpdateKey(narrow, length, keys[found]))
                ++found;
        }
        p = *end == L';' ? end + 1 : end;
    }
    if (pieces != nullptr)
        *pieces = nonEmpty;
    return found;
}
