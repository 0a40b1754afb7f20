#include "threading/CKSSyncQueue.h"

#include "threading/CKSLock.h"
#include "threading/KSHandleCreation.h"

#include <initializer_list>
#include <new>

CKSSyncQueue::CKSSyncQueue() : m_hSemaphore(g_pfnKSCreateSemaphore(nullptr, 0, 0x7FFFFFFF, nullptr))
{
}

CKSSyncQueue::~CKSSyncQueue()
{
    for (List* list : {&m_priority, &m_normal}) {
        while (Node* node = TakeFirst(*list))
            delete node;
    }
}

BOOL CKSSyncQueue::Put(ULONG_PTR item, BOOL bPriority)
{
    // Without its semaphore no consumer would ever learn of the item.
    if (!m_hSemaphore)
        return FALSE;
    Node* node = new (std::nothrow) Node{item, nullptr};
    if (node == nullptr)
        return FALSE;
    {
        CKSLock guard(m_lock);
        Append(bPriority ? m_priority : m_normal, node);
        ++m_nCount;
    }
    // Announced after the lock is dropped, so the woken consumer does not wait on it.
    ReleaseSemaphore(m_hSemaphore.Get(), 1, nullptr);
    return TRUE;
}

ULONG_PTR CKSSyncQueue::Get(HANDLE hWake)
{
    if (hWake != nullptr) {
        // The semaphore stands first: with items queued it wins over a signalled wake handle.
        const HANDLE handles[2] = {m_hSemaphore.Get(), hWake};
        if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0)
            return 0;
    } else {
        WaitForSingleObject(m_hSemaphore.Get(), INFINITE);
    }
    Node* node;
    {
        CKSLock guard(m_lock);
        node = TakeFirst(m_priority);
        if (node == nullptr)
            node = TakeFirst(m_normal);
        if (node == nullptr)
            return 0;
        --m_nCount;
    }
    const ULONG_PTR item = node->item;
    delete node;
    return item;
}

void CKSSyncQueue::Append(List& list, Node* node)
{
    if (list.tail != nullptr) {
        list.tail->next = node;
    } else {
        list.head = node;
    }
    list.tail = node;
}

CKSSyncQueue::Node* CKSSyncQueue::TakeFirst(List& list)
{
    Node* node = list.head;
    if (node != nullptr) {
        list.head = node->next;
        if (list.head == nullptr)
            list.tail = nullptr;
    }
    return node;
}

ULONG CKSSyncQueue::GetCount()
{
    CKSLock guard(m_lock);
    return m_nCount;
}
