// Collects the notifications of downloads. The library hands back the userData given to
// DlkStdDownload as the notification's first argument; the recorder passes itself there.
#pragma once

#include "app/DlkApi.h"
#include "threading/CKSCriticalSection.h"

#include <string>
#include <vector>

struct DlkNotification {
    ULONG_PTR reserved = 0;
    int eventCode = 0;
    std::string fileName;
    std::string secondName;
    int resultCode = 0;
    ULONG_PTR reserved2 = 0;
    DWORD threadId = 0;
};

class CNotifyRecorder {
public:
    CNotifyRecorder();
    virtual ~CNotifyRecorder();

    CNotifyRecorder(const CNotifyRecorder&) = delete;
    CNotifyRecorder& operator=(const CNotifyRecorder&) = delete;

    static int WINAPI Notify(ULONG_PTR reserved, int eventCode, const char* fileName,
                             const char* secondName, int resultCode, ULONG_PTR reserved2);

    ULONG_PTR UserData() { return reinterpret_cast<ULONG_PTR>(this); }

    // Waits until count notifications of DLK_EVENT_SECTION_DONE have arrived; false when they
    // do not come within the limit (a hung download, not a measure of speed).
    bool WaitForSectionDone(size_t count = 1, DWORD limitMs = 120000);

    std::vector<DlkNotification> All() const;
    // The event codes in order of arrival.
    std::vector<int> Events() const;
    // The last DLK_EVENT_SECTION_DONE; eventCode 0 when none came.
    DlkNotification Done() const;

private:
    mutable CKSCriticalSection m_cs;
    std::vector<DlkNotification> m_notifications;
    HANDLE m_arrived;
};
