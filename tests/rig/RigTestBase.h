// Common ground of the rig's own test cases: the rig of the fixture, reset before each case.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/rig/WinInetExchange.h"
#include "tests/support/RigClient.h"

class RigTestBase : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(env.address.empty()) << "MVU_RIG_ADDRESS unset: the test needs its rig fixture";
        ASSERT_TRUE(rig.Reset()) << rig.LastError();
    }

    // An answer that closes its connection: WinInet keeps idle connections in a process-wide pool
    // keyed by host, port and TLS only, and would otherwise hand one case's connection to the next,
    // even a direct one to a request meant for the proxy.
    static RigAnswer Answer(const std::string& path, int status, const std::string& body)
    {
        RigAnswer answer;
        answer.path = path;
        answer.status = status;
        answer.body = body;
        answer.close = true;
        return answer;
    }

    static ExchangeOptions Get(const std::string& host, const std::string& object, bool secure = false)
    {
        ExchangeOptions options;
        options.host = host;
        options.object = object;
        options.secure = secure;
        options.port = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
        return options;
    }

    RigEnvironment env = RigEnvironment::FromProcess();
    RigClient rig{env};
};
