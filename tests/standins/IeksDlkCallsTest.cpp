// What the library answers without downloading: the integrity of installed files, the record
// of the calls it received, the extension it loads for the program to find.
#include "tests/standins/CDlkLibraryTestBase.h"

#include <gmock/gmock.h>

namespace {

using ::testing::ElementsAre;

using IeksDlkCallsTest = CDlkLibraryTestBase;

TEST_F(IeksDlkCallsTest, AnswersWhetherInstalledFilesAreIntact)
{
    const std::string a = "contents of a";
    const std::string b = "contents of b";
    const std::string ini = WriteIni({"[ZEInstall]", FileLine("a.bin", a, "E"), FileLine("mvagtx.exe", b)});
    const char* section = "ZEInstall";

    EXPECT_EQ(lib.integrity(ini.c_str(), section), 0);
    EXPECT_EQ(lib.integrity2(ini.c_str(), section, "mvagtx.exe"), 0);

    CreateDirectoryW(CaseDir(L"E").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(Installed("a.bin", L"E"), a));
    EXPECT_EQ(lib.integrity(ini.c_str(), section), 0) << "one file is still missing";
    EXPECT_NE(lib.integrity2(ini.c_str(), section, "a.bin"), 0);

    ASSERT_TRUE(WriteBytes(Installed("mvagtx.exe"), b));
    EXPECT_NE(lib.integrity(ini.c_str(), "zeinstall"), 0);
    EXPECT_NE(lib.integrity2(ini.c_str(), section, "MVAGTX.EXE"), 0);

    // Same size, one byte changed; then one byte more.
    ASSERT_TRUE(WriteBytes(Installed("mvagtx.exe"), "contents of c"));
    EXPECT_EQ(lib.integrity(ini.c_str(), section), 0);
    EXPECT_EQ(lib.integrity2(ini.c_str(), section, "mvagtx.exe"), 0);
    EXPECT_NE(lib.integrity2(ini.c_str(), section, "a.bin"), 0);
    ASSERT_TRUE(WriteBytes(Installed("mvagtx.exe"), b + " "));
    EXPECT_EQ(lib.integrity2(ini.c_str(), section, "mvagtx.exe"), 0);

    EXPECT_EQ(lib.integrity2(ini.c_str(), section, "other.exe"), 0);
    EXPECT_EQ(lib.integrity2(ini.c_str(), "Other", "a.bin"), 0);
    EXPECT_EQ(lib.integrity(Utf8(CaseDir(L"absent.php")).c_str(), section), 0);
    EXPECT_EQ(lib.integrity2(ini.c_str(), section, nullptr), 0);
    EXPECT_EQ(lib.integrity(nullptr, section), 0);

    // An empty section holds nothing that could be intact.
    const std::string empty = WriteIni({"[ZEInstall]"}, "\r\n", L"empty.php");
    EXPECT_EQ(lib.integrity(empty.c_str(), section), 0);
}

TEST_F(IeksDlkCallsTest, RecordsEveryCallVerbatim)
{
    const std::string ini = WriteIni({"[ZEInstall]"});
    lib.setParameter(DLK_PARAM_PROGRESS_BAR_TITLE, "TXZVcGRhdGU=");
    lib.setParameter(DLK_PARAM_LOCAL_SETTING, "OQ==");
    lib.setParameter(DLK_PARAM_SUPPORT_DELTA, "");
    lib.setParameter(DLK_PARAM_MOVING_IN_SUBDIR, DLK_MOVING_IN_SUBDIR_VALUE);
    lib.setParameter("Odd \"name\"", nullptr);
    lib.integrity2(ini.c_str(), "ZEInstall", "mvagtx.exe");
    Download(ini);
    recorder.WaitForSectionDone();
    lib.exit();

    const std::string quotedIni = "\"" + ini + "\"";
    EXPECT_THAT(
        ReadStandinLines(L"ieksdlk.record"),
        ElementsAre("DlkInitStdDownload urlRoot=\"" + Root() +
                        "\" unpackVersion=\"7.1\" extVersion=\"7.2\" vendor=\"Orvik\" build=\"319\"",
                    "DlkSetStdParameter name=\"DlkProgressBarTitle\" value=\"TXZVcGRhdGU=\"",
                    "DlkSetStdParameter name=\"DlkLocalSetting\" value=\"OQ==\"",
                    "DlkSetStdParameter name=\"SupportDelta\" value=\"\"",
                    "DlkSetStdParameter name=\"DlkMovingInSubdir\" value=\"Wanta\"",
                    "DlkSetStdParameter name=\"Odd \"\"name\"\"\" value=null",
                    "DlkStdGetSectionIntegrity2 iniPath=" + quotedIni +
                        " section=\"ZEInstall\" fileName=\"mvagtx.exe\"",
                    "DlkStdDownload iniPath=" + quotedIni + " section=\"ZEInstall\" notify=set userData=" +
                        std::to_string(recorder.UserData()),
                    "DlkExitStdDownload"));
}

TEST_F(IeksDlkCallsTest, LoadsItsExtensionForTheProgramToFind)
{
    // Initialised by the fixture: the extension is loaded from the library's directory.
    HMODULE extension = GetModuleHandleW(DLKEXT_DLL_NAME);
    ASSERT_NE(extension, nullptr);
    const auto odeConfig = reinterpret_cast<PFN_DlkOdeConfig>(
        reinterpret_cast<void*>(GetProcAddress(extension, DLKEXT_EXPORT_ODE_CONFIG)));
    ASSERT_NE(odeConfig, nullptr);
    EXPECT_EQ(odeConfig(0, 1, 0), 1);
    EXPECT_THAT(ReadStandinLines(L"ksdlkext.record"), ElementsAre("DlkOdeConfig 0 1 0"));

    // Initialising again keeps the one reference; the exit lets it go.
    Init(Root());
    lib.exit();
    EXPECT_EQ(GetModuleHandleW(DLKEXT_DLL_NAME), nullptr);
}

}  // namespace
