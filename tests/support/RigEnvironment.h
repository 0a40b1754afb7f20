// Where the test server of a test program listens, as ctest passes it in MVU_RIG_* variables
// (cmake/rig.cmake). No Windows header here: this also builds natively.
#pragma once

#include <string>
#include <vector>

struct RigEnvironment {
    std::string address;           // MVU_RIG_ADDRESS: http :80, https :443, proxy, control
    std::string host;              // MVU_RIG_HOST: a name of that address; the address when none
    std::vector<std::string> hosts;  // MVU_RIG_HOSTS: every name of that address
    unsigned short controlPort = 8079;  // MVU_RIG_CONTROL_PORT
    unsigned short proxyPort = 8080;    // MVU_RIG_PROXY_PORT
    std::string wrongNameAddress;  // MVU_RIG_WRONG_NAME_ADDRESS: https :443 for another name
    std::string wrongNameHost;     // MVU_RIG_WRONG_NAME_HOST
    std::string expiredAddress;    // MVU_RIG_EXPIRED_ADDRESS: https :443, expired certificate
    std::string expiredHost;       // MVU_RIG_EXPIRED_HOST

    // Read from the process environment; address is empty when no rig was given to the program.
    static RigEnvironment FromProcess();

    // "address:port" of the proxy, as a proxy list names it.
    std::string ProxyServer() const;
};
