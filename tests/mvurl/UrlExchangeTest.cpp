// The URL module end to end against the loopback test server: real WinInet, real HTTP, HTTPS
// and proxy traffic.
#include "mvurl/CUrlMgr.h"
#include "mvurl/CUrlRequest.h"
#include "mvurl/CUrlWinInetWorker.h"
#include "mvurl/MVUrl.h"
#include "standins/scrambler/Scrambler.h"
#include "tests/support/FailingAllocation.h"
#include "tests/support/Rig.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

const char kProductKey[] = "SOFTWARE\\Orvik\\Config\\MV\\General";
const char kNone[] = "<nothing delivered>";
// Some P-256 public key: only whether one is set matters to these tests.
const char kUpdateKey[] = "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE8l2BO9Kcn6qv/3PVrqSnPZbVr48TCE+zVVIH"
                          "FM+aHMrEPbzBiy1ph11Q9MTm7RmMRD/tUkAj35EPCL9XRQrh4w==";
// What a TLS request to a plain HTTP listener fails with.
constexpr int32_t kTlsToPlainPort = ERROR_INTERNET_SECURITY_CHANNEL_ERROR;

struct Outcome {
    int calls = 0;
    int32_t value = 0;
    bool contentNull = true;
    std::string content;

    // The body handed over, or kNone.
    std::string Delivered() const { return contentNull ? kNone : content; }
};
std::map<CUrlRequest*, Outcome> g_outcomes;

int32_t Record(CUrlRequest* request, int32_t value, const uint8_t* content)
{
    Outcome& o = g_outcomes[request];
    ++o.calls;
    o.value = value;
    o.contentNull = content == nullptr;
    if (content != nullptr && value > 0)
        o.content.assign(reinterpret_cast<const char*>(content), value);
    return 0;
}

void Store(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

void StoreText(const char* name, const std::string& t)
{
    Store(name, REG_SZ, t.c_str(), DWORD(t.size() + 1));
}
void StoreNumber(const char* name, DWORD number)
{
    Store(name, REG_DWORD, &number, sizeof(number));
}
void ClearStored()
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kProductKey);
}

// The named fields of a request the server received ("header Name": a request header),
// space-separated.
std::string Fields(const RigRecord& r, std::initializer_list<std::string> names)
{
    std::string out;
    for (const std::string& n : names) {
        out += (out.empty() ? "" : " ") +
               (n.compare(0, 7, "header ") == 0 ? r.Header(n.substr(7)) : r.Get(n));
    }
    return out;
}

class UrlExchange : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ClearStored(); }

    void SetUp() override
    {
        ASSERT_TRUE(rig.Command("POST /reset")) << rig.error;
        ASSERT_TRUE(farRig.Command("POST /reset")) << farRig.error;
        g_outcomes.clear();
    }

    void TearDown() override
    {
        // Cleanup never waits for the server: held answers are let go only afterwards, for
        // the next test's sake.
        MVUrlCleanup();
        rig.Command("POST /release");
        farRig.Command("POST /release");
        ClearStored();
    }

    void Serve(const std::string& lines, const std::string& body = "")
    {
        ASSERT_TRUE(rig.Script(lines, body)) << rig.error;
    }

    CUrlRequest* Submit(const std::string& url, uint32_t secure = 1)
    {
        CUrlRequest* request = nullptr;
        const std::wstring wide(url.begin(), url.end());
        EXPECT_EQ(MVURL_OK, MVUrlRequestW(wide.c_str(), secure, Record, &request));
        // A new request may reuse a delivered one's address: forget what that one got.
        g_outcomes.erase(request);
        return request;
    }

    // Ticks the dispatcher until done() holds; a hang ends the test instead of the run.
    void TickUntil(const std::function<bool()>& done)
    {
        for (int i = 0; i < 24000 && !done(); ++i, Sleep(5))
            MVUrlDispatch();
        ASSERT_TRUE(done()) << "the module never got there";
    }

    Outcome Fetch(const std::string& url, uint32_t secure = 1)
    {
        CUrlRequest* request = Submit(url, secure);
        TickUntil([&] { return g_outcomes.count(request) != 0; });
        return g_outcomes[request];
    }

    // Those fields of each request to path (empty: of every request), oldest first, "; " between
    // them.
    std::string Seen(const std::string& path, std::initializer_list<std::string> names)
    {
        std::string out;
        for (const RigRecord& r : rig.Requests(path))
            out += (out.empty() ? "" : "; ") + Fields(r, names);
        EXPECT_EQ("", rig.error) << "no records from the server";
        return out;
    }

    std::string Https(const std::string& path) const { return "https://" + rig.host + path; }
    std::string Http(const std::string& path) const { return "http://" + rig.host + path; }

    Rig rig;
    // Another server process on another address: https on two ports.
    Rig farRig{"MVU_FAR_RIG"};
};

