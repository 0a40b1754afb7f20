// The test programs' client of the loopback test server (standins/updateserver/mvrig.py, whose
// control protocol is described there), over plain Winsock: WinInet belongs to the code under test,
// and what it keeps per host must not be touched by the tests' own traffic.
#pragma once

#include <string>
#include <utility>
#include <vector>

// One record of what the server received: its "key: value" lines, in order.
struct RigRecord {
    std::vector<std::pair<std::string, std::string>> fields;

    // The first value of key; empty when absent.
    std::string Get(const std::string& key) const;
    // The value of a request header, its name compared without regard to case; empty when absent.
    std::string Header(const std::string& name) const;
};

class Rig {
public:
    // The server of ctest's rig fixture, as the <prefix>_* variables name it (cmake/rig.cmake).
    explicit Rig(const std::string& prefix = "MVU_RIG");
    ~Rig();
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    static std::string Env(const char* name, const char* fallback = "");

    // One control command ("POST /reset") with its body; the answer's body into answer.
    // False when the server cannot be reached or refuses the command: error says why.
    bool Command(const std::string& request, const std::string& body = "",
                 std::string* answer = nullptr);
    // An answer scripted by its "key: value" lines ("path: /a\nstatus: 404") and its body.
    bool Script(const std::string& lines, const std::string& body = "");
    // Waits (at most 30 s) until a request to path has arrived.
    bool WaitFor(const std::string& path);
    // What the rig's tinyproxy logged since the last reset; empty, with error set, without one.
    std::string TinyproxyLog();
    // The requests received since the last reset, oldest first; with a path, those to it only.
    std::vector<RigRecord> Requests(const std::string& path = "");

    const std::string address;  // http :80, https :443, the proxy and the control port
    const std::string host;     // a name of that address
    std::string error;

private:
    const std::string m_prefix;
    bool m_winsock = false;
};
