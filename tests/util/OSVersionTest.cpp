#include "util/OSVersion.h"

#include <gtest/gtest.h>

namespace {

TEST(OSVersionClassFromVersion, EveryRowOfTheTable)
{
    struct Row {
        unsigned long platform, major, minor;
        int expected;
    };
    const Row rows[] = {
        {0, 3, 10, 0}, {0, 0, 0, 0},                                 // Win32s, any version
        {1, 4, 0, 1},  {1, 4, 10, 2},  {1, 4, 90, 3},                // 95, 98, Me
        {1, 4, 1, -1}, {1, 5, 0, -1},  {1, 3, 0, -1},                // unknown 9x versions
        {2, 3, 51, 4}, {2, 4, 0, 4},                                 // NT 3.51, NT 4
        {2, 5, 0, 5},  {2, 5, 1, 6},   {2, 5, 2, 7},  {2, 5, 9, 7},  // 2000, XP, 2003 and 5.x above
        {2, 6, 0, 8},  {2, 6, 1, 9},   {2, 6, 2, 9},  {2, 6, 3, 9},  // Vista, 7, 8, 8.1
        {2, 10, 0, 9}, {2, 7, 0, 9},                                 // anything above 6
        {3, 6, 1, -1}, {4, 10, 0, -1},                               // unknown platforms
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.expected, OSVersionClassFromVersion(r.platform, r.major, r.minor))
            << "platform " << r.platform << " version " << r.major << "." << r.minor;
    }
}

}  // namespace