TEST_F(UrlExchange, SecureRequestsGoOverTlsWhateverTheSchemeAndEmptyObjectsAskForTheRoot)
{
    // seen: the path and listener of the request the server got.
    const struct {
        std::string url;
        uint32_t secure;
        std::string seen;
    } rows[] = {
        {Http("/v"), 1, "/v https"}, {Https("/v"), 0, "/v https"}, {Http(""), 0, "/ http"},
        {Http("/"), 0, "/ http"},    {rig.host, 0, "/ http"},
    };
    MVUrlInit(nullptr, 0);
    Serve("path: /v", "hello");
    Serve("path: /", "hello");
    std::string expected;
    for (const auto& row : rows) {
        const Outcome o = Fetch(row.url, row.secure);
        EXPECT_EQ(1, o.calls) << row.url;
        EXPECT_EQ("hello", o.Delivered()) << row.url;
        expected += (expected.empty() ? "" : "; ") + row.seen + " GET HTTP/1.0 OrvikMV";
        EXPECT_EQ(expected,
                  Seen("", {"path", "listener", "method", "version", "header User-Agent"}))
            << row.url;
    }
}

TEST_F(UrlExchange, EachAnswerGivesItsResultAndOnlyWholeSuccessfulBodiesArrive)
{
    // lines null: nothing scripted.
    const struct {
        const char* lines;
        const char* body;
        std::string url;
        int value;
        const char* delivered;
    } rows[] = {
        {"path: /missing\nstatus: 404", "<html>not here</html>", Https("/missing"), 21,
         "<html>not here</html>"},
        {"path: /empty", "", Https("/empty"), 0, kNone},
        {"path: /denied\nstatus: 401\nheader: WWW-Authenticate: Basic realm=\"x\"", "login page",
         Https("/denied"), 401, kNone},
        {"path: /proxy-denied\nstatus: 407\nheader: Proxy-Authenticate: Basic realm=\"x\"",
         "proxy page", Https("/proxy-denied"), 407, kNone},
        {"path: /silent\nsilent: 1", "", Https("/silent"), ERROR_HTTP_INVALID_SERVER_RESPONSE,
         kNone},
        // The body ends early without a read error: only its announced length tells.
        {"path: /cut\nbody-size: 100000\ncut-after: 5000", "", Http("/cut"),
         ERROR_INTERNET_CONNECTION_RESET, kNone},
        // Nothing listens on this loopback address.
        {nullptr, "", "http://127.83.4.250/x", ERROR_INTERNET_CANNOT_CONNECT, kNone},
        // The port a URL names is the one connected to: TLS on the TLS port, and TLS to the
        // plain listener, which cannot make a handshake.
        {"path: /p", "port", Https(":443/p"), 4, "port"},
        {nullptr, "", Https(":80/p"), kTlsToPlainPort, kNone},
    };
    MVUrlInit(nullptr, 0);
    for (const auto& row : rows) {
        if (row.lines != nullptr)
            Serve(row.lines, row.body);
        const Outcome o = Fetch(row.url, 0);
        EXPECT_EQ(row.value, o.value) << row.url;
        EXPECT_EQ(row.delivered, o.Delivered()) << row.url;
    }
}

TEST_F(UrlExchange, UploadsArePostedWithTheTraceInfoAsBody)
{
    StoreText("UploadURL", Http("/report/upload.php"));
    MVUrlInit(nullptr, 0);
    Serve("path: /report/upload.php?a=1", "ok");
    EXPECT_EQ("ok", Fetch(Http("/report/upload.php?a=1&traceinfo=abc"), 0).Delivered());
    Fetch(Http("/report/upload.php?a=1"), 0);
    const std::vector<RigRecord> seen = rig.Requests("/report/upload.php?a=1");
    ASSERT_EQ(2u, seen.size());
    // The body in hex: "abc".
    EXPECT_EQ("POST 616263 3 application/octet-stream",
              Fields(seen[0], {"method", "body", "header Content-Length", "header Content-Type"}));
    EXPECT_EQ("POST 0", Fields(seen[1], {"method", "body-length"}));

    // A stored URL too short to use leaves only the default endpoint uploading: a plain GET.
    MVUrlCleanup();
    StoreText("UploadURL", "http");
    MVUrlInit(nullptr, 0);
    Serve("path: /report/upload.php", "x");
    Fetch(Http("/report/upload.php&traceinfo=abc"), 0);
    EXPECT_EQ("POST; POST; GET", Seen("", {"method"}));
}

