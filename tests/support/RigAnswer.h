// One scripted answer of a test server (tests/rig/mvrig.py): which requests it matches and
// what the server does with them. No Windows header here: this also builds natively.
#pragma once

#include <string>
#include <vector>

struct RigAnswer {
    // Which requests: an empty text matches anything.
    std::string method;          // "GET", "POST", "CONNECT"...
    std::string path;            // path and query, exactly ("/a/b?c=1"), also for proxy requests
    std::string prefix;          // or every path starting with this
    std::string listener;        // "http", "https", "proxy" or "connect"
    int times = 0;               // answer this many requests, then stop matching; 0: no limit

    // The answer.
    int status = 200;
    std::string reason;          // empty: the usual phrase for the status
    std::string version;         // empty: HTTP/1.1 to 1.1 requests, HTTP/1.0 to others
    std::vector<std::string> headers;  // "Name: value"; a Content-Length given here wins
    std::string body;            // literal body, any bytes
    long long generatedSize = -1;  // >= 0: a body of this many bytes, byte i being i % 251
    std::string bodyFile;        // a body read from this file of the server's machine

    // How the server behaves.
    unsigned delayMs = 0;        // wait before answering
    bool hold = false;           // wait until RigClient::Release before answering
    bool silent = false;         // send nothing, close the connection
    long long cutAfter = -1;     // >= 0: close the connection after this many body bytes
    bool noLength = false;       // no Content-Length: the body ends with the connection
    bool close = false;          // close the connection after answering
    std::string authUser;        // non-empty: demand these Basic credentials (401 without)
    std::string authPassword;
    std::string realm;           // realm of that challenge; empty: "mvrig"

    // The control body that scripts this answer: "key: value" lines, an empty line, the body.
    std::string Format() const;
};
