#include "trace/CMVFuncTrace.h"

#include "tests/trace/COvkTraceRecorder.h"
#include "tests/trace/CTraceLevelScope.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Function records are of level 6: written only while the threshold is above it. How the
// threshold filters every level is TraceTextTest's table.
TEST(CMVFuncTrace, WritesEnterThenLeaveWhateverWayTheScopeIsLeft)
{
    std::wstring longName = L"CLong::";
    while (longName.size() < 300)
        longName += static_cast<wchar_t>(L'a' + longName.size() % 26);
    // Function records are cut to 255 characters in all, prefix included.
    constexpr size_t kRecordLimit = 255;
    struct Row {
        const char* name;
        int32_t threshold;
        const wchar_t* function;
        bool throws;
        std::vector<std::wstring> expected;
    };
    const Row rows[] = {
        {"enter and leave",
         7,
         L"CMVAgtApp::Run",
         false,
         {L"Enter CMVAgtApp::Run", L"Leave CMVAgtApp::Run"}},
        {"filtered at threshold 6", 6, L"CMVAgtApp::Run", false, {}},
        {"left by an exception",
         7,
         L"CMVAgtApp::OnUrlReturn",
         true,
         {L"Enter CMVAgtApp::OnUrlReturn", L"Leave CMVAgtApp::OnUrlReturn"}},
        {"null name: only the bare exit record", 7, nullptr, false, {L"Leave "}},
        {"long name cut",
         7,
         longName.c_str(),
         false,
         {(L"Enter " + longName).substr(0, kRecordLimit),
          (L"Leave " + longName).substr(0, kRecordLimit)}},
    };
    for (const Row& row : rows) {
        COvkTraceRecorder recorder;
        CTraceLevelScope level(row.threshold);
        try {
            CMVFuncTrace trace(row.function);
            EXPECT_EQ(row.expected.size() == 2 ? 1u : 0u, recorder.Calls().size())
                << row.name << ": entry record at once";
            if (row.throws)
                throw std::runtime_error("leaving early");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(row.expected, recorder.Texts()) << row.name;
    }
}

}  // namespace
