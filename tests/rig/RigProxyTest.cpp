// The rig's proxy against WinInet's proxy support: Basic proxy credentials, plain requests
// answered for the origin, CONNECT tunnels to the rig's own TLS listener, and the bypass list.
#include <vector>

#include "tests/rig/RigTestBase.h"

namespace {

class RigProxyTest : public RigTestBase {
protected:
    void SetUp() override
    {
        RigTestBase::SetUp();
        ASSERT_GE(env.hosts.size(), 2u) << "the rig needs a second name for proxied requests";
        // A name no direct request uses, so no pooled direct connection can stand in for the proxy.
        proxied = env.hosts[1];
    }

    std::string proxied;
};

TEST_F(RigProxyTest, ProxyDemandsCredentialsThenAnswersForTheOrigin)
{
    ASSERT_TRUE(rig.RequireProxyAuth("proxyuser", "proxypass", "smoke-proxy")) << rig.LastError();
    ASSERT_GT(rig.Script(Answer("/via-proxy", 200, "proxied")), 0) << rig.LastError();

    WinInetExchange client(INTERNET_OPEN_TYPE_PROXY, env.ProxyServer().c_str(), nullptr);
    ExchangeResult refused = client.Run(Get(proxied, "/via-proxy"));
    ExchangeOptions options = Get(proxied, "/via-proxy");
    options.proxyUser = "proxyuser";
    options.proxyPassword = "proxypass";
    ExchangeResult accepted = client.Run(options);

    ASSERT_TRUE(refused.sent) << refused.sendError;
    EXPECT_EQ(407u, refused.status);
    ASSERT_TRUE(accepted.sent) << accepted.sendError;
    EXPECT_EQ(200u, accepted.status);
    EXPECT_EQ("proxied", accepted.body);
    std::vector<RigRequest> requests = rig.RequestsTo("/via-proxy");
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(407, requests.front().status);
    EXPECT_EQ("", requests.front().Header("Proxy-Authorization"));
    EXPECT_EQ("proxy", requests.back().listener);
    EXPECT_EQ("http://" + proxied + ":80/via-proxy", requests.back().target);
    EXPECT_EQ("Basic cHJveHl1c2VyOnByb3h5cGFzcw==", requests.back().Header("Proxy-Authorization"));
    EXPECT_EQ(200, requests.back().status);
}

TEST_F(RigProxyTest, WrongProxyCredentialsStayRefused)
{
    ASSERT_TRUE(rig.RequireProxyAuth("proxyuser", "proxypass", "smoke-proxy-wrong")) << rig.LastError();
    ASSERT_GT(rig.Script(Answer("/via-proxy-wrong", 200, "proxied")), 0) << rig.LastError();

    WinInetExchange client(INTERNET_OPEN_TYPE_PROXY, env.ProxyServer().c_str(), nullptr);
    ExchangeOptions options = Get(proxied, "/via-proxy-wrong");
    options.proxyUser = "proxyuser";
    options.proxyPassword = "guess";
    ExchangeResult result = client.Run(options);

    ASSERT_TRUE(result.sent) << result.sendError;
    EXPECT_EQ(407u, result.status);
    for (const RigRequest& request : rig.RequestsTo("/via-proxy-wrong")) {
        EXPECT_EQ(407, request.status);
    }
}

TEST_F(RigProxyTest, HttpsGoesThroughAConnectTunnel)
{
    ASSERT_GT(rig.Script(Answer("/tunnelled", 200, "through the tunnel")), 0) << rig.LastError();

    WinInetExchange client(INTERNET_OPEN_TYPE_PROXY, env.ProxyServer().c_str(), nullptr);
    ExchangeResult result = client.Run(Get(proxied, "/tunnelled", true));

    ASSERT_TRUE(result.sent) << result.sendError;
    EXPECT_EQ(200u, result.status);
    EXPECT_EQ("through the tunnel", result.body);
    std::vector<RigRequest> requests = rig.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("proxy", requests[0].listener);
    EXPECT_EQ("CONNECT", requests[0].method);
    EXPECT_EQ(proxied + ":443", requests[0].target);
    EXPECT_EQ(200, requests[0].status);
    EXPECT_EQ("connect", requests[1].listener);
    EXPECT_EQ("/tunnelled", requests[1].path);
    EXPECT_EQ(env.address + ":443", requests[1].local);
}

TEST_F(RigProxyTest, ConnectTunnelOpensOnceProxyCredentialsAreGiven)
{
    ASSERT_TRUE(rig.RequireProxyAuth("proxyuser", "proxypass", "smoke-tunnel")) << rig.LastError();
    ASSERT_GT(rig.Script(Answer("/tunnel-auth", 200, "tunnel open")), 0) << rig.LastError();

    WinInetExchange client(INTERNET_OPEN_TYPE_PROXY, env.ProxyServer().c_str(), nullptr);
    ExchangeOptions options = Get(proxied, "/tunnel-auth", true);
    options.proxyUser = "proxyuser";
    options.proxyPassword = "proxypass";
    ExchangeResult result = client.Run(options);

    ASSERT_TRUE(result.sent) << result.sendError;
    EXPECT_EQ(200u, result.status);
    EXPECT_EQ("tunnel open", result.body);
    std::vector<RigRequest> requests = rig.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ("CONNECT", requests[0].method);
    EXPECT_EQ(407, requests[0].status);
    EXPECT_EQ("CONNECT", requests[1].method);
    EXPECT_EQ("Basic cHJveHl1c2VyOnByb3h5cGFzcw==", requests[1].Header("Proxy-Authorization"));
    EXPECT_EQ(200, requests[1].status);
    EXPECT_EQ("connect", requests[2].listener);
    EXPECT_EQ("", requests[2].Header("Proxy-Authorization"));
}

TEST_F(RigProxyTest, BypassedHostIsReachedDirectly)
{
    ASSERT_GT(rig.Script(Answer("/bypass", 200, "either way")), 0) << rig.LastError();

    WinInetExchange client(INTERNET_OPEN_TYPE_PROXY, env.ProxyServer().c_str(), env.host.c_str());
    ExchangeResult direct = client.Run(Get(env.host, "/bypass"));
    ExchangeResult viaProxy = client.Run(Get(proxied, "/bypass"));

    EXPECT_EQ("either way", direct.body);
    EXPECT_EQ("either way", viaProxy.body);
    std::vector<RigRequest> requests = rig.RequestsTo("/bypass");
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("http", requests[0].listener);
    EXPECT_EQ(env.host, requests[0].Header("Host"));
    EXPECT_EQ("proxy", requests[1].listener);
    EXPECT_EQ(proxied, requests[1].Header("Host"));
}

TEST_F(RigProxyTest, TunnelToAnAddressOffTheMachineIsRefused)
{
    WinInetExchange client(INTERNET_OPEN_TYPE_PROXY, env.ProxyServer().c_str(), nullptr);
    ExchangeResult result = client.Run(Get("192.0.2.1", "/", true));

    EXPECT_NE(200u, result.status);
    std::vector<RigRequest> requests = rig.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ("CONNECT", requests[0].method);
    EXPECT_EQ(502, requests[0].status);
    EXPECT_NE("", requests[0].error);
}

}  // namespace
