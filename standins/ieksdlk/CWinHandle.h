// Owns one kernel handle (file, thread, event) and closes it exactly once. Both null and
// INVALID_HANDLE_VALUE count as no handle, so CreateFile's failure needs no special case.
#pragma once

#include <windows.h>

class CWinHandle {
public:
    CWinHandle() = default;
    explicit CWinHandle(HANDLE handle) : m_handle(handle) {}
    virtual ~CWinHandle() { Reset(); }

    CWinHandle(const CWinHandle&) = delete;
    CWinHandle& operator=(const CWinHandle&) = delete;
    CWinHandle(CWinHandle&& other) noexcept : m_handle(other.Release()) {}
    CWinHandle& operator=(CWinHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    bool IsValid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }

    HANDLE Release()
    {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }

    void Reset(HANDLE handle = nullptr)
    {
        if (IsValid())
            CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle = nullptr;
};
