#include "tests/rig/WinInetExchange.h"

namespace {

const DWORD kProgramRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;

void SetText(HINTERNET handle, DWORD option, const std::string& text)
{
    InternetSetOptionA(handle, option, const_cast<char*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
}

DWORD StatusOf(HINTERNET request)
{
    DWORD status = 0;
    DWORD length = sizeof(status);
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr)) {
        return 0;
    }
    return status;
}

}  // namespace

WinInetExchange::WinInetExchange(DWORD accessType, const char* proxy, const char* bypass)
    : m_root(InternetOpenA("mvrig smoke", accessType, proxy, bypass, 0))
{
}

ExchangeResult WinInetExchange::Run(const ExchangeOptions& options)
{
    ExchangeResult result;
    InternetHandle connection(InternetConnectA(m_root.Get(), options.host.c_str(), options.port, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 1));
    if (!connection) {
        result.sendError = GetLastError();
        return result;
    }
    result.connected = true;
    DWORD flags = kProgramRequestFlags | options.extraFlags | (options.secure ? INTERNET_FLAG_SECURE : 0);
    InternetHandle request(HttpOpenRequestA(connection.Get(), options.verb.c_str(), options.object.c_str(),
                                            "HTTP/1.0", nullptr, nullptr, flags, 1));
    if (!request) {
        result.sendError = GetLastError();
        return result;
    }
    if (!options.proxyUser.empty()) {
        SetText(request.Get(), INTERNET_OPTION_PROXY_USERNAME, options.proxyUser);
        SetText(request.Get(), INTERNET_OPTION_PROXY_PASSWORD, options.proxyPassword);
    }
    if (!options.user.empty()) {
        SetText(request.Get(), INTERNET_OPTION_USERNAME, options.user);
        SetText(request.Get(), INTERNET_OPTION_PASSWORD, options.password);
    }
    if (options.setSecurityFlags) {
        DWORD value = options.securityFlags;
        InternetSetOptionA(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &value, sizeof(value));
    }
    const char* headers = options.headers.empty() ? nullptr : options.headers.c_str();
    DWORD headersLength = options.headers.empty() ? 0 : static_cast<DWORD>(-1);
    void* body = options.body.empty() ? nullptr : const_cast<char*>(options.body.data());
    result.sent = HttpSendRequestA(request.Get(), headers, headersLength, body, static_cast<DWORD>(options.body.size()));
    if (!result.sent) {
        result.sendError = GetLastError();
        return result;
    }
    result.status = StatusOf(request.Get());
    if (result.status != HTTP_STATUS_DENIED && result.status != HTTP_STATUS_PROXY_AUTH_REQ) {
        ReadBody(request.Get(), result);
    }
    return result;
}

void WinInetExchange::ReadBody(HINTERNET request, ExchangeResult& result)
{
    char buffer[8192];
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, buffer, sizeof(buffer), &got)) {
            result.readFailed = true;
            result.readError = GetLastError();
            return;
        }
        if (got == 0) {
            return;
        }
        result.body.append(buffer, got);
    }
}
