// The URL worker's thread: its life (start, stop, abandonment), its queue of requests and the
// handle slots a cancel closes. One exchange with a server is in CUrlWinInetWorkerExchange.cpp.
#include "mvurl/CUrlWinInetWorker.h"

#include "mvurl/CProductKey.h"
#include "mvurl/CUrlMgr.h"
#include "mvurl/CUrlRequest.h"
#include "mvurl/StoredCredentials.h"
#include "mvurl/UrlLog.h"
#include "mvurl/UrlTestPause.h"
#include "mvurl/UrlText.h"
#include "mvurl/WinInetBinding.h"
#include "threading/CKSLock.h"
#include "util/SecureWipe.h"
#include "util/SettingNames.h"
#include "util/UpdateKeySetting.h"

#include <cstring>

namespace {

// TLS checks the certificate's name and dates. An operator whose server's certificate does not
// match its name can relax both ("MVRelaxedTls"); revocation is never checked (offline networks).
constexpr DWORD kSecureFlags = INTERNET_FLAG_SECURE;  // 0x00800000
constexpr DWORD kRelaxedCertificateFlags =
    INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;  // 0x00003000

// How long cleanup waits for the thread before leaving it to end on its own: a thread blocked
// inside WinInet is not always woken by closing its handles.
constexpr DWORD kStopWaitMs = 4000;
// The last wait for a thread found past that time outside WinInet (on its way out, or handing a
// request back): neither step blocks, so it ends within this, and is not leaked for a moment's
// lateness.
constexpr DWORD kStopGraceMs = 1000;

// Source lines named in the module's error records; operators' tools match on them.
constexpr int kLineInitFailed = 1024;
constexpr int kLineStopAbandoned = 1107;

}  // namespace

std::atomic<int32_t> CUrlWinInetWorker::s_nLive{0};

CUrlWinInetWorker::CUrlWinInetWorker(CUrlMgr* mgr) : CUrlWorker(mgr)
{
    ++s_nLive;
}

CUrlWinInetWorker::~CUrlWinInetWorker()
{
    // The owner ran Cleanup first, or the abandoned thread itself deletes the worker.
    ReleaseResources();
    --s_nLive;
}

uint32_t CUrlWinInetWorker::Init()
{
    m_hRoot.Reset(OpenRootHandle("OrvikMV"));
    if (!m_hRoot) {
        CUrlLogLine().Text("MVUrl initialization failed").Error(kLineInitFailed);
        return 0;
    }
    SetTimeouts(m_hRoot.Get());
    // Without its thread, or with a queue that cannot announce a request, no request would ever
    // be served: each would wait out its time-out.
    if (!m_queue.IsUsable() || !Start(0)) {
        CUrlLogLine().Text("MVUrl worker thread could not be started").Error(kLineInitFailed);
        return 0;
    }
    CUrlLogLine().Text("MVUrl initialization succeeded").Info();
    return 1;
}

bool CUrlWinInetWorker::Cleanup()
{
    // The stop is asked before any handle is closed: the thread a close wakes must find it there
    // and take no further request. The worker's lock is never held across a WinInet call, so the
    // waits for it are short.
    RequestStop();
    Cancel(nullptr);
    if (!StopWithin(kStopWaitMs)) {
        if (AbandonIfBusy())
            return false;
        // Not inside WinInet: only its return is left to wait for. Should even that not come, the
        // worker is given up if it is busy again, else kept (never freed under a live thread).
        UrlTestPause(UrlPausePoint::StopOverdue);
        if (!StopWithin(kStopGraceMs)) {
            AbandonIfBusy();
            return false;
        }
    }
    ReleaseResources();
    return true;
}

bool CUrlWinInetWorker::AbandonIfBusy()
{
    {
        CKSLock guard(m_lock);
        // A thread handing a request back is not given up: the request would reach the manager
        // after its owner stopped expecting it.
        if (m_state != ThreadState::Running || m_bHandingBack)
            return false;
        // Still blocked inside WinInet: killing it there could leave WinInet's locks held. It
        // ends on its own when WinInet lets go, and deletes the worker then.
        m_state = ThreadState::Abandoned;
    }
    CUrlLogLine()
        .Text("MVUrl worker thread still busy, left to end on its own")
        .Error(kLineStopAbandoned);
    return true;
}

void CUrlWinInetWorker::ReleaseResources()
{
    CloseExchange();
    m_hRoot.Reset();
    ReleaseQueued();
}

uint32_t CUrlWinInetWorker::Submit(CUrlRequest* request)
{
    return m_queue.Put(reinterpret_cast<ULONG_PTR>(request), FALSE);
}

void CUrlWinInetWorker::Cancel(CUrlRequest* request)
{
    ExchangeHandles handles;
    {
        CKSLock guard(m_lock);
        if (request != nullptr && request != m_pCurrent)
            return;  // a queued one is skipped when reached
        handles = TakeHandlesLocked();
    }
    // Closing the handles (outside the lock, as they go) makes the WinInet call the thread is
    // blocked in fail.
}

DWORD CUrlWinInetWorker::Run()
{
    StartThreadRun();
    ServeQueue();
    return FinishThreadRun();
}

void CUrlWinInetWorker::ServeQueue()
{
    for (;;) {
        if (StopRequested())
            return;
        auto* request = reinterpret_cast<CUrlRequest*>(m_queue.Get(GetStopEvent()));
        if (request == nullptr)
            return;
        // A stop that came while the request waited wins: no new exchange is started then.
        const bool stopping = StopRequested();
        if (stopping || request->IsCancelled()) {
            request->Release();
            if (stopping)
                return;
            continue;
        }
        Exchange(request);
    }
}

