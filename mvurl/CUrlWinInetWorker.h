// The worker the manager uses: one thread that takes requests from its queue and performs
// each HTTP exchange in turn through WinInet, writing the outcome into the request before
// handing it back to the manager.
#pragma once

#include "mvurl/CUrlWorker.h"
#include "threading/CKSCharStr.h"
#include "threading/CKSCriticalSection.h"
#include "threading/CKSSyncQueue.h"
#include "threading/CKSThread.h"

#include <windows.h>
#include <wininet.h>


class CUrlWinInetWorker : public CUrlWorker, public CKSThread {
public:
    explicit CUrlWinInetWorker(CUrlMgr* mgr);
    ~CUrlWinInetWorker() override;

    uint32_t Init() override;
    bool Cleanup() override;
    void Poll() override {}
    uint32_t Submit(CUrlRequest* request) override;
    void Cancel(CUrlRequest* request) override;

    DWORD Run() override;

private:
    // Credentials remembered from an earlier request of this thread run, so they keep being
    // sent after the stored values vanish.
    struct RememberedCredentials {
        char proxyUser[128];
        char proxyPassword[128];
        char serverUser[128];
        char serverPassword[128];
    };

    // Where the thread is in its life, as the owner's cleanup sees it.
    enum class ThreadState { Running, Finished, Abandoned };

    void StartThreadRun();
    void ServeQueue();
    bool StopRequested();
    // The thread's last step: deletes the worker when its owner has abandoned it.
    DWORD FinishThreadRun();
    void Exchange(CUrlRequest* request);
    int32_t Perform(CUrlRequest* request);
    bool StoreHandle(HINTERNET* slot, HINTERNET handle);
    void SetCredentials(HINTERNET request);
    int32_t SendAndReceive(CUrlRequest* request, HINTERNET hRequest, bool upload, const CKSCharStr& body);
    int32_t ReadBody(CUrlRequest* request, HINTERNET hRequest);
    // Sizes the content for the length the answer announces; a failure result when that
    // length passes the request's body limit, else 0.
    int32_t ReserveAnnounced(CUrlRequest* request, HINTERNET hRequest);
    int32_t BodyTooLarge(CUrlRequest* request);
    // The result of a body read to its end: 0, or why what arrived is not the whole answer.
    int32_t CheckComplete(CUrlRequest* request, HINTERNET hRequest, DWORD status);
    void CloseExchange();
    // Closes the exchange's request and connection handles; the caller holds m_lock.
    void CloseHandlesLocked();
    void ReleaseQueued();
    // Closes every handle and releases every request the worker still holds.
    void ReleaseResources();

    CKSCriticalSection m_lock;
    CKSSyncQueue m_queue;
    HINTERNET m_hRoot = nullptr;
    HINTERNET m_hConnect = nullptr;
    HINTERNET m_hRequest = nullptr;
    CUrlRequest* m_pCurrent = nullptr;
    ThreadState m_state = ThreadState::Running;

    // Live for one run of the thread.
    char m_szUploadUrl[256] = {};
    DWORD m_dwSecureFlags = INTERNET_FLAG_SECURE;
    RememberedCredentials m_remembered = {};
};
