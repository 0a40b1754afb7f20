// The library's fault-injection switch, for the updater's fault runs: a file ieksdlk.faults
// beside the DLL holding one keyword makes every download started afterwards misbehave in
// that one way. Without the file (the normal case) the library behaves as documented.
//
//   never-notify      do the download, then send no notification at all
//   notify-twice      send the final notification twice, one right after the other
//   notify-late [MS]  hold the final notification back until DlkExitStdDownload is called
//                     (or MS milliseconds have passed), then send it from the download's
//                     thread while the caller is still inside DlkExitStdDownload
//   notify-progress   download nothing: notify progress (event 2) from the download's thread
//                     every 20 ms until DlkExitStdDownload, then stop without an outcome
//   notify-stale      the first download fetches nothing and reports a failure; once the next
//                     download is being started it reports that failure again (its own user
//                     data, its own thread) before the starting call returns
//   refuse-start      answer every download with DLK_RESULT_START_FAILED at once, as when the
//                     download's thread cannot be started: no download, no notification
#pragma once

#include <windows.h>

#include <string>

class CDlkFaultSwitch {
public:
    enum Fault {
        None,
        NeverNotify,
        NotifyTwice,
        NotifyLate,
        NotifyProgress,
        NotifyStale,
        RefuseStart
    };

    // Reads the switch file in dir; anything unreadable or unknown leaves the switch off.
    static CDlkFaultSwitch Read(const std::wstring& dir);
    // Parses the file's text: the first word is the keyword, an optional number follows.
    static CDlkFaultSwitch Parse(const std::string& text);

    Fault GetFault() const { return m_fault; }
    // How long notify-late holds the notification without an exit; INFINITE when not given.
    DWORD GetLateDelayMs() const { return m_lateDelayMs; }
    // The keyword as written in the file, for the log; empty when off.
    const std::string& GetKeyword() const { return m_keyword; }

private:
    Fault m_fault = None;
    DWORD m_lateDelayMs = INFINITE;
    std::string m_keyword;
};
