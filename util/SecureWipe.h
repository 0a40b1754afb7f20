// Overwrites memory that held a secret (a token, a password, a URL carrying the token) with
// zeros in a way the compiler may not drop as a dead store. No Windows header here: this also
// builds natively.
#pragma once

#include <cstddef>

inline void SecureWipe(void* buffer, size_t bytes)
{
    volatile unsigned char* p = static_cast<volatile unsigned char*>(buffer);
    while (bytes-- > 0)
        *p++ = 0;
}

// A fixed array's whole storage.
template <typename T, size_t N>
inline void SecureWipe(T (&array)[N])
{
    SecureWipe(array, sizeof(array));
}
