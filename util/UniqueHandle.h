// One owner for every kind of handle: the close function is a template parameter (its result is
// ignored: nothing useful can be done about a failed close), and each kind has its alias. Closes
// exactly once; movable, not copyable. Handles bound at run time (the WinInet and CNG ones) get
// their aliases beside the binding.
#pragma once

#include <windows.h>

#include <type_traits>

template <typename T, auto Close>
class UniqueHandle {
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(T handle) noexcept : m_handle(Normal(handle)) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    T Get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != T(); }

    T Release() noexcept
    {
        T handle = m_handle;
        m_handle = T();
        return handle;
    }

    // Closes the handle held (if any and if it is not handle) and takes handle instead.
    void Reset(T handle = T()) noexcept
    {
        handle = Normal(handle);
        if (m_handle != T() && m_handle != handle)
            Close(m_handle);
        m_handle = handle;
    }

    // Closes the handle held and hands out the slot for an API's output parameter.
    T* Receive() noexcept
    {
        Reset();
        return &m_handle;
    }

private:
    // CreateFile's failure value is no handle either: both read as empty.
    static T Normal(T handle) noexcept
    {
        if constexpr (std::is_same_v<T, HANDLE>)
            return handle == INVALID_HANDLE_VALUE ? T() : handle;
        else
            return handle;
    }

    T m_handle = T();
};

using UniqueKernelHandle = UniqueHandle<HANDLE, CloseHandle>;
using UniqueModule = UniqueHandle<HMODULE, FreeLibrary>;
using UniqueLocal = UniqueHandle<HLOCAL, LocalFree>;
// Only keys this program opened or created, never the predefined roots such as
// HKEY_LOCAL_MACHINE.
using CRegKey = UniqueHandle<HKEY, RegCloseKey>;
