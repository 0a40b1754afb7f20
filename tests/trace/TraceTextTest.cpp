#include "trace/TraceText.h"

#include "tests/trace/COvkTraceRecorder.h"
#include "tests/trace/CTraceLevelScope.h"
#include "trace/CTraceLibrary.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>

using ::testing::ElementsAre;

namespace {

// What passes for each level in use, one threshold at a time.
struct ThresholdCase {
    int32_t threshold;
    bool progressPasses;  // level -1
    bool detailPasses;    // level 0
    bool functionPasses;  // level 6
};

class TraceTextThreshold : public ::testing::TestWithParam<ThresholdCase> {};

// Levels and thresholds compare as signed numbers.
TEST_P(TraceTextThreshold, PassesOnlyLevelsBelowTheThreshold)
{
    const ThresholdCase& c = GetParam();
    COvkTraceRecorder recorder;
    CTraceLevelScope level(c.threshold);

    const int expectedIfPassed = COvkTraceRecorder::kAnswer;
    EXPECT_EQ(c.progressPasses ? expectedIfPassed : -1, TraceText(-1, L"progress"));
    EXPECT_EQ(c.detailPasses ? expectedIfPassed : -1, TraceText(0, L"detail"));
    EXPECT_EQ(c.functionPasses ? expectedIfPassed : -1, TraceText(6, L"function"));

    std::vector<std::wstring> expected;
    if (c.progressPasses) expected.push_back(L"progress");
    if (c.detailPasses) expected.push_back(L"detail");
    if (c.functionPasses) expected.push_back(L"function");
    EXPECT_EQ(expected, recorder.Texts()) << "threshold " << c.threshold;
}

INSTANTIATE_TEST_SUITE_P(LevelsInUse, TraceTextThreshold,
                         ::testing::Values(ThresholdCase{7, true, true, true},
                                           ThresholdCase{6, true, true, false},
                                           ThresholdCase{3, true, true, false},
                                           ThresholdCase{0, true, false, false},
                                           ThresholdCase{-1, false, false, false},
                                           ThresholdCase{INT_MIN, false, false, false}));

TEST(TraceText, CallsTheLibraryWithCategoryTwoAndTheTextAsAWideString)
{
    COvkTraceRecorder recorder;
    CTraceLevelScope level(3);
    // A text with format characters of its own goes through untouched.
    TraceText(-1, L"Set current directory to : C:\\100%d\\x");

    ASSERT_EQ(1u, recorder.Calls().size());
    const OvkTraceCall& call = recorder.Calls()[0];
    EXPECT_EQ(2u, call.categoryBits);
    EXPECT_EQ(0u, call.reserved1);
    EXPECT_EQ(0u, call.reserved2);
    EXPECT_EQ(L"%s", call.format);
    EXPECT_EQ(L"Set current directory to : C:\\100%d\\x", call.text);
}

TEST(TraceText, NullTextIsAnEmptyRecord)
{
    COvkTraceRecorder recorder;
    CTraceLevelScope level(7);
    EXPECT_EQ(COvkTraceRecorder::kAnswer, TraceText(0, nullptr));
    EXPECT_THAT(recorder.Texts(), ElementsAre(L""));
}

TEST(SetTraceLevel, StoresAndAnswersTheThreshold)
{
    CTraceLevelScope restore(7);
    EXPECT_EQ(3, SetTraceLevel(3));
    EXPECT_EQ(3, g_nTraceLevel.load());
    EXPECT_EQ(-5, SetTraceLevel(-5));
    EXPECT_EQ(-5, g_nTraceLevel.load());
}

TEST(TraceCategory2, PassesFormatAndArgumentsWhateverTheThreshold)
{
    COvkTraceRecorder recorder;
    CTraceLevelScope level(INT_MIN);
    EXPECT_EQ(COvkTraceRecorder::kAnswer,
              TraceCategory2(L"%s failed with %d after %hs", L"Download", -3, "retry"));

    ASSERT_EQ(1u, recorder.Calls().size());
    EXPECT_EQ(2u, recorder.Calls()[0].categoryBits);
    EXPECT_EQ(L"%s failed with %d after %hs", recorder.Calls()[0].format);
    EXPECT_EQ(L"Download failed with -3 after retry", recorder.Calls()[0].text);

    EXPECT_EQ(-1, TraceCategory2(nullptr));
    EXPECT_EQ(1u, recorder.Calls().size());
}

// This program has no ovktrace.dll beside it.
TEST(TraceTextWithoutLibrary, EveryCallAnswersMinusOne)
{
    ASSERT_EQ(nullptr, LoadLibraryW(L"ovktrace.dll")) << "a trace library was found";
    EXPECT_EQ(nullptr, g_hOvkTraceModule);
    EXPECT_EQ(nullptr, g_pfnOVKTRACE);
    EXPECT_EQ(nullptr, g_pfnOVKTRACERAW);
    EXPECT_EQ(nullptr, g_pfnOVKDumptoFile);

    CTraceLevelScope level(7);
    EXPECT_EQ(-1, TraceText(-1, L"progress"));
    EXPECT_EQ(-1, TraceText(0, L"detail"));
    EXPECT_EQ(-1, TraceText(6, L"function"));
    EXPECT_EQ(-1, TraceCategory2(L"%s", L"text"));
}

}  // namespace
