// Both trace library stand-ins lie beside this program: the records must arrive in their logs.
#include "tests/trace/CTraceLevelScope.h"
#include "tests/trace/StandinLogReader.h"
#include "trace/CMVFuncTrace.h"
#include "trace/CTraceLibrary.h"
#include "trace/CTraceMsgBuf.h"
#include "trace/TraceModules.h"
#include "trace/TraceText.h"
#include "util/Utf8.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

using ::testing::Contains;

namespace {

const wchar_t kOvkLog[] = L"ovktrace.log";
const wchar_t kKsLog[] = L"kstrac32.log";

std::string Utf8(const wchar_t* text)
{
    char buffer[1024];
    return WideToUtf8(text, buffer, sizeof(buffer)) > 0 ? std::string(buffer) : std::string();
}

// The texts this process wrote to the log after the first `skip` of them.
std::vector<std::string> NewTexts(const wchar_t* log, size_t skip)
{
    std::vector<std::string> texts = OwnLogTexts(log);
    texts.erase(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(
                                                   std::min(skip, texts.size())));
    return texts;
}

TEST(LeveledChannel, LibraryAndItsThreeExportsAreBound)
{
    EXPECT_NE(nullptr, g_hOvkTraceModule);
    EXPECT_NE(nullptr, g_pfnOVKTRACE);
    EXPECT_NE(nullptr, g_pfnOVKTRACERAW);
    EXPECT_NE(nullptr, g_pfnOVKDumptoFile);
}

TEST(LeveledChannel, WideTextArrivesAsOneUtf8LineWithProcessAndThread)
{
    CTraceLevelScope level(3);
    const wchar_t* text = L"Initializing Agent-App... Gr\u00f6\u00dfe \u2713 \u65e5\u672c";
    EXPECT_EQ(static_cast<int>(std::wstring(text).size()), TraceText(-1, text));

    const std::vector<StandinLogLine> lines = ReadStandinLog(kOvkLog);
    const auto found = std::find_if(lines.begin(), lines.end(), [&](const StandinLogLine& l) {
        return l.text == "cat=2 " + Utf8(text);
    });
    ASSERT_NE(lines.end(), found) << "record not in the log";
    EXPECT_EQ(GetCurrentProcessId(), found->pid);
    EXPECT_EQ(GetCurrentThreadId(), found->tid);

    TraceText(-1, L"line\r\nbreaks\nstay on one line");
    EXPECT_THAT(OwnLogTexts(kOvkLog), Contains("cat=2 line  breaks stay on one line"));
}

TEST(LeveledChannel, ThresholdDecidesWhatReachesTheLog)
{
    const size_t before = OwnLogTexts(kOvkLog).size();
    {
        CTraceLevelScope level(3);
        EXPECT_EQ(-1, TraceText(6, L"threshold 3 level 6"));
        EXPECT_NE(-1, TraceText(0, L"threshold 3 level 0"));
        EXPECT_NE(-1, TraceText(-1, L"threshold 3 level -1"));
    }
    {
        CTraceLevelScope level(0);
        EXPECT_EQ(-1, TraceText(0, L"threshold 0 level 0"));
        EXPECT_NE(-1, TraceText(-1, L"threshold 0 level -1"));
    }
    {
        CTraceLevelScope level(-1);
        EXPECT_EQ(-1, TraceText(-1, L"threshold -1 level -1"));
    }
    EXPECT_EQ((std::vector<std::string>{"cat=2 threshold 3 level 0", "cat=2 threshold 3 level -1",
                                        "cat=2 threshold 0 level -1"}),
              NewTexts(kOvkLog, before));
}

TEST(LeveledChannel, FunctionRecordsAreWrittenWhileTheThresholdIsAboveSix)
{
    const size_t before = OwnLogTexts(kOvkLog).size();
    {
        CTraceLevelScope level(7);
        CMVFuncTrace trace(L"CMVAgtApp::Run");
    }
    {
        CTraceLevelScope level(3);
        CMVFuncTrace trace(L"CMVAgtApp::Initialize");
    }
    EXPECT_EQ((std::vector<std::string>{"cat=2 Enter CMVAgtApp::Run",
                                        "cat=2 Leave CMVAgtApp::Run"}),
              NewTexts(kOvkLog, before));
}

TEST(LeveledChannel, LibraryFormatsABareWideStringArgument)
{
    const size_t before = OwnLogTexts(kOvkLog).size();
    TraceCategory2(L"%s has %d parts, %hs", L"\u00dcnic\u00f6de", 3, "narrow");
    EXPECT_EQ((std::vector<std::string>{"cat=2 " + Utf8(L"\u00dcnic\u00f6de has 3 parts, narrow")}),
              NewTexts(kOvkLog, before));
}

TEST(LeveledChannel, RawAndDumpExportsOfTheStandin)
{
    const size_t before = OwnLogTexts(kOvkLog).size();
    EXPECT_EQ(8, g_pfnOVKTRACERAW(4, L"raw %s %"));
    EXPECT_EQ((std::vector<std::string>{"cat=4 raw %s %"}), NewTexts(kOvkLog, before));

    wchar_t tempDir[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, tempDir));
    const std::wstring copy = std::wstring(tempDir) + L"mvu-ovktrace-dump.log";
    DeleteFileW(copy.c_str());
    EXPECT_EQ(0, g_pfnOVKDumptoFile(copy.c_str()));
    EXPECT_TRUE(FileExists(copy));
    DeleteFileW(copy.c_str());
    EXPECT_EQ(-1, g_pfnOVKDumptoFile(L"Z:\\no\\such\\dir\\x.log"));
}

