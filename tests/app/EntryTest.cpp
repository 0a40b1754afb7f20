// The entry: command line, hidden window, window procedure, the whole run and its final
// launch. The programs it starts are stand-ins beside this test program that record their
// start in launches.log.
#include "app/CMVAgtApp.h"
#include "app/Entry.h"
#include "app/EntryGlobals.h"
#include "app/TickSource.h"
#include "util/ConfigStore.h"
#include "util/ModulePath.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

const wchar_t kGeneralKey[] = L"SOFTWARE\\Orvik\\Config\\MV\\General";

std::wstring LaunchLogPath()
{
    wchar_t dir[MAX_PATH];
    GetModuleDir(nullptr, dir, MAX_PATH, 0);
    return std::wstring(dir) + L"\\launches.log";
}

std::vector<std::string> LaunchLines()
{
    std::vector<std::string> lines;
    FILE* f = _wfopen(LaunchLogPath().c_str(), L"rb");
    if (f == nullptr) return lines;
    std::string text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof(buf), f)) > 0;) text.append(buf, n);
    fclose(f);
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// Waits until the log holds count lines; the shell starts programs without waiting.
std::vector<std::string> WaitForLaunches(size_t count)
{
    for (int i = 0; i < 2000 && LaunchLines().size() < count; ++i) Sleep(10);
    return LaunchLines();
}

bool Names(const std::string& line, const std::string& program, const std::string& args)
{
    return line.find(" " + program + " args=\"" + args + "\"") != std::string::npos;
}

HWND WaitForHiddenWindow()
{
    HWND hwnd = nullptr;
    for (int i = 0; i < 3000 && hwnd == nullptr; ++i) {
        hwnd = FindWindowW(kHiddenWindowClass, kHiddenWindowTitle);
        if (hwnd == nullptr) Sleep(10);
    }
    return hwnd;
}

class EntryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
        DeleteFileW(LaunchLogPath().c_str());
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey); }
};

TEST(IsCheckModeCommandLine, OnlyTheWholeOptionInAnyCase)
{
    EXPECT_TRUE(IsCheckModeCommandLine(L"/check"));
    EXPECT_TRUE(IsCheckModeCommandLine(L"/CHECK"));
    EXPECT_TRUE(IsCheckModeCommandLine(L"/ChEcK"));
    EXPECT_FALSE(IsCheckModeCommandLine(L"/check "));
    EXPECT_FALSE(IsCheckModeCommandLine(L"/check /x"));
    EXPECT_FALSE(IsCheckModeCommandLine(L" /check"));
    EXPECT_FALSE(IsCheckModeCommandLine(L""));
    EXPECT_FALSE(IsCheckModeCommandLine(nullptr));
}

TEST_F(EntryTest, WithoutServerTheConfigurationProgramRunsThenTheController)
{
    RunUpdater(GetModuleHandleW(nullptr), L"", 0);
    const std::vector<std::string> lines = WaitForLaunches(2);
    ASSERT_EQ(2u, lines.size());
    EXPECT_TRUE(Names(lines[0], "mvcfg.exe", "")) << lines[0];
    EXPECT_TRUE(Names(lines[1], "ksagtctl.exe", "/start2")) << lines[1];
    EXPECT_EQ(nullptr, g_pAgtApp);
    EXPECT_EQ(nullptr, FindWindowW(kHiddenWindowClass, kHiddenWindowTitle)) << "window not destroyed";
}

TEST_F(EntryTest, CheckModeLaunchesTheAgentOtherOptionsTheController)
{
    const struct {
        const wchar_t* cmdLine;
        const char* program;
        const char* args;
    } cases[] = {{L"/CHECK", "mvagtx.exe", ""}, {L"/check ", "ksagtctl.exe", "/start2"}, {L"/other", "ksagtctl.exe", "/start2"}};
    size_t expected = 0;
    for (const auto& c : cases) {
        RunUpdater(GetModuleHandleW(nullptr), c.cmdLine, 0);
        expected += 2;  // the configuration program, then the final launch
        const std::vector<std::string> lines = WaitForLaunches(expected);
        ASSERT_EQ(expected, lines.size());
        EXPECT_TRUE(Names(lines.back(), c.program, c.args)) << lines.back();
    }
}

