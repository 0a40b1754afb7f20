#include "trace/CTraceMsgBuf.h"

#include <cstring>

namespace {

// Longest number: a 64-bit address in decimal has 20 digits; a sign and a terminator.
constexpr size_t kMaxNumberText = 22;

// Writes the digits of value, most significant first, terminated; answers their count.
size_t FormatDigits(uint64_t value, bool hex, char* out)
{
    const unsigned base = hex ? 16u : 10u;
    char reversed[kMaxNumberText];
    size_t n = 0;
    do {
        reversed[n++] = "0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0);
    for (size_t i = 0; i < n; ++i)
        out[i] = reversed[n - 1 - i];
    out[n] = '\0';
    return n;
}

}  // namespace

CTraceMsgBuf::CTraceMsgBuf(char* buffer, size_t capacity)
    : m_pBuffer(buffer), m_nCapacity(buffer != nullptr ? capacity : 0), m_nLength(0), m_bHex(false)
{
    if (m_nCapacity != 0)
        std::memset(m_pBuffer, 0, m_nCapacity);
}

CTraceMsgBuf& CTraceMsgBuf::AppendText(const char* text)
{
    if (text == nullptr || m_nCapacity == 0)
        return *this;
    const size_t room = m_nCapacity - m_nLength - 1;
    const size_t n = strnlen(text, room);
    std::memcpy(m_pBuffer + m_nLength, text, n);
    m_nLength += n;
    m_pBuffer[m_nLength] = '\0';
    return *this;
}

CTraceMsgBuf& CTraceMsgBuf::AppendUnsigned(uint32_t value)
{
    return AppendNumber(value, false);
}

CTraceMsgBuf& CTraceMsgBuf::AppendSigned(int32_t value)
{
    if (m_bHex)
        return AppendNumber(static_cast<uint32_t>(value), false);
    const bool negative = value < 0;
    // Negating in 64 bits keeps the most negative value representable.
    const int64_t wide = value;
    return AppendNumber(static_cast<uint64_t>(negative ? -wide : wide), negative);
}

CTraceMsgBuf& CTraceMsgBuf::AppendPointer(const void* pointer)
{
    AppendText("0x");
    Hex();
    return AppendNumber(reinterpret_cast<uintptr_t>(pointer), false);
}

CTraceMsgBuf& CTraceMsgBuf::Hex()
{
    m_bHex = true;
    return *this;
}

CTraceMsgBuf& CTraceMsgBuf::Decimal()
{
    m_bHex = false;
    return *this;
}

CTraceMsgBuf& CTraceMsgBuf::AppendNumber(uint64_t magnitude, bool negative)
{
    char text[kMaxNumberText];
    size_t n = 0;
    if (negative)
        text[n++] = '-';
    FormatDigits(magnitude, m_bHex, text + n);
    m_bHex = false;
    return AppendText(text);
}
