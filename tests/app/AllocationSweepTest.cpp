// Every allocation of a whole update run may fail: the run still ends in its final launch,
// without a crash, and leaves no private folder behind. The Nth allocation of a run fails, for
// N = 1, 2, ..., until a run against the test server completes with no allocation failed.
#include "app/Entry.h"
#include "app/TickSource.h"
#include "tests/app/LaunchLog.h"
#include "util/ConfigStore.h"
#include "tests/support/FailingAllocation.h"
#include "tests/support/Rig.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const wchar_t kGeneralKey[] = L"SOFTWARE\\Orvik\\Config\\MV\\General";
const char kAgent[] = "sweep agent\n";
const char kAgentSha256[] = "9fe7d380af6b3c0dc038bb7500a55d7891951e2e54dd37f7a780cd3e8b1b69c5";
constexpr long kMostRuns = 1000;
const char kOtherHost[] = "sweep-b.mvtest.invalid";

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

class AllocationSweep : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
        const std::string host = rig.host;
        CfgSetString(L"General", L"SURL", std::wstring(host.begin(), host.end()).c_str());
        ASSERT_TRUE(rig.Command("POST /reset")) << rig.error;
        const std::string root = "https://" + host + "/rel";
        // The version answer comes after two redirects: to the other server, and from there
        // relative to it, which must never be resolved against the first.
        ASSERT_TRUE(rig.Script("prefix: /" + host.substr(0, host.find('.')) +
                               "/\nstatus: 302\nheader: Location: https://" + kOtherHost + "/x"))
            << rig.error;
        ASSERT_TRUE(rig.Script("path: /x\nstatus: 302\nheader: Location: /y")) << rig.error;
        ASSERT_TRUE(
            rig.Script("path: /y", "<MVHostVersion><Status>SUCCESS</Status>"
                                   "<DlkProductVersion>7.2</DlkProductVersion>"
                                   "<DlkIniName>dlk.php</DlkIniName><DlkUrlRoot>" +
                                       root +
                                       "</DlkUrlRoot><DlkUnpackVersion>7.2</DlkUnpackVersion>"
                                       "<DlkExtVersion>7.2</DlkExtVersion><LID>9</LID>"
                                       "</MVHostVersion>"))
            << rig.error;
        std::ostringstream ini;
        ini << "[ZEInstall]\r\nfile=mvagtx.exe|agent/mvagtx.exe|" << sizeof(kAgent) - 1 << "|"
            << kAgentSha256 << "|MV\\bin\r\n";
        ASSERT_TRUE(rig.Script("path: /rel/dlk.php", ini.str())) << rig.error;
        ASSERT_TRUE(rig.Script("path: /rel/agent/mvagtx.exe", kAgent)) << rig.error;
        SetAppTickSource(FastTicks);
    }
    void TearDown() override
    {
        SetAppTickSource(nullptr);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
    }

    Rig rig;
};

TEST_F(AllocationSweep, EveryFailingAllocationStillEndsInTheLaunch)
{
    const size_t launchesBefore = LaunchLines("ksagtctl.exe", "/start2").size();
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
        for (const RigRecord& r : rig.Requests("/y")) {
            ASSERT_EQ(kOtherHost, r.Header("Host"))
                << "the relative redirect went to another server when allocation " << n
                << " failed";
        }
        if (!failedOne)
            break;
    }
    std::printf("allocation sweep: %ld runs, the last one with no allocation failed\n", n);
    ASSERT_LE(n, kMostRuns) << "the sweep did not reach a run without a failure";
    // The run that failed nothing really updated.
    std::ifstream agent(InstalledAgent().c_str(), std::ios::binary);
    const std::string installed((std::istreambuf_iterator<char>(agent)),
                                std::istreambuf_iterator<char>());
    EXPECT_EQ(kAgent, installed);
}

}  // namespace
