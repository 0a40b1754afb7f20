// The URL module end to end against the loopback test servers: real WinInet, real HTTP,
// HTTPS and proxy traffic.
#include "mvurl/CUrlMgr.h"
#include "mvurl/CUrlRequest.h"
#include "mvurl/MVUrl.h"
#include "standins/scrambler/Scrambler.h"
#include "tests/support/RigClient.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

const char kProductKey[] = "SOFTWARE\\Orvik\\Config\\MV\\General";

struct Outcome {
    int calls = 0;
    int32_t value = 0;
    bool contentNull = true;
    std::string content;
    uint32_t capacity = 0;
};
std::map<CUrlRequest*, Outcome> g_outcomes;

int32_t Record(CUrlRequest* request, int32_t value, const uint8_t* content)
{
    Outcome& o = g_outcomes[request];
    ++o.calls;
    o.value = value;
    o.contentNull = content == nullptr;
    o.capacity = request->GetContentCapacity();
    if (content != nullptr && value > 0) o.content.assign(reinterpret_cast<const char*>(content), value);
    return 0;
}

void SetStored(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

void SetStoredText(const char* name, const std::string& value)
{
    SetStored(name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void SetStoredNumber(const char* name, DWORD value)
{
    SetStored(name, REG_DWORD, &value, sizeof(value));
}

void ClearStoredSettings()
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kProductKey);
}

class UrlExchange : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ClearStoredSettings(); }

    void SetUp() override
    {
        ASSERT_FALSE(env.address.empty()) << "no test server given to this program";
        ASSERT_TRUE(rig.Reset()) << rig.LastError();
        g_outcomes.clear();
    }

    void TearDown() override
    {
        // Cleanup never waits for the server: held answers are let go only afterwards, for
        // the next test's sake.
        MVUrlCleanup();
        rig.Release();
        ClearStoredSettings();
    }

    CUrlRequest* Submit(const std::string& url, uint32_t secure)
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
        for (int i = 0; i < 24000 && !done(); ++i) {
            MVUrlDispatch();
            Sleep(5);
        }
        ASSERT_TRUE(done()) << "the module never got there";
    }

    Outcome Fetch(const std::string& url, uint32_t secure)
    {
        CUrlRequest* request = Submit(url, secure);
        TickUntil([&] { return g_outcomes.count(request) != 0; });
        return g_outcomes[request];
    }

    std::string Https(const std::string& path) const { return "https://" + env.host + path; }
    std::string Http(const std::string& path) const { return "http://" + env.host + path; }

    RigAnswer Answer(const std::string& path, int status, const std::string& body) const
    {
        RigAnswer a;
        a.path = path;
        a.status = status;
        a.body = body;
        return a;
    }

    RigEnvironment env = RigEnvironment::FromProcess();
    RigClient rig{env};
};

TEST_F(UrlExchange, SecureRequestsGoOverTlsWhateverTheSchemeAndEmptyObjectsAskForTheRoot)
{
    const struct {
        std::string url;
        uint32_t secure;
        const char* path;
        const char* listener;
    } rows[] = {
        {Http("/v"), 1, "/v", "https"}, {Https("/v"), 0, "/v", "https"}, {Http(""), 0, "/", "http"},
        {Http("/"), 0, "/", "http"},    {env.host, 0, "/", "http"},
    };
    MVUrlInit(nullptr, 0);
    rig.Script(Answer("/v", 200, "hello"));
    rig.Script(Answer("/", 200, "hello"));
    for (const auto& row : rows) {
        const Outcome o = Fetch(row.url, row.secure);
        EXPECT_EQ(1, o.calls) << row.url;
        EXPECT_EQ(5, o.value) << row.url;
        EXPECT_EQ("hello", o.content) << row.url;
        const std::vector<RigRequest> seen = rig.Requests();
        ASSERT_FALSE(seen.empty());
        const RigRequest& r = seen.back();
        EXPECT_EQ(row.path, r.path) << row.url;
        EXPECT_EQ(row.listener, r.listener) << row.url;
        EXPECT_EQ("GET", r.method) << row.url;
        EXPECT_EQ("HTTP/1.0", r.version) << row.url;
        EXPECT_EQ("OrvikMV", r.Header("User-Agent")) << row.url;
    }
    EXPECT_EQ(5u, rig.Requests().size());
}

