// Scoped guard: holds a CKSLockable from construction to destruction, so the lock is
// released on every way out of the block, exceptions included.
#pragma once

#include "threading/CKSLockable.h"

class CKSLock {
public:
    explicit CKSLock(CKSLockable& lockable);
    virtual ~CKSLock();

    CKSLock(const CKSLock&) = delete;
    CKSLock& operator=(const CKSLock&) = delete;

private:
    CKSLockable* m_pLockable;
};
