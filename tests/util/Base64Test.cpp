#include "util/Base64.h"

#include <gtest/gtest.h>

namespace {

// Encodings of any bytes, their length and the bounded form's refusals are checked against an
// independent decoder by the text-pieces fuzz target; these are what it never reaches.
TEST(Base64Encode, LengthZeroEncodesTheTerminatedString)
{
    char out[16];
    EXPECT_EQ(8, Base64Encode(out, "foobar", 0));
    EXPECT_STREQ("Zm9vYmFy", out);
    EXPECT_EQ(4, Base64Encode(out, "\xfb\xff", 0));
    EXPECT_STREQ("+/8=", out);
}

TEST(Base64Char, MapsSixBitValuesAndPadsOthers)
{
    EXPECT_EQ('A', Base64Char(0));
    EXPECT_EQ('/', Base64Char(63));
    EXPECT_EQ('=', Base64Char(64));
    EXPECT_EQ('=', Base64Char(-1));
}

}  // namespace
