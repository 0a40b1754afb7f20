#include "util/ConfigStore.h"

#include <gtest/gtest.h>

#include <climits>
#include <cwchar>
#include <string>

namespace {

const wchar_t kScratch[] = L"CfgStoreTest";
const wchar_t kScratchPath[] = L"SOFTWARE\\Orvik\\Config\\MV\\CfgStoreTest";

// Every case works in its own scratch section, gone before and after it.
class ConfigStoreTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteScratch(); }
    void TearDown() override { DeleteScratch(); }

    static void DeleteScratch()
    {
        const LONG rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, kScratchPath);
        ASSERT_TRUE(rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) << "[RegDeleteTreeW] " << rc;
    }

    // Stores cb bytes of text under the scratch section, bypassing the store.
    static void PutRaw(const wchar_t* name, DWORD type, const std::wstring& text, size_t cb)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kScratchPath, name, type,
                                                 text.c_str(), static_cast<DWORD>(cb)));
    }
    static void PutText(const wchar_t* name, const std::wstring& text)
    {
        PutRaw(name, REG_SZ, text, (text.size() + 1) * sizeof(wchar_t));
    }
};

TEST_F(ConfigStoreTest, NullArgumentsTouchNothing)
{
    PutText(L"SURL", L"stored");
    wchar_t out[8];
    wmemset(out, L'#', 8);
    EXPECT_EQ(0, CfgGetString(nullptr, L"SURL", L"d", out, 8));
    EXPECT_EQ(0, CfgGetString(kScratch, nullptr, L"d", out, 8));
    EXPECT_EQ(0, CfgGetString(kScratch, L"SURL", L"d", out, 0));
    EXPECT_EQ(L'#', out[0]);
    EXPECT_EQ(0, CfgGetString(kScratch, L"SURL", L"d", nullptr, 8));
    EXPECT_FALSE(CfgSetString(nullptr, L"SURL", L"x"));
    EXPECT_FALSE(CfgSetString(kScratch, nullptr, L"x"));
    EXPECT_FALSE(CfgSetString(kScratch, L"SURL", nullptr));
    EXPECT_FALSE(CfgOpenSection(nullptr, TRUE));
}

// Reads into 256 characters followed by guards. A text and its terminator must fit whole:
// anything longer gives the default, never a cut text. Stored data need not carry its
// terminator, and what the query leaves behind the text must read as zeros.
TEST_F(ConfigStoreTest, TextsFitWholeOrGiveTheDefault)
{
    constexpr DWORD kSize = 256;
    constexpr size_t kGuard = 8;
    struct Row {
        const char* name;
        std::wstring stored;
        DWORD type;       // REG_NONE: no value stored
        bool terminated;  // the stored bytes include the terminator
        const wchar_t* defaultText;
        std::wstring expected;
    };
    const std::wstring fits(kSize - 1, L'z');
    const std::wstring longDefault(300, L'd');
    const Row rows[] = {
        {"longest text that fits", fits, REG_SZ, true, L"dfl", fits},
        {"longest text, unterminated", fits, REG_SZ, false, L"dfl", fits},
        {"one character too many", std::wstring(kSize, L'v'), REG_SZ, true, L"dfl", L"dfl"},
        {"fills the buffer unterminated", std::wstring(kSize, L'w'), REG_SZ, false, L"dfl", L"dfl"},
        {"other type", L"%TEMP%", REG_EXPAND_SZ, true, L"d", L"d"},
        {"empty text is a value", L"", REG_SZ, true, L"dfl", L""},
        {"missing, default placed", L"", REG_NONE, true, L"ab", L"ab"},
        {"missing, long default cut", L"", REG_NONE, true, longDefault.c_str(),
         longDefault.substr(0, 255)},
        {"missing, null default", L"", REG_NONE, true, nullptr, L""},
    };
    for (const Row& row : rows) {
        DeleteScratch();
        PutText(L"Other", L"x");
        const size_t chars = row.stored.size() + (row.terminated ? 1 : 0);
        // An unterminated value is followed by a character that is not a terminator.
        if (row.type != REG_NONE) {
            PutRaw(L"V", row.type, row.stored + (row.terminated ? L'\0' : L'x'),
                   chars * sizeof(wchar_t));
        }
        wchar_t buf[kSize + kGuard];
        wmemset(buf, L'#', kSize + kGuard);
        const int length = CfgGetString(kScratch, L"V", row.defaultText, buf, kSize);
        EXPECT_EQ(static_cast<int>(row.expected.size()), length) << row.name;
        EXPECT_EQ(row.expected, std::wstring(buf, wcsnlen(buf, kSize))) << row.name;
        for (size_t i = kSize; i < kSize + kGuard; ++i)
            ASSERT_EQ(L'#', buf[i]) << row.name << ": overflow at " << i;
        if (row.defaultText == nullptr)
            continue;
        for (size_t i = row.expected.size(); i < kSize; ++i)
            ASSERT_EQ(L'\0', buf[i]) << row.name << ": not cleared at " << i;
    }
}