TEST_F(EntryTest, HiddenWindowIsInvisibleAndAShutdownQueryEndsTheRun)
{
    // A server nobody answers keeps the run going until the query ends it.
    CfgSetString(L"General", L"SURL", L"nobody.mvtest.invalid");
    std::thread run([] { RunUpdater(GetModuleHandleW(nullptr), L"", 0); });
    HWND hwnd = WaitForHiddenWindow();
    ASSERT_NE(nullptr, hwnd);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    EXPECT_EQ(static_cast<LONG_PTR>(WS_POPUPWINDOW), style & static_cast<LONG_PTR>(WS_POPUPWINDOW));
    EXPECT_EQ(0, style & WS_VISIBLE);
    RECT rect;
    GetWindowRect(hwnd, &rect);
    EXPECT_EQ(0, rect.right - rect.left);

    // A log-off query changes nothing; a shutdown query ends the run (and may go on).
    SendMessageW(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    EXPECT_NE(nullptr, FindWindowW(kHiddenWindowClass, kHiddenWindowTitle));
    EXPECT_TRUE(SendMessageW(hwnd, WM_QUERYENDSESSION, 0, 0));
    run.join();
    const std::vector<std::string> lines = WaitForLaunches(1);
    ASSERT_EQ(1u, lines.size());
    EXPECT_TRUE(Names(lines[0], "ksagtctl.exe", "/start2")) << lines[0];
}

TEST_F(EntryTest, ClosingTheWindowFromOutsideEndsTheRunInOrder)
{
    CfgSetString(L"General", L"SURL", L"nobody.mvtest.invalid");
    std::thread run([] { RunUpdater(GetModuleHandleW(nullptr), L"/check", 0); });
    HWND hwnd = WaitForHiddenWindow();
    ASSERT_NE(nullptr, hwnd);
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    run.join();
    const std::vector<std::string> lines = WaitForLaunches(1);
    ASSERT_EQ(1u, lines.size());
    EXPECT_TRUE(Names(lines[0], "mvagtx.exe", "")) << lines[0];
}

TEST_F(EntryTest, EndSessionExitsAtOnceWithoutLaunching)
{
    CfgSetString(L"General", L"SURL", L"nobody.mvtest.invalid");
    EXPECT_EXIT(
        {
            std::thread([] {
                HWND hwnd = WaitForHiddenWindow();
                // wParam FALSE: the session goes on, but the program ends all the same.
                PostMessageW(hwnd, WM_ENDSESSION, FALSE, 0);
            }).detach();
            RunUpdater(GetModuleHandleW(nullptr), L"", 0);
        },
        ::testing::ExitedWithCode(0), "");
    Sleep(500);
    EXPECT_TRUE(LaunchLines().empty());
}

DWORD g_now = 0;
DWORD ManualTicks()
{
    return g_now;
}

TEST(HiddenWndProc, AnyTimerTicksAndQueriesFollowTheirCondition)
{
    g_hInstance = GetModuleHandleW(nullptr);
    SetAppTickSource(ManualTicks);
    g_now = 1000000;
    CMVAgtApp app;
    g_pAgtApp = &app;
    HWND hwnd = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);

    app.SetStatus(STATUS_IDLE);
    g_now += 10001;
    HiddenWndProc(hwnd, WM_TIMER, 7, 0);  // not the program's own timer id: ticks all the same
    EXPECT_EQ(STATUS_QUIT, app.GetStatus());

    app.SetStatus(STATUS_DOWNLOADING);
    HiddenWndProc(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    EXPECT_EQ(STATUS_DOWNLOADING, app.GetStatus());
    EXPECT_EQ(DefWindowProcW(hwnd, WM_QUERYENDSESSION, 0, 0), HiddenWndProc(hwnd, WM_QUERYENDSESSION, 0, 0));
    EXPECT_EQ(STATUS_QUIT, app.GetStatus());

    g_pAgtApp = nullptr;
    HiddenWndProc(hwnd, WM_TIMER, 100, 0);  // no application: nothing to tick
    DestroyWindow(hwnd);
    SetAppTickSource(nullptr);
}

}  // namespace
