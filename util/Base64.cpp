#include "util/Base64.h"

#include <cstring>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

size_t InputLength(const void* pIn, size_t nLen)
{
    if (nLen != 0 || pIn == nullptr)
        return nLen;
    return std::strlen(static_cast<const char*>(pIn));
}

}  // namespace

char Base64Char(int value)
{
    return (value >= 0 && value < 64) ? kAlphabet[value] : '=';
}

size_t Base64EncodedLength(size_t nLen)
{
    return (nLen + 2) / 3 * 4;
}

int Base64Encode(char* pszOut, const void* pIn, size_t nLen)
{
    const unsigned char* in = static_cast<const unsigned char*>(pIn);
    nLen = InputLength(pIn, nLen);
    char* out = pszOut;
    for (size_t i = 0; i < nLen; i += 3) {
        const size_t left = nLen - i;
        // The last one or two bytes are encoded from a zero-padded group.
        const unsigned b0 = in[i];
        const unsigned b1 = left > 1 ? in[i + 1] : 0;
        const unsigned b2 = left > 2 ? in[i + 2] : 0;
        *out++ = Base64Char(static_cast<int>(b0 >> 2));
        *out++ = Base64Char(static_cast<int>(((b0 & 3) << 4) | (b1 >> 4)));
        *out++ = left > 1 ? Base64Char(static_cast<int>(((b1 & 15) << 2) | (b2 >> 6))) : '=';
        *out++ = left > 2 ? Base64Char(static_cast<int>(b2 & 63)) : '=';
    }
    *out = '\0';
    return static_cast<int>(out - pszOut);
}

int Base64EncodeBounded(char* pszOut, size_t cbOut, const void* pIn, size_t nLen)
{
    nLen = InputLength(pIn, nLen);
    if (pszOut == nullptr)
        return -1;
    if (nLen > (static_cast<size_t>(-1) - 3) / 4 * 3 || Base64EncodedLength(nLen) + 1 > cbOut) {
        if (cbOut > 0)
            pszOut[0] = '\0';
        return -1;
    }
    return Base64Encode(pszOut, pIn, nLen);
}
