// A library with fewer entry points, as older installations have: the missing names are not
// found, and the others still work. Built once per variant, beside which it runs.
#include "app/DlkApi.h"
#include "tests/standins/CDlkTestLibrary.h"
#include "tests/standins/DlkTestFiles.h"

#include <gtest/gtest.h>

#ifndef DLK_VARIANT_HAS_INTEGRITY2
#error "DLK_VARIANT_HAS_INTEGRITY2 must be 0 or 1"
#endif
#ifndef DLK_VARIANT_HAS_DOWNLOAD2
#error "DLK_VARIANT_HAS_DOWNLOAD2 must be 0 or 1"
#endif

namespace {

TEST(IeksDlkVariantTest, LacksOnlyTheEntryPointsOfItsKind)
{
    CDlkTestLibrary lib;
    ASSERT_NE(lib.Module(), nullptr);
    EXPECT_NE(lib.init, nullptr);
    EXPECT_NE(lib.exit, nullptr);
    EXPECT_NE(lib.setParameter, nullptr);
    EXPECT_NE(lib.download, nullptr);
    EXPECT_NE(lib.integrity, nullptr);
    EXPECT_EQ(lib.integrity2 != nullptr, DLK_VARIANT_HAS_INTEGRITY2 == 1);
    EXPECT_EQ(lib.download2 != nullptr, DLK_VARIANT_HAS_DOWNLOAD2 == 1);
}

TEST(IeksDlkVariantTest, TheRemainingEntryPointsWork)
{
    CDlkTestLibrary lib;
    ASSERT_NE(lib.integrity, nullptr);
    const std::string body = "installed";
    ASSERT_TRUE(WriteBytes(BesideTest(L"variant.bin"), body));
    const std::wstring ini = BesideTest(L"variant.php");
    ASSERT_TRUE(WriteBytes(ini, "[ZEInstall]\r\r\nfile=variant.bin|variant.bin|" +
                                    std::to_string(body.size()) + "|" + Sha256Hex(body) + "|.\r\r\n"));
    EXPECT_NE(lib.integrity(Utf8(ini).c_str(), "ZEInstall"), 0);
    if (lib.integrity2 != nullptr) {
        EXPECT_NE(lib.integrity2(Utf8(ini).c_str(), "ZEInstall", "variant.bin"), 0);
    }
    EXPECT_EQ(lib.init("https://nowhere.invalid", "", "", DLK_VENDOR, DLK_BUILD), DLK_RESULT_OK);
    EXPECT_NE(GetModuleHandleW(DLKEXT_DLL_NAME), nullptr);
    EXPECT_EQ(lib.exit(), DLK_RESULT_OK);
}

}  // namespace
