#include "mvurl/CUrlMgr.h"

#include "mvurl/CUrlRequest.h"
#include "mvurl/CUrlWinInetWorker.h"
#include "threading/CKSLock.h"

#include <new>

CUrlMgr::~CUrlMgr()
{
    Cleanup();
}

uint32_t CUrlMgr::Init(void* downloadInterface, uint32_t downloadParameter)
{
    m_pDownloadInterface = downloadInterface;
    m_nDownloadParameter = downloadParameter;
    if (m_pWorker != nullptr)
        return 1;
    if (downloadInterface != nullptr)
        return 0;
    m_pWorker = CreateWorker();
    if (m_pWorker == nullptr)
        return 0;
    if (m_pWorker->Init() == 0) {
        delete m_pWorker;
        m_pWorker = nullptr;
        return 0;
    }
    return 1;
}

CUrlWorker* CUrlMgr::CreateWorker()
{
    return new (std::nothrow) CUrlWinInetWorker(this);
}

bool CUrlMgr::Cleanup()
{
    bool stopped = true;
    if (m_pWorker != nullptr) {
        stopped = m_pWorker->Cleanup();
        if (stopped)
            delete m_pWorker;
        m_pWorker = nullptr;
    }
    while (CUrlRequest* request = PopCompleted())
        request->Release();
    return stopped;
}

int32_t CUrlMgr::CreateRequest(const char* urlUtf8, uint32_t secure, UrlCompletionFn completion,
                               CUrlRequest** outRequest)
{
    if (urlUtf8 == nullptr || outRequest == nullptr)
        return MVURL_E_ARGUMENT;
    CUrlRequest* request = CUrlRequest::Create(this, urlUtf8, secure, completion);
    if (request == nullptr)
        return MVURL_E_ALLOCATION;
    request->SetBodyLimit(m_nBodyLimit);
    if (m_pWorker == nullptr || m_pWorker->Submit(request) == 0) {
        delete request;
        return MVURL_E_NO_WORKER;
    }
    *outRequest = request;
    return MVURL_OK;
}

int32_t CUrlMgr::CancelRequest(CUrlRequest* request)
{
    if (request == nullptr)
        return 0;
    request->SetCancelled();
    if (m_pWorker != nullptr)
        m_pWorker->Cancel(request);
    return 0;
}

void CUrlMgr::DispatchResults()
{
    if (m_pWorker != nullptr)
        m_pWorker->Poll();
    while (CUrlRequest* request = PopCompleted()) {
        if (!request->IsCancelled()) {
            const int32_t result = request->GetResult();
            if (result == 0) {
                const uint32_t length = request->GetContentLength();
                request->GetCompletion()(request, static_cast<int32_t>(length),
                                         length ? request->GetContent() : nullptr);
            } else {
                request->GetCompletion()(request, result, nullptr);
            }
        }
        request->Release();
    }
}

void CUrlMgr::RequestDone(CUrlRequest* request)
{
    CKSLock guard(m_lock);
    request->m_pNextDone = nullptr;
    if (m_pDoneTail != nullptr) {
        m_pDoneTail->m_pNextDone = request;
    } else {
        m_pDoneHead = request;
    }
    m_pDoneTail = request;
}

CUrlRequest* CUrlMgr::PopCompleted()
{
    CKSLock guard(m_lock);
    CUrlRequest* request = m_pDoneHead;
    if (request != nullptr) {
        m_pDoneHead = request->m_pNextDone;
        if (m_pDoneHead == nullptr)
            m_pDoneTail = nullptr;
        request->m_pNextDone = nullptr;
    }
    return request;
}

size_t CUrlMgr::GetCompletedCount()
{
    CKSLock guard(m_lock);
    size_t count = 0;
    for (CUrlRequest* r = m_pDoneHead; r != nullptr; r = r->m_pNextDone)
        ++count;
    return count;
}
