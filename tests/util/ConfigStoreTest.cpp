#include "util/ConfigStore.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

const wchar_t kScratch[] = L"CfgStoreTest";
const wchar_t kScratchPath[] = L"SOFTWARE\\Orvik\\Config\\MV\\CfgStoreTest";

// Every case works in its own scratch section, gone before and after it.
class ConfigStoreTest : public ::testing::Test
{
protected:
    void SetUp() override { DeleteScratch(); }
    void TearDown() override { DeleteScratch(); }

    static void DeleteScratch()
    {
        const LONG rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, kScratchPath);
        ASSERT_TRUE(rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) << "[RegDeleteTreeW] " << rc;
    }

    // Stores raw data under the scratch section, bypassing the store.
    static void PutRaw(const wchar_t* name, DWORD type, const void* data, DWORD cb)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_LOCAL_MACHINE, kScratchPath, &key));
        CRegKey owner(key);
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), cb));
    }

    static void ExpectStoredBytes(const wchar_t* name, size_t cb)
    {
        DWORD stored = 0;
        EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, kScratchPath, name, RRF_RT_ANY | RRF_NOEXPAND,
                                              nullptr, nullptr, &stored));
        EXPECT_EQ(cb, stored) << "stored without its terminator";
    }

    static void PutText(const wchar_t* name, const std::wstring& text)
    {
        PutRaw(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
};

// A 256-character buffer followed by guard characters that must survive every call.
struct GuardedBuffer
{
    static constexpr DWORD kSize = 256;
    static constexpr size_t kGuard = 8;
    wchar_t chars[kSize + kGuard];

    GuardedBuffer() { wmemset(chars, L'#', kSize + kGuard); }
    bool GuardIntact() const
    {
        for (size_t i = kSize; i < kSize + kGuard; ++i)
            if (chars[i] != L'#') return false;
        return true;
    }
};

TEST_F(ConfigStoreTest, MissingSectionGivesTheDefaults)
{
    EXPECT_EQ(3, CfgGetInt(kScratch, L"TraceLevel", 3));
    EXPECT_EQ(4294967295u, CfgGetUInt(kScratch, L"LANGUAGEID", 4294967295u));
    wchar_t out[32];
    EXPECT_EQ(7, CfgGetString(kScratch, L"SURL", L"default", out, 32));
    EXPECT_STREQ(L"default", out);
    EXPECT_FALSE(CfgOpenSection(kScratch, FALSE)) << "reading does not create the section";
}

TEST_F(ConfigStoreTest, MissingValueInAnExistingSectionGivesTheDefault)
{
    PutText(L"Other", L"x");
    wchar_t out[32];
    EXPECT_EQ(out, CfgGetStringBuf(kScratch, L"SURL", 32, out, L"fallback"));
    EXPECT_STREQ(L"fallback", out);
    EXPECT_EQ(-4, CfgGetInt(kScratch, L"TraceLevel", -4));
}

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

TEST_F(ConfigStoreTest, ValuesOfOtherTypesReadAsAbsent)
{
    const DWORD five = 5;
    PutRaw(L"TraceLevel", REG_DWORD, &five, sizeof(five));
    EXPECT_EQ(3u, CfgGetUInt(kScratch, L"TraceLevel", 3));
    EXPECT_EQ(3, CfgGetInt(kScratch, L"TraceLevel", 3));

    const wchar_t expand[] = L"%TEMP%";
    PutRaw(L"Path", REG_EXPAND_SZ, expand, sizeof(expand));
    wchar_t out[32];
    EXPECT_EQ(1, CfgGetString(kScratch, L"Path", L"d", out, 32));
    EXPECT_STREQ(L"d", out);
}

TEST_F(ConfigStoreTest, TextThatDoesNotFitGivesTheDefaultNotACutText)
{
    PutText(L"Long", std::wstring(300, L'v'));
    GuardedBuffer buf;
    EXPECT_EQ(3, CfgGetString(kScratch, L"Long", L"dfl", buf.chars, GuardedBuffer::kSize));
    EXPECT_STREQ(L"dfl", buf.chars);
    for (DWORD i = 3; i < GuardedBuffer::kSize; ++i) ASSERT_EQ(L'\0', buf.chars[i]) << "cleared at " << i;
    EXPECT_TRUE(buf.GuardIntact());

    // 256 characters and the terminator: one character too many.
    PutText(L"Long", std::wstring(256, L'v'));
    EXPECT_EQ(3, CfgGetString(kScratch, L"Long", L"dfl", buf.chars, GuardedBuffer::kSize));
    EXPECT_TRUE(buf.GuardIntact());
}

TEST_F(ConfigStoreTest, TextThatFillsTheBufferWithoutTerminatorIsTooLong)
{
    // The data is followed by one more character: the system adds a terminator the caller
    // "forgot" when a zero follows the counted bytes.
    const std::wstring full(GuardedBuffer::kSize + 1, L'w');
    PutRaw(L"Bare", REG_SZ, full.c_str(), GuardedBuffer::kSize * sizeof(wchar_t));
    ExpectStoredBytes(L"Bare", GuardedBuffer::kSize * sizeof(wchar_t));
    GuardedBuffer buf;
    EXPECT_EQ(3, CfgGetString(kScratch, L"Bare", L"dfl", buf.chars, GuardedBuffer::kSize));
    EXPECT_STREQ(L"dfl", buf.chars);
    EXPECT_TRUE(buf.GuardIntact());
}

TEST_F(ConfigStoreTest, LongestTextThatFitsIsReadWhole)
{
    const std::wstring fits(GuardedBuffer::kSize - 1, L'z');
    PutText(L"Fits", fits);
    GuardedBuffer buf;
    EXPECT_EQ(255, CfgGetString(kScratch, L"Fits", L"dfl", buf.chars, GuardedBuffer::kSize));
    EXPECT_EQ(fits, buf.chars);
    EXPECT_TRUE(buf.GuardIntact());

    // The same text stored without its terminator still ends within the buffer.
    const std::wstring followed = fits + L"x";
    PutRaw(L"Bare", REG_SZ, followed.c_str(), static_cast<DWORD>(fits.size() * sizeof(wchar_t)));
    ExpectStoredBytes(L"Bare", fits.size() * sizeof(wchar_t));
    EXPECT_EQ(255, CfgGetString(kScratch, L"Bare", L"dfl", buf.chars, GuardedBuffer::kSize));
    EXPECT_EQ(fits, buf.chars);
}

TEST_F(ConfigStoreTest, DefaultsArePlacedClearedAndCut)
{
    GuardedBuffer buf;
    const std::wstring longDefault(300, L'd');
    EXPECT_EQ(255, CfgGetString(kScratch, L"None", longDefault.c_str(), buf.chars, GuardedBuffer::kSize));
    EXPECT_EQ(std::wstring(255, L'd'), buf.chars);
    EXPECT_TRUE(buf.GuardIntact());

    EXPECT_EQ(0, CfgGetString(kScratch, L"None", nullptr, buf.chars, GuardedBuffer::kSize));
    EXPECT_STREQ(L"", buf.chars);

    wmemset(buf.chars, L'#', GuardedBuffer::kSize);
    EXPECT_EQ(2, CfgGetString(kScratch, L"None", L"ab", buf.chars, GuardedBuffer::kSize));
    for (DWORD i = 2; i < GuardedBuffer::kSize; ++i) ASSERT_EQ(L'\0', buf.chars[i]) << "cleared at " << i;
}

TEST_F(ConfigStoreTest, NumbersReadTheirLeadingDigits)
{
    PutText(L"Mixed", L"12abc");
    PutText(L"Letters", L"abc");
    PutText(L"Minus", L"-1");
    PutText(L"Spaced", L"  42");
    EXPECT_EQ(12, CfgGetInt(kScratch, L"Mixed", 9));
    EXPECT_EQ(12u, CfgGetUInt(kScratch, L"Mixed", 9));
    EXPECT_EQ(9, CfgGetInt(kScratch, L"Letters", 9));
    EXPECT_EQ(9u, CfgGetUInt(kScratch, L"Letters", 9));
    EXPECT_EQ(4294967295u, CfgGetUInt(kScratch, L"Minus", 9));
    EXPECT_EQ(-1, CfgGetInt(kScratch, L"Minus", 9));
    EXPECT_EQ(42, CfgGetInt(kScratch, L"Spaced", 9));

    PutText(L"Empty", L"");
    EXPECT_EQ(9, CfgGetInt(kScratch, L"Empty", 9)) << "an empty text is not a number";
}

TEST_F(ConfigStoreTest, NumbersOutOfRangeSaturate)
{
    PutText(L"Big", L"99999999999");
    PutText(L"Small", L"-99999999999");
    PutText(L"JustOver", L"4294967296");
    PutText(L"Max", L"4294967295");
    EXPECT_EQ(4294967295u, CfgGetUInt(kScratch, L"Big", 1));
    EXPECT_EQ(4294967295u, CfgGetUInt(kScratch, L"Small", 1));
    EXPECT_EQ(4294967295u, CfgGetUInt(kScratch, L"JustOver", 1));
    EXPECT_EQ(4294967295u, CfgGetUInt(kScratch, L"Max", 1));
    EXPECT_EQ(2147483647, CfgGetInt(kScratch, L"Big", 1));
    EXPECT_EQ(-2147483647 - 1, CfgGetInt(kScratch, L"Small", 1));
}

TEST_F(ConfigStoreTest, NumberTextTooLongForItsBufferGivesTheDefault)
{
    PutText(L"Long", L"1" + std::wstring(40, L'0'));
    EXPECT_EQ(6u, CfgGetUInt(kScratch, L"Long", 6));
    EXPECT_EQ(-6, CfgGetInt(kScratch, L"Long", -6));
}

TEST_F(ConfigStoreTest, WritingCreatesMissingSectionsAsTextWithItsTerminator)
{
    const wchar_t deep[] = L"CfgStoreTest\\Sub\\Deeper";
    ASSERT_TRUE(CfgSetString(deep, L"SURL", L"example.test"));

    HKEY raw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvik\\Config\\MV\\CfgStoreTest\\Sub\\Deeper",
                                           0, KEY_READ, &raw));
    CRegKey key(raw);
    DWORD type = 0;
    DWORD cb = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(raw, L"SURL", nullptr, &type, nullptr, &cb));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ((12u + 1u) * 2u, cb);

    wchar_t out[64];
    EXPECT_EQ(12, CfgGetString(deep, L"SURL", L"", out, 64));
    EXPECT_STREQ(L"example.test", out);
}