bool CUrlWinInetWorker::StopRequested()
{
    return WaitForSingleObject(GetStopEvent(), 0) == WAIT_OBJECT_0;
}

DWORD CUrlWinInetWorker::FinishThreadRun()
{
    SecureWipe(&m_remembered, sizeof(m_remembered));
    bool abandoned;
    {
        CKSLock guard(m_lock);
        abandoned = m_state == ThreadState::Abandoned;
        if (!abandoned)
            m_state = ThreadState::Finished;
    }
    // Nobody else holds an abandoned worker any more, and nothing of it is touched after this.
    if (abandoned) {
        delete this;
    } else {
        UrlTestPause(UrlPausePoint::ThreadFinished);
    }
    return 0;
}

void CUrlWinInetWorker::StartThreadRun()
{
    std::memset(m_szUploadUrl, 0, sizeof(m_szUploadUrl));
    CProductKey key;
    if (key.IsOpen())
        key.ReadText(kUploadUrlSettingA, m_szUploadUrl, sizeof(m_szUploadUrl));
    m_dwSecureFlags = kSecureFlags;
    if (key.IsStrictlyOn(kRelaxedTlsSettingA))
        RelaxTlsIfSigned();
    ReadCredentialScope(key);
    CUrlLogLine().Text("MVUrl worker thread started running").Info();
    m_remembered = {};
}

void CUrlWinInetWorker::RelaxTlsIfSigned()
{
    // Without signed answers TLS is all that tells the real server from any other: with the
    // name check off, any trusted certificate for any domain would do.
    UpdateKeySetting keys;
    ReadUpdateKeySetting(keys);
    if (keys.state != UpdateKeyState::kKeys) {
        CUrlLogLine().Text("MVRelaxedTls ignored: it needs MVUpdateKey").Info();
        return;
    }
    m_dwSecureFlags |= kRelaxedCertificateFlags;
    CUrlLogLine().Text("MVUrl certificate name and date checks relaxed by MVRelaxedTls").Info();
}

void CUrlWinInetWorker::ReadCredentialScope(CProductKey& key)
{
    // Server credentials are for the configured server alone, never for a host a redirect or
    // an answer names; proxy credentials only where a proxy is in use.
    m_credentialHost.Wipe();
    m_credentialPort = 0;
    char surl[256] = {};
    if (key.IsOpen() && key.ReadText(kServerSettingA, surl, sizeof(surl)) &&
        !SettingServer(surl, m_credentialHost, &m_credentialPort)) {
        m_credentialHost.Wipe();
        m_credentialPort = 0;
    }
    char server[256] = {};
    char bypass[256] = {};
    m_bProxyInUse = ReadProxySettings(server, bypass, sizeof(server)) != 0;
    m_bServerCredentialsAllowed = false;
    // Passwords that are never sent are secrets all the same: reading them puts them in the
    // trace's table of secrets, whatever server echoes them later.
    char user[256] = {};
    char password[256] = {};
    ReadProxyCredentials(user, password, sizeof(user));
    SecureWipe(password);
    ReadServerCredentials(user, password, sizeof(user));
    SecureWipe(password);
}

void CUrlWinInetWorker::Exchange(CUrlRequest* request)
{
    {
        CKSLock guard(m_lock);
        m_pCurrent = request;
    }
    request->SetResult(Perform(request));
    CloseExchange();
    // An abandoning owner has given the request up: hand it back to nobody.
    if (!BeginHandBack()) {
        request->Release();
        return;
    }
    UrlTestPause(UrlPausePoint::BeforeHandBack);
    m_pMgr->RequestDone(request);
    EndHandBack();
}

bool CUrlWinInetWorker::BeginHandBack()
{
    CKSLock guard(m_lock);
    if (m_state == ThreadState::Abandoned)
        return false;
    m_bHandingBack = true;
    return true;
}

void CUrlWinInetWorker::EndHandBack()
{
    CKSLock guard(m_lock);
    m_bHandingBack = false;
}

bool CUrlWinInetWorker::StoreHandle(HINTERNET* slot, HINTERNET handle)
{
    // A cancel or stop that came before the handle existed had nothing to close: it is closed here.
    UniqueInternetHandle owned(handle);
    if (!owned)
        return false;
    CKSLock guard(m_lock);
    const bool cancelled = m_pCurrent != nullptr && m_pCurrent->IsCancelled();
    if (cancelled || StopRequested())
        return false;
    *slot = owned.Release();
    return true;
}

void CUrlWinInetWorker::CloseExchange()
{
    ExchangeHandles handles;
    {
        CKSLock guard(m_lock);
        m_pCurrent = nullptr;
        handles = TakeHandlesLocked();
    }
    // Closed as they go, outside the lock: closing can take a while, and cleanup's waits must stay
    // bounded.
}

CUrlWinInetWorker::ExchangeHandles CUrlWinInetWorker::TakeHandlesLocked()
{
    // Each handle leaves its slot under the lock, so exactly one taker closes it.
    ExchangeHandles handles;
    handles.connect.Reset(m_hConnect);
    handles.request.Reset(m_hRequest);
    m_hRequest = nullptr;
    m_hConnect = nullptr;
    return handles;
}

void CUrlWinInetWorker::ReleaseQueued()
{
    // The thread has ended: nobody else takes from the queue, and nobody will.
    while (m_queue.GetCount() > 0) {
        if (auto* request = reinterpret_cast<CUrlRequest*>(m_queue.Get(nullptr)))
            request->Release();
    }
}
