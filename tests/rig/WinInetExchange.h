// One HTTP exchange through raw WinInet, the way the program under test makes it: HTTP/1.0,
// always reload, no cache write, keep the connection. For checking the test server against the
// client the program will use.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "tests/rig/InternetHandle.h"

struct ExchangeOptions {
    std::string verb = "GET";
    std::string host;
    INTERNET_PORT port = 80;
    std::string object = "/";
    bool secure = false;          // TLS (request flag 0x00800000)
    DWORD extraFlags = 0;         // further request flags, such as the certificate ignore flags
    bool setSecurityFlags = false;
    DWORD securityFlags = 0;      // set as INTERNET_OPTION_SECURITY_FLAGS before sending
    std::string user;             // server credentials (options 28, 29) when not empty
    std::string password;
    std::string proxyUser;        // proxy credentials (options 43, 44) when not empty
    std::string proxyPassword;
    std::string headers;          // extra request headers
    std::string body;
};

struct ExchangeResult {
    bool connected = false;
    bool sent = false;
    DWORD sendError = 0;          // last error when sending failed
    DWORD status = 0;             // status code; 0 when not sent
    std::string body;
    bool readFailed = false;
    DWORD readError = 0;
};

class WinInetExchange {
public:
    // accessType INTERNET_OPEN_TYPE_DIRECT, or INTERNET_OPEN_TYPE_PROXY with the proxy list and
    // bypass list given.
    explicit WinInetExchange(DWORD accessType = INTERNET_OPEN_TYPE_DIRECT, const char* proxy = nullptr,
                             const char* bypass = nullptr);

    bool IsOpen() const { return static_cast<bool>(m_root); }

    // Sends one request and reads its whole answer (except after 401 and 407, as the program does).
    ExchangeResult Run(const ExchangeOptions& options);

    // Reads a request's body until the end or a failure, into result.
    static void ReadBody(HINTERNET request, ExchangeResult& result);

    HINTERNET Root() const { return m_root.Get(); }

private:
    InternetHandle m_root;
};
