#include "threading/CKSLock.h"

CKSLock::CKSLock(CKSLockable& lockable) : m_pLockable(&lockable)
{
    m_pLockable->Lock();
}

CKSLock::~CKSLock()
{
    m_pLockable->Unlock();
}
