#include "threading/CKSCriticalSection.h"

CKSCriticalSection::CKSCriticalSection()
{
    InitializeCriticalSection(&m_cs);
}

CKSCriticalSection::~CKSCriticalSection()
{
    DeleteCriticalSection(&m_cs);
}

void CKSCriticalSection::Lock()
{
    EnterCriticalSection(&m_cs);
}

void CKSCriticalSection::Unlock()
{
    LeaveCriticalSection(&m_cs);
}

BOOL CKSCriticalSection::TryLock()
{
    return FALSE;
}
