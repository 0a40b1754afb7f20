// Hands items (in practice pointers to requests) from producer threads to a consumer, with
// a priority list that is always emptied first. A counting semaphore announces items, and
// the consumer's blocking take can also be woken by one further handle (a stop event).
#pragma once

#include "threading/CKSCriticalSection.h"
#include "util/UniqueHandle.h"

#include <windows.h>

class CKSSyncQueue {
public:
    CKSSyncQueue();
    virtual ~CKSSyncQueue();

    CKSSyncQueue(const CKSSyncQueue&) = delete;
    CKSSyncQueue& operator=(const CKSSyncQueue&) = delete;

    // Appends item (never 0) to the priority list when bPriority is non-zero, to the normal
    // list otherwise, and announces it. FALSE (nothing queued) when memory runs out.
    BOOL Put(ULONG_PTR item, BOOL bPriority);

    // Blocks until an item is announced or hWake (may be null) is signalled. Answers the
    // oldest priority item, else the oldest normal item; 0 when woken by hWake, when the
    // wait fails, or when nothing is queued.
    ULONG_PTR Get(HANDLE hWake);

    // False when the semaphore could not be created: no item can be announced then.
    bool IsUsable() const { return static_cast<bool>(m_hSemaphore); }

    // Items waiting in both lists together.
    ULONG GetCount();

private:
    // One queued item; the lists are linked through their nodes, each allocated without
    // throwing, so that a queue short of memory refuses an item instead of ending the process.
    struct Node {
        ULONG_PTR item;
        Node* next;
    };
    struct List {
        Node* head = nullptr;
        Node* tail = nullptr;
    };

    static void Append(List& list, Node* node);
    static Node* TakeFirst(List& list);

    ULONG m_nCount = 0;
    List m_normal;
    List m_priority;
    CKSCriticalSection m_lock;
    UniqueKernelHandle m_hSemaphore;
};