TEST_F(UrlExchange, ServerCredentialsGoToTheConfiguredServerOnlyAndAreRemembered)
{
    StoreText("SURL", "https://url-a.mvtest.invalid/orvik");
    StoreText("ServerAuthUserName", "agent");
    StoreText("ServerAuthPassword",
              ScrambleHexText("pa55:word", ScrambleOptions{200, {}, 0, false}));
    MVUrlInit(nullptr, 0);
    Serve("path: /open", "open");
    Serve("path: /secret\nauth: agent:pa55:word", "granted");

    // WinInet keeps credentials a server accepted per host for the whole process: the first
    // request meets no challenge, so only what the worker remembered can pass the second.
    EXPECT_EQ("open", Fetch("https://url-a.mvtest.invalid/open").Delivered());
    ClearStored();
    EXPECT_EQ("granted", Fetch("https://url-a.mvtest.invalid/secret").Delivered());
    // agent:pa55:word
    EXPECT_NE(std::string::npos,
              Seen("/secret", {"header Authorization"}).find("Basic YWdlbnQ6cGE1NTp3b3Jk"));

    // Any other server that asks gets nothing, remembered or stored.
    StoreText("ServerAuthUserName", "agent");
    StoreText("ServerAuthPassword", ScrambleHexText("pa55:word"));
    ASSERT_TRUE(rig.Command("POST /reset")) << rig.error;
    Serve("path: /secret\nauth: agent:pa55:word", "granted");
    EXPECT_EQ(401, Fetch("https://url-b.mvtest.invalid/secret").value);
    EXPECT_EQ(std::string::npos, Seen("/secret", {"header Authorization"}).find("Basic"));

    // A new thread run has nothing remembered.
    ClearStored();
    StoreText("SURL", "url-c.mvtest.invalid");
    MVUrlCleanup();
    MVUrlInit(nullptr, 0);
    EXPECT_EQ(401, Fetch("https://url-c.mvtest.invalid/secret").value);
}

TEST_F(UrlExchange, StoredProxyIsAppliedWithItsCredentialsAndBypassList)
{
    StoreNumber("MVProxyEnable", 1);
    StoreText("MVProxyServer", rig.address + ":" + Rig::Env("MVU_RIG_PROXY_PORT", "8080"));
    StoreText("MVProxyBypass", "url-direct.mvtest.invalid");
    StoreText("ProxyUserName", "puser");
    StoreText("ProxyPassword", ScrambleHexText("ppass"));
    ASSERT_TRUE(rig.Command("POST /proxy-auth", "user: puser\npassword: ppass\n")) << rig.error;
    MVUrlInit(nullptr, 0);
    Serve("path: /via", "proxied");
    Serve("path: /direct", "direct");

    // Plain HTTP goes to the proxy as an absolute URI, with the stored proxy credentials.
    EXPECT_EQ("proxied", Fetch("http://origin.mvtest.invalid/via", 0).Delivered());
    const std::string via = Seen("/via", {"listener", "header Proxy-Authorization"});
    EXPECT_NE(std::string::npos, via.find("proxy Basic cHVzZXI6cHBhc3M=")) << via;  // puser:ppass

    // A host on the bypass list is reached directly.
    EXPECT_EQ("direct", Fetch("http://url-direct.mvtest.invalid/direct", 0).Delivered());
    EXPECT_EQ("http", Seen("/direct", {"listener"}));
}

