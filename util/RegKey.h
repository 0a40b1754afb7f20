// An owned registry key handle, closed exactly once.
#pragma once

#include <windows.h>

// Owns one open HKEY and closes it in its destructor. An empty owner (null handle) stands
// for "no key". Movable, not copyable. Only keys this program opened or created belong in
// here, never the predefined roots such as HKEY_LOCAL_MACHINE.
class CRegKey {
public:
    CRegKey() noexcept = default;
    explicit CRegKey(HKEY key) noexcept : m_key(key) {}
    ~CRegKey() { Reset(); }

    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    CRegKey(CRegKey&& other) noexcept : m_key(other.Release()) {}
    CRegKey& operator=(CRegKey&& other) noexcept;

    HKEY Get() const noexcept { return m_key; }
    explicit operator bool() const noexcept { return m_key != nullptr; }

    // Gives the key up without closing it; the owner is empty afterwards.
    HKEY Release() noexcept;

    // Closes the key held (if any and if it is not key) and takes key instead.
    void Reset(HKEY key = nullptr) noexcept;

    // Closes the key held and hands out the slot for an API's output parameter.
    HKEY* Receive() noexcept;

private:
    HKEY m_key = nullptr;
};
