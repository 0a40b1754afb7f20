// The generated bodies of a test server: byte i of such a body is i % 251, so a lost, repeated
// or reordered piece shows at its offset. No Windows header here: this also builds natively.
#pragma once

#include <cstddef>
#include <cstdint>

class RigPattern {
public:
    static constexpr unsigned kPeriod = 251;

    static unsigned char ByteAt(uint64_t offset) { return static_cast<unsigned char>(offset % kPeriod); }

    // Offset of the first of size bytes at data, which lies at offset in the body, that breaks the
    // pattern; -1 when all follow it.
    static long long FirstMismatch(const void* data, size_t size, uint64_t offset)
    {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            if (bytes[i] != ByteAt(offset + i)) {
                return static_cast<long long>(offset + i);
            }
        }
        return -1;
    }
};