TEST_F(UrlExchange, TlsRequestsTunnelThroughTheStoredProxyWhenMVProxyEnableSaysSo)
{
    // tinyproxy's connections to the servers come from its own address: a request that went
    // through it shows by its peer, and by tinyproxy's log.
    const std::string proxyAddress = Rig::Env("MVU_RIG_TINYPROXY_ADDRESS");
    ASSERT_FALSE(proxyAddress.empty()) << "the rig runs no tinyproxy";
    const std::string proxy = proxyAddress + ":" + Rig::Env("MVU_RIG_TINYPROXY_PORT", "8888");
    // The request is redirected to the other server: the hop takes the same way.
    const std::pair<Rig*, std::string> servers[] = {
        {&rig, "url-tunnel.mvtest.invalid"},
        {&farRig, farRig.host},
    };
    // MVProxyEnable's type and bytes as stored. Each row after one that used the proxy shows
    // that nothing of it is left behind.
    const struct {
        DWORD type;
        std::string bytes;
        bool used;
    } rows[] = {
        {REG_BINARY, std::string("\1\0\0\0", 4), true},
        {REG_BINARY, std::string("\0\0\0\0", 4), false},
        {REG_DWORD, std::string("\1\0\0\0", 4), true},
        {REG_DWORD, std::string("\0\0\0\0", 4), false},
        {REG_SZ, std::string("1", 2), true},
        {REG_SZ, std::string("0", 2), false},
        // Only a 4-byte number reads as one.
        {REG_BINARY, std::string("\1", 1), false},
    };
    for (const auto& row : rows) {
        const std::string which = "type " + std::to_string(row.type) + ", " +
                                  std::to_string(row.bytes.size()) + " bytes, first " +
                                  std::to_string(row.bytes[0]);
        ClearStored();
        Store("MVProxyEnable", row.type, row.bytes.data(), DWORD(row.bytes.size()));
        StoreText("MVProxyServer", proxy);
        ASSERT_TRUE(rig.Command("POST /reset")) << rig.error;
        ASSERT_TRUE(farRig.Command("POST /reset")) << farRig.error;
        // Closed after each answer: no connection is kept for the next row.
        Serve("path: /tunnelled\nstatus: 302\nclose: 1\nheader: Location: https://" +
              servers[1].second + "/tunnelled");
        ASSERT_TRUE(farRig.Script("path: /tunnelled\nclose: 1", "tunnelled")) << farRig.error;
        MVUrlInit(nullptr, 0);
        EXPECT_EQ("tunnelled", Fetch("https://" + servers[0].second + "/tunnelled").Delivered())
            << which;
        MVUrlCleanup();
        const std::string log = rig.TinyproxyLog();
        EXPECT_EQ("", rig.error) << which;
        for (const auto& [server, name] : servers) {
            const std::vector<RigRecord> seen = server->Requests("/tunnelled");
            ASSERT_EQ(1u, seen.size()) << which << ": " << name;
            EXPECT_EQ("https", seen[0].Get("listener")) << which << ": " << name;
            const std::string peer = seen[0].Get("peer");
            EXPECT_EQ(row.used, peer.compare(0, proxyAddress.size() + 1, proxyAddress + ":") == 0)
                << which << ": " << name << " saw a request from " << peer;
            const std::string connect = "CONNECT " + name + ":443 ";
            EXPECT_EQ(row.used, log.find(connect) != std::string::npos)
                << which << ": " << connect << "\n"
                << log;
        }
    }
}

TEST_F(UrlExchange, CertificateNameAndDatesAreCheckedUnlessTheOperatorRelaxesThem)
{
    const std::string wrongName = Rig::Env("MVU_RIG_WRONG_NAME_HOST");
    const std::string expired = Rig::Env("MVU_RIG_EXPIRED_HOST");
    const std::string untrusted = Rig::Env("MVU_RIG_UNTRUSTED_HOST");
    ASSERT_FALSE(wrongName.empty() || expired.empty() || untrusted.empty())
        << "the rig has no certificates to refuse";
    Serve("path: /cert", "ok");
    // Strict rows first: an accepted connection may be kept and reused by WinInet.
    // type 0: no MVRelaxedTls; otherwise the value of that type holds text (REG_SZ,
    // REG_EXPAND_SZ) or number (REG_DWORD and 4-byte REG_BINARY). withKey: an update key is
    // set. Without one, TLS is all that authenticates the server: the switch is ignored then.
    const struct {
        DWORD type;
        const char* text;
        DWORD number;
        bool withKey;
        bool relaxed;
    } rows[] = {
        {0, "", 0, true, false},         {REG_SZ, "0", 0, true, false},
        {REG_SZ, "yes", 0, true, false}, {REG_SZ, "01", 0, true, false},
        {REG_SZ, "1 ", 0, true, false},  {REG_EXPAND_SZ, "1", 0, true, false},
        {REG_DWORD, "", 2, true, false}, {REG_BINARY, "", 1, true, false},
        {REG_SZ, "1", 0, false, false},  {REG_DWORD, "", 1, false, false},
        {REG_SZ, "1", 0, true, true},    {REG_DWORD, "", 1, true, true},
    };
    for (const auto& row : rows) {
        ClearStored();
        if (row.withKey)
            StoreText("MVUpdateKey", kUpdateKey);
        if (row.type == REG_SZ || row.type == REG_EXPAND_SZ)
            Store("MVRelaxedTls", row.type, row.text, DWORD(std::strlen(row.text) + 1));
        if (row.type == REG_DWORD || row.type == REG_BINARY)
            Store("MVRelaxedTls", row.type, &row.number, sizeof(row.number));
        MVUrlInit(nullptr, 0);
        const Outcome o1 = Fetch("https://" + wrongName + "/cert");
        const Outcome o2 = Fetch("https://" + expired + "/cert");
        // No setting relaxes the issuer: a certificate no trusted CA signed is always refused.
        const Outcome o3 = Fetch("https://" + untrusted + "/cert");
        MVUrlCleanup();
        const std::string which = "type " + std::to_string(row.type) + " \"" + row.text + "\" " +
                                  std::to_string(row.number) +
                                  (row.withKey ? " with a key" : " without a key");
        if (row.relaxed) {
            EXPECT_EQ("ok ok", o1.Delivered() + " " + o2.Delivered()) << which;
        } else {
            EXPECT_EQ(ERROR_INTERNET_SEC_CERT_CN_INVALID, o1.value) << which;
            EXPECT_EQ(ERROR_INTERNET_SEC_CERT_DATE_INVALID, o2.value) << which;
        }
        EXPECT_EQ(ERROR_INTERNET_INVALID_CA, o3.value) << which;
    }
}