TEST_F(ConfigStoreTest, WritingOverwritesAndReadsBack)
{
    ASSERT_TRUE(CfgSetString(kScratch, L"LANGUAGEID", L"1033"));
    EXPECT_EQ(1033u, CfgGetUInt(kScratch, L"LANGUAGEID", 4294967295u));
    CfgSetStringNoResult(kScratch, L"LANGUAGEID", L"1031");
    EXPECT_EQ(1031u, CfgGetUInt(kScratch, L"LANGUAGEID", 4294967295u));

    const wchar_t text[] = L"Gr\u00fc\u00dfe \U0001F600";
    ASSERT_TRUE(CfgSetString(kScratch, L"Text", text));
    wchar_t out[32];
    EXPECT_EQ(static_cast<int>(wcslen(text)), CfgGetString(kScratch, L"Text", L"", out, 32));
    EXPECT_STREQ(text, out);

    ASSERT_TRUE(CfgSetString(kScratch, L"Empty", L""));
    EXPECT_EQ(0, CfgGetString(kScratch, L"Empty", L"dfl", out, 32)) << "an empty text is a value";
}

TEST_F(ConfigStoreTest, OpenedSectionsAreUsableKeys)
{
    EXPECT_FALSE(CfgOpenSection(kScratch, FALSE));
    CRegKey written = CfgOpenSection(kScratch, TRUE);
    ASSERT_TRUE(written) << "opening for writing creates the section";
    const wchar_t v[] = L"1";
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(written.Get(), L"V", 0, REG_SZ, reinterpret_cast<const BYTE*>(v), sizeof(v)));
    CRegKey read = CfgOpenSection(kScratch, FALSE);
    ASSERT_TRUE(read);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(read.Get(), L"V", nullptr, nullptr, nullptr, nullptr));
}

TEST_F(ConfigStoreTest, PathsLongerThan511CharactersAreCutThere)
{
    // The product key and its backslash take 25 characters, so 486 of the section remain.
    std::wstring section = kScratch;
    for (int i = 0; i < 5; ++i) section += L"\\" + std::wstring(100, L'a');
    const std::wstring sameAfterCut = section.substr(0, 486) + L"bbbbbb";

    ASSERT_TRUE(CfgSetString(section.c_str(), L"V", L"cut"));
    wchar_t out[8];
    EXPECT_EQ(3, CfgGetString(sameAfterCut.c_str(), L"V", L"", out, 8));
    EXPECT_STREQ(L"cut", out);

    const std::wstring cutPath = std::wstring(L"SOFTWARE\\Orvik\\Config\\MV\\") + section.substr(0, 486);
    HKEY raw = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, cutPath.c_str(), 0, KEY_READ, &raw));
    CRegKey key(raw);
}

}  // namespace
