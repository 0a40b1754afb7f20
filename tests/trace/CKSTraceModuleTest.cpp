// The module channel in a program without KSTRAC32.DLL beside it.
#include "trace/CKSTraceModule.h"

#include "trace/TraceModules.h"

#include <gtest/gtest.h>

namespace {

const TRACE_MAP_ENTRY kLevels[] = {{0, "Information", 1}, {0, nullptr, 0}};

TEST(CKSTraceModuleWithoutLibrary, ProgramModulesExistButStayUnloaded)
{
    ASSERT_EQ(nullptr, LoadLibraryW(L"KSTRAC32.DLL")) << "a module trace library was found";
    EXPECT_STREQ("KSBASE", GetKSBaseTraceModule().GetName());
    EXPECT_STREQ("MV", GetMVTraceModule().GetName());
    EXPECT_FALSE(GetKSBaseTraceModule().IsLoaded());
    EXPECT_FALSE(GetMVTraceModule().IsLoaded());
}

TEST(CKSTraceModuleWithoutLibrary, LoadFailsAndRecordsAreDropped)
{
    CKSTraceModule module("TEST", kLevels, 1, 2);
    EXPECT_FALSE(module.IsLoaded());
    EXPECT_FALSE(module.Load());
    module.Trace(0, "dropped");
    module.Trace(0, nullptr);
    TraceMV(MV_TRACE_ERROR, "dropped as well");
    EXPECT_FALSE(module.IsLoaded());
}

}  // namespace
