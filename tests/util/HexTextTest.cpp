#include "util/HexText.h"

#include <gtest/gtest.h>

namespace {

// Reads as "%X" does, 32 bits wide; HexToIntN sees only its first characters.
TEST(HexToIntN, ReadsLikeAHexScan)
{
    struct Row {
        const char* text;
        unsigned maxChars;
        int expected;
    };
    const unsigned all = 0xFFFFFFFFu;
    const Row rows[] = {
        {"1F", all, 31},         {"1f", all, 31},          {"0xff", all, 255},       {"0XFF", all, 255},
        {"  ab", all, 171},      {"1ag", all, 0x1a},       {"zz", all, 0},           {"", all, 0},
        {nullptr, all, 0},       {"-", all, 0},            {"0x", all, 0},           {"0xg", all, 0},
        {"FFFFFFFF", all, -1},   {"-1", all, -1},          {"+10", all, 0x10},       {"123456789", all, 0x23456789},
        {"123456", 2, 0x12},     {"1", 2, 1},              {"A", 1, 0xA},            {"0x12", 2, 0},
        {"12", 0, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.expected, HexToIntN(row.text, row.maxChars))
            << (row.text ? row.text : "(null)") << " within " << row.maxChars;
        if (row.maxChars == all) {
            EXPECT_EQ(row.expected, HexToInt(row.text)) << (row.text ? row.text : "(null)");
        }
    }
}

}  // namespace
