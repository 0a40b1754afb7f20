// The product's settings section, opened for reading by the configuration store as every reader
// of it is, and read here with narrow-character calls (the URL module's texts are narrow). Open
// for the object's lifetime; closed exactly once.
#pragma once

#include "util/UniqueHandle.h"

#include <windows.h>

class CProductKey {
public:
    CProductKey();

    CProductKey(const CProductKey&) = delete;
    CProductKey& operator=(const CProductKey&) = delete;

    bool IsOpen() const { return static_cast<bool>(m_hKey); }

    // Reads at most size bytes of the value, whatever its type. false when it is missing or
    // longer than size; buffer is left as it was then.
    bool ReadBytes(const char* name, void* buffer, DWORD size);

    // Reads a text value into a buffer of size bytes that ends terminated. A text that fills
    // the buffer without its terminator counts as too long: false, buffer left as it was.
    bool ReadText(const char* name, char* buffer, DWORD size);

    // A switch, read by its type: a REG_DWORD or a 4-byte REG_BINARY as a number, a REG_SZ as
    // the text of a number ("0", "1"). The number, or fallback when the value is missing or
    // of any other type or form (a text's bytes are never taken for a number).
    DWORD ReadSwitch(const char* name, DWORD fallback);

    // A switch that weakens a check: on only for REG_SZ "1" or REG_DWORD 1. Any other type or
    // form ("01", bytes, an expandable text) leaves the check as strict as without the value.
    bool IsStrictlyOn(const char* name);

private:
    CRegKey m_hKey;
};
