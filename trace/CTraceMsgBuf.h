// The message buffer of the module channel: assembles one narrow record in a caller's fixed
// buffer (callers use TRACE_MSG_BUF_SIZE bytes). Whatever is appended, the buffer keeps a
// terminator in its last byte: text that does not fit is cut. Every operation returns the
// buffer so calls chain:
//   CTraceMsgBuf(buf, sizeof(buf)).AppendText("Create CUrlRequest object ").AppendPointer(p)
// No Windows header here: this also builds natively.
#pragma once

#include <cstddef>
#include <cstdint>

// 512 characters and a terminator.
constexpr size_t TRACE_MSG_BUF_SIZE = 513;

class CTraceMsgBuf {
public:
    // Zero-fills all capacity bytes of buffer. A null buffer or capacity 0 takes no text.
    CTraceMsgBuf(char* buffer, size_t capacity);
    virtual ~CTraceMsgBuf() = default;

    CTraceMsgBuf(const CTraceMsgBuf&) = delete;
    CTraceMsgBuf& operator=(const CTraceMsgBuf&) = delete;

    // Appends text; null appends nothing.
    CTraceMsgBuf& AppendText(const char* text);
    // Append a number in the current mode (lower-case hexadecimal digits or decimal, a
    // negative signed number in hexadecimal as its 32-bit two's complement), then return
    // to decimal mode.
    CTraceMsgBuf& AppendUnsigned(uint32_t value);
    CTraceMsgBuf& AppendSigned(int32_t value);
    // Appends "0x" and the address in hexadecimal without leading zeros, all of its bits.
    CTraceMsgBuf& AppendPointer(const void* pointer);
    CTraceMsgBuf& Hex();
    CTraceMsgBuf& Decimal();

    // The terminated text (the caller's buffer).
    const char* Text() const { return m_pBuffer; }
    size_t GetLength() const { return m_nLength; }

private:
    CTraceMsgBuf& AppendNumber(uint64_t magnitude, bool negative);

    char* m_pBuffer;
    size_t m_nCapacity;
    size_t m_nLength;
    bool m_bHex;
};
