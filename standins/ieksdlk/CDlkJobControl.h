// What a download thread and the library share: the job's cancel event and the gate its
// notifications pass. Once Cancel has returned, no notification of the job is running or will
// start, so the caller may go away.
#pragma once

#include "app/DlkApi.h"
#include "standins/ieksdlk/CWinHandle.h"
#include "threading/CKSCriticalSection.h"

#include <string>

class CDlkJobControl {
public:
    CDlkJobControl(PFN_DlkStdDownloadNotify notify, ULONG_PTR userData);
    virtual ~CDlkJobControl() = default;

    CDlkJobControl(const CDlkJobControl&) = delete;
    CDlkJobControl& operator=(const CDlkJobControl&) = delete;

    // Manual-reset event, signalled by Cancel.
    HANDLE CancelEvent() const { return m_cancelEvent.Get(); }
    bool IsCancelled() const;

    // Signals the event and waits for a notification in progress (unless it runs on this very
    // thread, as when the notification itself ends the library).
    void Cancel();

    // Calls the notification unless the job was cancelled, and logs what was delivered.
    void Deliver(int eventCode, const std::string& fileName, const std::string& secondName,
                 int resultCode);
    // The fault switch's late notification: delivered even after Cancel, which breaks the
    // promise above on purpose. Only ever called from the job's own thread, which the exit
    // waits for, so the caller is still inside DlkExitStdDownload when it comes.
    void DeliverLate(int eventCode, const std::string& fileName, const std::string& secondName,
                     int resultCode);

private:
    mutable CKSCriticalSection m_cs;
    CWinHandle m_cancelEvent;
    bool m_cancelled = false;
    PFN_DlkStdDownloadNotify m_notify;
    ULONG_PTR m_userData;
};
