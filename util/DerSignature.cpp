#include "util/DerSignature.h"

#include <cstring>

namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kInteger = 0x02;

// One INTEGER at der[*pos] (within end) into out (32 bytes, right-aligned); *pos moves past it.
bool ReadScalar(const uint8_t* der, size_t end, size_t* pos, uint8_t* out)
{
    if (end - *pos < 2 || der[*pos] != kInteger)
        return false;
    const size_t length = der[*pos + 1];
    const size_t start = *pos + 2;
    // Long-form lengths (high bit) are never minimal for integers this short.
    if (length == 0 || length > kP256ScalarSize + 1 || length > end - start)
        return false;
    const uint8_t* value = der + start;
    if ((value[0] & 0x80) != 0)
        return false;  // negative
    size_t skip = 0;
    if (value[0] == 0) {
        // A leading zero only to keep the next byte's high bit from reading as a sign.
        if (length == 1 || (value[1] & 0x80) == 0)
            return false;
        skip = 1;
    }
    const size_t digits = length - skip;
    if (digits > kP256ScalarSize)
        return false;
    std::memset(out, 0, kP256ScalarSize);
    std::memcpy(out + kP256ScalarSize - digits, value + skip, digits);
    *pos = start + length;
    return true;
}

}  // namespace

bool ParseDerSignature(const uint8_t* der, size_t size, uint8_t (&rs)[kP256SignatureSize])
{
    if (der == nullptr || size < 2 || size > kMaxDerSignatureSize || der[0] != kSequence)
        return false;
    if (der[1] != size - 2)
        return false;  // a long-form length, or bytes missing or trailing
    size_t pos = 2;
    if (!ReadScalar(der, size, &pos, rs) || !ReadScalar(der, size, &pos, rs + kP256ScalarSize))
        return false;
    return pos == size;
}
