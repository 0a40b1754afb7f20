#include "util/HexText.h"

#include <gtest/gtest.h>

namespace {

TEST(HexToInt, ReadsEitherCaseWithOrWithoutPrefix)
{
    EXPECT_EQ(31, HexToInt("1F"));
    EXPECT_EQ(31, HexToInt("1f"));
    EXPECT_EQ(255, HexToInt("0xff"));
    EXPECT_EQ(255, HexToInt("0XFF"));
    EXPECT_EQ(171, HexToInt("  ab"));
}

TEST(HexToInt, NothingScannableGivesZero)
{
    EXPECT_EQ(0, HexToInt("zz"));
    EXPECT_EQ(0, HexToInt(""));
    EXPECT_EQ(0, HexToInt(nullptr));
    EXPECT_EQ(0, HexToInt("-"));
}

TEST(HexToInt, StopsAtTheFirstNonDigit)
{
    EXPECT_EQ(0x1a, HexToInt("1ag"));
    EXPECT_EQ(0, HexToInt("0x"));
    EXPECT_EQ(0, HexToInt("0xg"));
}

TEST(HexToInt, SignsAndWrapAroundAs32Bits)
{
    EXPECT_EQ(-1, HexToInt("FFFFFFFF"));
    EXPECT_EQ(-1, HexToInt("-1"));
    EXPECT_EQ(0x10, HexToInt("+10"));
    EXPECT_EQ(0x23456789, HexToInt("123456789"));
}

TEST(HexToIntN, ReadsOnlyTheGivenCharacters)
{
    EXPECT_EQ(0x12, HexToIntN("123456", 2));
    EXPECT_EQ(0x1, HexToIntN("1", 2));
    EXPECT_EQ(0xA, HexToIntN("A", 1));
    EXPECT_EQ(0, HexToIntN("0x12", 2));
    EXPECT_EQ(0, HexToIntN("12", 0));
}

}  // namespace
