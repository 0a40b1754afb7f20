// Binding of the download library two directories above the program, built twice: with the
// full stand-in there, and with one that lacks some entry points.
#include "app/DlkBinding.h"
#include "util/ModulePath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring LibraryPath()
{
    wchar_t dir[MAX_PATH];
    GetModuleDir(nullptr, dir, MAX_PATH, 2);
    return std::wstring(dir) + L"\\ieksdlk.dll";
}

class DlkBinding : public ::testing::Test {
protected:
    void TearDown() override { FreeDLKFunctions(); }
};

#ifdef MVU_PARTIAL_LIBRARY

TEST_F(DlkBinding, MissingEntryPointsStayUnresolved)
{
    ASSERT_TRUE(LoadDLKFunctions());
    EXPECT_NE(nullptr, GetModuleHandleW(LibraryPath().c_str()));
    EXPECT_TRUE(g_pfnDlkInitStdDownload && g_pfnDlkStdDownload && g_pfnDlkStdGetSectionIntegrity);
    // An older library: neither the single-file check nor the single-file download.
    EXPECT_EQ(nullptr, g_pfnDlkStdDownload2);
    EXPECT_EQ(nullptr, g_pfnDlkStdGetSectionIntegrity2);
}

#else

TEST_F(DlkBinding, LibraryTwoLevelsUpIsBoundAndReleased)
{
    ASSERT_TRUE(LoadDLKFunctions());
    EXPECT_NE(nullptr, GetModuleHandleW(LibraryPath().c_str()));
    EXPECT_TRUE(g_pfnDlkInitStdDownload && g_pfnDlkExitStdDownload && g_pfnDlkSetStdParameter &&
                g_pfnDlkStdDownload && g_pfnDlkStdDownload2 && g_pfnDlkStdGetSectionIntegrity &&
                g_pfnDlkStdGetSectionIntegrity2);
    EXPECT_TRUE(LoadDLKFunctions()) << "a second binding keeps the first";
    FreeDLKFunctions();
    EXPECT_EQ(nullptr, g_pfnDlkStdDownload);
    EXPECT_EQ(nullptr, GetModuleHandleW(L"ieksdlk.dll"))
        << "the library this code loaded is released";
}

TEST_F(DlkBinding, ExtensionIsTakenOnlyWhenTheLibraryLoadedIt)
{
    LoadKsdlkextFunctions();
    EXPECT_EQ(nullptr, g_pfnDLKOpcConfig);
    ASSERT_TRUE(LoadDLKFunctions());
    g_pfnDlkInitStdDownload("https://x.mvtest.invalid/r", "1", "1", "Orvik", "319");
    LoadKsdlkextFunctions();
    ASSERT_NE(nullptr, g_pfnDLKOpcConfig);
    EXPECT_NE(0, g_pfnDLKOpcConfig(0, 1, 0));
    g_pfnDlkExitStdDownload();
}

TEST_F(DlkBinding, ALibraryTheProcessHasIsUsedButNotReleased)
{
    HMODULE own = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(nullptr, own);
    ASSERT_TRUE(LoadDLKFunctions());
    FreeDLKFunctions();
    EXPECT_EQ(own, GetModuleHandleW(L"ieksdlk.dll"));
    FreeLibrary(own);
}

#endif

}  // namespace
