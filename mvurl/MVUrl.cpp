#include "mvurl/MVUrl.h"

#include "mvurl/CUrlMgr.h"
#include "mvurl/WinInetBinding.h"
#include "trace/StaticInitOrder.h"
#include "util/SecureWipe.h"
#include "util/Utf8.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// Constructed after the trace modules it writes to and before the trace library loader, so
// its destruction (which cleans up whatever is left) still finds all of them.
CUrlMgr g_UrlMgr MVU_INIT_PRIORITY(MVU_INIT_PRIORITY_URL_MANAGER);

// Set once a worker thread was left blocked inside WinInet: WinInet then stays loaded for the
// rest of the process, since that thread returns into it.
bool g_bWorkerAbandoned = false;

}  // namespace

CUrlMgr& TheUrlMgr()
{
    return g_UrlMgr;
}

int32_t MVUrlInit(void* downloadInterface, uint32_t downloadParameter)
{
    WinInetBind();
    g_UrlMgr.Init(downloadInterface, downloadParameter);
    return 0;
}

int32_t MVUrlCleanup()
{
    if (!g_UrlMgr.Cleanup())
        g_bWorkerAbandoned = true;
    if (!g_bWorkerAbandoned)
        WinInetUnbind();
    return 0;
}

int32_t MVUrlRequestW(const wchar_t* url, uint32_t secure, UrlCompletionFn completion,
                      CUrlRequest** outRequest)
{
    if (url == nullptr || outRequest == nullptr)
        return MVURL_E_ARGUMENT;
    std::unique_ptr<char[]> utf8(new (std::nothrow) char[kMaxUrlUtf8]());
    if (!utf8)
        return MVURL_E_ALLOCATION;
    // A URL whose UTF-8 form does not fit is refused rather than sent cut.
    const bool converted = WideToUtf8(url, utf8.get(), kMaxUrlUtf8) > 0;
    const int32_t created = converted
                                ? g_UrlMgr.CreateRequest(utf8.get(), secure, completion, outRequest)
                                : MVURL_E_ARGUMENT;
    // The URL may carry the access token: this copy goes as soon as the request has its own.
    // The buffer came zeroed, so a whole conversion leaves nothing behind its terminator.
    SecureWipe(utf8.get(), converted ? std::strlen(utf8.get()) : static_cast<size_t>(kMaxUrlUtf8));
    return created;
}

void MVUrlSetBodyLimit(uint32_t bytes)
{
    g_UrlMgr.SetBodyLimit(bytes);
}

void MVUrlCancel(CUrlRequest* request)
{
    g_UrlMgr.CancelRequest(request);
}

void MVUrlDispatch()
{
    g_UrlMgr.DispatchResults();
}
