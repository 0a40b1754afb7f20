// Random numbers from the system's generator (BCryptGenRandom of bcrypt.dll, bound at run time
// from the system folder): a system without it can still run the program, it only gets none.
#pragma once

#include "util/UniqueHandle.h"

#include <windows.h>

#include <cstdint>

class CSystemRandom {
public:
    // Loads the library and finds the generator; IsAvailable tells whether that worked.
    CSystemRandom();
    virtual ~CSystemRandom() = default;

    CSystemRandom(const CSystemRandom&) = delete;
    CSystemRandom& operator=(const CSystemRandom&) = delete;

    bool IsAvailable() const;
    // A random number; false (and *value 0) when the generator is missing or fails.
    bool Draw(uint32_t* value) const;

private:
    using GenRandomFn = LONG(WINAPI*)(void*, PUCHAR, ULONG, ULONG);

    UniqueModule m_module;
    GenRandomFn m_genRandom = nullptr;
};
