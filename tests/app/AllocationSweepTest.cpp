// Every allocation of a whole update run may fail: the run still ends in its final launch,
// without a crash, leaves no private folder behind, and no secret reaches a trace record. The
// Nth allocation of a run fails, for N = 1, 2, ..., until a run against the test server
// completes with no allocation failed. The run has everything that brings secrets along: an
// access token, server credentials, stored proxy credentials, a version answer signed by the
// machine's update key that comes through two redirects, and release notes that carry all three
// secrets back into the traced answer and INI.
#include "app/Entry.h"
#include "app/TickSource.h"
#include "standins/scrambler/Scrambler.h"
#include "tests/app/LaunchLog.h"
#include "tests/support/FailingAllocation.h"
#include "tests/support/Rig.h"
#include "util/ConfigStore.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const wchar_t kGeneralKey[] = L"SOFTWARE\\Orvik\\Config\\MV\\General";
const char kAgent[] = "sweep agent\n";
constexpr long kMostRuns = 1000;
const char kOtherHost[] = "sweep-b.mvtest.invalid";
// Where the release's INI and files are: a server the server credentials never go to.
const char kFilesHost[] = "sweep-files.mvtest.invalid";
const char kProxyUser[] = "sweep-proxy-user";
const char kServerUser[] = "sweep-server-user";

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// The private folders of runs left in the temporary directory.
std::vector<std::wstring> RunFolders()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((std::wstring(temp) + L"mvu-*").c_str(), &data);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data))
        found.push_back(data.cFileName);
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    return found;
}

std::wstring InstalledAgent()
{
    return ProgramDir() + L"\\..\\..\\MV\\bin\\mvagtx.exe";
}

// The application's clock runs 20 times faster than the machine's, so that the runs that end by
// a time-out (10 s in status 0, 30 s for an answer) take a fraction of that.
DWORD FastTicks()
{
    static const DWORD start = GetTickCount();
    return start + (GetTickCount() - start) * 20;
}

// The "key: value" lines the publishing step (sweep_site.py) left for this run, read through
// the drive that maps the host's root.
std::map<std::string, std::string> PublishedRelease()
{
    std::string path = "Z:" + Rig::Env("MVU_SWEEP_RELEASE");
    std::replace(path.begin(), path.end(), '/', '\\');
    std::map<std::string, std::string> values;
    std::ifstream file(path.c_str());
    for (std::string line; std::getline(file, line);) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos)
            values[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return values;
}

// A log the trace library stand-ins append beside this program, read on from where the last
// read stopped (records of earlier programs are never read).
class TraceLog {
public:
    explicit TraceLog(const wchar_t* name) : m_path(ProgramDir() + L"\\" + name)
    {
        m_offset = Read(0).size();
    }

    // The whole lines appended since the last call.
    std::string Next()
    {
        const std::string text = Read(m_offset);
        const size_t end = text.rfind('\n');
        if (end == std::string::npos)
            return "";
        m_offset += end + 1;
        return text.substr(0, end + 1);
    }

private:
    std::string Read(size_t from) const
    {
        std::ifstream file(m_path.c_str(), std::ios::binary);
        file.seekg(static_cast<std::streamoff>(from));
        return std::string((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    }

    std::wstring m_path;
    size_t m_offset = 0;
};

// The line of records that holds text, or empty.
std::string LineWith(const std::string& records, const std::string& text)
{
    const size_t at = records.find(text);
    if (at == std::string::npos)
        return "";
    const size_t start = records.rfind('\n', at);
    const size_t from = start == std::string::npos ? 0 : start + 1;
    return records.substr(from, records.find('\n', at) - from);
}

class AllocationSweep : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
        release = PublishedRelease();
        for (const char* name : {"update-key", "token", "proxy-password", "server-password"})
            ASSERT_FALSE(release[name].empty()) << name << " not published";
        secrets = {{"token", release["token"]},
                   {"proxy password", release["proxy-password"]},
                   {"server password", release["server-password"]}};
        Store("SURL", rig.host);
        Store("RTN", ScrambleHexText(release["token"]));
        Store("MVUpdateKey", release["update-key"]);
        Store("ServerAuthUserName", kServerUser);
        Store("ServerAuthPassword", ScrambleHexText(release["server-password"]));
        // The proxy's credentials join the secrets table at every run of the worker, used or not.
        // No proxy is enabled: Wine's WinInet frees fields of the process-wide proxy setting that
        // it never initialised whenever that setting is replaced or the library unloaded, which
        // this program's many runs do at every run, and its heap breaks within a few sweeps.
        Store("ProxyUserName", kProxyUser);
        Store("ProxyPassword", ScrambleHexText(release["proxy-password"]));
        // Every record, function records included.
        Store("TraceLevel", "7");
        ScriptServer();
        SetAppTickSource(FastTicks);
    }
    void TearDown() override
    {
        SetAppTickSource(nullptr);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
    }

    static void Store(const char* name, const std::string& text)
    {
        CfgSetString(L"General", Wide(name).c_str(), Wide(text).c_str());
    }

