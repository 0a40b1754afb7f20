// URLs of files, record quoting, and the hash the library checks files with.
#include "standins/ieksdlk/CSha256.h"
#include "standins/ieksdlk/DlkText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Url(const std::string& root, const std::string& path)
{
    std::string url;
    return MakeDownloadUrl(root, path, url) ? url : std::string("<refused>");
}

TEST(DlkTextTest, JoinsRootAndPathWithOneSlash)
{
    EXPECT_EQ(Url("https://h.example/pkg", "a/b.exe"), "https://h.example/pkg/a/b.exe");
    EXPECT_EQ(Url("https://h.example/pkg/", "/a/b.exe"), "https://h.example/pkg/a/b.exe");
    EXPECT_EQ(Url("http://h.example", "b.exe"), "http://h.example/b.exe");
    EXPECT_EQ(Url("HTTPS://h.example//", "//b.exe"), "HTTPS://h.example/b.exe");
    EXPECT_EQ(Url("h.example/pkg", "a\\b.exe"), "https://h.example/pkg/a/b.exe");
    EXPECT_EQ(Url("  h.example:8443/pkg ", "b.exe"), "https://h.example:8443/pkg/b.exe");
}

TEST(DlkTextTest, EncodesWhatCannotStandInAUrl)
{
    EXPECT_EQ(Url("https://h", "my file.exe"), "https://h/my%20file.exe");
    EXPECT_EQ(Url("https://h", "d\xC3\xA9j\xC3\xA0.exe"), "https://h/d%C3%A9j%C3%A0.exe");
    EXPECT_EQ(Url("https://h", "a\"<b>.exe"), "https://h/a%22%3Cb%3E.exe");
    // Already encoded paths and queries pass unchanged.
    EXPECT_EQ(Url("https://h", "a%20b.exe?v=2&x=1"), "https://h/a%20b.exe?v=2&x=1");
}

TEST(DlkTextTest, RefusesRootsWithoutHostOrWithOtherSchemes)
{
    EXPECT_EQ(Url("", "a.exe"), "<refused>");
    EXPECT_EQ(Url("https://", "a.exe"), "<refused>");
    EXPECT_EQ(Url("https:///pkg", "a.exe"), "<refused>");
    EXPECT_EQ(Url("ftp://h.example", "a.exe"), "<refused>");
    EXPECT_EQ(Url("file://c:/x", "a.exe"), "<refused>");
    EXPECT_EQ(Url("https://h.example", ""), "<refused>");
    EXPECT_EQ(Url("https://h.example", "///"), "<refused>");
}

TEST(DlkTextTest, QuotesRecordTextsReadably)
{
    EXPECT_EQ(QuoteRecordText(nullptr), "null");
    EXPECT_EQ(QuoteRecordText(""), "\"\"");
    EXPECT_EQ(QuoteRecordText("OQ=="), "\"OQ==\"");
    EXPECT_EQ(QuoteRecordText("C:\\a \"b\""), "\"C:\\a \"\"b\"\"\"");
    EXPECT_EQ(QuoteRecordText("a\r\nb\tc\x7F"), "\"a\\x0D\\x0Ab\\x09c\\x7F\"");
    EXPECT_EQ(QuoteRecordText("\xE4\xB8\xAD"), "\"\xE4\xB8\xAD\"");
}

TEST(CSha256Test, GivesTheStandardDigests)
{
    CSha256 empty;
    EXPECT_EQ(empty.FinishHex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    CSha256 abc;
    ASSERT_TRUE(abc.Update("a", 1));
    ASSERT_TRUE(abc.Update("bc", 2));
    EXPECT_EQ(abc.FinishHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Finished: nothing more can be added.
    EXPECT_FALSE(abc.Update("d", 1));

    CSha256 million;
    const std::string block(1000, 'a');
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(million.Update(block.data(), block.size()));
    EXPECT_EQ(million.FinishHex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
