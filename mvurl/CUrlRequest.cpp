#include "mvurl/CUrlRequest.h"

#include "mvurl/UrlLog.h"
#include "threading/CKSLock.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr uint64_t kContentStep = 8192;
// Largest capacity a 32-bit size can describe in whole steps.
constexpr uint64_t kMaxCapacity = 0xFFFFFFFFull / kContentStep * kContentStep;

uint64_t RoundUpToStep(uint64_t n)
{
    return (n + kContentStep - 1) / kContentStep * kContentStep;
}

}  // namespace

CUrlRequest* CUrlRequest::Create(CUrlMgr* mgr, const char* urlUtf8, uint32_t secure,
                                 UrlCompletionFn completion)
{
    CUrlRequest* request = new (std::nothrow) CUrlRequest(mgr, secure, completion);
    if (request == nullptr)
        return nullptr;
    if (!request->m_url.Set(urlUtf8)) {
        delete request;
        return nullptr;
    }
    CUrlLogLine().Text("Create CUrlRequest object ").Pointer(request).Info();
    return request;
}

CUrlRequest::CUrlRequest(CUrlMgr* mgr, uint32_t secure, UrlCompletionFn completion)
    : m_pMgr(mgr), m_nSecure(secure), m_pfnCompletion(completion)
{
}

CUrlRequest::~CUrlRequest()
{
    delete[] m_pContent;
    // The URL may carry the access token: it does not outlive the request.
    m_url.Wipe();
    CUrlLogLine().Text("Destroy CUrlRequest object ").Pointer(this).Info();
}

LONG CUrlRequest::AddRef()
{
    CKSLock guard(m_lock);
    return ++m_nRefCount;
}

LONG CUrlRequest::Release()
{
    LONG count;
    {
        CKSLock guard(m_lock);
        count = --m_nRefCount;
    }
    if (count == 0)
        delete this;
    return count;
}

uint8_t* CUrlRequest::ReserveTail(uint32_t n)
{
    const uint64_t needed = static_cast<uint64_t>(m_nContentLength) + n;
    if (needed > m_nContentCapacity && !Grow(needed))
        return nullptr;
    return m_pContent + m_nContentLength;
}

int CUrlRequest::AppendContent(const uint8_t* bytes, uint32_t n)
{
    const uint64_t needed = static_cast<uint64_t>(m_nContentLength) + n;
    if (needed > m_nBodyLimit)
        return 0;
    if (needed > m_nContentCapacity && !Grow(needed))
        return 0;
    if (n > 0)
        std::memcpy(m_pContent + m_nContentLength, bytes, n);
    m_nContentLength = static_cast<uint32_t>(needed);
    return 1;
}

bool CUrlRequest::ReserveContent(uint32_t n)
{
    if (n <= m_nContentCapacity)
        return true;
    if (n > kMaxCapacity)
        return false;
    return Reallocate(RoundUpToStep(n));
}

bool CUrlRequest::Grow(uint64_t needed)
{
    if (needed > kMaxCapacity)
        return false;
    const uint64_t exact = RoundUpToStep(needed);
    // Doubling never reserves more than the limit lets the body reach.
    const uint64_t ceiling = std::max(exact, std::min(RoundUpToStep(m_nBodyLimit), kMaxCapacity));
    const uint64_t doubled = std::min(RoundUpToStep(2ull * m_nContentCapacity), ceiling);
    // Doubling may ask too much when exactly the step needed can still be had.
    return (doubled > exact && Reallocate(doubled)) || Reallocate(exact);
}

bool CUrlRequest::Reallocate(uint64_t capacity)
{
    uint8_t* buffer = new (std::nothrow) uint8_t[capacity];
    if (buffer == nullptr)
        return false;
    if (m_nContentLength > 0)
        std::memcpy(buffer, m_pContent, m_nContentLength);
    delete[] m_pContent;
    m_pContent = buffer;
    m_nContentCapacity = static_cast<uint32_t>(capacity);
    return true;
}
