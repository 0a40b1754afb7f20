// The interface every lock of the library offers, so one scoped guard (CKSLock) holds any.
#pragma once

#include <windows.h>

class CKSLockable {
public:
    // Blocks until the lock is held.
    virtual void Lock() = 0;
    // Releases a lock the calling thread holds.
    virtual void Unlock() = 0;
    // Takes the lock if that is possible at once; TRUE when taken. Some locks never can.
    virtual BOOL TryLock() = 0;

protected:
    // Locks are owned and destroyed through their own classes, never through this interface.
    ~CKSLockable() = default;
};
