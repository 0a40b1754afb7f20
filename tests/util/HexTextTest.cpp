#include "util/HexText.h"

#include <gtest/gtest.h>

namespace {

// Reads as "%X" does, 32 bits wide. That HexToIntN sees only its first characters is checked
// against HexToInt by the text-pieces fuzz target.
TEST(HexToInt, ReadsLikeAHexScan)
{
    const struct {
        const char* text;
        int expected;
    } rows[] = {
        {"1F", 31},       {"1f", 31},    {"0xff", 255}, {"0XFF", 255},
        {"  ab", 171},    {"1ag", 0x1a}, {"zz", 0},     {"", 0},
        {nullptr, 0},     {"-", 0},      {"0x", 0},     {"0xg", 0},
        {"FFFFFFFF", -1}, {"-1", -1},    {"+10", 0x10}, {"123456789", 0x23456789},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, HexToInt(row.text)) << (row.text ? row.text : "(null)");
}

}  // namespace
