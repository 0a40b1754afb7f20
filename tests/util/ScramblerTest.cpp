// The key and the test scrambler, pinned against hand-computed values so that a fault the
// scrambler and the unscrambler share cannot hide behind their round trips.
#include "standins/scrambler/Scrambler.h"
#include "util/ScrambleKey.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

namespace {

TEST(ScrambleKey, Is992PrintableAsciiCharactersAndWraps)
{
    std::set<unsigned char> distinct;
    for (size_t i = 0; i < kScrambleKeyLength; ++i) {
        const unsigned char c = ScrambleKeyAt(i);
        ASSERT_TRUE(c >= 0x20 && c <= 0x7E) << "position " << i;
        distinct.insert(c);
    }
    EXPECT_GT(distinct.size(), 64u) << "a key of few characters scrambles poorly";
    EXPECT_EQ(ScrambleKeyAt(0), ScrambleKeyAt(kScrambleKeyLength));
    EXPECT_EQ(ScrambleKeyAt(991), ScrambleKeyAt(2 * kScrambleKeyLength - 1));
    // The first characters, so that a changed key shows up here and not in the field.
    EXPECT_EQ(',', ScrambleKeyAt(0));
    EXPECT_EQ('y', ScrambleKeyAt(1));
    EXPECT_EQ('A', ScrambleKeyAt(2));
    EXPECT_EQ('.', ScrambleKeyAt(3));
}

TEST(ScrambleHexText, WritesHeaderFillersAndXoredPairs)
{
    // 'H' ^ ',' = 0x64, 'i' ^ 'y' = 0x10.
    EXPECT_EQ("00006410", ScrambleHexText("Hi"));
    // From key position 2: 'H' ^ 'A' = 0x09, 'i' ^ '.' = 0x47.
    ScrambleOptions from2;
    from2.start = 2;
    EXPECT_EQ("02000947", ScrambleHexText("Hi", from2));

    ScrambleOptions fillers;
    fillers.start = 0xAB;
    fillers.fillers = {0x00, 0xFE, 0x5A};
    fillers.headerBits = 0xF8;
    fillers.lowerCase = true;
    EXPECT_EQ("abfb00fe5a", ScrambleHexText("", fillers));
}

TEST(ScrambleHexText, RejectsOptionsTheFormCannotHold)
{
    ScrambleOptions start;
    start.start = 256;
    EXPECT_THROW(ScrambleHexText("x", start), std::invalid_argument);
    ScrambleOptions fillers;
    fillers.fillers = {1, 2, 3, 4};
    EXPECT_THROW(ScrambleHexText("x", fillers), std::invalid_argument);
}

TEST(ScrambleHexText, KeyPositionWrapsAfter991)
{
    // With S = 255 the 738th byte (index 737) meets key position 0 again.
    const std::string plain(800, 'q');
    ScrambleOptions from255;
    from255.start = 255;
    const std::string wrapped = ScrambleHexText(plain, from255);
    const std::string fromZero = ScrambleHexText(plain);
    EXPECT_EQ(fromZero.substr(4, 2), wrapped.substr(4 + 2 * 737, 2));
    EXPECT_EQ(fromZero.substr(6, 2), wrapped.substr(4 + 2 * 738, 2));
}

}  // namespace
