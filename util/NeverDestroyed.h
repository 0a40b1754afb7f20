// A process-wide object built before the entry runs and never destroyed: a thread outside the
// program's control (the download library's, a worker left inside WinInet) may still reach it
// while the static objects go. Declared at namespace scope it sits in zero-filled storage and
// needs no guard, where a function's static would take the C++ library's thread-safe guard and
// with it the whole exception machinery.
#pragma once

#include <new>

template <typename T>
class CNeverDestroyed {
public:
    CNeverDestroyed() { new (m_storage) T(); }

    CNeverDestroyed(const CNeverDestroyed&) = delete;
    CNeverDestroyed& operator=(const CNeverDestroyed&) = delete;

    T& Get() { return *std::launder(reinterpret_cast<T*>(m_storage)); }

private:
    alignas(T) unsigned char m_storage[sizeof(T)];
};
