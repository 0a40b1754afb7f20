// Both trace library stand-ins lie beside this program: the records must arrive in their logs.
#include "tests/trace/CTraceLevelScope.h"
#include "tests/trace/StandinLogReader.h"
#include "trace/CTraceLibrary.h"
#include "trace/CTraceSecrets.h"
#include "trace/TraceModules.h"
#include "trace/TraceText.h"
#include "util/Utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

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
    texts.erase(texts.begin(),
                texts.begin() + static_cast<std::ptrdiff_t>(std::min(skip, texts.size())));
    return texts;
}

// The library formats with the Windows C runtime's rules, so the wide text and the arguments
// must reach it as such across the library boundary.
TEST(LeveledChannel, RecordsArriveAsTheLibraryFormatsThem)
{
    ASSERT_NE(nullptr, g_pfnOVKTRACERAW);
    EXPECT_NE(nullptr, g_pfnOVKDumptoFile);
    const size_t before = OwnLogTexts(kOvkLog).size();
    const wchar_t* text = L"Initializing Agent-App... Gr\u00f6\u00dfe \u2713 \u65e5\u672c 100%d";
    {
        CTraceLevelScope level(0);
        EXPECT_EQ(static_cast<int>(std::wstring(text).size()), TraceText(-1, text));
    }
    {
        // Written whatever the threshold.
        CTraceLevelScope level(INT_MIN);
        EXPECT_EQ(27, TraceCategory2(L"%s has %d parts, %hs", L"\u00dcnic\u00f6de", 3, "narrow"));
        EXPECT_EQ(-1, TraceCategory2(nullptr));
    }
    EXPECT_EQ(8, g_pfnOVKTRACERAW(4, L"raw %s %"));
    EXPECT_EQ((std::vector<std::string>{"cat=2 " + Utf8(text),
                                        "cat=2 " + Utf8(L"\u00dcnic\u00f6de has 3 parts, narrow"),
                                        "cat=4 raw %s %"}),
              NewTexts(kOvkLog, before));
}

TEST(ModuleChannel, ProgramModulesRegisterOnceInOrderWithTheirLevelMaps)
{
    EXPECT_TRUE(GetMVTraceModule().Load()) << "loading again keeps the one registration";
    const std::vector<std::string> texts = OwnLogTexts(kKsLog);
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ("KSBASE registered: 0 Information, 1 Error", texts[0]);
    EXPECT_EQ("MV registered: 0 Function (off), 1 Information, 2 Error", texts[1]);
    EXPECT_EQ(1, std::count(texts.begin(), texts.end(), texts[1]));
}

TEST(ModuleChannel, RecordsArriveUnderTheirModuleAndLevelName)
{
    const size_t before = OwnLogTexts(kKsLog).size();
    TraceMV(MV_TRACE_INFORMATION, "Create CUrlRequest object 0x1a2b0");
    GetMVTraceModule().Trace(MV_TRACE_ERROR, "InternetConnect failed, error 12029");
    TraceMV(MV_TRACE_FUNCTION, "function level is off in the map");
    GetKSBaseTraceModule().Trace(KSBASE_TRACE_ERROR, "base error");
    EXPECT_EQ((std::vector<std::string>{"MV Information: Create CUrlRequest object 0x1a2b0",
                                        "MV Error: InternetConnect failed, error 12029",
                                        "KSBASE Error: base error"}),
              NewTexts(kKsLog, before));
}

// A known secret reaches neither library, whichever channel, argument or form (UTF-16 or
// UTF-8) brings it: the token given as UTF-16, a password as UTF-8.
TEST(Secrets, KnownValuesAreMaskedOnBothChannels)
{
    CTraceSecrets::Instance().Add(L"t0k\u00e9n-w1de");
    CTraceSecrets::Instance().Add("pr0xy-pa55");
    const size_t ovkBefore = OwnLogTexts(kOvkLog).size();
    const size_t ksBefore = OwnLogTexts(kKsLog).size();
    {
        CTraceLevelScope level(0);
        TraceText(-1, L"<E>&amp;TK=t0k\u00e9n-w1de</E><Note>t0k\u00e9n-w1de</Note>");
        TraceCategory2(L"%hs|%s|pr0xy-pa5", "pr0xy-pa55", L"xpr0xy-pa55pr0xy-pa55");
    }
    TraceMV(MV_TRACE_ERROR, "page: t0k\xc3\xa9n-w1de, pr0xy-pa55.");
    EXPECT_EQ((std::vector<std::string>{"cat=2 <E>&amp;TK=********</E><Note>********</Note>",
                                        "cat=2 ********|x****************|pr0xy-pa5"}),
              NewTexts(kOvkLog, ovkBefore));
    EXPECT_EQ((std::vector<std::string>{"MV Error: page: ********, ********."}),
              NewTexts(kKsLog, ksBefore));
}

}  // namespace
