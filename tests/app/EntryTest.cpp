// The entry: command line, hidden window, window procedure, the whole run and its final
// launch. The programs it starts are stand-ins beside this test program that record their
// start in launches.log; the version server is the test server of this program's rig.
#include "app/CMVAgtApp.h"
#include "app/Entry.h"
#include "app/EntryGlobals.h"
#include "tests/app/LaunchLog.h"
#include "tests/support/Rig.h"
#include "util/ConfigStore.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

const wchar_t kGeneralKey[] = L"SOFTWARE\\Orvik\\Config\\MV\\General";
// From the message to the end of the run: the teardown gives a URL worker left inside WinInet
// 4 s, the launch waits at most 2 s for the started program (about 4.1 s seen in all); 2 s spare
// for a loaded machine. Unanswered, the held request would end the run only after its 20 s
// receive time-out and the 10 s idle limit after it.
constexpr ULONGLONG kEndAfterMessageMs = 8000;

HWND WaitForHiddenWindow()
{
    HWND hwnd = nullptr;
    for (int i = 0; i < 3000 && hwnd == nullptr; ++i) {
        hwnd = FindWindowW(kHiddenWindowClass, kHiddenWindowTitle);
        if (hwnd == nullptr)
            Sleep(10);
    }
    return hwnd;
}

class EntryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
        DeleteFileW((ProgramDir() + L"\\launches.log").c_str());
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey); }
};

// Whether the test server saw a request whose path starts with prefix, within 30 s.
bool WaitForRequest(Rig& rig, const std::string& prefix)
{
    for (int i = 0; i < 300; ++i) {
        for (const RigRecord& r : rig.Requests()) {
            if (r.Get("path").compare(0, prefix.size(), prefix) == 0)
                return true;
        }
        Sleep(100);
    }
    return false;
}

TEST(IsCheckModeCommandLine, OnlyTheWholeOptionInAnyCase)
{
    for (const wchar_t* yes : {L"/check", L"/CHECK", L"/ChEcK"})
        EXPECT_TRUE(IsCheckModeCommandLine(yes)) << yes;
    for (const wchar_t* no : {L"/check ", L"/check /x", L" /check", L""})
        EXPECT_FALSE(IsCheckModeCommandLine(no)) << no;
    EXPECT_FALSE(IsCheckModeCommandLine(nullptr));
}

// Which command lines ask for check mode is the test above.
TEST_F(EntryTest, WithoutServerTheConfigurationProgramRunsThenTheAgentOrTheController)
{
    const struct {
        const wchar_t* cmdLine;
        const char* program;
        const char* args;
    } rows[] = {{L"", "ksagtctl.exe", "/start2"}, {L"/CHECK", "mvagtx.exe", ""}};
    size_t expected = 0;
    for (const auto& row : rows) {
        RunUpdater(GetModuleHandleW(nullptr), row.cmdLine, 0);
        expected += 2;
        const std::vector<std::string> lines = WaitForLaunches(expected);
        ASSERT_EQ(expected, lines.size());
        EXPECT_TRUE(Names(lines[expected - 2], "mvcfg.exe", "")) << lines[expected - 2];
        EXPECT_TRUE(Names(lines.back(), row.program, row.args)) << lines.back();
        EXPECT_EQ(nullptr, g_pAgtApp);
        EXPECT_EQ(nullptr, FindWindowW(kHiddenWindowClass, kHiddenWindowTitle))
            << "window not destroyed";
    }
}

TEST_F(EntryTest, AShutdownQueryOrACloseFromOutsideEndsTheRunInOrderAtOnce)
{
    // The server holds its answer for good: only the message can end the run soon.
    Rig rig;
    CfgSetString(L"General", L"SURL", std::wstring(rig.host.begin(), rig.host.end()).c_str());
    const std::string versionPath = "/" + rig.host.substr(0, rig.host.find('.')) + "/";
    const struct {
        UINT message;
        LRESULT answer;  // a shutdown query lets the session go on
        const wchar_t* cmdLine;
        const char* program;
        const char* args;
    } rows[] = {{WM_QUERYENDSESSION, TRUE, L"", "ksagtctl.exe", "/start2"},
                {WM_CLOSE, 0, L"/check", "mvagtx.exe", ""}};
    size_t expected = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message);
        // A reset also frees the worker the previous row left inside WinInet.
        ASSERT_TRUE(rig.Command("POST /reset")) << rig.error;
        ASSERT_TRUE(rig.Script("prefix: " + versionPath + "\nhold: 1")) << rig.error;
        std::thread run([&] { RunUpdater(GetModuleHandleW(nullptr), row.cmdLine, 0); });
        HWND hwnd = WaitForHiddenWindow();
        EXPECT_NE(nullptr, hwnd);
        EXPECT_TRUE(WaitForRequest(rig, versionPath)) << "the version request never came";
        const ULONGLONG sent = GetTickCount64();
        if (hwnd != nullptr) {
            EXPECT_FALSE(IsWindowVisible(hwnd));
            EXPECT_EQ(row.answer, SendMessageW(hwnd, row.message, 0, 0));
        }
        run.join();
        const ULONGLONG took = GetTickCount64() - sent;
        std::printf("the run ended %llu ms after the message\n", took);
        EXPECT_LT(took, kEndAfterMessageMs);
        const std::vector<std::string> lines = WaitForLaunches(++expected);
        ASSERT_EQ(expected, lines.size());
        EXPECT_TRUE(Names(lines.back(), row.program, row.args)) << lines.back();
    }
    EXPECT_TRUE(rig.Command("POST /reset")) << rig.error;
}

}  // namespace
