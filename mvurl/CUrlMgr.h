// The URL module's one manager: owns the worker, creates and cancels requests, and keeps
// finished requests until the application's thread dispatches them.
#pragma once

#include "mvurl/MVUrl.h"
#include "threading/CKSCriticalSection.h"

#include <cstddef>
#include <cstdint>

class CUrlRequest;
class CUrlWorker;

class CUrlMgr {
public:
    CUrlMgr() = default;
    // Cleans up whatever is left.
    virtual ~CUrlMgr();

    CUrlMgr(const CUrlMgr&) = delete;
    CUrlMgr& operator=(const CUrlMgr&) = delete;

    // Creates and starts the worker; 1 when it is ready, 0 (and no worker) otherwise. Only a
    // null downloadInterface has a worker kind: anything else leaves the manager without one.
    uint32_t Init(void* downloadInterface, uint32_t downloadParameter);
    // Stops and destroys the worker, then releases finished requests without delivering them.
    // Bounded: a worker still blocked inside WinInet after a few seconds is abandoned (it ends
    // and frees itself later). False when that happened.
    bool Cleanup();

    // A creation code (MVURL_OK, MVURL_E_*); on MVURL_OK the handle is stored in *outRequest.
    int32_t CreateRequest(const char* urlUtf8, uint32_t secure, UrlCompletionFn completion,
                          CUrlRequest** outRequest);
    int32_t CancelRequest(CUrlRequest* request);
    // The body limit given to the requests created from now on.
    void SetBodyLimit(uint32_t bytes) { m_nBodyLimit = bytes; }
    void DispatchResults();

    // Called by the worker on its own thread: request (and its reference) joins the completed list.
    void RequestDone(CUrlRequest* request);
    CUrlRequest* PopCompleted();

    bool HasWorker() const { return m_pWorker != nullptr; }
    // Finished requests waiting for the next dispatch.
    size_t GetCompletedCount();

protected:
    // The worker Init starts: WinInet's (null when it cannot be allocated).
    virtual CUrlWorker* CreateWorker();

private:
    CKSCriticalSection m_lock;
    void* m_pDownloadInterface = nullptr;
    uint32_t m_nDownloadParameter = 0;
    CUrlWorker* m_pWorker = nullptr;
    uint32_t m_nBodyLimit = kDefaultBodyLimit;
    // Completed list, oldest first, linked through the requests themselves so that handing a
    // request back can never fail for want of memory.
    CUrlRequest* m_pDoneHead = nullptr;
    CUrlRequest* m_pDoneTail = nullptr;
};

// The process-wide manager the entry functions use.
CUrlMgr& TheUrlMgr();
