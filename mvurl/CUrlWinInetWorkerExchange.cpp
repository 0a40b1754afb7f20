// One exchange of the URL worker with a server: connect, send, follow redirects, read the body.
// The thread's life and its queue are in CUrlWinInetWorker.cpp.
#include "mvurl/CUrlWinInetWorker.h"

#include "mvurl/CUrlRequest.h"
#include "mvurl/MVUrl.h"
#include "mvurl/RedirectText.h"
#include "mvurl/StoredCredentials.h"
#include "mvurl/UrlLog.h"
#include "mvurl/UrlReadSize.h"
#include "mvurl/UrlText.h"
#include "mvurl/WinInetBinding.h"
#include "threading/CKSLock.h"
#include "trace/UrlMask.h"
#include "util/SecureWipe.h"

#include <charconv>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

std::atomic<uint32_t> g_nUrlReadSize{kDefaultUrlReadSize};

namespace {

constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION;                       // 0x84400000
constexpr DWORD kStatusCodeQuery = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;  // 0x20000013
constexpr DWORD kContentLengthQuery = HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER;

constexpr size_t kRememberedMax = 127;
// Every WinInet step is bounded, so that a server that accepts and never answers frees the
// worker well within the application's own 30 s limits: a connection must be made within
// 10 s, and no single send or receive may wait more than 20 s (a slow body keeps flowing;
// only silence ends it).
constexpr DWORD kConnectTimeoutMs = 10000;
constexpr DWORD kSendTimeoutMs = 20000;
constexpr DWORD kReceiveTimeoutMs = 20000;

// Source lines named in the module's error records; operators' tools match on them.
constexpr int kLineConnectFailed = 1529;
constexpr int kLineOpenRequestFailed = 1521;
constexpr int kLineSendFailed = 1513;
constexpr int kLineBodyTooLarge = 1561;
constexpr int kLineCertificateRefused = 1515;
constexpr int kLineRedirectRefused = 1537;
constexpr int kLineRedirectUnusable = 1538;
constexpr int kLineTooManyRedirects = 1539;

// What an exchange answers when its answer is a redirect the worker follows itself; never the
// result of a request (those are 0, statuses and system error codes).
constexpr int32_t kRedirected = -1;

bool IsRedirect(DWORD status)
{
    return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT ||
           status == HTTP_STATUS_REDIRECT_METHOD || status == HTTP_STATUS_REDIRECT_KEEP_VERB ||
           status == HTTP_STATUS_PERMANENT_REDIRECT;
}

// The answer's Location, true when it has one. One too long for any request URL is kept empty:
// it is refused like any other unusable location.
bool ReadLocation(HINTERNET hRequest, CKSCharStr& location)
{
    DWORD length = 0;
    if (MVHttpQueryInfoA(hRequest, HTTP_QUERY_LOCATION, nullptr, &length, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0)
        return false;
    if (length >= static_cast<DWORD>(kMaxUrlUtf8)) {
        location.Set("");
        return true;
    }
    std::unique_ptr<char[]> text(new (std::nothrow) char[length + 1]);
    if (!text)
        return false;
    DWORD read = length;
    if (!MVHttpQueryInfoA(hRequest, HTTP_QUERY_LOCATION, text.get(), &read, nullptr)) {
        SecureWipe(text.get(), length + 1);
        return false;
    }
    text[read < length ? read : length] = '\0';
    location.Set(text.get());
    SecureWipe(text.get(), length + 1);
    return true;
}

// Why a TLS exchange refused the server's certificate, or null for other failures.
const char* CertificateProblem(int32_t code)
{
    switch (code) {
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        return "it names another host";
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        return "it is expired or not yet valid";
    case ERROR_INTERNET_INVALID_CA:
        return "it is not issued by a trusted authority";
    case ERROR_INTERNET_SEC_CERT_ERRORS:
        return "it has several problems";
    case ERROR_INTERNET_SEC_INVALID_CERT:
        return "it is not valid";
    case ERROR_INTERNET_SEC_CERT_REVOKED:
        return "it is revoked";
    default:
        return nullptr;
    }
}

// The code a failed step leaves behind. A step can fail without setting one (an unbound
// WinInet function): that must still read as a failure, never as a completed exchange.
int32_t LastFailure()
{
    const DWORD error = GetLastError();
    return static_cast<int32_t>(error != 0 ? error : ERROR_INTERNET_INTERNAL_ERROR);
}

void Remember(char (&slot)[128], const char* text)
{
    const size_t length = strnlen(text, kRememberedMax);
    std::memcpy(slot, text, length);
    slot[length] = '\0';
}

void SetTextOption(HINTERNET handle, DWORD option, const char* text)
{
    MVInternetSetOptionA(handle, option, const_cast<char*>(text),
                         static_cast<DWORD>(std::strlen(text) + 1));
}

// Sets one user/password pair: freshly stored values win, else those remembered earlier.
template <typename Reader>
void ApplyCredentials(HINTERNET handle, Reader read, DWORD userOption, DWORD passwordOption,
                      char (&rememberedUser)[128], char (&rememberedPassword)[128])
{
    char user[256] = {};
    char password[256] = {};
    if (read(user, password, sizeof(user))) {
        SetTextOption(handle, userOption, user);
        SetTextOption(handle, passwordOption, password);
        Remember(rememberedUser, user);
        Remember(rememberedPassword, password);
        SecureWipe(password);
    } else if (rememberedUser[0] != '\0') {
        SetTextOption(handle, userOption, rememberedUser);
        SetTextOption(handle, passwordOption, rememberedPassword);
    }
}

}  // namespace

void CUrlWinInetWorker::SetTimeouts(HINTERNET handle)
{
    DWORD connect = kConnectTimeoutMs;
    DWORD send = kSendTimeoutMs;
    DWORD receive = kReceiveTimeoutMs;
    MVInternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof(connect));
    MVInternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &send, sizeof(send));
    MVInternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof(receive));
}