TEST_F(UrlExchange, RedirectsAreFollowedWithinTlsOnlyAndAtMostFiveTimes)
{
    // The landing page wants the stored server credentials: a hop to the configured server
    // sends them as the first request does, a hop to any other server never.
    StoreText("SURL", rig.host);
    StoreText("ServerAuthUserName", "agent");
    StoreText("ServerAuthPassword", ScrambleHexText("pa55"));
    MVUrlInit(nullptr, 0);
    // location: where /hop<row> sends the request (empty: back to itself).
    const struct {
        std::string location;
        int32_t value;
        const char* delivered;
    } rows[] = {
        {"https://url-hop.mvtest.invalid/landed", 401, kNone},
        {"https://" + rig.host + "/landed", 6, "landed"},
        {"landed", 6, "landed"},
        // The TLS port in plain HTTP, the plain port, and another scheme altogether.
        {Http(":443/landed"), ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR, kNone},
        {Http("/landed"), ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR, kNone},
        {"ftp://" + rig.host + "/landed", ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR, kNone},
        {"https://agent:pa55@" + rig.host + "/landed", ERROR_INTERNET_INVALID_URL, kNone},
        // A name of its own: WinInet may keep a connection another test accepted relaxed.
        {"https://url-hop-wrongname.mvtest.invalid/landed", ERROR_INTERNET_SEC_CERT_CN_INVALID,
         kNone},
        {"", ERROR_HTTP_REDIRECT_FAILED, kNone},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const std::string hop = "/hop" + std::to_string(i);
        const std::string location = rows[i].location.empty() ? hop : rows[i].location;
        ASSERT_TRUE(rig.Command("POST /reset")) << rig.error;
        Serve("path: /landed\nauth: agent:pa55", "landed");
        Serve("path: " + hop + "\nstatus: 302\nclose: 1\nheader: Location: " + location, "moved");
        const Outcome o = Fetch(Https(hop));
        EXPECT_EQ(rows[i].value, o.value) << location;
        EXPECT_EQ(rows[i].delivered, o.Delivered()) << location;
        // Every request the server understood (a refused handshake has no method): a loop is
        // followed five times, and only a followed redirect lands, with the credentials asked.
        std::string seen;
        for (const RigRecord& r : rig.Requests()) {
            if (!r.Get("method").empty())
                seen += (seen.empty() ? "" : "; ") + Fields(r, {"path", "listener", "status"});
        }
        std::string expected = hop + " https 302";
        for (int n = 0; n < (rows[i].location.empty() ? 5 : 0); ++n)
            expected += "; " + hop + " https 302";
        if (rows[i].value == 6)
            expected += "; /landed https 401; /landed https 200";
        if (rows[i].value == 401)
            expected += "; /landed https 401";
        EXPECT_EQ(expected, seen) << location;
    }
}

// The requests a server understood (a refused handshake has no method) as "listener path status",
// the listener named by label + ":" + its port; "; " between them.
std::string Understood(Rig& server, const std::string& label)
{
    std::string out;
    for (const RigRecord& r : server.Requests()) {
        const std::string local = r.Get("local");
        if (!r.Get("method").empty()) {
            out += (out.empty() ? "" : "; ") + label + local.substr(local.rfind(':')) + " " +
                   Fields(r, {"path", "status"});
        }
    }
    EXPECT_EQ("", server.error) << "no records from " << label;
    return out;
}

