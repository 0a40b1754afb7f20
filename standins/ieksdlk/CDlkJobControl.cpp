#include "standins/ieksdlk/CDlkJobControl.h"

#include "standins/ieksdlk/DlkLogs.h"
#include "standins/ieksdlk/DlkText.h"
#include "threading/CKSLock.h"

CDlkJobControl::CDlkJobControl(PFN_DlkStdDownloadNotify notify, ULONG_PTR userData)
    : m_cancelEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_notify(notify),
      m_userData(userData)
{
}

bool CDlkJobControl::IsCancelled() const
{
    CKSLock lock(m_cs);
    return m_cancelled;
}

void CDlkJobControl::Cancel()
{
    // Taking the lock waits out a notification running on another thread; the lock is
    // recursive, so a notification that ends the library on its own thread passes.
    CKSLock lock(m_cs);
    m_cancelled = true;
    SetEvent(m_cancelEvent.Get());
}

void CDlkJobControl::Deliver(int eventCode, const std::string& fileName,
                             const std::string& secondName, int resultCode)
{
    // Held across the call so that Cancel cannot return while the caller's code runs.
    CKSLock lock(m_cs);
    const std::string what =
        "event=" + std::to_string(eventCode) + " file=" + QuoteRecordText(fileName.c_str()) +
        " second=" + QuoteRecordText(secondName.c_str()) + " result=" + std::to_string(resultCode);
    if (m_cancelled) {
        DlkLogFile().Append("notification dropped after exit: " + what);
        return;
    }
    DlkLogFile().Append("notify " + what);
    m_notify(m_userData, eventCode, fileName.c_str(), secondName.c_str(), resultCode, 0);
}

void CDlkJobControl::DeliverLate(int eventCode, const std::string& fileName,
                                 const std::string& secondName, int resultCode)
{
    CKSLock lock(m_cs);
    DlkLogFile().Append(
        std::string(m_cancelled ? "late notify after exit began: " : "late notify: ") +
        "event=" + std::to_string(eventCode) + " file=" + QuoteRecordText(fileName.c_str()) +
        " second=" + QuoteRecordText(secondName.c_str()) + " result=" + std::to_string(resultCode));
    m_notify(m_userData, eventCode, fileName.c_str(), secondName.c_str(), resultCode, 0);
}