TEST(ModuleChannel, ProgramModulesRegisterInOrderWithTheirLevelMaps)
{
    EXPECT_TRUE(GetKSBaseTraceModule().IsLoaded());
    EXPECT_TRUE(GetMVTraceModule().IsLoaded());
    // Loading again keeps the one registration.
    EXPECT_TRUE(GetMVTraceModule().Load());

    const std::vector<std::string> texts = OwnLogTexts(kKsLog);
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ("KSBASE registered: 0 Information, 1 Error", texts[0]);
    EXPECT_EQ("MV registered: 0 Function (off), 1 Information, 2 Error", texts[1]);
    EXPECT_EQ(1, std::count(texts.begin(), texts.end(), texts[1]));
}

TEST(ModuleChannel, RecordsArriveUnderTheirModuleAndLevelName)
{
    const size_t before = OwnLogTexts(kKsLog).size();
    char buffer[TRACE_MSG_BUF_SIZE];
    {
        CTraceMsgBuf msg(buffer, sizeof(buffer));
        msg.AppendText("Create CUrlRequest object ")
            .AppendPointer(reinterpret_cast<const void*>(uintptr_t{107184}));
        TraceMV(MV_TRACE_INFORMATION, msg.Text());
    }
    {
        CTraceMsgBuf msg(buffer, sizeof(buffer));
        msg.AppendText("InternetConnect failed, error ").AppendUnsigned(12029);
        msg.AppendText(" at file ..\\mvurl\\mvurl, line ").AppendSigned(301);
        GetMVTraceModule().Trace(MV_TRACE_ERROR, msg.Text());
    }
    TraceMV(MV_TRACE_FUNCTION, "function level is off in the map");
    TraceMV(9, "a level the map lacks");
    GetKSBaseTraceModule().Trace(KSBASE_TRACE_ERROR, "base error");

    EXPECT_EQ((std::vector<std::string>{
                  "MV Information: Create CUrlRequest object 0x1a2b0",
                  "MV Error: InternetConnect failed, error 12029 at file ..\\mvurl\\mvurl, "
                  "line 301",
                  "MV level 9: a level the map lacks", "KSBASE Error: base error"}),
              NewTexts(kKsLog, before));
}

TEST(BothChannels, ConcurrentRecordsAllArriveWhole)
{
    CTraceLevelScope level(3);
    constexpr int kThreads = 4;
    constexpr int kRecords = 50;
    const size_t ovkBefore = OwnLogTexts(kOvkLog).size();
    const size_t ksBefore = OwnLogTexts(kKsLog).size();

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kRecords; ++i) {
                const std::wstring wide = L"thread " + std::to_wstring(t) + L" record " +
                                          std::to_wstring(i) + L" " + std::wstring(100, L'w');
                TraceText(0, wide.c_str());
                const std::string narrow = "thread " + std::to_string(t) + " record " +
                                           std::to_string(i) + " " + std::string(100, 'n');
                TraceMV(MV_TRACE_INFORMATION, narrow.c_str());
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    const std::vector<std::string> wide = NewTexts(kOvkLog, ovkBefore);
    const std::vector<std::string> narrow = NewTexts(kKsLog, ksBefore);
    ASSERT_EQ(static_cast<size_t>(kThreads * kRecords), wide.size());
    ASSERT_EQ(static_cast<size_t>(kThreads * kRecords), narrow.size());
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kRecords; ++i) {
            const std::string tail = "thread " + std::to_string(t) + " record " + std::to_string(i);
            EXPECT_THAT(wide, Contains("cat=2 " + tail + " " + std::string(100, 'w')));
            EXPECT_THAT(narrow, Contains("MV Information: " + tail + " " + std::string(100, 'n')));
        }
    }
    for (const wchar_t* log : {kOvkLog, kKsLog}) {
        for (const StandinLogLine& line : ReadStandinLog(log)) {
            EXPECT_TRUE(line.wellFormed) << line.raw;
        }
    }
}

}  // namespace
