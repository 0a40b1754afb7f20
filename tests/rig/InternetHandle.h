// Owns one WinInet handle and closes it exactly once.
#pragma once

#include <windows.h>
#include <wininet.h>

class InternetHandle {
public:
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET handle) : m_handle(handle) {}
    ~InternetHandle() { Reset(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HINTERNET Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

    void Reset(HINTERNET handle = nullptr)
    {
        if (m_handle) {
            InternetCloseHandle(m_handle);
        }
        m_handle = handle;
    }

private:
    HINTERNET m_handle = nullptr;
};
