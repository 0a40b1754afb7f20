// Owns one WinInet handle and closes it exactly once.
#pragma once

#include <windows.h>
#include <wininet.h>

class CInternetHandle {
public:
    explicit CInternetHandle(HINTERNET handle = nullptr) : m_handle(handle) {}
    virtual ~CInternetHandle()
    {
        if (m_handle != nullptr)
            InternetCloseHandle(m_handle);
    }

    CInternetHandle(const CInternetHandle&) = delete;
    CInternetHandle& operator=(const CInternetHandle&) = delete;

    HINTERNET Get() const { return m_handle; }

private:
    HINTERNET m_handle;
};