TEST_F(UrlExchange, EachAnswerGivesItsResultAndOnlyWholeSuccessfulBodiesArrive)
{
    RigAnswer denied = Answer("/denied", 401, "login page");
    denied.headers.push_back("WWW-Authenticate: Basic realm=\"x\"");
    RigAnswer proxyDenied = Answer("/proxy-denied", 407, "proxy page");
    proxyDenied.headers.push_back("Proxy-Authenticate: Basic realm=\"x\"");
    RigAnswer silent = Answer("/silent", 200, "");
    silent.silent = true;
    // The body ends early without a read error: only its announced length tells.
    RigAnswer cut = Answer("/cut", 200, "");
    cut.generatedSize = 100000;
    cut.cutAfter = 5000;
    const struct {
        RigAnswer answer;  // no path: nothing scripted
        std::string url;
        int32_t value;
        const char* content;  // null: none delivered
    } rows[] = {
        {Answer("/missing", 404, "<html>not here</html>"), Https("/missing"), 21, "<html>not here</html>"},
        {Answer("/broken", 500, "oops"), Https("/broken"), 4, "oops"},
        {Answer("/empty", 200, ""), Https("/empty"), 0, nullptr},
        {denied, Https("/denied"), 401, nullptr},
        {proxyDenied, Https("/proxy-denied"), 407, nullptr},
        {silent, Https("/silent"), ERROR_HTTP_INVALID_SERVER_RESPONSE, nullptr},
        {cut, Http("/cut"), ERROR_INTERNET_CONNECTION_RESET, nullptr},
        // Nothing listens on this loopback address.
        {RigAnswer(), "http://127.83.4.250/x", ERROR_INTERNET_CANNOT_CONNECT, nullptr},
        // The port is not parsed: "host:443" is looked up as a name, which no server has.
        {RigAnswer(), Https(":443/p"), ERROR_INTERNET_NAME_NOT_RESOLVED, nullptr},
    };
    MVUrlInit(nullptr, 0);
    for (const auto& row : rows) {
        if (!row.answer.path.empty()) rig.Script(row.answer);
        const Outcome o = Fetch(row.url, 0);
        EXPECT_EQ(row.value, o.value) << row.url;
        EXPECT_EQ(row.content == nullptr, o.contentNull) << row.url;
        if (row.content != nullptr) {
            EXPECT_EQ(row.content, o.content) << row.url;
        }
    }
}

TEST_F(UrlExchange, LargeBodyArrivesIntact)
{
    MVUrlInit(nullptr, 0);
    RigAnswer big = Answer("/big", 200, "");
    big.generatedSize = 5 * 1024 * 1024 + 17;
    rig.Script(big);
    Outcome o = Fetch(Https("/big"), 1);
    ASSERT_EQ(big.generatedSize, o.value);
    // The announced length sized one buffer up front, in whole 8 KB steps.
    EXPECT_EQ((big.generatedSize + 8191) / 8192 * 8192, o.capacity);
    for (size_t i = 0; i < o.content.size(); ++i) {
        ASSERT_EQ(static_cast<char>(i % 251), o.content[i]) << "at offset " << i;
    }
}

