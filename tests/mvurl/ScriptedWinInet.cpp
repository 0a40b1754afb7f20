#include "tests/mvurl/ScriptedWinInet.h"

#include "mvurl/WinInetBinding.h"
#include "threading/CKSCriticalSection.h"
#include "threading/CKSLock.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWaitForTest = 10000;
constexpr DWORD kLongestHold = 30000;
constexpr char kBody[] = "scripted";

// A manual-reset event, closed with its owner.
class OwnedEvent {
public:
    OwnedEvent() : m_h(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~OwnedEvent() { CloseHandle(m_h); }
    OwnedEvent(const OwnedEvent&) = delete;
    OwnedEvent& operator=(const OwnedEvent&) = delete;
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

enum class Kind { Root, Connect, Request };

struct FakeHandle {
    explicit FakeHandle(Kind k) : kind(k) {}
    Kind kind;
    OwnedEvent closed;
    size_t bodyRead = 0;
};

// Everything lives until the process ends: a thread of a failed row may still hold a handle.
struct State {
    CKSCriticalSection lock;
    std::deque<FakeHandle> handles;
    WinInetScript script;
    OwnedEvent letGo, sendEntered, connectEntered, held, released, workerMoved;
    std::atomic<HANDLE> connectReady{nullptr};
    std::atomic<int> connects{0};
    std::atomic<bool> holdUsed{false};
    std::atomic<DWORD> workerId{0};
    // The worker thread, for a close that waits for its end; replaced at each connect.
    std::atomic<HANDLE> workerThread{nullptr};
    std::vector<std::string> timeOuts;  // under lock
};

State& S()
{
    static State state;
    return state;
}

// Every entry point starts here: a call of the worker tells a waiting close it moved on.
void Entered()
{
    if (GetCurrentThreadId() == S().workerId.load())
        SetEvent(S().workerMoved.Get());
}

HINTERNET NewHandle(Kind kind)
{
    CKSLock guard(S().lock);
    S().handles.emplace_back(kind);
    return reinterpret_cast<HINTERNET>(&S().handles.back());
}

FakeHandle* From(HINTERNET handle)
{
    return reinterpret_cast<FakeHandle*>(handle);
}

// Waits for first (may be null) or LetGo: true when first came.
bool WaitOrLetGo(HANDLE first)
{
    const HANDLE handles[2] = {S().letGo.Get(), first};
    return WaitForMultipleObjects(first ? 2 : 1, handles, FALSE, kLongestHold) == WAIT_OBJECT_0 + 1;
}

HINTERNET WINAPI Open(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD)
{
    return NewHandle(Kind::Root);
}

HINTERNET WINAPI Connect(HINTERNET, LPCSTR, INTERNET_PORT, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR)
{
    const DWORD id = GetCurrentThreadId();
    if (S().workerId.exchange(id) != id) {
        if (HANDLE old = S().workerThread.exchange(OpenThread(SYNCHRONIZE, FALSE, id)))
            CloseHandle(old);
    }
    Entered();
    ++S().connects;
    HINTERNET handle = NewHandle(Kind::Connect);
    SetEvent(S().connectEntered.Get());
    if (HANDLE ready = S().connectReady.load())
        WaitOrLetGo(ready);
    return handle;
}

HINTERNET WINAPI OpenRequest(HINTERNET, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR*, DWORD, DWORD_PTR)
{
    Entered();
    return NewHandle(Kind::Request);
}

BOOL WINAPI Send(HINTERNET request, LPCSTR, DWORD, LPVOID, DWORD)
{
    Entered();
    SetEvent(S().sendEntered.Get());
    const WinInetScript::Send how = S().script.send;
    if (how == WinInetScript::Send::Answers)
        return TRUE;
    const bool woken = WaitOrLetGo(
        how == WinInetScript::Send::BlocksUntilClosed ? From(request)->closed.Get() : nullptr);
    SetLastError(woken ? ERROR_INTERNET_OPERATION_CANCELLED : ERROR_INTERNET_CONNECTION_ABORTED);
    return FALSE;
}

BOOL WINAPI Close(HINTERNET handle)
{
    Entered();
    FakeHandle* fake = From(handle);
    const bool waits = GetCurrentThreadId() != S().workerId.load() &&
                       ((fake->kind == Kind::Request && S().script.requestCloseWaitsForWorker) ||
                        (fake->kind == Kind::Connect && S().script.connectCloseWaitsForWorker));
    // Reset before the wake, so that only what the worker does after it counts.
    if (waits)
        ResetEvent(S().workerMoved.Get());
    SetEvent(fake->closed.Get());
    if (waits) {
        const HANDLE handles[3] = {S().letGo.Get(), S().workerMoved.Get(), S().workerThread.load()};
        WaitForMultipleObjects(handles[2] ? 3 : 2, handles, FALSE, kLongestHold);
    }
    return TRUE;
}

BOOL WINAPI QueryInfo(HINTERNET, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD)
{
    Entered();
    DWORD value;
    switch (level & 0xFFFF) {
    case HTTP_QUERY_STATUS_CODE:
        value = HTTP_STATUS_OK;
        break;
    case HTTP_QUERY_CONTENT_LENGTH:
        value = sizeof(kBody) - 1;
        break;
    default:
        SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
        return FALSE;
    }
    if ((level & HTTP_QUERY_FLAG_NUMBER) == 0 || *length < sizeof(value)) {
        SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
        return FALSE;
    }
    std::memcpy(buffer, &value, sizeof(value));
    *length = sizeof(value);
    return TRUE;
}

BOOL WINAPI ReadFile(HINTERNET request, LPVOID buffer, DWORD toRead, LPDWORD read)
{
    Entered();
    FakeHandle* fake = From(request);
    const size_t left = sizeof(kBody) - 1 - fake->bodyRead;
    const size_t n = left < toRead ? left : toRead;
    std::memcpy(buffer, kBody + fake->bodyRead, n);
    fake->bodyRead += n;
    *read = static_cast<DWORD>(n);
    return TRUE;
}

BOOL WINAPI SetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length)
{
    Entered();
    const char* name = option == INTERNET_OPTION_CONNECT_TIMEOUT   ? "connect"
                       : option == INTERNET_OPTION_SEND_TIMEOUT    ? "send"
                       : option == INTERNET_OPTION_RECEIVE_TIMEOUT ? "receive"
                                                                   : nullptr;
    if (name == nullptr)
        return TRUE;
    static const char* const kKinds[] = {"root", "connection", "request"};
    const std::string value =
        length == sizeof(DWORD) ? std::to_string(*static_cast<const DWORD*>(buffer)) : "?";
    CKSLock guard(S().lock);
    S().timeOuts.push_back(std::string(kKinds[static_cast<int>(From(handle)->kind)]) + " " + name +
                           " " + value);
    return TRUE;
}

void Pause(UrlPausePoint point)
{
    const WinInetScript& script = S().script;
    if (!script.hold)
        return;
    if (point == script.releaseAt)
        SetEvent(S().released.Get());
    if (point == script.holdAt && !S().holdUsed.exchange(true)) {
        SetEvent(S().held.Get());
        WaitOrLetGo(S().released.Get());
    }
}

bool WaitForEvent(const OwnedEvent& event)
{
    return WaitForSingleObject(event.Get(), kWaitForTest) == WAIT_OBJECT_0;
}

}  // namespace

