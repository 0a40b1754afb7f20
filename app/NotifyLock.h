// The lock between the download library's notification (on the library's thread) and the
// destruction of the application object it reaches.
#pragma once

#include "threading/CKSCriticalSection.h"

#include <new>

// Built in place (no allocation that could fail) and never destroyed: a library thread may still
// notify while the process's static objects go.
inline CKSCriticalSection& NotifyLock()
{
    alignas(CKSCriticalSection) static unsigned char storage[sizeof(CKSCriticalSection)];
    static CKSCriticalSection* const lock = new (storage) CKSCriticalSection();
    return *lock;
}
