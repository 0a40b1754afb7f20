#include "trace/TraceText.h"

#include "tests/trace/COvkTraceRecorder.h"
#include "tests/trace/CTraceLevelScope.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

// Levels and thresholds compare as signed numbers: a record passes when its level is below.
// Whatever passes goes to the library under category 2 with the text as the one argument of
// "%s", so format characters of its own go through untouched.
TEST(TraceText, ThresholdPassesOnlyLevelsBelowItAsWideStringRecords)
{
    struct Row {
        int32_t threshold;
        bool progressPasses;  // level -1
        bool detailPasses;    // level 0
        bool functionPasses;  // level 6
    };
    const Row rows[] = {{7, true, true, true},     {6, true, true, false},
                        {3, true, true, false},    {0, true, false, false},
                        {-1, false, false, false}, {INT_MIN, false, false, false}};
    const wchar_t progress[] = L"Set current directory to : C:\\100%d\\x";
    for (const Row& row : rows) {
        COvkTraceRecorder recorder;
        CTraceLevelScope level(row.threshold);
        const int passed = COvkTraceRecorder::kAnswer;
        EXPECT_EQ(row.progressPasses ? passed : -1, TraceText(-1, progress))
            << "threshold " << row.threshold;
        EXPECT_EQ(row.detailPasses ? passed : -1, TraceText(0, L"detail"))
            << "threshold " << row.threshold;
        EXPECT_EQ(row.functionPasses ? passed : -1, TraceText(6, nullptr))
            << "threshold " << row.threshold;

        std::vector<std::wstring> expected;
        if (row.progressPasses)
            expected.push_back(progress);
        if (row.detailPasses)
            expected.push_back(L"detail");
        if (row.functionPasses)
            expected.push_back(L"");  // a null text is an empty record
        EXPECT_EQ(expected, recorder.Texts()) << "threshold " << row.threshold;
        for (const OvkTraceCall& call : recorder.Calls()) {
            EXPECT_EQ((std::vector<uint32_t>{2, 0, 0}),
                      (std::vector<uint32_t>{call.categoryBits, call.reserved1, call.reserved2}))
                << "threshold " << row.threshold;
            EXPECT_EQ(L"%s", call.format) << "threshold " << row.threshold;
        }
    }
}

}  // namespace