TEST_F(UrlExchange, RedirectsOfEveryStatusAndFormLeadToTheServerAndObjectTheyName)
{
    const std::string farHost = farRig.host;
    const std::string farPort = Rig::Env("MVU_FAR_RIG_SECOND_HTTPS_PORT");
    ASSERT_FALSE(farRig.address.empty() || farPort.empty() || farRig.address == rig.address)
        << "no second server on an address of its own";
    // One step: what a server (near: the first one; far, at its TLS port or farPort) answers to
    // an object, a redirect to location or, with none, the landing page. The first step is the
    // one asked; each next step is where the one before must lead.
    struct Step {
        bool atFar;
        bool atFarPort;
        std::string object;
        int status;
        std::string location;
    };
    const std::vector<std::vector<Step>> rows = {
        {{false, false, "/a", 301, "https://" + farHost + "/landed?via=301"},
         {true, false, "/landed?via=301", 200, ""}},
        // Scheme-relative: another server, still over TLS and at its TLS port.
        {{false, false, "/b", 303, "//" + farHost + "/landed?via=303"},
         {true, false, "/landed?via=303", 200, ""}},
        {{false, false, "/c", 307, "https://" + farHost + ":" + farPort + "/landed?via=307"},
         {true, true, "/landed?via=307", 200, ""}},
        {{false, false, "/d", 308, "https://" + farHost + ":443/landed?via=308"},
         {true, false, "/landed?via=308", 200, ""}},
        // A query alone replaces the query only.
        {{false, false, "/e/page?x=1", 302, "?a=b"}, {false, false, "/e/page?a=b", 200, ""}},
        // Relative locations resolve against the server and object that sent them, port
        // included; a scheme-relative one takes the TLS port again.
        {{false, false, "/f", 302, "https://" + farHost + ":" + farPort + "/dir/hop?x=1"},
         {true, true, "/dir/hop?x=1", 301, "?a=b"},
         {true, true, "/dir/hop?a=b", 308, "next?z=9"},
         {true, true, "/dir/next?z=9", 307, "//" + rig.host + "/back"},
         {false, false, "/back", 200, ""}},
    };
    MVUrlInit(nullptr, 0);
    for (const std::vector<Step>& steps : rows) {
        const std::string& first = steps.front().object;
        ASSERT_TRUE(rig.Command("POST /reset")) << rig.error;
        ASSERT_TRUE(farRig.Command("POST /reset")) << farRig.error;
        std::string nearSeen;
        std::string farSeen;
        for (const Step& step : steps) {
            const std::string lines =
                "path: " + step.object + "\nstatus: " + std::to_string(step.status) +
                (step.location.empty() ? "" : "\nclose: 1\nheader: Location: " + step.location);
            ASSERT_TRUE(
                (step.atFar ? farRig : rig).Script(lines, step.location.empty() ? "landed" : ""))
                << (step.atFar ? farRig : rig).error;
            std::string& seen = step.atFar ? farSeen : nearSeen;
            const std::string port = step.atFarPort ? farPort : "443";
            seen += (seen.empty() ? "" : "; ") + std::string(step.atFar ? "far:" : "near:") + port +
                    " " + step.object + " " + std::to_string(step.status);
        }
        const Outcome o = Fetch(Https(first));
        EXPECT_EQ("landed", o.Delivered()) << first;
        EXPECT_EQ(nearSeen, Understood(rig, "near")) << first;
        EXPECT_EQ(farSeen, Understood(farRig, "far")) << first;
    }
}

// A body that fits arrives whole: byte i of the server's bodies is i % 251.
TEST_F(UrlExchange, BodiesPastTheLimitFailInsteadOfArrivingShort)
{
    constexpr uint32_t kLimit = 100000;
    const struct {
        const char* path;
        long long size;
        bool noLength;
        bool fits;
    } rows[] = {
        {"/at-limit", kLimit, false, true},
        {"/at-limit-unannounced", kLimit, true, true},
        {"/announced-past", kLimit + 1, false, false},
        {"/unannounced-past", kLimit + 1, true, false},
        // Endless for any client: only the limit ends it.
        {"/endless", 1000000000000LL, true, false},
    };
    MVUrlInit(nullptr, 0);
    MVUrlSetBodyLimit(kLimit);
    for (const auto& row : rows) {
        Serve(std::string("path: ") + row.path + "\nbody-size: " + std::to_string(row.size) +
              (row.noLength ? "\nno-length: 1" : ""));
        const Outcome o = Fetch(Https(row.path));
        EXPECT_EQ(row.fits ? static_cast<int32_t>(row.size) : MVURL_RESULT_TOO_LARGE, o.value)
            << row.path;
        std::string pattern(row.fits ? static_cast<size_t>(row.size) : 0u, '\0');
        for (size_t i = 0; i < pattern.size(); ++i)
            pattern[i] = static_cast<char>(i % 251);
        EXPECT_TRUE(pattern == o.content) << row.path;
        EXPECT_EQ(!row.fits, o.contentNull) << row.path;
    }
    MVUrlSetBodyLimit(kDefaultBodyLimit);
}