int32_t CUrlWinInetWorker::Perform(CUrlRequest* request)
{
    const char* url = request->GetUrl().GetBuffer();
    DWORD secureFlags = request->GetSecure() ? m_dwSecureFlags : 0;
    CUrlLogLine()
        .Text("MVUrl tried to open url : ")
        .Text(MaskTokenInUrl(url).GetText())
        .Text(" secure flag : ")
        .Signed(request->GetSecure() ? 1 : 0)
        .Info();

    const bool upload = std::strstr(url, EffectiveUploadUrl(m_szUploadUrl)) != nullptr;
    const UrlTarget target = SplitRequestUrl(url);
    if (target.forcesTls)
        secureFlags = m_dwSecureFlags;
    CUrlLogLine()
        .Text("MVUrl tried to connect to server ")
        .Text(target.host.GetText())
        .Text(" Secure flag : ")
        .Unsigned(secureFlags)
        .Text(" object : ")
        .Text(MaskTokenInUrl(target.object.GetText()).GetText())
        .Info();

    // A port the URL names is the one connected to.
    CKSCharStr host;
    uint16_t given = 0;
    if (!SplitHostPort(target.host.GetText(), host, &given))
        return ERROR_INTERNET_INVALID_URL;
    const INTERNET_PORT port = given != 0    ? given
                               : secureFlags ? INTERNET_DEFAULT_HTTPS_PORT
                                             : INTERNET_DEFAULT_HTTP_PORT;
    HINTERNET hConnect = nullptr;
    const int32_t connected = Connect(host.GetText(), port, target.object.GetText(), &hConnect);
    if (connected != 0)
        return connected;

    const UploadParts uploadParts = SplitUpload(upload ? target.object.GetText() : "");
    const char* object = upload ? uploadParts.object.GetText() : target.object.GetText();
    CKSCharStr location;
    const int32_t result = OpenAndSend(request, hConnect, upload ? "POST" : "GET", object,
                                       secureFlags, upload && uploadParts.hasBody, uploadParts.body,
                                       secureFlags != 0 ? &location : nullptr);
    if (result != kRedirected)
        return result;
    return FollowRedirects(request, host.GetText(), port, target.object.GetText(), location);
}

