// One request a test server received, as its control endpoint reports it.
// No Windows header here: this also builds natively.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct RigRequest {
    // Header names compare without regard to case, as HTTP has them.
    struct NoCaseLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };

    int id = 0;                  // order of arrival, from 1
    std::string listener;        // "http", "https", "proxy" or "connect"
    std::string local;           // address:port it came in on
    std::string peer;            // address:port of the client's end of the connection
    std::string method;          // empty for a TLS handshake that failed
    std::string target;          // the request target as sent
    std::string path;            // path and query; empty for CONNECT
    std::string version;         // "HTTP/1.0"...
    std::vector<std::pair<std::string, std::string>> headerList;  // in order, as sent
    std::map<std::string, std::string, NoCaseLess> headers;       // repeated ones joined by ", "
    std::string body;            // the first MiB of the body
    size_t bodyLength = 0;       // bytes of the whole body
    int status = 0;              // status the server answered; 0: none
    int answer = 0;              // id of the scripted answer used; 0: none
    std::string error;           // failed handshake or tunnel

    bool HasHeader(const std::string& name) const;
    // The header's value; empty when absent.
    std::string Header(const std::string& name) const;

    // Every record of a GET /requests answer, oldest first. Lines it doesn't know are skipped.
    static std::vector<RigRequest> ParseAll(const std::string& text);
};