// Announced or not, a body that needs a larger buffer than memory gives fails the request.
TEST_F(UrlExchange, ABodyWhoseBufferCannotGrowFailsInsteadOfArrivingShort)
{
    MVUrlInit(nullptr, 0);
    for (const bool announced : {true, false}) {
        const std::string path = announced ? "/grow-announced" : "/grow-unannounced";
        Serve("path: " + path + "\nbody-size: 1000000" + (announced ? "" : "\nno-length: 1"));
        FailAllocationsFrom(256 * 1024);
        const Outcome o = Fetch(Https(path));
        FailAllocationsFrom(SIZE_MAX);
        EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, o.value) << path;
        EXPECT_EQ(kNone, o.Delivered()) << path;
    }
}

TEST_F(UrlExchange, CancelledRequestsAreNeverDeliveredAndQueuedOnesNeverConnect)
{
    MVUrlInit(nullptr, 0);
    Serve("path: /slow\nhold: 1", "late");
    Serve("path: /queued", "queued");
    Serve("path: /next", "next");
    CUrlRequest* slow = Submit(Https("/slow"));
    ASSERT_TRUE(rig.WaitFor("/slow")) << rig.error;
    CUrlRequest* queued = Submit(Https("/queued"));
    MVUrlCancel(queued);
    MVUrlCancel(slow);
    rig.Command("POST /release");
    // One worker serves the queue in order: once the next request is delivered, the
    // cancelled ones have been handed back, and they must have been dropped.
    CUrlRequest* next = Submit(Https("/next"));
    TickUntil([&] { return g_outcomes.count(next) != 0; });
    EXPECT_EQ(0u, g_outcomes.count(slow));
    EXPECT_EQ(0u, g_outcomes.count(queued));
    EXPECT_EQ("", Seen("/queued", {"method"}));
}

TEST_F(UrlExchange, SilentServerFailsTheRequestAtTheReceiveTimeOut)
{
    MVUrlInit(nullptr, 0);
    Serve("path: /silent-for-good\nhold: 1", "never");
    const DWORD started = GetTickCount();
    const Outcome o = Fetch(Https("/silent-for-good"));
    const DWORD elapsed = GetTickCount() - started;
    // A receive time-out; the emulator reports it as an aborted connection.
    EXPECT_TRUE(o.value == ERROR_INTERNET_TIMEOUT || o.value == ERROR_INTERNET_CONNECTION_ABORTED)
        << o.value;
    EXPECT_TRUE(o.contentNull);
    // 20 s from both sides: not before (1 s allowed for the clocks' grain), nor more than 5 s
    // after (a loaded machine; the handshake and the request are inside the measure too).
    EXPECT_GE(elapsed, 19000u) << "the request failed after " << elapsed << " ms";
    EXPECT_LE(elapsed, 25000u) << "the request failed only after " << elapsed << " ms";
}

// The threads of this process now; a snapshot that fails fails the test, and its count
// passes no bound.
size_t ThreadCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {sizeof(entry), 0, 0, 0, 0, 0, 0};
    BOOL more = snapshot != INVALID_HANDLE_VALUE && Thread32First(snapshot, &entry);
    if (!more)
        ADD_FAILURE() << "no thread snapshot: error " << GetLastError();
    size_t count = more ? 0 : SIZE_MAX;
    for (; more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    if (snapshot != INVALID_HANDLE_VALUE)
        CloseHandle(snapshot);
    return count;
}

// The handles this process has open. Where the system does not count them (the emulator
// answers 0), every slot of the handle table up to a generous limit is asked instead.
DWORD HandleCount()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return count;
    for (uintptr_t slot = 4; slot < 0x10000; slot += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(slot), &flags))
            ++count;
    }
    return count;
}