int32_t CUrlWinInetWorker::Connect(const char* host, INTERNET_PORT port, const char* object,
                                   HINTERNET* connection)
{
    HINTERNET hConnect = MVInternetConnectA(m_hRoot.Get(), host, port, nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 1);
    if (!StoreHandle(&m_hConnect, hConnect)) {
        const int32_t code = hConnect ? ERROR_INTERNET_OPERATION_CANCELLED : LastFailure();
        CUrlLogLine()
            .Text("MVUrl InternetConnect() call failed with ")
            .Unsigned(static_cast<uint32_t>(code))
            .Error(kLineConnectFailed);
        return code;
    }
    *connection = hConnect;
    m_bServerCredentialsAllowed = m_credentialPort != 0 && port == m_credentialPort &&
                                  IsSameHost(host, m_credentialHost.GetText());
    CUrlLogLine().Text("MVUrl tried to retrieve ").Text(MaskTokenInUrl(object).GetText()).Info();
    return 0;
}

int32_t CUrlWinInetWorker::OpenAndSend(CUrlRequest* request, HINTERNET hConnect, const char* verb,
                                       const char* object, DWORD secureFlags, bool withBody,
                                       const CKSCharStr& body, CKSCharStr* location)
{
    // Over TLS the worker follows redirects itself, so that none leaves TLS.
    const DWORD flags =
        kRequestFlags | secureFlags | (location != nullptr ? INTERNET_FLAG_NO_AUTO_REDIRECT : 0);
    HINTERNET hRequest =
        MVHttpOpenRequestA(hConnect, verb, object, "HTTP/1.0", nullptr, nullptr, flags, 1);
    if (!StoreHandle(&m_hRequest, hRequest)) {
        const int32_t code = hRequest ? ERROR_INTERNET_OPERATION_CANCELLED : LastFailure();
        CUrlLogLine()
            .Text("MVUrl HttpOpenRequest() call failed with ")
            .Unsigned(static_cast<uint32_t>(code))
            .Error(kLineOpenRequestFailed);
        return code;
    }
    SetTimeouts(hRequest);
    SetCredentials(hRequest);
    // Only revocation checking is relaxed here; the request flags above carry the rest.
    DWORD securityFlags = SECURITY_FLAG_IGNORE_REVOCATION;  // 0x80
    MVInternetSetOptionA(hRequest, INTERNET_OPTION_SECURITY_FLAGS, &securityFlags,
                         sizeof(securityFlags));
    return SendAndReceive(request, hRequest, withBody, body, location);
}

int32_t CUrlWinInetWorker::FollowRedirects(CUrlRequest* request, const char* host,
                                           INTERNET_PORT port, const char* object,
                                           CKSCharStr& location)
{
    RedirectTarget from;
    from.host.Set(host);
    from.port = port;
    from.object.Set(object);
    for (int hop = 1;; ++hop) {
        RedirectTarget to = ResolveRedirect(location.GetText(), from.host.GetText(), from.port,
                                            from.object.GetText());
        const CKSCharStr shown = MaskTokenInUrl(location.GetText(), request->GetUrl().GetText());
        location.Wipe();
        if (to.kind != RedirectKind::Follow || hop > kMaxRedirectHops)
            return RefuseRedirect(to.kind, shown);
        CUrlLogLine().Text("MVUrl redirected to ").Text(shown.GetText()).Info();
        // Each hop is an exchange of its own: the previous one's handles go, the request stays
        // the one a cancel aims at.
        CloseExchange();
        {
            CKSLock guard(m_lock);
            m_pCurrent = request;
        }
        // A cancel or stop that came between two hops found no handle to close: no new hop.
        if (request->IsCancelled() || StopRequested())
            return ERROR_INTERNET_OPERATION_CANCELLED;
        HINTERNET hConnect = nullptr;
        const int32_t connected =
            Connect(to.host.GetText(), to.port, to.object.GetText(), &hConnect);
        if (connected != 0)
            return connected;
        const int32_t result = OpenAndSend(request, hConnect, "GET", to.object.GetText(),
                                           m_dwSecureFlags, false, CKSCharStr(), &location);
        if (result != kRedirected)
            return result;
        // Moved, not copied: a copy that found no memory would keep the old host, and the next
        // relative location would go to a server that never sent it.
        from.object.Wipe();
        from = std::move(to);
    }
}

