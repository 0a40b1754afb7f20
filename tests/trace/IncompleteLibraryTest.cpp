// A KSTRAC32.DLL without its trace export lies beside this program: every module must give
// it up again without registering with it.
#include "tests/trace/StandinLogReader.h"
#include "trace/CKSTraceModule.h"
#include "trace/TraceLibraryExports.h"
#include "trace/TraceModules.h"
#include "util/ProcAddress.h"

#include <gtest/gtest.h>

namespace {

const TRACE_MAP_ENTRY kLevels[] = {{1, "Information", 1}, {0, nullptr, 0}};

TEST(IncompleteModuleLibrary, ModulesGiveItUpWithoutRegistering)
{
    CKSTraceModule extra("EXTRA", kLevels);
    EXPECT_FALSE(extra.Load());
    EXPECT_FALSE(extra.IsLoaded() || GetKSBaseTraceModule().IsLoaded() ||
                 GetMVTraceModule().IsLoaded());
    EXPECT_EQ(nullptr, GetModuleHandleW(KSTRAC32_DLL_NAME)) << "left loaded";

    // The library does log every registration: a log holding only this one shows that none of
    // the modules registered.
    HMODULE library = LoadLibraryW(KSTRAC32_DLL_NAME);
    ASSERT_NE(nullptr, library) << "no library beside the program";
    EXPECT_EQ(nullptr, GetProcAddress(library, KSTRAC32_EXPORT_TRACE_STRING));
    const auto registerModule =
        GetProcAs<PFN_STRegisterModule>(library, KSTRAC32_EXPORT_REGISTER_MODULE);
    ASSERT_NE(nullptr, registerModule);
    registerModule("PROBE", kLevels);
    FreeLibrary(library);
    EXPECT_EQ(std::vector<std::string>{"PROBE registered: 1 Information"},
              OwnLogTexts(L"kstrac32.log"));
}

}  // namespace