    // The first request needs the server credentials and is sent on to the other server, which
    // sends it on relative to itself: a hop that must never be resolved against the first. Every
    // answer closes its connection, so that each run connects afresh, as the one run of a process
    // does, rather than through a connection WinInet kept from an earlier run.
    void ScriptServer()
    {
        const std::string site = release["site"];
        const std::string folder = "/" + rig.host.substr(0, rig.host.find('.')) + "/";
        const std::string credentials = std::string(kServerUser) + ":" + release["server-password"];
        const std::string answers[] = {
            "prefix: " + folder + "\nauth: " + credentials +
                "\nstatus: 302\nheader: Location: https://" + kOtherHost + "/x",
            "path: /x\nstatus: 302\nheader: Location: /y",
            "path: /y\nbody-file: " + site + folder + "smt.php",
            "path: /rel/dlk.php\nbody-file: " + site + "/rel/dlk.php",
            "path: /rel/agent/mvagtx.exe\nbody-file: " + site + "/rel/agent/mvagtx.exe",
        };
        ASSERT_TRUE(rig.Command("POST /reset")) << rig.error;
        for (const std::string& answer : answers)
            ASSERT_TRUE(rig.Script(answer + "\nclose: 1")) << rig.error;
    }

    // What a run has left in either log since the last look.
    std::string NewRecords() { return ovktrace.Next() + kstrac32.Next(); }

    Rig rig;
    std::map<std::string, std::string> release;
    std::vector<std::pair<const char*, std::string>> secrets;
    TraceLog ovktrace{L"ovktrace.log"};
    TraceLog kstrac32{L"kstrac32.log"};
};

// Whether a request of the run that failed nothing reached the test server, and whether it
// carried server credentials.
void ExpectReached(const std::vector<RigRecord>& requests, const std::string& prefix,
                   bool credentials)
{
    SCOPED_TRACE(prefix);
    const auto found = std::find_if(requests.begin(), requests.end(), [&](const RigRecord& r) {
        return r.Get("path").compare(0, prefix.size(), prefix) == 0 && r.Get("status") != "401";
    });
    ASSERT_NE(requests.end(), found);
    EXPECT_EQ(credentials, !found->Header("Authorization").empty());
}

TEST_F(AllocationSweep, EveryFailingAllocationStillEndsInTheLaunchWithNoSecretTraced)
{
    const size_t launchesBefore = LaunchLines("ksagtctl.exe", "/start2").size();
    const DWORD started = GetTickCount();
    std::vector<RigRecord> requests;
    size_t requestsBefore = 0;
    std::string records;
    long n = 1;
    for (; n <= kMostRuns; ++n) {
        DeleteFileW(InstalledAgent().c_str());
        FailAllocation(n);
        RunUpdater(GetModuleHandleW(nullptr), L"", 0);
        const bool failedOne = AllocationFailed();
        FailAllocation(0);
        const size_t launches = launchesBefore + static_cast<size_t>(n);
        ASSERT_EQ(launches, WaitForLaunches(launches, "ksagtctl.exe", "/start2").size())
            << "no final launch when allocation " << n << " failed";
        ASSERT_EQ(std::vector<std::wstring>(), RunFolders())
            << "private folder left when allocation " << n << " failed";
        requests = rig.Requests();
        requests.erase(requests.begin(),
                       requests.begin() + static_cast<std::ptrdiff_t>(requestsBefore));
        requestsBefore += requests.size();
        for (const RigRecord& r : requests) {
            if (r.Get("path") == "/y") {
                ASSERT_EQ(kOtherHost, r.Header("Host"))
                    << "the relative redirect went to another server when allocation " << n
                    << " failed";
            }
        }
        records = NewRecords();
        for (const auto& secret : secrets) {
            ASSERT_EQ("", LineWith(records, secret.second))
                << "the " << secret.first << " was traced when allocation " << n << " failed";
        }
        if (!failedOne)
            break;
    }
    std::printf("allocation sweep: %ld runs, the last one with no allocation failed, in %lu s\n", n,
                (GetTickCount() - started) / 1000);
    ASSERT_LE(n, kMostRuns) << "the sweep did not reach a run without a failure";
    // The run that failed nothing really updated, with the server credentials where they belong
    // and the signed answer; and its trace brought the secrets back through the table, masked.
    std::ifstream agent(InstalledAgent().c_str(), std::ios::binary);
    const std::string installed((std::istreambuf_iterator<char>(agent)),
                                std::istreambuf_iterator<char>());
    EXPECT_EQ(kAgent, installed);
    ExpectReached(requests, "/" + rig.host.substr(0, rig.host.find('.')) + "/", true);
    ExpectReached(requests, "/y", false);
    ExpectReached(requests, "/rel/dlk.php", false);
    EXPECT_NE("", LineWith(records, "Update answer signature verified with key 1."));
    EXPECT_NE("", LineWith(records, "notes for ******** ******** ********"));
}

}  // namespace