int32_t CUrlWinInetWorker::RefuseRedirect(RedirectKind kind, const CKSCharStr& shown)
{
    CUrlLogLine line;
    int32_t code;
    int sourceLine;
    if (kind == RedirectKind::LeavesTls) {
        line.Text("MVUrl redirect refused: it leaves TLS");
        code = ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
        sourceLine = kLineRedirectRefused;
    } else if (kind == RedirectKind::Unusable) {
        line.Text("MVUrl redirect refused: its location is not usable");
        code = ERROR_INTERNET_INVALID_URL;
        sourceLine = kLineRedirectUnusable;
    } else {
        line.Text("MVUrl redirect refused: more than ").Signed(kMaxRedirectHops).Text(" redirects");
        code = ERROR_HTTP_REDIRECT_FAILED;
        sourceLine = kLineTooManyRedirects;
    }
    line.Text("; location: ").Text(shown.GetText()).Error(sourceLine);
    return code;
}

void CUrlWinInetWorker::SetCredentials(HINTERNET hRequest)
{
    if (m_bProxyInUse) {
        ApplyCredentials(hRequest, ReadProxyCredentials, INTERNET_OPTION_PROXY_USERNAME,
                         INTERNET_OPTION_PROXY_PASSWORD, m_remembered.proxyUser,
                         m_remembered.proxyPassword);
    }
    if (m_bServerCredentialsAllowed) {
        ApplyCredentials(hRequest, ReadServerCredentials, INTERNET_OPTION_USERNAME,
                         INTERNET_OPTION_PASSWORD, m_remembered.serverUser,
                         m_remembered.serverPassword);
    }
}

int32_t CUrlWinInetWorker::SendAndReceive(CUrlRequest* request, HINTERNET hRequest, bool withBody,
                                          const CKSCharStr& body, CKSCharStr* location)
{
    BOOL sent;
    if (withBody) {
        char headers[128] = "Content-Type: application/octet-stream\r\nContent-Length: ";
        const size_t used = std::strlen(headers);
        const uint32_t length = body.GetLength();
        char* end = std::to_chars(headers + used, headers + sizeof(headers) - 3, length).ptr;
        std::memcpy(end, "\r\n", 3);
        // The call takes a writable buffer: it gets a copy of its own.
        std::unique_ptr<char[]> payload(new (std::nothrow) char[length + 1]);
        if (!payload)
            return ERROR_NOT_ENOUGH_MEMORY;
        std::memcpy(payload.get(), body.GetText(), length + 1);
        sent = MVHttpSendRequestA(hRequest, headers, static_cast<DWORD>(-1), payload.get(), length);
    } else {
        sent = MVHttpSendRequestA(hRequest, nullptr, 0, nullptr, 0);
    }
    if (!sent) {
        const int32_t code = LastFailure();
        CUrlLogLine()
            .Text("MVUrl HttpSendRequest() call failed with ")
            .Unsigned(static_cast<uint32_t>(code))
            .Error(kLineSendFailed);
        if (const char* reason = CertificateProblem(code)) {
            CUrlLogLine()
                .Text("MVUrl server certificate refused: ")
                .Text(reason)
                .Error(kLineCertificateRefused);
        }
        return code;
    }
    DWORD status = 0;
    DWORD length = sizeof(status);
    MVHttpQueryInfoA(hRequest, kStatusCodeQuery, &status, &length, nullptr);
    if (status == HTTP_STATUS_PROXY_AUTH_REQ || status == HTTP_STATUS_DENIED) {
        OutputDebugStringA("***HTTP Status==HTTP_STATUS_PROXY_AUTH_REQ or HTTP_STATUS_DENIED\n");
        return static_cast<int32_t>(status);
    }
    if (location != nullptr && IsRedirect(status) && ReadLocation(hRequest, *location))
        return kRedirected;
    const int32_t result = ReadBody(request, hRequest);
    return result != 0 ? result : CheckComplete(request, hRequest, status);
}

