#include "threading/CKSCharStr.h"

#include <gtest/gtest.h>

namespace {

// Setting, copying, moving and self-assignment are checked against their description by the
// text-pieces fuzz target; these are the buffer states it never looks at.
TEST(CKSCharStr, EmptyTextKeepsABufferNullAndEmptyReleaseIt)
{
    CKSCharStr s;
    EXPECT_EQ(nullptr, s.GetBuffer());
    ASSERT_TRUE(s.Set(""));
    ASSERT_NE(nullptr, s.GetBuffer());
    EXPECT_STREQ("", s.GetBuffer());

    ASSERT_TRUE(s.Set("abc"));
    s.Empty();
    EXPECT_EQ(nullptr, s.GetBuffer());
    EXPECT_EQ(0u, s.GetLength());
    s.Empty();
}

}  // namespace