TEST_F(UrlExchange, CleanupWithASilentServerReturnsInTimeAndTheModuleWorksAgain)
{
    MVUrlInit(nullptr, 0);
    Serve("path: /held\nhold: 1", "x");
    Serve("path: /after", "after");
    Submit(Https("/held"));
    ASSERT_TRUE(rig.WaitFor("/held")) << rig.error;
    Submit(Https("/after"));
    Submit(Https("/after"));
    // The server holds its answer for good: cleanup must give up on the blocked worker.
    const DWORD started = GetTickCount();
    MVUrlCleanup();
    const DWORD elapsed = GetTickCount() - started;
    // Every wait of cleanup shares one budget of 4 s.
    EXPECT_LT(elapsed, 6000u) << "cleanup took " << elapsed << " ms";
    MVUrlDispatch();
    EXPECT_TRUE(g_outcomes.empty());
    CUrlRequest* out = nullptr;
    EXPECT_EQ(MVURL_E_NO_WORKER, MVUrlRequestW(L"https://x/", 1, Record, &out));

    // Only now is the abandoned thread let go: it must free the worker it was left with,
    // start none of the queued requests and hand its own to nobody.
    EXPECT_EQ(1, CUrlWinInetWorker::LiveCount()) << "the abandoned worker is still alive";
    ASSERT_TRUE(rig.Command("POST /release")) << rig.error;
    for (int i = 0; i < 200 && CUrlWinInetWorker::LiveCount(); ++i)
        Sleep(50);
    // The thread frees the worker as the last thing it does.
    EXPECT_EQ(0, CUrlWinInetWorker::LiveCount()) << "the abandoned worker was not freed";
    MVUrlInit(nullptr, 0);
    MVUrlDispatch();
    EXPECT_TRUE(g_outcomes.empty()) << "the abandoned request was delivered";
    EXPECT_EQ("after", Fetch(Https("/after")).Delivered());
    EXPECT_EQ(1u, rig.Requests("/after").size()) << "queued requests were started after the stop";
}

TEST_F(UrlExchange, CreationCodes)
{
    CUrlRequest* out = nullptr;
    MVUrlInit(nullptr, 0);
    EXPECT_EQ(MVURL_E_ARGUMENT, MVUrlRequestW(nullptr, 1, Record, &out));
    EXPECT_EQ(MVURL_E_ARGUMENT, MVUrlRequestW(L"https://x/", 1, Record, nullptr));
    // A URL whose UTF-8 form does not fit is refused, not sent cut.
    const std::wstring huge = L"https://x/" + std::wstring(kMaxUrlUtf8, L'a');
    EXPECT_EQ(MVURL_E_ARGUMENT, MVUrlRequestW(huge.c_str(), 1, Record, &out));
    const std::wstring longest = L"https://x/" + std::wstring(kMaxUrlUtf8 - 1 - 10, L'a');
    EXPECT_EQ(MVURL_OK, MVUrlRequestW(longest.c_str(), 1, Record, &out));
    MVUrlCancel(out);
}

// A worker whose thread cannot be started, in a manager of its own.
class CStartlessWorker : public CUrlWinInetWorker {
public:
    using CUrlWinInetWorker::CUrlWinInetWorker;
    BOOL Start(DWORD) override { return FALSE; }
};

class CStartlessMgr : public CUrlMgr {
protected:
    CUrlWorker* CreateWorker() override { return new CStartlessWorker(this); }
};

TEST_F(UrlExchange, AWorkerWhoseThreadCannotStartFailsInitAndEveryRequestAtOnce)
{
    MVUrlInit(nullptr, 0);  // WinInet bound
    CStartlessMgr mgr;
    EXPECT_EQ(0u, mgr.Init(nullptr, 0));
    EXPECT_FALSE(mgr.HasWorker());
    CUrlRequest* out = nullptr;
    EXPECT_EQ(MVURL_E_NO_WORKER, mgr.CreateRequest("https://x/", 1, Record, &out));
    EXPECT_EQ(nullptr, out);
}

TEST_F(UrlExchange, RepeatedInitRequestCleanupCyclesLeaveNoThreadsOrHandlesBehind)
{
    Serve("path: /cycle", "again");
    auto cycle = [&] {
        MVUrlInit(nullptr, 0);
        EXPECT_EQ("again", Fetch(Https("/cycle")).Delivered());
        MVUrlCleanup();
    };
    // WinInet sets up what it keeps for the whole process on first use.
    cycle();
    cycle();
    const size_t threads = ThreadCount();
    const DWORD handles = HandleCount();
    ASSERT_FALSE(HasFailure()) << "no thread count to compare with";
    ASSERT_GT(handles, 0u);
    constexpr int kCycles = 20;
    for (int i = 0; i < kCycles; ++i)
        cycle();
    // A thread WinInet ends on its own may still be on its way out: give it the chance.
    for (int i = 0; i < 200 && (ThreadCount() > threads || HandleCount() > handles); ++i)
        Sleep(50);
    EXPECT_LE(ThreadCount(), threads)
        << "threads after warm-up " << threads << ", after " << kCycles << " cycles";
    EXPECT_LE(HandleCount(), handles)
        << "handles after warm-up " << handles << ", after " << kCycles << " cycles";
    EXPECT_EQ(static_cast<size_t>(2 + kCycles), rig.Requests("/cycle").size());
}

}  // namespace
