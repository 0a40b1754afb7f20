// The INI description as the download library reads it: which "file=" lines it takes, and how
// one line it cannot use spoils its section, so that nothing of it is installed.
#include "standins/ieksdlk/CDlkIni.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kHash(64, 'a');

// The value of a "file=" line for a.exe going to target.
std::string Entry(const std::string& target)
{
    return "a.exe|pkg/a|1|" + kHash + "|" + target;
}

TEST(CDlkIniTest, TakesOnlyEntriesThatStayInsideTheLibraryDirectory)
{
    const std::string rest = "|pkg/a|1|" + kHash + "|E";
    // kept: the target directory as kept; null: the entry is refused.
    const struct { std::string value; const char* kept; } cases[] = {
        {Entry(""), ""}, {Entry("."), ""}, {Entry("E/F"), "E\\F"}, {Entry("E\\\\F\\"), "E\\F"},
        {Entry(".\\E\\.\\F"), "E\\F"}, {" a.exe | pkg/a | 1 | " + std::string(64, 'A') + " | E ", "E"},
        // Out of the library's directory.
        {Entry(".."), nullptr}, {Entry("..\\E"), nullptr}, {Entry("E\\..\\..\\W"), nullptr},
        {Entry("E/../../W"), nullptr}, {Entry(".. \\W"), nullptr}, {Entry("\\Windows"), nullptr},
        {Entry("C:\\Windows"), nullptr}, {Entry("C:Windows"), nullptr},
        // A name that is no plain file name could lead elsewhere too.
        {"E\\a.exe" + rest, nullptr}, {"a:b" + rest, nullptr}, {"a*.exe" + rest, nullptr}, {".." + rest, nullptr},
        {rest, nullptr},
        // Misstated files.
        {"a.exe||1|" + kHash + "|E", nullptr}, {"a.exe|pkg/a|-1|" + kHash + "|E", nullptr},
        {"a.exe|pkg/a|1x|" + kHash + "|E", nullptr}, {"a.exe|pkg/a|1234567890123456789|" + kHash + "|E", nullptr},
        {"a.exe|pkg/a|1|" + kHash.substr(1) + "|E", nullptr}, {"a.exe|pkg/a|1|" + kHash.substr(1) + "g|E", nullptr},
        {"a.exe|pkg/a|1|" + kHash, nullptr}, {Entry("E|extra"), nullptr},
    };
    for (const auto& c : cases) {
        CDlkIni::FileEntry entry;
        std::string reason;
        const bool taken = CDlkIni::ParseFileEntry(c.value, entry, reason);
        ASSERT_EQ(taken, c.kept != nullptr) << c.value << ": " << reason;
        // A kept entry's hash is in lower case; a refused one says why.
        if (taken) {
            EXPECT_EQ(c.kept + ("|" + kHash), entry.targetDir + "|" + entry.sha256) << c.value;
        } else {
            EXPECT_FALSE(reason.empty()) << c.value;
        }
    }
}

TEST(CDlkIniTest, AnUnusableLineSpoilsOnlyItsSection)
{
    const std::string good = "file=" + Entry("E");
    const std::string twoSections = "[Good]\n" + good + "\n[Bad]\n" + good + "\nfile=" + Entry("..\\up") + "\n";
    // badLine 0: the section can be used.
    const struct { std::string text; const char* section; size_t files; int badLine; } cases[] = {
        {twoSections, "Good", 1, 0},
        {twoSections, "Bad", 1, 5},
        // The order mark, comments and other keys are no entries; an empty one is.
        {"\xEF\xBB\xBF[A]\r\n; c\r\n# c\r\nversion=1\r\n\r\n" + good + "\r\nfile=\r\n", "a", 1, 7},
        // Sections of one name merge whatever their case; lines before any section belong to none.
        {good + "\n[Z]\n" + good + "\n[Other]\nfile=\n[z]\n" + good + "\n", "Z", 2, 0},
    };
    for (const auto& c : cases) {
        CDlkIni ini;
        ini.Parse(c.text);
        const CDlkIni::Section* section = ini.FindSection(c.section);
        ASSERT_NE(section, nullptr) << c.text;
        EXPECT_EQ(section->files.size(), c.files) << c.text;
        EXPECT_EQ(section->badLine, c.badLine) << c.text;
    }
}

}  // namespace
