#include "threading/CKSCharStr.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

TEST(CKSCharStr, DefaultHasNoBuffer)
{
    CKSCharStr s;
    EXPECT_EQ(nullptr, s.GetBuffer());
    EXPECT_EQ(0u, s.GetLength());
}

TEST(CKSCharStr, NullReleasesEmptyKeepsATerminatorBuffer)
{
    CKSCharStr s;
    ASSERT_TRUE(s.Set("abc"));
    EXPECT_STREQ("abc", s.GetBuffer());
    EXPECT_EQ(3u, s.GetLength());

    ASSERT_TRUE(s.Set(""));
    ASSERT_NE(nullptr, s.GetBuffer());
    EXPECT_STREQ("", s.GetBuffer());
    EXPECT_EQ(0u, s.GetLength());

    ASSERT_TRUE(s.Set(nullptr));
    EXPECT_EQ(nullptr, s.GetBuffer());
    EXPECT_EQ(0u, s.GetLength());
}

TEST(CKSCharStr, SetFromItsOwnTextCopiesBeforeReleasing)
{
    CKSCharStr s;
    s.Set("https://example.invalid/x?y=1");
    ASSERT_TRUE(s.Set(s.GetBuffer()));
    EXPECT_STREQ("https://example.invalid/x?y=1", s.GetBuffer());
    ASSERT_TRUE(s.Set(s.GetBuffer() + 8));
    EXPECT_STREQ("example.invalid/x?y=1", s.GetBuffer());
    EXPECT_EQ(21u, s.GetLength());
}

TEST(CKSCharStr, EmptyReleases)
{
    CKSCharStr s;
    s.Set("x");
    s.Empty();
    EXPECT_EQ(nullptr, s.GetBuffer());
    s.Empty();
}

TEST(CKSCharStr, CopiesAreIndependentMovesTransfer)
{
    CKSCharStr a;
    a.Set("one");
    CKSCharStr b(a);
    a.Set("two");
    EXPECT_STREQ("one", b.GetBuffer());
    EXPECT_NE(a.GetBuffer(), b.GetBuffer());

    CKSCharStr c(std::move(a));
    EXPECT_STREQ("two", c.GetBuffer());
    EXPECT_EQ(nullptr, a.GetBuffer());  // NOLINT(bugprone-use-after-move): moved-from is empty

    b = c;
    EXPECT_STREQ("two", b.GetBuffer());
    b = b;
    EXPECT_STREQ("two", b.GetBuffer());
}

}  // namespace
