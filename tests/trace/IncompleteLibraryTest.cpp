// A KSTRAC32.DLL without its trace export lies beside this program: every module must give
// it up again, and nothing may be registered with it.
#include "tests/trace/StandinLogReader.h"
#include "trace/CKSTraceModule.h"
#include "trace/TraceLibraryExports.h"
#include "trace/TraceModules.h"

#include <gtest/gtest.h>

namespace {

const TRACE_MAP_ENTRY kLevels[] = {{1, "Information", 1}, {0, nullptr, 0}};

TEST(IncompleteModuleLibrary, IsPresentButLacksTheTraceExport)
{
    ASSERT_TRUE(FileExists(BesideProgram(L"KSTRAC32.DLL")));
    HMODULE library = LoadLibraryW(KSTRAC32_DLL_NAME);
    ASSERT_NE(nullptr, library);
    EXPECT_NE(nullptr, GetProcAddress(library, KSTRAC32_EXPORT_REGISTER_MODULE));
    EXPECT_NE(nullptr, GetProcAddress(library, KSTRAC32_EXPORT_CLEANUP_CURRENT_PROCESS_ENTRY));
    EXPECT_EQ(nullptr, GetProcAddress(library, KSTRAC32_EXPORT_TRACE_STRING));
    FreeLibrary(library);
}

TEST(IncompleteModuleLibrary, ProgramModulesUnloadedIt)
{
    EXPECT_FALSE(GetKSBaseTraceModule().IsLoaded());
    EXPECT_FALSE(GetMVTraceModule().IsLoaded());
    EXPECT_EQ(nullptr, GetModuleHandleW(KSTRAC32_DLL_NAME));
}

TEST(IncompleteModuleLibrary, LoadRefusesItAndDropsRecords)
{
    CKSTraceModule module("EXTRA", kLevels);
    EXPECT_FALSE(module.Load());
    EXPECT_FALSE(module.IsLoaded());
    EXPECT_EQ(nullptr, GetModuleHandleW(KSTRAC32_DLL_NAME));
    module.Trace(1, "dropped");
    TraceMV(MV_TRACE_ERROR, "dropped as well");
}

TEST(IncompleteModuleLibrary, NothingWasRegistered)
{
    // The stand-in logs every registration; an incomplete library must never see one.
    EXPECT_FALSE(FileExists(BesideProgram(L"kstrac32.log")));
}

}  // namespace
