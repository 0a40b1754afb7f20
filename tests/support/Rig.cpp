#include "tests/support/Rig.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string.h>

namespace {

// Records of "key: value" lines, separated by an empty line.
std::vector<RigRecord> Records(const std::string& text)
{
    std::vector<RigRecord> records(1);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(':');
        if (!line.empty()) {
            const size_t value =
                colon == std::string::npos ? line.size() : std::min(colon + 2, line.size());
            records.back().fields.emplace_back(line.substr(0, colon), line.substr(value));
        } else if (!records.back().fields.empty()) {
            records.emplace_back();
        }
    }
    if (records.back().fields.empty())
        records.pop_back();
    return records;
}

}  // namespace

std::string RigRecord::Get(const std::string& key) const
{
    for (const auto& field : fields) {
        if (field.first == key)
            return field.second;
    }
    return "";
}

std::string RigRecord::Header(const std::string& name) const
{
    for (const auto& field : fields) {
        const std::string& line = field.second;  // "Name: value"
        if (field.first == "header" && line.size() > name.size() && line[name.size()] == ':' &&
            _strnicmp(line.c_str(), name.c_str(), name.size()) == 0) {
            return line.substr(std::min(name.size() + 2, line.size()));
        }
    }
    return "";
}

Rig::Rig(const std::string& prefix)
    : address(Env((prefix + "_ADDRESS").c_str())),
      host(Env((prefix + "_HOST").c_str(), address.c_str())), m_prefix(prefix)
{
    WSADATA data;
    m_winsock = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

Rig::~Rig()
{
    if (m_winsock)
        WSACleanup();
}

std::string Rig::Env(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

bool Rig::Command(const std::string& request, const std::string& body, std::string* answer)
{
    if (address.empty()) {
        error = m_prefix + "_ADDRESS unset: does the test name its rig fixture?";
        return false;
    }
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* ai = nullptr;
    if (!m_winsock ||
        getaddrinfo(address.c_str(), Env((m_prefix + "_CONTROL_PORT").c_str(), "8079").c_str(),
                    &hints, &ai) != 0) {
        error = request + ": no address for the control port";
        return false;
    }
    const std::string text = request + " HTTP/1.0\r\nHost: " + address +
                             "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                             body;
    const SOCKET s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
    // Longer than any wait a command asks of the server.
    const DWORD timeoutMs = 60000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
               sizeof(timeoutMs));
    bool ok =
        s != INVALID_SOCKET && connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == 0 &&
        send(s, text.data(), static_cast<int>(text.size()), 0) == static_cast<int>(text.size());
    std::string reply;
    char buffer[16384];
    int n = 0;
    while (ok && (n = recv(s, buffer, sizeof(buffer), 0)) > 0)
        reply.append(buffer, static_cast<size_t>(n));
    ok = ok && n == 0;
    error = ok ? "" : request + ": Winsock error " + std::to_string(WSAGetLastError());
    if (s != INVALID_SOCKET)
        closesocket(s);
    freeaddrinfo(ai);
    const size_t head = reply.find("\r\n\r\n");
    if (ok && head == std::string::npos)
        error = request + ": no HTTP answer";
    if (!error.empty())
        return false;
    std::string content = reply.substr(head + 4);
    content.erase(std::remove(content.begin(), content.end(), '\r'), content.end());
    // "HTTP/1.0 200 OK"
    if (std::atoi(reply.c_str() + std::min(reply.find(' '), head)) != 200) {
        error = request + ": " + content;
        return false;
    }
    if (answer)
        *answer = content;
    return true;
}

bool Rig::Script(const std::string& lines, const std::string& body)
{
    return Command("POST /answer", lines + "\n\n" + body);
}

bool Rig::WaitFor(const std::string& path)
{
    std::string answer;
    if (!Command("POST /wait", "path: " + path + "\n", &answer))
        return false;
    for (const RigRecord& r : Records(answer)) {
        if (std::atoi(r.Get("count").c_str()) > 0)
            return true;
    }
    error = "no request to " + path + " arrived";
    return false;
}

std::string Rig::TinyproxyLog()
{
    std::string text;
    return Command("GET /tinyproxy-log", "", &text) ? text : "";
}

std::vector<RigRecord> Rig::Requests(const std::string& path)
{
    std::string text;
    if (!Command("GET /requests", "", &text))
        return {};
    std::vector<RigRecord> records = Records(text);
    if (!path.empty()) {
        const auto other = [&](const RigRecord& r) {
            return r.Get("path") != path;
        };
        records.erase(std::remove_if(records.begin(), records.end(), other), records.end());
    }
    return records;
}
