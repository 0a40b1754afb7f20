// Times whole-body fetches through the URL module, as the application makes them: submitted with
// MVUrlRequestW and delivered by MVUrlDispatch. Each URL given is fetched the given number of
// times; every fetch prints one line for bench/bench.py:
//   fetch <url> <bytes> <seconds> <cpu seconds>
// seconds run from the submission to the completion function's call (dispatch is polled every
// millisecond, so delivery adds at most about that); cpu seconds are the whole process's, worker
// thread and WinInet included, over the same span (Wine counts them in 10 ms ticks). Bodies must
// be the test server's generated pattern (byte i is i % 251): a fetch that fails or brings
// anything else ends the run with 1.
//
// With --wininet, the same exchange is made with WinInet alone, as the module's worker makes it
// (same flags, the same read size) and keeping the body the same way: read straight into one
// buffer of the announced length. That is the floor the module stands on. Those lines begin
// with "wininet". --read-size N sets the bytes asked of each read, for both (default: the
// module's own).
//
// Usage: mvurlbench.exe [--wininet] [--read-size N] <repetitions> <expected bytes> <url> [...]...
#include "mvurl/MVUrl.h"
#include "mvurl/UrlReadSize.h"
#include "standins/ieksdlk/CInternetHandle.h"

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr DWORD kFetchLimitMs = 10 * 60 * 1000;
constexpr uint32_t kPatternPeriod = 251;
// The worker's flags: TLS, reload, no cache write, keep-alive.
constexpr DWORD kRequestFlags = 0x84400000 | 0x00800000;
DWORD g_readSize = kDefaultUrlReadSize;

struct FetchOutcome {
    bool delivered = false;
    int32_t value = 0;
    bool intact = false;
    LARGE_INTEGER deliveredAt = {};
    double cpuAtDelivery = 0;
};

FetchOutcome g_outcome;

double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

double SecondsBetween(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

bool IsPattern(const uint8_t* content, uint32_t length)
{
    uint32_t expected = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if (content[i] != expected)
            return false;
        if (++expected == kPatternPeriod)
            expected = 0;
    }
    return true;
}

int32_t OnFetched(CUrlRequest*, int32_t value, const uint8_t* content)
{
    // The clocks stop first: checking the body is not part of the fetch.
    QueryPerformanceCounter(&g_outcome.deliveredAt);
    g_outcome.cpuAtDelivery = CpuSeconds();
    g_outcome.delivered = true;
    g_outcome.value = value;
    g_outcome.intact =
        value > 0 && content != nullptr && IsPattern(content, static_cast<uint32_t>(value));
    return 0;
}

// One fetch of url through the module; false, with the reason printed, when it fails or brings
// the wrong body.
bool FetchOnce(const std::string& url, long long expectedBytes)
{
    const std::wstring wideUrl(url.begin(), url.end());  // test server URLs are plain ASCII
    g_outcome = FetchOutcome();
    LARGE_INTEGER started;
    const double cpuBefore = CpuSeconds();
    QueryPerformanceCounter(&started);
    CUrlRequest* request = nullptr;
    const int32_t created = MVUrlRequestW(wideUrl.c_str(), 1, OnFetched, &request);
    if (created != MVURL_OK) {
        std::printf("error %s: request not created (%d)\n", url.c_str(), static_cast<int>(created));
        return false;
    }
    const DWORD deadline = GetTickCount() + kFetchLimitMs;
    while (!g_outcome.delivered && static_cast<LONG>(deadline - GetTickCount()) > 0) {
        MVUrlDispatch();
        if (!g_outcome.delivered)
            Sleep(1);
    }
    if (!g_outcome.delivered) {
        MVUrlCancel(request);
        std::printf("error %s: no answer within %lu s\n", url.c_str(), kFetchLimitMs / 1000);
        return false;
    }
    if (g_outcome.value != expectedBytes || !g_outcome.intact) {
        std::printf("error %s: got %d bytes%s, expected %lld bytes of the pattern\n", url.c_str(),
                    static_cast<int>(g_outcome.value), g_outcome.intact ? "" : " (not the pattern)",
                    expectedBytes);
        return false;
    }
    std::printf("fetch %s %lld %.6f %.6f\n", url.c_str(), expectedBytes,
                SecondsBetween(started, g_outcome.deliveredAt),
                g_outcome.cpuAtDelivery - cpuBefore);
    return true;
}

