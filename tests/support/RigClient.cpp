#include "tests/support/RigClient.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <utility>

namespace {

// Extra time a command may take beyond its own wait before the client gives up on the server.
const unsigned kCommandSlackMs = 30000;

class SocketHandle {
public:
    explicit SocketHandle(SOCKET s) : m_socket(s) {}
    ~SocketHandle()
    {
        if (m_socket != INVALID_SOCKET) {
            closesocket(m_socket);
        }
    }
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;
    SOCKET Get() const { return m_socket; }

private:
    SOCKET m_socket;
};

class AddressList {
public:
    AddressList() = default;
    ~AddressList()
    {
        if (m_info) {
            freeaddrinfo(m_info);
        }
    }
    AddressList(const AddressList&) = delete;
    AddressList& operator=(const AddressList&) = delete;
    addrinfo** Out() { return &m_info; }
    const addrinfo* Get() const { return m_info; }

private:
    addrinfo* m_info = nullptr;
};

std::string WsaError(const char* what)
{
    return std::string(what) + " failed with " + std::to_string(WSAGetLastError());
}

bool SendAll(SOCKET s, const std::string& data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        int n = send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

// One HTTP/1.0 exchange: the whole answer, up to the server closing the connection.
bool Exchange(const std::string& address, unsigned short port, const std::string& request, unsigned timeoutMs,
              std::string& response, std::string& error)
{
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    AddressList addresses;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, addresses.Out()) != 0 ||
        !addresses.Get()) {
        error = WsaError("getaddrinfo");
        return false;
    }
    const addrinfo* ai = addresses.Get();
    SocketHandle s(socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol));
    if (s.Get() == INVALID_SOCKET) {
        error = WsaError("socket");
        return false;
    }
    DWORD timeout = timeoutMs;
    setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    if (connect(s.Get(), ai->ai_addr, static_cast<int>(ai->ai_addrlen)) != 0) {
        error = WsaError("connect to the rig's control port");
        return false;
    }
    if (!SendAll(s.Get(), request)) {
        error = WsaError("send");
        return false;
    }
    char buffer[16384];
    for (;;) {
        int n = recv(s.Get(), buffer, sizeof(buffer), 0);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            error = WsaError("recv");
            return false;
        }
        response.append(buffer, static_cast<size_t>(n));
    }
}

std::string KeyLine(const char* key, const std::string& value)
{
    return value.empty() ? std::string() : std::string(key) + ": " + value + "\n";
}

}  // namespace

RigClient::RigClient(std::string address, unsigned short controlPort)
    : m_address(std::move(address)), m_port(controlPort), m_winsockStarted(false)
{
    WSADATA data;
    m_winsockStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

RigClient::RigClient(const RigEnvironment& env) : RigClient(env.address, env.controlPort) {}

RigClient::~RigClient()
{
    if (m_winsockStarted) {
        WSACleanup();
    }
}

bool RigClient::Command(const char* method, const char* path, const std::string& body, unsigned timeoutMs,
                        std::string& answer)
{
    if (!m_winsockStarted) {
        m_lastError = "Winsock did not start";
        return false;
    }
    if (m_address.empty()) {
        m_lastError = "no rig address (MVU_RIG_ADDRESS unset: does the test name its rig fixture?)";
        return false;
    }
    std::string request = std::string(method) + " " + path + " HTTP/1.0\r\nHost: " + m_address +
                          "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    std::string response;
    if (!Exchange(m_address, m_port, request, timeoutMs + kCommandSlackMs, response, m_lastError)) {
        return false;
    }
    size_t headEnd = response.find("\r\n\r\n");
    if (response.compare(0, 5, "HTTP/") != 0 || headEnd == std::string::npos) {
        m_lastError = "not an HTTP answer from the rig";
        return false;
    }
    answer = response.substr(headEnd + 4);
    size_t space = response.find(' ');
    if (std::atoi(response.c_str() + space + 1) != 200) {
        m_lastError = std::string(path) + ": " + answer;
        return false;
    }
    return true;
}

bool RigClient::CommandField(const char* path, const std::string& body, const char* key, unsigned timeoutMs,
                             long long& value)
{
    std::string answer;
    if (!Command("POST", path, body, timeoutMs, answer)) {
        return false;
    }
    std::string prefix = std::string(key) + ": ";
    size_t at = answer.find(prefix);
    if (at == std::string::npos) {
        m_lastError = std::string(path) + ": no " + key + " in " + answer;
        return false;
    }
    value = std::strtoll(answer.c_str() + at + prefix.size(), nullptr, 10);
    return true;
}

bool RigClient::Ping()
{
    std::string answer;
    return Command("GET", "/ping", "", 0, answer);
}

int RigClient::Script(const RigAnswer& answer)
{
    long long id = 0;
    return CommandField("/answer", answer.Format(), "id", 0, id) ? static_cast<int>(id) : 0;
}

int RigClient::Release(int answerId)
{
    long long released = 0;
    std::string body = answerId > 0 ? "id: " + std::to_string(answerId) + "\n" : "";
    return CommandField("/release", body, "released", 0, released) ? static_cast<int>(released) : -1;
}

int RigClient::ReleasePath(const std::string& path)
{
    long long released = 0;
    return CommandField("/release", KeyLine("path", path), "released", 0, released) ? static_cast<int>(released)
                                                                                     : -1;
}

bool RigClient::Reset()
{
    std::string answer;
    return Command("POST", "/reset", "", 0, answer);
}

bool RigClient::RequireProxyAuth(const std::string& user, const std::string& password, const std::string& realm)
{
    std::string answer;
    std::string body = "user: " + user + "\npassword: " + password + "\n" + KeyLine("realm", realm);
    return Command("POST", "/proxy-auth", body, 0, answer);
}

bool RigClient::EndProxyAuth()
{
    std::string answer;
    return Command("POST", "/proxy-auth", "", 0, answer);
}

int RigClient::WaitForRequests(size_t count, const std::string& path, const std::string& method,
                               const std::string& listener, unsigned timeoutMs)
{
    std::string body = "count: " + std::to_string(count) + "\ntimeout-ms: " + std::to_string(timeoutMs) + "\n" +
                       KeyLine("path", path) + KeyLine("method", method) + KeyLine("listener", listener);
    long long found = 0;
    return CommandField("/wait", body, "count", timeoutMs, found) ? static_cast<int>(found) : -1;
}

std::vector<RigRequest> RigClient::Requests()
{
    std::string answer;
    if (!Command("GET", "/requests", "", 0, answer)) {
        return {};
    }
    return RigRequest::ParseAll(answer);
}

std::vector<RigRequest> RigClient::RequestsTo(const std::string& path)
{
    std::vector<RigRequest> all = Requests();
    std::vector<RigRequest> chosen;
    for (RigRequest& request : all) {
        if (request.path == path) {
            chosen.push_back(std::move(request));
        }
    }
    return chosen;
}
