// In-process lock over a Win32 critical section. Recursive for the owning thread: each
// Lock needs its own Unlock. TryLock never succeeds, so code written against CKSLockable
// must not rely on TryLock for this class.
#pragma once

#include "threading/CKSLockable.h"

class CKSCriticalSection : public CKSLockable {
public:
    CKSCriticalSection();
    virtual ~CKSCriticalSection();

    CKSCriticalSection(const CKSCriticalSection&) = delete;
    CKSCriticalSection& operator=(const CKSCriticalSection&) = delete;

    void Lock() override;
    void Unlock() override;
    BOOL TryLock() override;

protected:
    CRITICAL_SECTION m_cs;
};
