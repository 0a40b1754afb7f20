// The INI description: sections, "file=" lines, tolerated line ends, refused entries.
#include "standins/ieksdlk/CDlkIni.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kHash(64, 'a');
const std::string kUpperHash = "ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789";

std::string FileLine(const std::string& name, const std::string& target, const std::string& hash = kHash)
{
    return "file=" + name + "|pkg/" + name + "|12|" + hash + "|" + target;
}

std::string Join(const std::string& a, const std::string& b, const std::string& c,
                 const std::string& lineEnd)
{
    return a + lineEnd + b + lineEnd + c + lineEnd;
}

TEST(CDlkIniTest, ReadsEveryFieldOfAFileLine)
{
    CDlkIni ini;
    ini.Parse("[ZEInstall]\nfile = mvagtx.exe | agent/1.2/mvagtx.exe | 123456 | " + kUpperHash +
              " | E\\F\n");
    const CDlkIni::Section* section = ini.FindSection("ZEInstall");
    ASSERT_NE(section, nullptr);
    ASSERT_EQ(section->files.size(), 1u);
    const CDlkIni::FileEntry& entry = section->files[0];
    EXPECT_EQ(entry.name, "mvagtx.exe");
    EXPECT_EQ(entry.remotePath, "agent/1.2/mvagtx.exe");
    EXPECT_EQ(entry.size, 123456u);
    EXPECT_EQ(entry.sha256, "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789");
    EXPECT_EQ(entry.targetDir, "E\\F");
    EXPECT_EQ(entry.line, 2);
    EXPECT_EQ(section->badLine, 0);
}

TEST(CDlkIniTest, ToleratesTheLineEndsTheProgramWrites)
{
    for (const std::string lineEnd : {"\n", "\r\n", "\r\r\n"}) {
        CDlkIni ini;
        ini.Parse(Join("[A]", FileLine("one.exe", "x"), FileLine("two.dll", "y"), lineEnd));
        const CDlkIni::Section* section = ini.FindSection("A");
        ASSERT_NE(section, nullptr);
        ASSERT_EQ(section->files.size(), 2u);
        EXPECT_EQ(section->files[0].targetDir, "x");
        EXPECT_EQ(section->files[1].name, "two.dll");
        EXPECT_EQ(section->files[1].targetDir, "y");
        EXPECT_EQ(section->badLine, 0);
    }
}

TEST(CDlkIniTest, SkipsByteOrderMarkCommentsAndOtherKeys)
{
    CDlkIni ini;
    ini.Parse("\xEF\xBB\xBF[A]\n; a comment\n# another\nversion=1.2\n\n   \n" + FileLine("a.exe", "") +
              "\nfile=\n");
    const CDlkIni::Section* section = ini.FindSection("a");
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(section->files.size(), 1u);
    // An empty "file=" line is still a malformed entry of the section.
    EXPECT_EQ(section->badLine, 8);
}

TEST(CDlkIniTest, SectionsCompareWithoutCaseAndMerge)
{
    CDlkIni ini;
    ini.Parse("[ZEInstall]\n" + FileLine("a.exe", "") + "\n[Other]\n" + FileLine("b.exe", "") +
              "\n[zeinstall]\n" + FileLine("c.exe", "") + "\n");
    const CDlkIni::Section* section = ini.FindSection("ZEINSTALL");
    ASSERT_NE(section, nullptr);
    ASSERT_EQ(section->files.size(), 2u);
    EXPECT_EQ(section->files[1].name, "c.exe");
    EXPECT_EQ(CDlkIni::FilesNamed(*section, "C.EXE").size(), 1u);
    EXPECT_TRUE(CDlkIni::FilesNamed(*section, "c").empty());
    EXPECT_EQ(ini.FindSection("Missing"), nullptr);
    // Lines before any section belong to none.
    CDlkIni early;
    early.Parse(FileLine("a.exe", "") + "\n[A]\n");
    ASSERT_NE(early.FindSection("A"), nullptr);
    EXPECT_TRUE(early.FindSection("A")->files.empty());
}

TEST(CDlkIniTest, AnErrorPageHasNoSections)
{
    CDlkIni ini;
    ini.Parse("<html><body>404 Not Found</body></html>");
    EXPECT_EQ(ini.FindSection("ZEInstall"), nullptr);
}

TEST(CDlkIniTest, NormalisesTargetDirectories)
{
    const struct {
        const char* given;
        const char* kept;
    } cases[] = {{"", ""}, {".", ""}, {"E/F", "E\\F"}, {"E\\\\F\\", "E\\F"}, {".\\E\\.\\F", "E\\F"}};
    for (const auto& c : cases) {
        CDlkIni::FileEntry entry;
        std::string reason;
        ASSERT_TRUE(CDlkIni::ParseFileEntry("a.exe|a.exe|1|" + kHash + "|" + c.given, entry, reason))
            << c.given << ": " << reason;
        EXPECT_EQ(entry.targetDir, c.kept) << c.given;
    }
}

TEST(CDlkIniTest, RefusesEntriesThatLeaveTheLibraryDirectoryOrMisstateTheFile)
{
    const std::string good = "|pkg/a|1|" + kHash + "|E";
    const std::string refused[] = {
        "E\\a.exe" + good, "a:b" + good, "a*.exe" + good, ".." + good, "" + good,
        "a.exe|pkg/a|1|" + kHash + "|..\\E", "a.exe|pkg/a|1|" + kHash + "|E\\..\\..\\W",
        "a.exe|pkg/a|1|" + kHash + "|\\Windows", "a.exe|pkg/a|1|" + kHash + "|C:\\Windows",
        "a.exe||1|" + kHash + "|E",
        "a.exe|pkg/a|-1|" + kHash + "|E", "a.exe|pkg/a|1x|" + kHash + "|E",
        "a.exe|pkg/a|1234567890123456789|" + kHash + "|E",
        "a.exe|pkg/a|1|" + kHash.substr(1) + "|E", "a.exe|pkg/a|1|" + kHash.substr(1) + "g|E",
        "a.exe|pkg/a|1|" + kHash, "a.exe|pkg/a|1|" + kHash + "|E|extra"};
    for (const std::string& value : refused) {
        CDlkIni::FileEntry entry;
        std::string reason;
        EXPECT_FALSE(CDlkIni::ParseFileEntry(value, entry, reason)) << value;
        EXPECT_FALSE(reason.empty()) << value;
    }
}

TEST(CDlkIniTest, AMalformedLineMarksOnlyItsSection)
{
    CDlkIni ini;
    ini.Parse("[Good]\n" + FileLine("a.exe", "") + "\n[Bad]\n" + FileLine("b.exe", "") +
              "\nfile=c.exe|pkg/c|12|" + kHash + "|..\\up\n");
    ASSERT_NE(ini.FindSection("Good"), nullptr);
    EXPECT_EQ(ini.FindSection("Good")->badLine, 0);
    ASSERT_NE(ini.FindSection("Bad"), nullptr);
    EXPECT_EQ(ini.FindSection("Bad")->badLine, 5);
    EXPECT_EQ(ini.FindSection("Bad")->badReason, "unsafe target directory");
}

}  // namespace
