// The entry: command line, hidden window, window procedure, the whole run and its final
// launch. The programs it starts are stand-ins beside this test program that record their
// start in launches.log.
#include "app/CMVAgtApp.h"
#include "app/Entry.h"
#include "app/EntryGlobals.h"
#include "tests/app/LaunchLog.h"
#include "util/ConfigStore.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

const wchar_t kGeneralKey[] = L"SOFTWARE\\Orvik\\Config\\MV\\General";

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

TEST_F(EntryTest, AShutdownQueryOrACloseFromOutsideEndsTheRunInOrder)
{
    // A server nobody answers keeps the run going until the message ends it.
    CfgSetString(L"General", L"SURL", L"nobody.mvtest.invalid");
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
        std::thread run([&] { RunUpdater(GetModuleHandleW(nullptr), row.cmdLine, 0); });
        HWND hwnd = WaitForHiddenWindow();
        ASSERT_NE(nullptr, hwnd);
        EXPECT_FALSE(IsWindowVisible(hwnd));
        EXPECT_EQ(row.answer, SendMessageW(hwnd, row.message, 0, 0));
        run.join();
        const std::vector<std::string> lines = WaitForLaunches(++expected);
        ASSERT_EQ(expected, lines.size());
        EXPECT_TRUE(Names(lines.back(), row.program, row.args)) << lines.back();
    }
}

}  // namespace
