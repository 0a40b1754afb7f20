// The machine's bucket as stored under the settings key: kept when it is one, drawn and written
// back when it is missing or no bucket, none when the generator fails; and the system's
// generator itself.
#include "util/CSystemRandom.h"
#include "util/RolloutBucketSetting.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kGeneralPath[] = L"SOFTWARE\\Orvik\\Config\\MV\\General";
int g_draws = 0;

// A draw that lands in bucket 6789.
bool Draw6789(uint32_t* value)
{
    ++g_draws;
    *value = 3 * 10000 + 6789;
    return true;
}

bool DrawNothing(uint32_t* value)
{
    ++g_draws;
    *value = 0;
    return false;
}

// The stored value as text, "(absent)" or "(not text)".
std::wstring StoredBucket()
{
    wchar_t text[64] = {};
    DWORD type = 0;
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kGeneralPath, L"MVRolloutBucket", RRF_RT_ANY, &type, text,
                     &size) != ERROR_SUCCESS)
        return L"(absent)";
    return type == REG_SZ ? std::wstring(text) : L"(not text)";
}

class RolloutBucketSettingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralPath);
        g_draws = 0;
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralPath); }

    void Store(DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kGeneralPath,
                                                 L"MVRolloutBucket", type, data, size));
    }
};

TEST_F(RolloutBucketSettingTest, ABucketIsKeptAnythingElseIsDrawnAgainAndWrittenBack)
{
    const DWORD dword = 4711;
    const struct {
        const char* name;
        DWORD type;  // 0: no value
        std::wstring text;
        RolloutBucketState state;
        uint32_t bucket;
        const wchar_t* storedAfter;
    } rows[] = {
        {"missing", 0, L"", RolloutBucketState::kDrawn, 6789, L"6789"},
        {"0", REG_SZ, L"0", RolloutBucketState::kStored, 0, L"0"},
        {"9999", REG_SZ, L"9999", RolloutBucketState::kStored, 9999, L"9999"},
        {"4711", REG_SZ, L"4711", RolloutBucketState::kStored, 4711, L"4711"},
        {"10000", REG_SZ, L"10000", RolloutBucketState::kRedrawn, 6789, L"6789"},
        {"-1", REG_SZ, L"-1", RolloutBucketState::kRedrawn, 6789, L"6789"},
        {"abc", REG_SZ, L"abc", RolloutBucketState::kRedrawn, 6789, L"6789"},
        {"empty", REG_SZ, L"", RolloutBucketState::kRedrawn, 6789, L"6789"},
        {"longer than any bucket", REG_SZ, std::wstring(300, L'1'), RolloutBucketState::kRedrawn,
         6789, L"6789"},
        {"expandable text", REG_EXPAND_SZ, L"4711", RolloutBucketState::kRedrawn, 6789, L"6789"},
        {"REG_DWORD", REG_DWORD, L"", RolloutBucketState::kRedrawn, 6789, L"6789"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        if (row.type == REG_DWORD)
            Store(REG_DWORD, &dword, sizeof(dword));
        else if (row.type != 0)
            Store(row.type, row.text.c_str(),
                  static_cast<DWORD>((row.text.size() + 1) * sizeof(wchar_t)));
        RolloutBucketSetting setting;
        ReadRolloutBucketSetting(setting, Draw6789);
        EXPECT_EQ(static_cast<int>(row.state), static_cast<int>(setting.state));
        EXPECT_EQ(row.bucket, setting.bucket);
        EXPECT_FALSE(setting.notStored);
        EXPECT_EQ(row.state == RolloutBucketState::kStored ? 0 : 1, g_draws);
        EXPECT_EQ(row.storedAfter, StoredBucket());
    }
}

TEST_F(RolloutBucketSettingTest, ADrawnBucketIsTheOneTheNextRunReads)
{
    RolloutBucketSetting first;
    ReadRolloutBucketSetting(first, Draw6789);
    RolloutBucketSetting second;
    ReadRolloutBucketSetting(second, DrawNothing);
    EXPECT_EQ(static_cast<int>(RolloutBucketState::kStored), static_cast<int>(second.state));
    EXPECT_EQ(first.bucket, second.bucket);
    EXPECT_EQ(1, g_draws);
}

TEST_F(RolloutBucketSettingTest, WithoutADrawThereIsNoBucketAndNothingIsWritten)
{
    RolloutBucketSetting setting;
    ReadRolloutBucketSetting(setting, DrawNothing);
    EXPECT_EQ(static_cast<int>(RolloutBucketState::kNone), static_cast<int>(setting.state));
    EXPECT_EQ(L"(absent)", StoredBucket());

    const wchar_t junk[] = L"abc";
    Store(REG_SZ, junk, sizeof(junk));
    ReadRolloutBucketSetting(setting, DrawNothing);
    EXPECT_EQ(static_cast<int>(RolloutBucketState::kNone), static_cast<int>(setting.state));
    EXPECT_EQ(L"abc", StoredBucket());
}

TEST_F(RolloutBucketSettingTest, TheSystemsGeneratorDrawsBucketsOfTheWholeRange)
{
    CSystemRandom random;
    ASSERT_TRUE(random.IsAvailable());
    uint32_t a = 0;
    uint32_t b = 0;
    ASSERT_TRUE(random.Draw(&a));
    ASSERT_TRUE(random.Draw(&b));
    // Two equal 32-bit draws in a row would be a broken generator, not chance worth a retry.
    EXPECT_NE(a, b);

    RolloutBucketSetting setting;
    ReadRolloutBucketSetting(setting);
    ASSERT_EQ(static_cast<int>(RolloutBucketState::kDrawn), static_cast<int>(setting.state));
    EXPECT_LT(setting.bucket, 10000u);
    EXPECT_EQ(std::to_wstring(setting.bucket), StoredBucket());
}

}  // namespace
