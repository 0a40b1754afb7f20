#include "tests/standins/CNotifyRecorder.h"

#include "threading/CKSLock.h"

#include <algorithm>

CNotifyRecorder::CNotifyRecorder() : m_arrived(CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
}

CNotifyRecorder::~CNotifyRecorder()
{
    CloseHandle(m_arrived);
}

int WINAPI CNotifyRecorder::Notify(ULONG_PTR reserved, int eventCode, const char* fileName,
                                   const char* secondName, int resultCode, ULONG_PTR reserved2)
{
    CNotifyRecorder* recorder = reinterpret_cast<CNotifyRecorder*>(reserved);
    DlkNotification notification;
    notification.reserved = reserved;
    notification.eventCode = eventCode;
    // A null name is recorded distinctly so a test can tell it from an empty one.
    notification.fileName = fileName != nullptr ? fileName : "<null>";
    notification.secondName = secondName != nullptr ? secondName : "<null>";
    notification.resultCode = resultCode;
    notification.reserved2 = reserved2;
    notification.threadId = GetCurrentThreadId();
    CKSLock lock(recorder->m_cs);
    recorder->m_notifications.push_back(notification);
    SetEvent(recorder->m_arrived);
    return 0;
}

bool CNotifyRecorder::WaitForSectionDone(size_t count, DWORD limitMs)
{
    const ULONGLONG end = GetTickCount64() + limitMs;
    for (;;) {
        {
            CKSLock lock(m_cs);
            const size_t done = static_cast<size_t>(
                std::count_if(m_notifications.begin(), m_notifications.end(),
                              [](const DlkNotification& n) {
                                  return n.eventCode == DLK_EVENT_SECTION_DONE;
                              }));
            if (done >= count) return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        WaitForSingleObject(m_arrived, static_cast<DWORD>(end - now));
    }
}

std::vector<DlkNotification> CNotifyRecorder::All() const
{
    CKSLock lock(m_cs);
    return m_notifications;
}

std::vector<int> CNotifyRecorder::Events() const
{
    std::vector<int> events;
    for (const DlkNotification& n : All()) events.push_back(n.eventCode);
    return events;
}

DlkNotification CNotifyRecorder::Done() const
{
    DlkNotification done;
    for (const DlkNotification& n : All()) {
        if (n.eventCode == DLK_EVENT_SECTION_DONE) done = n;
    }
    return done;
}