TEST_F(UrlExchange, UploadsArePostedWithTheTraceInfoAsBody)
{
    SetStoredText("UploadURL", Http("/report/upload.php"));
    MVUrlInit(nullptr, 0);
    rig.Script(Answer("/report/upload.php?a=1", 200, "ok"));
    EXPECT_EQ("ok", Fetch(Http("/report/upload.php?a=1&traceinfo=abc"), 0).content);
    Fetch(Http("/report/upload.php?a=1"), 0);
    const std::vector<RigRequest> seen = rig.RequestsTo("/report/upload.php?a=1");
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("POST", seen[0].method);
    EXPECT_EQ("abc", seen[0].body);
    EXPECT_EQ("3", seen[0].Header("Content-Length"));
    EXPECT_EQ("application/octet-stream", seen[0].Header("Content-Type"));
    EXPECT_EQ("POST", seen[1].method);
    EXPECT_EQ(0u, seen[1].bodyLength);

    // A stored URL too short to use leaves only the default endpoint uploading: a plain GET.
    MVUrlCleanup();
    SetStoredText("UploadURL", "http");
    MVUrlInit(nullptr, 0);
    rig.Script(Answer("/report/upload.php", 200, "x"));
    Fetch(Http("/report/upload.php&traceinfo=abc"), 0);
    const std::vector<RigRequest> plain = rig.Requests();
    ASSERT_EQ(3u, plain.size());
    EXPECT_EQ("GET", plain.back().method);
}

TEST_F(UrlExchange, ServerCredentialsAreSentAndRememberedAfterTheyVanish)
{
    SetStoredText("ServerAuthUserName", "agent");
    ScrambleOptions options;
    options.start = 200;
    SetStoredText("ServerAuthPassword", ScrambleHexText("pa55:word", options));
    MVUrlInit(nullptr, 0);
    RigAnswer guarded = Answer("/secret", 200, "granted");
    guarded.authUser = "agent";
    guarded.authPassword = "pa55:word";
    rig.Script(guarded);

    // WinInet keeps accepted credentials per host for the whole process: each step asks
    // a host name of its own, so only what the worker itself sends can pass.
    EXPECT_EQ("granted", Fetch("https://url-a.mvtest.invalid/secret", 1).content);
    ClearStoredSettings();
    EXPECT_EQ("granted", Fetch("https://url-b.mvtest.invalid/secret", 1).content);

    // A new thread run has nothing remembered.
    MVUrlCleanup();
    MVUrlInit(nullptr, 0);
    EXPECT_EQ(401, Fetch("https://url-c.mvtest.invalid/secret", 1).value);
    const std::vector<RigRequest> seen = rig.RequestsTo("/secret");
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const RigRequest& r) {
        return r.Header("Authorization") == "Basic YWdlbnQ6cGE1NTp3b3Jk";  // agent:pa55:word
    }));
}

TEST_F(UrlExchange, StoredProxyIsAppliedWithItsCredentialsAndBypassList)
{
    SetStoredNumber("MVProxyEnable", 1);
    SetStoredText("MVProxyServer", env.ProxyServer());
    SetStoredText("MVProxyBypass", "url-direct.mvtest.invalid");
    SetStoredText("ProxyUserName", "puser");
    SetStoredText("ProxyPassword", ScrambleHexText("ppass"));
    ASSERT_TRUE(rig.RequireProxyAuth("puser", "ppass"));
    MVUrlInit(nullptr, 0);
    rig.Script(Answer("/via", 200, "proxied"));

    // Plain HTTP goes to the proxy as an absolute URI, with the stored proxy credentials.
    EXPECT_EQ("proxied", Fetch("http://origin.mvtest.invalid/via", 0).content);
    const std::vector<RigRequest> via = rig.RequestsTo("/via");
    EXPECT_TRUE(std::any_of(via.begin(), via.end(), [](const RigRequest& r) {
        return r.listener == "proxy" && r.Header("Proxy-Authorization") == "Basic cHVzZXI6cHBhc3M=";  // puser:ppass
    }));

    // A host on the bypass list is reached directly.
    rig.Script(Answer("/direct", 200, "direct"));
    EXPECT_EQ("direct", Fetch("http://url-direct.mvtest.invalid/direct", 0).content);
    const std::vector<RigRequest> direct = rig.RequestsTo("/direct");
    ASSERT_EQ(1u, direct.size());
    EXPECT_EQ("http", direct[0].listener);
}

