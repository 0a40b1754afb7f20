// The worker the manager uses: one thread that takes requests from its queue and performs
// each HTTP exchange in turn through WinInet, writing the outcome into the request before
// handing it back to the manager.
#pragma once

#include "mvurl/CUrlWorker.h"
#include "mvurl/RedirectText.h"
#include "mvurl/WinInetBinding.h"
#include "threading/CKSCharStr.h"
#include "threading/CKSCriticalSection.h"
#include "threading/CKSSyncQueue.h"
#include "threading/CKSThread.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>

class CProductKey;

class CUrlWinInetWorker : public CUrlWorker, public CKSThread {
public:
    explicit CUrlWinInetWorker(CUrlMgr* mgr);
    ~CUrlWinInetWorker() override;

    uint32_t Init() override;
    // Workers not yet destroyed, an abandoned one included (it frees itself when its thread
    // ends): what a leak check counts.
    static int32_t LiveCount() { return s_nLive; }
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
    // "MVRelaxedTls" relaxes the certificate checks only while answers are signature-checked.
    void RelaxTlsIfSigned();
    // Which server may have the stored server credentials, and whether a proxy is in use.
    void ReadCredentialScope(CProductKey& key);
    void ServeQueue();
    bool StopRequested();
    // The thread's last step: deletes the worker when its owner has abandoned it.
    DWORD FinishThreadRun();
    // Gives the worker up when its thread is busy, which is only ever inside WinInet: true when
    // it did. Never while the thread hands a request back.
    bool AbandonIfBusy();
    void Exchange(CUrlRequest* request);
    // Marks a hand-back under way: false, with nothing marked, when the owner has given the
    // worker up. The check and the mark are one step, so the owner gives up either before (and
    // the request goes to nobody) or after the hand-back.
    bool BeginHandBack();
    void EndHandBack();
    int32_t Perform(CUrlRequest* request);
    // Connects to host at port for object (traced with any token masked), keeping the handle
    // for a cancel: 0, or the failure result.
    int32_t Connect(const char* host, INTERNET_PORT port, const char* object,
                    HINTERNET* connection);
    // Opens the request on the connection, sets its options and credentials, sends it and takes
    // the answer. A non-null location makes redirects the worker's own: a redirect answer then
    // leaves its Location there and answers kRedirected.
    int32_t OpenAndSend(CUrlRequest* request, HINTERNET hConnect, const char* verb,
                        const char* object, DWORD secureFlags, bool withBody,
                        const CKSCharStr& body, CKSCharStr* location);
    // Follows location, received from host, port and object, over TLS only, hop after hop.
    int32_t FollowRedirects(CUrlRequest* request, const char* host, INTERNET_PORT port,
                            const char* object, CKSCharStr& location);
    // Traces why a redirect is not followed (a target to follow: one hop too many) and answers
    // the request's result.
    int32_t RefuseRedirect(RedirectKind kind, const CKSCharStr& shown);
    // Keeps handle for a cancel: false, the handle closed, when the request was cancelled or a
    // stop asked before it existed (nobody would close it then).
    bool StoreHandle(HINTERNET* slot, HINTERNET handle);
    void SetCredentials(HINTERNET request);
    int32_t SendAndReceive(CUrlRequest* request, HINTERNET hRequest, bool upload,
                           const CKSCharStr& body, CKSCharStr* location);
    int32_t ReadBody(CUrlRequest* request, HINTERNET hRequest);
    // Sizes the content for the length the answer announces; a failure result when that
    // length passes the request's body limit, else 0.
    int32_t ReserveAnnounced(CUrlRequest* request, HINTERNET hRequest);
    int32_t BodyTooLarge(CUrlRequest* request);
    // The result of a body read to its end: 0, or why what arrived is not the whole answer.
    int32_t CheckComplete(CUrlRequest* request, HINTERNET hRequest, DWORD status);
    // The exchange's request and connection handles, taken out of their slots: closed when the
    // taker lets them go, the request before its connection.
    struct ExchangeHandles {
        UniqueInternetHandle connect;
        UniqueInternetHandle request;
    };

    void CloseExchange();
    // Empties the handle slots; the caller holds m_lock and lets what it got go without it.
    ExchangeHandles TakeHandlesLocked();
    void ReleaseQueued();
    // Closes every handle and releases every request the worker still holds.
    void ReleaseResources();

    CKSCriticalSection m_lock;
    CKSSyncQueue m_queue;
    UniqueInternetHandle m_hRoot;
    HINTERNET m_hConnect = nullptr;
    HINTERNET m_hRequest = nullptr;
    CUrlRequest* m_pCurrent = nullptr;
    ThreadState m_state = ThreadState::Running;
    bool m_bHandingBack = false;

    // Live for one run of the thread.
    char m_szUploadUrl[256] = {};
    DWORD m_dwSecureFlags = INTERNET_FLAG_SECURE;
    RememberedCredentials m_remembered = {};
    CKSCharStr m_credentialHost;
    uint16_t m_credentialPort = 0;
    bool m_bProxyInUse = false;
    // Whether the exchange's server is the configured one.
    bool m_bServerCredentialsAllowed = false;

    static std::atomic<int32_t> s_nLive;
};
