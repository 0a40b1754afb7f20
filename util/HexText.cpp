#include "util/HexText.h"

#include <cstdint>

namespace {

bool IsScanSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int HexToInt(const char* text)
{
    return HexToIntN(text, 0xFFFFFFFFu);
}

int HexToIntN(const char* text, unsigned maxChars)
{
    if (text == nullptr)
        return 0;
    unsigned i = 0;
    auto at = [&](unsigned k) {
        return k < maxChars ? text[k] : '\0';
    };
    while (IsScanSpace(at(i)))
        ++i;
    bool negative = false;
    if (at(i) == '+' || at(i) == '-')
        negative = at(i++) == '-';
    // "0x" is a prefix only when a hex digit follows; otherwise the "0" is the number.
    if (at(i) == '0' && (at(i + 1) == 'x' || at(i + 1) == 'X') && HexDigitValue(at(i + 2)) >= 0)
        i += 2;
    uint32_t value = 0;
    bool any = false;
    for (int d; (d = HexDigitValue(at(i))) >= 0; ++i) {
        value = value * 16u + static_cast<uint32_t>(d);
        any = true;
    }
    if (!any)
        return 0;
    return static_cast<int>(negative ? 0u - value : value);
}
