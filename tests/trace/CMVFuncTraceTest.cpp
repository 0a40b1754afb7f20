#include "trace/CMVFuncTrace.h"

#include "tests/trace/COvkTraceRecorder.h"
#include "tests/trace/CTraceLevelScope.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

TEST(CMVFuncTrace, WritesEnterThenLeaveWithTheSameName)
{
    COvkTraceRecorder recorder;
    CTraceLevelScope level(7);
    {
        CMVFuncTrace trace(L"CMVAgtApp::Run");
        EXPECT_THAT(recorder.Texts(), ElementsAre(L"Enter CMVAgtApp::Run"));
    }
    EXPECT_THAT(recorder.Texts(), ElementsAre(L"Enter CMVAgtApp::Run", L"Leave CMVAgtApp::Run"));
    for (const OvkTraceCall& call : recorder.Calls()) {
        EXPECT_EQ(2u, call.categoryBits);
        EXPECT_EQ(L"%s", call.format);
    }
}

TEST(CMVFuncTrace, RecordsAreOfLevelSix)
{
    COvkTraceRecorder recorder;
    {
        CTraceLevelScope level(6);
        CMVFuncTrace trace(L"CMVAgtApp::Initialize");
    }
    EXPECT_THAT(recorder.Texts(), IsEmpty());
    {
        CTraceLevelScope level(3);
        CMVFuncTrace trace(L"CMVAgtApp::Initialize");
    }
    EXPECT_THAT(recorder.Texts(), IsEmpty());
}

TEST(CMVFuncTrace, ExitRecordIsWrittenWhenAnExceptionLeaves)
{
    COvkTraceRecorder recorder;
    CTraceLevelScope level(7);
    try {
        CMVFuncTrace trace(L"CMVAgtApp::OnUrlReturn");
        throw std::runtime_error("leaving early");
    } catch (const std::runtime_error&) {
    }
    EXPECT_THAT(recorder.Texts(),
                ElementsAre(L"Enter CMVAgtApp::OnUrlReturn", L"Leave CMVAgtApp::OnUrlReturn"));
}

TEST(CMVFuncTrace, NullNameWritesOnlyTheBareExitRecord)
{
    COvkTraceRecorder recorder;
    CTraceLevelScope level(7);
    { CMVFuncTrace trace(nullptr); }
    EXPECT_THAT(recorder.Texts(), ElementsAre(L"Leave "));
}

TEST(CMVFuncTrace, LongNamesAreCutTo255CharactersInAll)
{
    COvkTraceRecorder recorder;
    CTraceLevelScope level(7);
    std::wstring name = L"CLong::";
    while (name.size() < 300) name += static_cast<wchar_t>(L'a' + name.size() % 26);
    { CMVFuncTrace trace(name.c_str()); }

    ASSERT_EQ(2u, recorder.Calls().size());
    EXPECT_EQ(L"Enter " + name.substr(0, 249), recorder.Calls()[0].text);
    EXPECT_EQ(L"Leave " + name.substr(0, 249), recorder.Calls()[1].text);
    EXPECT_EQ(255u, recorder.Calls()[1].text.size());
}

}  // namespace