int32_t CUrlWinInetWorker::CheckComplete(CUrlRequest* request, HINTERNET hRequest, DWORD status)
{
    // A server that closed without any answer is no answer, not an empty one.
    if (status == 0 && request->GetContentLength() == 0)
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    // A body cut short of its announced length can end without a read error: count it.
    DWORD announced = 0;
    DWORD length = sizeof(announced);
    if (MVHttpQueryInfoA(hRequest, kContentLengthQuery, &announced, &length, nullptr) &&
        request->GetContentLength() < announced) {
        return ERROR_INTERNET_CONNECTION_RESET;
    }
    return 0;
}

int32_t CUrlWinInetWorker::ReadBody(CUrlRequest* request, HINTERNET hRequest)
{
    const int32_t announced = ReserveAnnounced(request, hRequest);
    if (announced != 0)
        return announced;
    for (;;) {
        // Read straight into the content's spare room. One byte past the limit is asked for
        // too, so that a body longer than the limit shows as such.
        const uint64_t room =
            static_cast<uint64_t>(request->GetBodyLimit()) - request->GetContentLength() + 1;
        const uint64_t chunk =
            g_nUrlReadSize.load() != 0 ? g_nUrlReadSize.load() : kDefaultUrlReadSize;
        DWORD ask = static_cast<DWORD>(room < chunk ? room : chunk);
        const uint32_t spare = request->GetContentCapacity() - request->GetContentLength();
        DWORD read = 0;
        if (spare == 0) {
            // Full (a body of announced length is, at its end): only bytes that really come
            // make the buffer grow.
            uint8_t probe[1024];
            if (ask > sizeof(probe))
                ask = sizeof(probe);
            if (!MVInternetReadFile(hRequest, probe, ask, &read))
                return LastFailure();
            if (read == 0)
                return 0;
            if (request->WouldPassLimit(read))
                return BodyTooLarge(request);
            // A body delivered short or with a gap would pass for the whole answer: fail instead.
            if (!request->AppendContent(probe, read))
                return ERROR_NOT_ENOUGH_MEMORY;
            continue;
        }
        if (ask > spare)
            ask = spare;
        uint8_t* tail = request->ReserveTail(ask);
        if (!MVInternetReadFile(hRequest, tail, ask, &read))
            return LastFailure();
        if (read == 0)
            return 0;
        if (request->WouldPassLimit(read))
            return BodyTooLarge(request);
        request->CommitContent(read);
    }
}

int32_t CUrlWinInetWorker::ReserveAnnounced(CUrlRequest* request, HINTERNET hRequest)
{
    // Growing with what arrives would allocate, fill and copy about two and a half times the
    // body's size in fresh memory; a body of announced length fits one buffer. Should that not
    // be had, the content grows as it arrives.
    DWORD announced = 0;
    DWORD length = sizeof(announced);
    if (!MVHttpQueryInfoA(hRequest, kContentLengthQuery, &announced, &length, nullptr) ||
        announced == 0)
        return 0;
    if (announced > request->GetBodyLimit())
        return BodyTooLarge(request);
    request->ReserveContent(announced);
    return 0;
}

int32_t CUrlWinInetWorker::BodyTooLarge(CUrlRequest* request)
{
    CUrlLogLine()
        .Text("MVUrl answer body passes its limit of ")
        .Unsigned(request->GetBodyLimit())
        .Text(" bytes")
        .Error(kLineBodyTooLarge);
    return MVURL_RESULT_TOO_LARGE;
}
