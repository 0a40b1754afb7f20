// A stand-in for WinInet that does what a test scripts, for what the loopback servers cannot
// show under Wine: a close that wakes a call blocked on its handle (Windows' WinInet does, Wine's
// never does), a close slow enough to let the woken thread run ahead, a connect that returns
// late, and a worker held at one of the module's pause points until another thread reaches a
// second one. Installed through the binding's test table and the module's pause hook; one script
// for the whole process at a time. Every hold ends at LetGo, and none lasts more than 30 s.
#pragma once

#include "mvurl/UrlTestPause.h"

#include <windows.h>

#include <string>
#include <vector>

struct WinInetScript {
    // What HttpSendRequestA does: answer at once (status 200 and a short body), block until its
    // handle is closed (as on Windows) or until LetGo only (as under Wine).
    enum class Send { Answers, BlocksUntilClosed, BlocksUntilLetGo };

    Send send = Send::Answers;
    // A close of a request or connection handle by another thread than the worker returns only
    // once the worker has moved on: made its next call, or ended.
    bool requestCloseWaitsForWorker = false;
    bool connectCloseWaitsForWorker = false;
    // Hold the worker the first time it reaches holdAt, until a thread reaches releaseAt.
    bool hold = false;
    UrlPausePoint holdAt = UrlPausePoint::BeforeHandBack;
    UrlPausePoint releaseAt = UrlPausePoint::StopOverdue;
};

class ScriptedWinInet {
public:
    // Stands in for WinInet with script from now on, its counts and events reset.
    static void Install(const WinInetScript& script);
    // Lets every blocked call and held thread go, and removes the stand-in.
    static void Uninstall();
    // Lets every blocked call and held thread go, now and from now on until the next Install.
    static void LetGo();
    // InternetConnectA, its handle made, returns only once ready is signalled (or at LetGo).
    static void HoldConnectsUntil(HANDLE ready);

    // Connections asked for since Install.
    static int Connects();
    // The time-outs set since Install, in order: "<root|connection|request> <connect|send|receive>
    // <milliseconds>".
    static std::vector<std::string> TimeOutsSet();
    // Each waits at most 10 s: a send entered, a connect entered, the worker held.
    static bool WaitForSend();
    static bool WaitForConnect();
    static bool WaitForHold();
};
