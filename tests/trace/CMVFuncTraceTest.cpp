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
    // written: "Enter " and "Leave " with the name expected (a null name: only "Leave "), else no
    // record at all.
    struct Row {
        const char* name;
        int32_t threshold;
        const wchar_t* function;
        bool throws;
        bool written;
    };
    const Row rows[] = {
        {"enter and leave", 7, L"CMVAgtApp::Run", false, true},
        {"filtered at threshold 6", 6, L"CMVAgtApp::Run", false, false},
        {"left by an exception", 7, L"CMVAgtApp::OnUrlReturn", true, true},
        {"long name cut", 7, longName.c_str(), false, true},
        {"null name", 7, nullptr, false, true},
    };
    for (const Row& row : rows) {
        COvkTraceRecorder recorder;
        CTraceLevelScope level(row.threshold);
        try {
            CMVFuncTrace trace(row.function);
            EXPECT_EQ(row.written && row.function ? 1u : 0u, recorder.Calls().size())
                << row.name << ": entry record at once";
            if (row.throws)
                throw std::runtime_error("leaving early");
        } catch (const std::runtime_error&) {
        }
        std::vector<std::wstring> expected;
        const std::wstring name = row.function != nullptr ? row.function : L"";
        if (row.written && row.function != nullptr)
            expected.push_back((L"Enter " + name).substr(0, kRecordLimit));
        if (row.written)
            expected.push_back((L"Leave " + name).substr(0, kRecordLimit));
        EXPECT_EQ(expected, recorder.Texts()) << row.name;
    }
}

}  // namespace
