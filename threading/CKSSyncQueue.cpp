#include "threading/CKSSyncQueue.h"

#include "threading/CKSLock.h"

CKSSyncQueue::CKSSyncQueue()
{
    m_hSemaphore = CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
}

CKSSyncQueue::~CKSSyncQueue()
{
    if (m_hSemaphore != nullptr) CloseHandle(m_hSemaphore);
}

BOOL CKSSyncQueue::Put(ULONG_PTR item, BOOL bPriority)
{
    {
        CKSLock guard(m_lock);
        (bPriority ? m_priority : m_normal).push_back(item);
        ++m_nCount;
    }
    // Announced after the lock is dropped, so the woken consumer does not wait on it.
    ReleaseSemaphore(m_hSemaphore, 1, nullptr);
    return TRUE;
}

ULONG_PTR CKSSyncQueue::Get(HANDLE hWake)
{
    if (hWake != nullptr) {
        // The semaphore stands first: with items queued it wins over a signalled wake handle.
        const HANDLE handles[2] = {m_hSemaphore, hWake};
        if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) return 0;
    } else {
        WaitForSingleObject(m_hSemaphore, INFINITE);
    }
    CKSLock guard(m_lock);
    std::list<ULONG_PTR>& from = m_priority.empty() ? m_normal : m_priority;
    if (from.empty()) return 0;
    const ULONG_PTR item = from.front();
    from.pop_front();
    --m_nCount;
    return item;
}

ULONG CKSSyncQueue::GetCount()
{
    CKSLock guard(m_lock);
    return m_nCount;
}
