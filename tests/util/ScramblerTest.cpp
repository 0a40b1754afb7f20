// The key and the test scrambler, pinned against hand-computed values so that a fault the
// scrambler and the unscrambler share cannot hide behind their round trips. The first key
// characters are pinned by the hand-computed stored forms of UnscrambleTest.
#include "standins/scrambler/Scrambler.h"
#include "util/ScrambleKey.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ScrambleHexText, WritesHeaderFillersAndXoredPairsWithTheKeyWrappingAfter991)
{
    // 'H' ^ ',' = 0x64, 'i' ^ 'y' = 0x10 from key position 0; 'H' ^ 'A', 'i' ^ '.' from 2.
    EXPECT_EQ("00006410", ScrambleHexText("Hi"));
    EXPECT_EQ("02000947", ScrambleHexText("Hi", ScrambleOptions{2, {}, 0, false}));
    EXPECT_EQ("abfb00fe5a",
              ScrambleHexText("", ScrambleOptions{0xAB, {0x00, 0xFE, 0x5A}, 0xF8, true}));

    // With S = 255 the 738th byte (index 737) meets key position 0 again.
    const std::string plain(800, 'q');
    const std::string wrapped = ScrambleHexText(plain, ScrambleOptions{255, {}, 0, false});
    EXPECT_EQ(ScrambleHexText(plain).substr(4, 4), wrapped.substr(4 + 2 * 737, 4));
    EXPECT_EQ(ScrambleKeyAt(0), ScrambleKeyAt(kScrambleKeyLength));
    EXPECT_EQ(ScrambleKeyAt(991), ScrambleKeyAt(2 * kScrambleKeyLength - 1));
}

}  // namespace
