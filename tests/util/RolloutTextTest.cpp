// The texts of a staged rollout: the share as the answer writes it, the tag in an envelope, the
// bucket as stored, and the comparison of the two in whole hundredths of a percent.
#include "util/RolloutText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr uint32_t kUntouched = 0xdeadbeef;

TEST(RolloutText, SharesFrom0To100WithUpToTwoDecimals)
{
    const struct {
        const wchar_t* text;
        bool read;
        uint32_t hundredths;
    } rows[] = {
        {L"0", true, 0},        {L"100", true, 10000},    {L"12.5", true, 1250},
        {L"12.50", true, 1250}, {L"47.11", true, 4711},   {L"0.01", true, 1},
        {L"99.99", true, 9999}, {L"100.00", true, 10000}, {L"007", true, 700},
        {L"12.505", false, 0},  {L"-1", false, 0},        {L"101", false, 0},
        {L"100.01", false, 0},  {L"1e2", false, 0},       {L"+5", false, 0},
        {L"12.", false, 0},     {L".5", false, 0},        {L"12,5", false, 0},
        {L"1000", false, 0},    {L"0100", false, 0},      {L" 5", false, 0},
        {L"5 ", false, 0},      {L"1 2", false, 0},       {L"   ", false, 0},
        {L"", false, 0},        {L"50%", false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        uint32_t hundredths = kUntouched;
        EXPECT_EQ(row.read, ParseRolloutShare(row.text, &hundredths));
        EXPECT_EQ(row.read ? row.hundredths : kUntouched, hundredths);
    }
    uint32_t hundredths = kUntouched;
    EXPECT_FALSE(ParseRolloutShare(nullptr, &hundredths));
}

TEST(RolloutText, TheTagInAnEnvelopeIsAbsentUnreadableOrAShare)
{
    const struct {
        const wchar_t* envelope;
        RolloutTag tag;
        uint32_t hundredths;
    } rows[] = {
        {L"<Status>SUCCESS</Status>", RolloutTag::kAbsent, kFullRollout},
        {L"<MVRollout>12.5</MVRollout>", RolloutTag::kShare, 1250},
        {L"<MVRollout>\r\n 0\t</MVRollout>", RolloutTag::kShare, 0},
        {L"<MVRollout>100</MVRollout><MVRollout>5</MVRollout>", RolloutTag::kShare, 10000},
        {L"<MVRollout></MVRollout>", RolloutTag::kUnreadable, kFullRollout},
        {L"<MVRollout>   </MVRollout>", RolloutTag::kUnreadable, kFullRollout},
        {L"<MVRollout>12.505</MVRollout>", RolloutTag::kUnreadable, kFullRollout},
        {L"<MVRollout>50", RolloutTag::kUnreadable, kFullRollout},
        {L"<MVRollout>50</MVRollOut>", RolloutTag::kUnreadable, kFullRollout},
        {L"<MVRollout>0000000000000000000000000000000050</MVRollout>", RolloutTag::kUnreadable,
         kFullRollout},
        // Tag names match exactly.
        {L"<mvrollout>5</mvrollout>", RolloutTag::kAbsent, kFullRollout},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.envelope);
        uint32_t hundredths = kUntouched;
        EXPECT_EQ(static_cast<int>(row.tag),
                  static_cast<int>(ReadRolloutTag(row.envelope, &hundredths)));
        EXPECT_EQ(row.hundredths, hundredths);
    }
}

TEST(RolloutText, StoredBucketsAreOneToFourDigits)
{
    const struct {
        const wchar_t* text;
        bool read;
        uint32_t bucket;
    } rows[] = {
        {L"0", true, 0},           {L"9999", true, 9999}, {L"4711", true, 4711},
        {L"0042", true, 42},       {L"10000", false, 0},  {L"-1", false, 0},
        {L"abc", false, 0},        {L"", false, 0},       {L" 1", false, 0},
        {L"1 ", false, 0},         {L"12x", false, 0},    {L"+1", false, 0},
        {L"4294967296", false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        uint32_t bucket = kUntouched;
        EXPECT_EQ(row.read, ParseRolloutBucket(row.text, &bucket));
        EXPECT_EQ(row.read ? row.bucket : kUntouched, bucket);
    }
}

TEST(RolloutText, AMachineIsInWhenItsBucketIsBelowTheShare)
{
    const struct {
        uint32_t bucket;
        uint32_t hundredths;
        bool in;
    } rows[] = {
        {4711, 4711, false}, {4711, 4712, true},  {4710, 4711, true},  {0, 0, false},
        {0, 1, true},        {9999, 9999, false}, {9999, 10000, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.bucket) + " at " + std::to_string(row.hundredths));
        EXPECT_EQ(row.in, IsInRollout(row.bucket, row.hundredths));
    }
    // Each hundredth of a percent takes one bucket of the fleet, and widening drops no machine.
    for (uint32_t share : {0u, 1u, 1250u, 4711u, 4712u, 9999u}) {
        SCOPED_TRACE(share);
        uint32_t in = 0;
        for (uint32_t bucket = 0; bucket < kRolloutBuckets; ++bucket) {
            if (IsInRollout(bucket, share)) {
                ++in;
                EXPECT_TRUE(IsInRollout(bucket, share + 1)) << bucket;
            }
        }
        EXPECT_EQ(share, in);
    }
}

TEST(RolloutText, EveryRandomNumberGivesABucket)
{
    for (uint32_t random : {0u, 1u, 9999u, 10000u, 4711u + 10000u * 7u, 0xFFFFFFFFu})
        EXPECT_LT(BucketFromRandom(random), kRolloutBuckets) << random;
    EXPECT_EQ(4711u, BucketFromRandom(4711u + 10000u * 7u));
}

TEST(RolloutText, SharesAreTracedWithoutTrailingZeros)
{
    const struct {
        uint32_t hundredths;
        const wchar_t* text;
    } rows[] = {
        {0, L"0"},        {1, L"0.01"},  {10, L"0.1"},     {1250, L"12.5"},
        {4711, L"47.11"}, {5000, L"50"}, {9999, L"99.99"}, {10000, L"100"},
    };
    for (const auto& row : rows) {
        wchar_t text[kShareTextSize] = {};
        FormatRolloutShare(row.hundredths, text);
        EXPECT_STREQ(row.text, text);
    }
}

}  // namespace
