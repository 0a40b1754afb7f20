#include "tests/support/RigEnvironment.h"

#include <cstdlib>

namespace {

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

unsigned short Port(const char* name, unsigned short fallback)
{
    std::string value = Variable(name);
    int port = value.empty() ? 0 : std::atoi(value.c_str());
    return (port > 0 && port < 65536) ? static_cast<unsigned short>(port) : fallback;
}

std::vector<std::string> SplitCommas(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            comma = text.size();
        }
        if (comma > start) {
            parts.push_back(text.substr(start, comma - start));
        }
        start = comma + 1;
    }
    return parts;
}

}  // namespace

RigEnvironment RigEnvironment::FromProcess()
{
    RigEnvironment env;
    env.address = Variable("MVU_RIG_ADDRESS");
    env.host = Variable("MVU_RIG_HOST");
    env.hosts = SplitCommas(Variable("MVU_RIG_HOSTS"));
    if (env.host.empty()) {
        env.host = env.address;
    }
    env.controlPort = Port("MVU_RIG_CONTROL_PORT", env.controlPort);
    env.proxyPort = Port("MVU_RIG_PROXY_PORT", env.proxyPort);
    env.wrongNameAddress = Variable("MVU_RIG_WRONG_NAME_ADDRESS");
    env.wrongNameHost = Variable("MVU_RIG_WRONG_NAME_HOST");
    env.expiredAddress = Variable("MVU_RIG_EXPIRED_ADDRESS");
    env.expiredHost = Variable("MVU_RIG_EXPIRED_HOST");
    return env;
}

std::string RigEnvironment::ProxyServer() const
{
    return address + ":" + std::to_string(proxyPort);
}