// The bytes of one exchange made the worker's way, kept as the worker keeps them; -1 on failure.
long long ExchangeKeeping(HINTERNET root, const std::string& url)
{
    const size_t hostStart = url.find("://") == std::string::npos ? 0 : url.find("://") + 3;
    const size_t slash = url.find('/', hostStart);
    const std::string host =
        url.substr(hostStart, slash == std::string::npos ? std::string::npos : slash - hostStart);
    const std::string object = slash == std::string::npos ? "/" : url.substr(slash);
    CInternetHandle connection(InternetConnectA(root, host.c_str(), INTERNET_DEFAULT_HTTPS_PORT,
                                                nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1));
    if (connection.Get() == nullptr)
        return -1;
    CInternetHandle request(HttpOpenRequestA(connection.Get(), "GET", object.c_str(), "HTTP/1.0",
                                             nullptr, nullptr, kRequestFlags, 1));
    if (request.Get() == nullptr)
        return -1;
    DWORD securityFlags = SECURITY_FLAG_IGNORE_REVOCATION;
    InternetSetOptionA(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &securityFlags,
                       sizeof(securityFlags));
    if (!HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0))
        return -1;
    DWORD announced = 0;
    DWORD length = sizeof(announced);
    if (!HttpQueryInfoA(request.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                        &announced, &length, nullptr)) {
        return -1;
    }
    std::unique_ptr<uint8_t[]> body(new (std::nothrow) uint8_t[announced + 1]);
    if (!body)
        return -1;
    DWORD total = 0;
    for (;;) {
        const DWORD ask = total < announced ? std::min(g_readSize, announced - total) : 1;
        DWORD read = 0;
        if (!InternetReadFile(request.Get(), body.get() + total, ask, &read))
            return -1;
        if (read == 0)
            return total;
        total += read;
        if (total > announced)
            return -1;
    }
}

bool FetchWinInetOnce(HINTERNET root, const std::string& url, long long expectedBytes)
{
    LARGE_INTEGER started, ended;
    const double cpuBefore = CpuSeconds();
    QueryPerformanceCounter(&started);
    const long long got = ExchangeKeeping(root, url);
    QueryPerformanceCounter(&ended);
    const double cpu = CpuSeconds() - cpuBefore;
    if (got != expectedBytes) {
        std::printf("error %s: WinInet alone got %lld bytes (error %lu), expected %lld\n",
                    url.c_str(), got, GetLastError(), expectedBytes);
        return false;
    }
    std::printf("wininet %s %lld %.6f %.6f\n", url.c_str(), expectedBytes,
                SecondsBetween(started, ended), cpu);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    int first = 1;
    const bool wininetAlone = argc > first && std::strcmp(argv[first], "--wininet") == 0;
    if (wininetAlone)
        ++first;
    if (argc > first + 1 && std::strcmp(argv[first], "--read-size") == 0) {
        g_readSize = static_cast<DWORD>(std::strtoul(argv[first + 1], nullptr, 10));
        g_nUrlReadSize = g_readSize;
        first += 2;
    }
    if (g_readSize == 0 || argc - first < 3 || (argc - first) % 3 != 0) {
        std::fprintf(stderr, "usage: mvurlbench.exe [--wininet] [--read-size N] <repetitions> "
                             "<expected bytes> <url> [...]\n");
        return 2;
    }
    CInternetHandle root(
        wininetAlone ? InternetOpenA("OrvikMV", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)
                     : nullptr);
    if (!wininetAlone)
        MVUrlInit(nullptr, 0);
    bool ok = !wininetAlone || root.Get() != nullptr;
    for (int i = first; ok && i + 2 < argc; i += 3) {
        const long repetitions = std::strtol(argv[i], nullptr, 10);
        const long long expectedBytes = std::strtoll(argv[i + 1], nullptr, 10);
        const std::string url = argv[i + 2];
        for (long r = 0; ok && r < repetitions; ++r) {
            ok = wininetAlone ? FetchWinInetOnce(root.Get(), url, expectedBytes)
                              : FetchOnce(url, expectedBytes);
            std::fflush(stdout);
        }
    }
    if (!wininetAlone)
        MVUrlCleanup();
    return ok ? 0 : 1;
}
