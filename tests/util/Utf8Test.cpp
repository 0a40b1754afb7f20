#include "util/Utf8.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// "Aé€😀": 1 + 2 + 3 + 4 UTF-8 bytes; the last character is a surrogate pair in UTF-16.
const wchar_t kWide[] = L"A\u00e9\u20ac\U0001F600";
const char kUtf8[] = "A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";

TEST(WideToUtf8, ConvertsNonAsciiAndSurrogatePairs)
{
    char out[32];
    std::memset(out, '#', sizeof(out));
    EXPECT_EQ(11, WideToUtf8(kWide, out, sizeof(out)));
    EXPECT_STREQ(kUtf8, out);
    for (size_t i = 11; i < sizeof(out); ++i) EXPECT_EQ('\0', out[i]) << "not zero-filled at " << i;
}

TEST(WideToUtf8, SizeQueryWritesNothing)
{
    char out[4] = "xy";
    EXPECT_EQ(11, WideToUtf8(kWide, nullptr, 0));
    EXPECT_EQ(11, WideToUtf8(kWide, out, 0));
    EXPECT_STREQ("xy", out);
}

TEST(WideToUtf8, ExactSizeFitsOneLessFails)
{
    // "abcdefghi" needs 10 bytes with its terminator.
    char out[10];
    EXPECT_EQ(10, WideToUtf8(L"abcdefghi", out, 10));
    EXPECT_STREQ("abcdefghi", out);
    std::memset(out, '#', sizeof(out));
    EXPECT_EQ(-1, WideToUtf8(L"abcdefghi", out, 9));
    EXPECT_EQ('\0', out[0]);
    EXPECT_EQ('#', out[1]) << "only the first byte is touched";
}

TEST(Utf8ToWide, ConvertsAndQueries)
{
    EXPECT_EQ(6, Utf8ToWide(kUtf8, nullptr, 0));
    wchar_t out[8];
    EXPECT_EQ(6, Utf8ToWide(kUtf8, out, 8));
    EXPECT_STREQ(kWide, out);
    EXPECT_EQ(6, Utf8ToWide(kUtf8, out, 6));
    EXPECT_STREQ(kWide, out);
    EXPECT_EQ(-1, Utf8ToWide(kUtf8, out, 5));
    EXPECT_STREQ(L"", out);
}

TEST(Utf8ToWide, InvalidBytesAreReplacedNotFatal)
{
    wchar_t out[8];
    EXPECT_GT(Utf8ToWide("a\xff" "b", out, 8), 0);
    EXPECT_EQ(L'a', out[0]);
    EXPECT_EQ(L'b', out[wcslen(out) - 1]);
}

TEST(Utf8ToWideRaw, ConvertsWithinCapacity)
{
    wchar_t out[8];
    std::fill(std::begin(out), std::end(out), L'#');
    EXPECT_EQ(5, Utf8ToWideRaw(kUtf8, out, 6));
    EXPECT_STREQ(kWide, out);
    EXPECT_EQ(L'#', out[6]);
}

TEST(Utf8ToWideRaw, RefusesWhatDoesNotFitAndNeverOverflows)
{
    wchar_t out[8];
    std::fill(std::begin(out), std::end(out), L'#');
    EXPECT_EQ(0, Utf8ToWideRaw(kUtf8, out, 5));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(L'\0', out[i]) << i;
    for (int i = 5; i < 8; ++i) EXPECT_EQ(L'#', out[i]) << "wrote past the capacity at " << i;
    EXPECT_EQ(0, Utf8ToWideRaw(kUtf8, out, 0));
    EXPECT_EQ(0, Utf8ToWideRaw(nullptr, out, 8));
    EXPECT_EQ(0, Utf8ToWideRaw("", out, 1));
    EXPECT_STREQ(L"", out);
}

TEST(Utf8ToWideRaw, AnswersWhatItWroteForInvalidInput)
{
    wchar_t out[16];
    const int n = Utf8ToWideRaw("a\xe2\x82" "b\xff\xfe" "c", out, 16);
    ASSERT_GT(n, 0);
    EXPECT_EQ(static_cast<size_t>(n), wcslen(out));
    EXPECT_EQ(L'a', out[0]);
    EXPECT_EQ(L'c', out[n - 1]);
}

}  // namespace
