// The notify-stale fault's meeting point: the first download, having reported its failure,
// waits here until the next download is being started, sends its outcome once more, and lets
// the starting call go on only then, so that the stale notification is seen while the caller
// waits for the new download's outcome.
#pragma once

#include "standins/ieksdlk/CWinHandle.h"

#include <windows.h>

class CDlkStaleHold {
public:
    CDlkStaleHold();
    virtual ~CDlkStaleHold() = default;

    CDlkStaleHold(const CDlkStaleHold&) = delete;
    CDlkStaleHold& operator=(const CDlkStaleHold&) = delete;

    // The held download's thread: true when the next download is being started, false when
    // cancel (the library's exit) came first.
    bool WaitForNextStart(HANDLE cancel);
    // The held download's thread, once its outcome was sent again (or given up).
    void MarkDelivered();
    // The next start: releases the held download and waits (at most waitMs) for its outcome.
    // False when it did not come in time.
    bool ReleaseAndWait(DWORD waitMs);

private:
    CWinHandle m_nextStart;
    CWinHandle m_delivered;
};
