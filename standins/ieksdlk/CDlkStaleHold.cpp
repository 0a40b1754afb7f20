#include "standins/ieksdlk/CDlkStaleHold.h"

CDlkStaleHold::CDlkStaleHold()
    : m_nextStart(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_delivered(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

bool CDlkStaleHold::WaitForNextStart(HANDLE cancel)
{
    const HANDLE events[] = {m_nextStart.Get(), cancel};
    return WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0;
}

void CDlkStaleHold::MarkDelivered()
{
    SetEvent(m_delivered.Get());
}

bool CDlkStaleHold::ReleaseAndWait(DWORD waitMs)
{
    SetEvent(m_nextStart.Get());
    return WaitForSingleObject(m_delivered.Get(), waitMs) == WAIT_OBJECT_0;
}