TEST_F(ConfigStoreTest, NumbersReadTheirLeadingDigitsAndSaturate)
{
    struct Row {
        const wchar_t* stored;  // null: no value
        int asInt;
        DWORD asUInt;
    };
    const Row rows[] = {
        {nullptr, -9, 9},  // no section: the defaults
        {L"12abc", 12, 12},
        {L"  42", 42, 42},
        {L"abc", -9, 9},
        {L"", -9, 9},
        {L"-1", -1, 4294967295u},
        {L"4294967295", INT_MAX, 4294967295u},
        {L"4294967296", INT_MAX, 4294967295u},
        {L"99999999999", INT_MAX, 4294967295u},
        {L"-99999999999", INT_MIN, 4294967295u},
        {L"10000000000000000000000000000000000000000", -9, 9},  // longer than the number buffer
    };
    for (const Row& row : rows) {
        DeleteScratch();
        if (row.stored != nullptr)
            PutText(L"N", row.stored);
        EXPECT_EQ(row.asInt, CfgGetInt(kScratch, L"N", -9))
            << "stored " << testing::PrintToString(row.stored);
        EXPECT_EQ(row.asUInt, CfgGetUInt(kScratch, L"N", 9))
            << "stored " << testing::PrintToString(row.stored);
    }
}

TEST_F(ConfigStoreTest, WritingCreatesMissingSectionsAsTextWithItsTerminator)
{
    ASSERT_TRUE(CfgSetString(L"CfgStoreTest\\Sub\\Deeper", L"SURL", L"example.test"));
    DWORD type = 0;
    DWORD cb = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE,
                                          L"SOFTWARE\\Orvik\\Config\\MV\\CfgStoreTest\\Sub\\Deeper",
                                          L"SURL", RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &cb));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ((12u + 1u) * 2u, cb);
}

// Writing opens its section with creation (the test above); reading must not create it.
TEST_F(ConfigStoreTest, ReadingCreatesNoSection)
{
    wchar_t out[8];
    EXPECT_EQ(out, CfgGetStringBuf(kScratch, L"V", 8, out, L"dfl"));
    EXPECT_STREQ(L"dfl", out);
    EXPECT_FALSE(CfgOpenSection(kScratch, FALSE));
}

TEST_F(ConfigStoreTest, PathsLongerThan511CharactersAreCutThere)
{
    // The product key and its backslash take 25 characters, so 486 of the section remain.
    std::wstring section = kScratch;
    for (int i = 0; i < 5; ++i)
        section += L"\\" + std::wstring(100, L'a');
    ASSERT_TRUE(CfgSetString(section.c_str(), L"V", L"cut"));
    wchar_t out[8];
    EXPECT_EQ(3, CfgGetString((section.substr(0, 486) + L"bbbbbb").c_str(), L"V", L"", out, 8));
    EXPECT_STREQ(L"cut", out);
    const std::wstring cutPath = L"SOFTWARE\\Orvik\\Config\\MV\\" + section.substr(0, 486);
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, cutPath.c_str(), L"V", RRF_RT_REG_SZ,
                                          nullptr, nullptr, nullptr));
}

// A value that is there must never read as missing, whatever keeps it from being read.
TEST_F(ConfigStoreTest, StrictTextReadsTellMissingFromUnusable)
{
    const struct {
        const char* name;
        DWORD type;  // 0: the value is not stored; REG_NONE: neither is the section
        std::wstring text;
        size_t cb;
        CfgTextRead read;
        const wchar_t* out;
    } rows[] = {
        {"no section", REG_NONE, L"", 0, CfgTextRead::kAbsent, L""},
        {"no value", 0, L"", 0, CfgTextRead::kAbsent, L""},
        {"text", REG_SZ, L"abc", 8, CfgTextRead::kText, L"abc"},
        {"empty text", REG_SZ, L"", 2, CfgTextRead::kText, L""},
        {"no terminator stored", REG_SZ, L"abc", 6, CfgTextRead::kText, L"abc"},
        {"fills the buffer", REG_SZ, L"abcdefgh", 16, CfgTextRead::kUnreadable, L""},
        {"longer than the buffer", REG_SZ, std::wstring(40, L'x'), 82, CfgTextRead::kUnreadable,
         L""},
        {"a number", REG_DWORD, L"\x0001", 4, CfgTextRead::kUnreadable, L""},
        {"expandable text", REG_EXPAND_SZ, L"abc", 8, CfgTextRead::kUnreadable, L""},
        {"several texts", REG_MULTI_SZ, std::wstring(L"abc\0", 4), 10, CfgTextRead::kUnreadable,
         L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteScratch();
        if (row.type == 0)
            PutText(L"Other", L"x");
        if (row.type != 0 && row.type != REG_NONE)
            PutRaw(L"Value", row.type, row.text, row.cb);
        wchar_t out[8];
        wmemset(out, L'#', 8);
        EXPECT_EQ(row.read, CfgReadText(kScratch, L"Value", out, 8));
        EXPECT_STREQ(row.out, out);
    }
}

}  // namespace
