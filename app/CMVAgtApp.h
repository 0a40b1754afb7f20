// The updater's application object: the state of one update run and its status machine.
// The entry creates exactly one, drives it from the hidden window's 50 ms timer and
// destroys it. Everything runs on the main thread except the download library's
// notification, which may arrive on a thread of the library's and acts only while downloading.
#pragma once

#include "app/AgtStatus.h"
#include "app/CAnswerCheck.h"
#include "app/DlkApi.h"
#include "app/VersionText.h"
#include "mvurl/MVUrl.h"
#include "util/CPrivateTempFolder.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

class CMVAgtApp {
public:
    CMVAgtApp();
    virtual ~CMVAgtApp();

    CMVAgtApp(const CMVAgtApp&) = delete;
    CMVAgtApp& operator=(const CMVAgtApp&) = delete;

    // Reads the trace threshold, starts the URL module and queues the version check.
    void Initialize(HWND hWnd);
    // Gives up the pending request and stops the URL module; STATUS_IDLE.
    void Cleanup();
    void SetCheckFlag(int32_t flag);
    // The message loop: until the quit flag is set or WM_QUIT arrives.
    void Run();
    // One timer tick: time-outs, the download start, retries, the end; then dispatch.
    void OnTimer();
    // Every status change goes through here: it stamps the status time.
    void SetStatus(AgtStatus status);
    // The same, but only while the status is still expected (for the library's thread, which
    // must not undo a change the main thread made meanwhile). True when it was changed.
    bool SetStatusIf(AgtStatus expected, AgtStatus status);

    // First step of the run: asks the configured server for the current version, or starts
    // the configuration program when no server is configured.
    void StartCheckVersion();
    // The completion function of every request of the application (main thread, from
    // MVUrlDispatch): routes the answer of the current request by the status.
    static int32_t OnUrlReturn(CUrlRequest* request, int32_t value, const uint8_t* content);
    // The version answer (text from "<MVHostVersion>" on, length in characters), or the
    // failed request's result when text is null.
    void OnGettingVersionInfoReturn(int32_t value, wchar_t* text);
    // Requests the INI description the answer names.
    void DownlaodIniFile();
    // The INI description (text and its length), or the failed request's result.
    void OnDownloadingIniReturn(int32_t value, const wchar_t* text);

    // Starts the configuration program and ends the run.
    void LaunchConfiguration();
    // The shutdown query's command: ends the run at the next tick.
    void OnCommandClose();

    // The download library's notification (its thread), reaching the object through
    // g_pCurAgtApp.
    static int WINAPI OnDlkStdDownloadNotify(ULONG_PTR reserved, int eventCode,
                                             const char* fileName, const char* secondName,
                                             int resultCode, ULONG_PTR reserved2);

    AgtStatus GetStatus() const { return m_nStatus; }
    DWORD GetStatusTime() const { return m_dwStatusTime; }
    bool IsQuitting() const { return m_nQuit != 0; }
    int32_t GetCheckFlag() const { return m_nCheckFlag; }
    CUrlRequest* GetCurrentRequest() const { return m_pCurrentRequest; }

    // Process-wide counters of the run, readable (and resettable) for tests.
    static int32_t GetDownloadRetryCount() { return s_nDownloadRetry; }
    static DWORD GetHeartbeatTime() { return s_dwHeartbeatTime; }
    static void ResetRunCounters();

protected:
    // The bytes of an answer that arrived, of a size this program takes: checked (with update
    // keys set), converted to text once, traced and routed.
    void OnAnswerBytes(int32_t value, const uint8_t* content);
    // Whether the answer's bytes pass; where the part to read lies in them (the signed envelope,
    // with update keys set). A refused answer ends its wait.
    bool AdmitAnswer(AgtStatus status, int32_t value, const uint8_t* content, size_t* start,
                     size_t* length);
    // Hands the answer (text null: the request failed with value) to the step the status waits
    // in.
    void RouteAnswer(AgtStatus status, int32_t value, wchar_t* text, int convertedCount);
    void StoreVersionAnswer(const VersionAnswer& answer);
    // Stores the INI text as a new file named by the server in the run's own folder; its full
    // path then replaces the name. False when the name is unsafe or the file not fully stored.
    bool StoreIniFile(const wchar_t* text);
    void PrepareLibrary();
    void StartDownload();
    void RunCheckModeDownload(const char* iniPath, const char* section);
    void CallStdDownload(const char* iniPath, const char* section);
    void TimeOutRequest(const wchar_t* record);
    // A download attempt that failed without the library's word (no library, no entry point).
    void FailAttempt();
    // Before each library call that reads the stored INI: false (the attempt failed) when the
    // file no longer holds the checked bytes.
    bool IsStoredIniIntact();
    // Fails the attempt when the library refused to start the download (result not OK).
    void CheckStarted(const wchar_t* entryPoint, int result);

    int32_t m_nQuit = 0;
    wchar_t m_szServerName[kServerNameSize] = {};
    // Written by the main thread and the library's notification thread.
    std::atomic<AgtStatus> m_nStatus{STATUS_IDLE};
    std::atomic<DWORD> m_dwStatusTime{0};
    int32_t m_nSecure = 1;
    CUrlRequest* m_pCurrentRequest = nullptr;
    // The admitted version answer's values; once the INI is stored, its iniName is the stored
    // file's full path.
    VersionAnswer m_answer = {};
    // The section to install: the machine's own choice, not the server's.
    wchar_t m_szInstallSection[kAnswerFieldSize] = {};
    int32_t m_nCheckFlag = 0;
    // The download attempt in progress, handed to the library as its user data: a notification
    // that carries another number belongs to an attempt already given up.
    std::atomic<ULONG_PTR> m_nAttempt{0};
    // Signed answers: the update keys' verdict on the version answer and the INI digest.
    CAnswerCheck m_answerCheck;
    // Where the INI file is stored; removed with the object, after the library has let go.
    CPrivateTempFolder m_iniFolder;

    static std::atomic<DWORD> s_dwHeartbeatTime;
    static std::atomic<int32_t> s_nDownloadRetry;
};

// The application object the static callbacks reach; set by its construction, cleared by its
// destruction before the download library is released. The library's thread reads it only
// under the notification lock, which the destruction takes to clear it.
extern std::atomic<CMVAgtApp*> g_pCurAgtApp;
