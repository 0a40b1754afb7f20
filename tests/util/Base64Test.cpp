#include "util/Base64.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Encode(const std::string& in)
{
    std::string out(Base64EncodedLength(in.size()) + 1, '#');
    const int n = Base64Encode(&out[0], in.data(), in.size());
    EXPECT_EQ(static_cast<size_t>(n), Base64EncodedLength(in.size()));
    EXPECT_EQ('\0', out[static_cast<size_t>(n)]) << "output not terminated";
    out.resize(static_cast<size_t>(n));
    return out;
}

TEST(Base64Encode, Rfc4648Vectors)
{
    EXPECT_EQ("", Encode(""));
    EXPECT_EQ("Zg==", Encode("f"));
    EXPECT_EQ("Zm8=", Encode("fo"));
    EXPECT_EQ("Zm9v", Encode("foo"));
    EXPECT_EQ("Zm9vYg==", Encode("foob"));
    EXPECT_EQ("Zm9vYmE=", Encode("fooba"));
    EXPECT_EQ("Zm9vYmFy", Encode("foobar"));
    EXPECT_EQ("TWFu", Encode("Man"));
    EXPECT_EQ("TWE=", Encode("Ma"));
    EXPECT_EQ("TQ==", Encode("M"));
}

TEST(Base64Encode, AllByteValuesUseTheWholeAlphabet)
{
    EXPECT_EQ("AAEC", Encode(std::string("\x00\x01\x02", 3)));
    EXPECT_EQ("////", Encode("\xff\xff\xff"));
    EXPECT_EQ("+/8=", Encode("\xfb\xff"));
    // UTF-8 of "é" (0xC3 0xA9).
    EXPECT_EQ("w6k=", Encode("\xc3\xa9"));
}

TEST(Base64Encode, LengthZeroEncodesTheTerminatedString)
{
    char out[16];
    EXPECT_EQ(8, Base64Encode(out, "foobar", 0));
    EXPECT_STREQ("Zm9vYmFy", out);
    EXPECT_EQ(0, Base64Encode(out, "", 0));
    EXPECT_STREQ("", out);
}

TEST(Base64Char, MapsSixBitValuesAndPadsOthers)
{
    EXPECT_EQ('A', Base64Char(0));
    EXPECT_EQ('/', Base64Char(63));
    EXPECT_EQ('=', Base64Char(64));
    EXPECT_EQ('=', Base64Char(-1));
}

TEST(Base64EncodeBounded, RefusesWhenTheOutputDoesNotFit)
{
    char out[9];
    EXPECT_EQ(8, Base64EncodeBounded(out, 9, "foobar", 6));
    EXPECT_STREQ("Zm9vYmFy", out);
    // 8 characters and the terminator need 9 bytes; 8 is refused, leaving an empty text.
    EXPECT_EQ(-1, Base64EncodeBounded(out, 8, "foobar", 6));
    EXPECT_STREQ("", out);
    EXPECT_EQ(-1, Base64EncodeBounded(out, 0, "f", 1));
}

}  // namespace