TEST_F(UrlExchange, CertificateNameAndDatesAreCheckedUnlessTheOperatorRelaxesThem)
{
    rig.Script(Answer("/cert", 200, "ok"));
    ASSERT_FALSE(env.wrongNameHost.empty());
    // Strict rows first: an accepted connection may be kept and reused by WinInet.
    const struct {
        const char* setting;  // REG_SZ text, or null for none
        DWORD number;         // REG_DWORD when no text is given and this is not 0xFFFFFFFF
        bool relaxed;
    } rows[] = {
        {nullptr, 0xFFFFFFFF, false}, {"0", 0, false}, {"yes", 0, false}, {nullptr, 2, false},
        {"1", 0, true},               {nullptr, 1, true},
    };
    for (const auto& row : rows) {
        ClearStoredSettings();
        if (row.setting != nullptr) {
            SetStoredText("MVRelaxedTls", row.setting);
        } else if (row.number != 0xFFFFFFFF) {
            SetStoredNumber("MVRelaxedTls", row.number);
        }
        MVUrlInit(nullptr, 0);
        const Outcome wrongName = Fetch("https://" + env.wrongNameHost + "/cert", 1);
        const Outcome expired = Fetch("https://" + env.expiredHost + "/cert", 1);
        MVUrlCleanup();
        const std::string which = row.setting ? row.setting : "number " + std::to_string(row.number);
        if (row.relaxed) {
            EXPECT_EQ("ok", wrongName.content) << which;
            EXPECT_EQ("ok", expired.content) << which;
        } else {
            EXPECT_EQ(ERROR_INTERNET_SEC_CERT_CN_INVALID, wrongName.value) << which;
            EXPECT_EQ(ERROR_INTERNET_SEC_CERT_DATE_INVALID, expired.value) << which;
        }
    }
}

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
        RigAnswer a = Answer(row.path, 200, "");
        a.generatedSize = row.size;
        a.noLength = row.noLength;
        rig.Script(a);
        const Outcome o = Fetch(Https(row.path), 1);
        if (row.fits) {
            EXPECT_EQ(static_cast<int32_t>(row.size), o.value) << row.path;
            EXPECT_EQ(static_cast<size_t>(row.size), o.content.size()) << row.path;
        } else {
            EXPECT_EQ(MVURL_RESULT_TOO_LARGE, o.value) << row.path;
            EXPECT_TRUE(o.contentNull) << row.path;
        }
    }
    MVUrlSetBodyLimit(kDefaultBodyLimit);
}

TEST_F(UrlExchange, CancelledRequestsAreNeverDeliveredAndQueuedOnesNeverConnect)
{
    MVUrlInit(nullptr, 0);
    RigAnswer held = Answer("/slow", 200, "late");
    held.hold = true;
    rig.Script(held);
    rig.Script(Answer("/queued", 200, "queued"));
    rig.Script(Answer("/next", 200, "next"));
    CUrlRequest* slow = Submit(Https("/slow"), 1);
    ASSERT_EQ(1, rig.WaitForRequests(1, "/slow"));
    CUrlRequest* queued = Submit(Https("/queued"), 1);
    MVUrlCancel(queued);
    MVUrlCancel(slow);
    rig.Release();
    // One worker serves the queue in order: once the next request is delivered, the
    // cancelled ones have been handed back, and they must have been dropped.
    CUrlRequest* next = Submit(Https("/next"), 1);
    TickUntil([&] { return g_outcomes.count(next) != 0; });
    EXPECT_EQ(0u, g_outcomes.count(slow));
    EXPECT_EQ(0u, g_outcomes.count(queued));
    EXPECT_TRUE(rig.RequestsTo("/queued").empty());
}

TEST_F(UrlExchange, SilentServerFailsTheRequestWithinTheExchangeTimeOuts)
{
    MVUrlInit(nullptr, 0);
    RigAnswer held = Answer("/silent-for-good", 200, "never");
    held.hold = true;
    rig.Script(held);
    const DWORD started = GetTickCount();
    Outcome o = Fetch(Https("/silent-for-good"), 1);
    const DWORD elapsed = GetTickCount() - started;
    // A receive time-out; the emulator reports it as an aborted connection.
    EXPECT_TRUE(o.value == ERROR_INTERNET_TIMEOUT || o.value == ERROR_INTERNET_CONNECTION_ABORTED) << o.value;
    EXPECT_TRUE(o.contentNull);
    // The receive time-out is 20 s; the application gives up on its own after 30 s.
    EXPECT_LT(elapsed, 30000u) << "the request failed only after " << elapsed << " ms";
}

