// One asynchronous retrieval: its URL, where its outcome goes, and what the worker found.
// Born with one reference, which passes from the manager to the worker and back; the last
// Release destroys it.
#pragma once

#include "mvurl/MVUrl.h"
#include "threading/CKSCharStr.h"
#include "threading/CKSCriticalSection.h"
#include "threading/IKSRefControl.h"

#include <atomic>
#include <cstdint>

class CUrlMgr;

class CUrlRequest : public IKSRefControl {
public:
    // A new request with its URL copied, or null when memory runs out.
    static CUrlRequest* Create(CUrlMgr* mgr, const char* urlUtf8, uint32_t secure,
                               UrlCompletionFn completion);
    virtual ~CUrlRequest();

    CUrlRequest(const CUrlRequest&) = delete;
    CUrlRequest& operator=(const CUrlRequest&) = delete;

    LONG AddRef() override;
    LONG Release() override;

    void SetCancelled() { m_nCancelled = 1; }
    bool IsCancelled() const { return m_nCancelled != 0; }
    void SetResult(int32_t result) { m_nResult = result; }
    int32_t GetResult() const { return m_nResult; }
    uint32_t GetSecure() const { return m_nSecure; }
    UrlCompletionFn GetCompletion() const { return m_pfnCompletion; }
    const uint8_t* GetContent() const { return m_pContent; }
    uint32_t GetContentLength() const { return m_nContentLength; }
    uint32_t GetContentCapacity() const { return m_nContentCapacity; }
    const CKSCharStr& GetUrl() const { return m_url; }
    void SetBodyLimit(uint32_t bytes) { m_nBodyLimit = bytes; }
    uint32_t GetBodyLimit() const { return m_nBodyLimit; }
    CUrlMgr* GetManager() const { return m_pMgr; }

    // Appends n bytes, growing the buffer in whole 8 KB steps (at least doubling, so a long
    // body is read in linear time, but never beyond the body limit). 0, with nothing changed,
    // when memory runs out or the content would pass the body limit.
    int AppendContent(const uint8_t* bytes, uint32_t n);
    // Room for up to n more bytes straight behind the content, so a body is read into its
    // buffer without a copy: the place to write them, or null when memory runs out. The
    // buffer grows as AppendContent grows it; the content is unchanged until CommitContent.
    uint8_t* ReserveTail(uint32_t n);
    // Counts n bytes written at ReserveTail's place as content (n no more than reserved).
    void CommitContent(uint32_t n) { m_nContentLength += n; }
    // Whether n more bytes would take the content past the body limit.
    bool WouldPassLimit(uint32_t n) const
    {
        return static_cast<uint64_t>(m_nContentLength) + n > m_nBodyLimit;
    }
    // Makes room for n bytes in one step (whole 8 KB steps), so a body whose length is known
    // before it arrives is read without regrowing. Never shrinks; false, with nothing changed,
    // when memory runs out.
    bool ReserveContent(uint32_t n);

    // Link of the manager's completed list; touched only under the manager's lock.
    CUrlRequest* m_pNextDone = nullptr;

private:
    CUrlRequest(CUrlMgr* mgr, uint32_t secure, UrlCompletionFn completion);
    bool Grow(uint64_t needed);
    bool Reallocate(uint64_t capacity);

    CKSCriticalSection m_lock;
    CUrlMgr* m_pMgr;
    CKSCharStr m_url;
    uint32_t m_nSecure;
    UrlCompletionFn m_pfnCompletion;
    // Written by the application's thread, read by the worker and the dispatcher.
    std::atomic<uint32_t> m_nCancelled{0};
    int32_t m_nResult = 0;
    uint8_t* m_pContent = nullptr;
    uint32_t m_nContentLength = 0;
    uint32_t m_nContentCapacity = 0;
    uint32_t m_nBodyLimit = kDefaultBodyLimit;
    LONG m_nRefCount = 1;
};