void ScriptedWinInet::Install(const WinInetScript& script)
{
    State& s = S();
    s.script = script;
    for (const OwnedEvent* e :
         {&s.letGo, &s.sendEntered, &s.connectEntered, &s.held, &s.released, &s.workerMoved})
        ResetEvent(e->Get());
    s.connectReady = nullptr;
    s.connects = 0;
    s.holdUsed = false;
    s.workerId = 0;
    {
        CKSLock guard(s.lock);
        s.timeOuts.clear();
    }
    WinInetFunctions functions = {};
    functions.internetOpen = Open;
    functions.internetConnect = Connect;
    functions.httpOpenRequest = OpenRequest;
    functions.httpSendRequest = Send;
    functions.internetCloseHandle = Close;
    functions.httpQueryInfo = QueryInfo;
    functions.internetReadFile = ReadFile;
    functions.internetSetOption = SetOption;
    WinInetInstallForTests(functions);
    g_pfnUrlTestPause = Pause;
}

void ScriptedWinInet::Uninstall()
{
    LetGo();
    g_pfnUrlTestPause = nullptr;
    WinInetUnbind();
}

void ScriptedWinInet::LetGo()
{
    SetEvent(S().letGo.Get());
}

void ScriptedWinInet::HoldConnectsUntil(HANDLE ready)
{
    S().connectReady = ready;
}

int ScriptedWinInet::Connects()
{
    return S().connects;
}

bool ScriptedWinInet::WaitForSend()
{
    return WaitForEvent(S().sendEntered);
}

bool ScriptedWinInet::WaitForConnect()
{
    return WaitForEvent(S().connectEntered);
}

bool ScriptedWinInet::WaitForHold()
{
    return WaitForEvent(S().held);
}

std::vector<std::string> ScriptedWinInet::TimeOutsSet()
{
    CKSLock guard(S().lock);
    return S().timeOuts;
}