TEST_F(UrlExchange, CleanupWithASilentServerReturnsInTimeAndTheModuleWorksAgain)
{
    MVUrlInit(nullptr, 0);
    RigAnswer held = Answer("/held", 200, "x");
    held.hold = true;
    rig.Script(held);
    rig.Script(Answer("/after", 200, "after"));
    Submit(Https("/held"), 1);
    ASSERT_EQ(1, rig.WaitForRequests(1, "/held"));
    Submit(Https("/after"), 1);
    Submit(Https("/after"), 1);
    // The server holds its answer for good: cleanup must give up on the blocked worker.
    const DWORD started = GetTickCount();
    MVUrlCleanup();
    const DWORD elapsed = GetTickCount() - started;
    EXPECT_LT(elapsed, 8000u) << "cleanup took " << elapsed << " ms";
    MVUrlDispatch();
    EXPECT_TRUE(g_outcomes.empty());
    EXPECT_TRUE(rig.RequestsTo("/after").empty()) << "queued requests were started after the stop";

    CUrlRequest* out = nullptr;
    EXPECT_EQ(MVURL_E_NO_WORKER, MVUrlRequestW(L"https://x/", 1, Record, &out));

    MVUrlInit(nullptr, 0);
    EXPECT_EQ("after", Fetch(Https("/after"), 1).content);
}

TEST_F(UrlExchange, CreationCodes)
{
    CUrlRequest* out = nullptr;
    MVUrlInit(nullptr, 0);
    EXPECT_EQ(MVURL_E_ARGUMENT, MVUrlRequestW(nullptr, 1, Record, &out));
    EXPECT_EQ(MVURL_E_ARGUMENT, MVUrlRequestW(L"https://x/", 1, Record, nullptr));
    // A URL whose UTF-8 form does not fit is refused, not sent cut.
    std::wstring huge = L"https://x/" + std::wstring(kMaxUrlUtf8, L'a');
    EXPECT_EQ(MVURL_E_ARGUMENT, MVUrlRequestW(huge.c_str(), 1, Record, &out));
    std::wstring longest = L"https://x/" + std::wstring(kMaxUrlUtf8 - 1 - 10, L'a');
    EXPECT_EQ(MVURL_OK, MVUrlRequestW(longest.c_str(), 1, Record, &out));
    MVUrlCancel(out);
}

// The threads of this process now; a snapshot that fails fails the test, and its count
// passes no bound.
size_t ThreadCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "no thread snapshot: error " << GetLastError();
        return SIZE_MAX;
    }
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    size_t count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

// The handles this process has open. Where the system does not count them (the emulator
// answers 0), every slot of the handle table up to a generous limit is asked instead.
DWORD HandleCount()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
    constexpr uintptr_t kSlotLimit = 0x10000;
    for (uintptr_t slot = 4; slot < kSlotLimit; slot += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(slot), &flags)) ++count;
    }
    return count;
}

TEST_F(UrlExchange, RepeatedInitRequestCleanupCyclesLeaveNoThreadsOrHandlesBehind)
{
    rig.Script(Answer("/cycle", 200, "again"));
    auto cycle = [&] {
        MVUrlInit(nullptr, 0);
        EXPECT_EQ("again", Fetch(Https("/cycle"), 1).content);
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
    for (int i = 0; i < kCycles; ++i) cycle();
    // A thread WinInet ends on its own may still be on its way out: give it the chance.
    for (int i = 0; i < 200 && (ThreadCount() > threads || HandleCount() > handles); ++i) Sleep(50);
    EXPECT_LE(ThreadCount(), threads) << "threads after warm-up " << threads << ", after " << kCycles << " cycles";
    EXPECT_LE(HandleCount(), handles) << "handles after warm-up " << handles << ", after " << kCycles << " cycles";
    EXPECT_EQ(static_cast<size_t>(2 + kCycles), rig.RequestsTo("/cycle").size());
}

}  // namespace
