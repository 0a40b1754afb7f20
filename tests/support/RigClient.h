// Scripts a test server (tests/rig/mvrig.py) and reads back what it received, through the
// server's control port over plain Winsock: WinInet belongs to the code under test.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/RigAnswer.h"
#include "tests/support/RigEnvironment.h"
#include "tests/support/RigRequest.h"

class RigClient {
public:
    RigClient(std::string address, unsigned short controlPort);
    explicit RigClient(const RigEnvironment& env);
    ~RigClient();
    RigClient(const RigClient&) = delete;
    RigClient& operator=(const RigClient&) = delete;

    // Each command answers false (0, empty) when the server can't be reached or refuses it;
    // LastError() then says why.
    bool Ping();
    // The answer's id (from 1); 0 on failure.
    int Script(const RigAnswer& answer);
    // Lets the held requests of one answer (0: of every answer) go on; answers how many
    // answers were released, -1 on failure.
    int Release(int answerId = 0);
    int ReleasePath(const std::string& path);
    // Forgets answers and records, releases every hold, ends the proxy's demand for credentials.
    bool Reset();
    // The proxy demands these Basic credentials from every request (407 without them).
    bool RequireProxyAuth(const std::string& user, const std::string& password, const std::string& realm = "");
    bool EndProxyAuth();
    // Waits until count recorded requests match the filters (empty: any), at most timeoutMs;
    // answers how many match then, -1 on failure.
    int WaitForRequests(size_t count, const std::string& path = "", const std::string& method = "",
                        const std::string& listener = "", unsigned timeoutMs = 30000);
    // Every request received since the last reset, oldest first.
    std::vector<RigRequest> Requests();
    // Those whose path is path.
    std::vector<RigRequest> RequestsTo(const std::string& path);

    const std::string& LastError() const { return m_lastError; }

private:
    bool Command(const char* method, const char* path, const std::string& body, unsigned timeoutMs,
                 std::string& answer);
    bool CommandField(const char* path, const std::string& body, const char* key, unsigned timeoutMs,
                      long long& value);

    std::string m_address;
    unsigned short m_port;
    bool m_winsockStarted;
    std::string m_lastError;
};
