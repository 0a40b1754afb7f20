#include "util/SafeString.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Fills a buffer with a marker so writes past the allowed size show up.
template <size_t N>
void Poison(wchar_t (&buf)[N])
{
    for (auto& c : buf) c = L'#';
}

TEST(SafeWcsCopy, CutsAtExactLimitAndReportsIt)
{
    wchar_t buf[12];
    Poison(buf);
    EXPECT_EQ(2, SafeWcsCopy(buf, L"0123456789", 10));
    EXPECT_STREQ(L"012345678", buf);
    EXPECT_EQ(L'#', buf[10]) << "wrote past the destination size";

    Poison(buf);
    EXPECT_EQ(1, SafeWcsCopy(buf, L"0123456789", 11));
    EXPECT_STREQ(L"0123456789", buf);
    EXPECT_EQ(L'#', buf[11]);
}

TEST(SafeWcsCopy, ZeroFillsTheWholeDestination)
{
    wchar_t buf[8];
    Poison(buf);
    EXPECT_EQ(1, SafeWcsCopy(buf, L"ab", 8));
    for (int i = 2; i < 8; ++i) EXPECT_EQ(L'\0', buf[i]) << i;
}

TEST(SafeWcsCopy, RefusesNullPointersAndZeroSize)
{
    wchar_t buf[4] = L"xyz";
    EXPECT_EQ(-1, SafeWcsCopy(nullptr, L"a", 4));
    EXPECT_EQ(-1, SafeWcsCopy(buf, nullptr, 4));
    EXPECT_EQ(-1, SafeWcsCopy(buf, L"a", 0));
    EXPECT_STREQ(L"xyz", buf);
}

TEST(BoundedCopy, ResultsFollowTheSafeStringContract)
{
    wchar_t buf[4];
    EXPECT_EQ(KS_S_OK, BoundedCopy(buf, 4, L"abc"));
    EXPECT_STREQ(L"abc", buf);
    EXPECT_EQ(KS_E_INSUFFICIENT_BUFFER, BoundedCopy(buf, 4, L"abcd"));
    EXPECT_STREQ(L"abc", buf);
    EXPECT_EQ(KS_E_INVALID_PARAMETER, BoundedCopy(buf, 0, L"a"));
    EXPECT_EQ(KS_E_INVALID_PARAMETER, BoundedCopy(buf, KS_MAX_CCH + 1, L"a"));
    EXPECT_EQ(KS_S_OK, BoundedCopy(buf, 4, nullptr));
    EXPECT_STREQ(L"", buf);
}

TEST(BoundedCopy, SizeOneHoldsOnlyTheTerminator)
{
    wchar_t buf[2] = {L'x', L'#'};
    EXPECT_EQ(KS_E_INSUFFICIENT_BUFFER, BoundedCopy(buf, 1, L"a"));
    EXPECT_EQ(L'\0', buf[0]);
    EXPECT_EQ(L'#', buf[1]);
    EXPECT_EQ(KS_S_OK, BoundedCopy(buf, 1, L""));
}

TEST(BoundedCopyN, CopiesAtMostTheCountAndStopsAtTheTerminator)
{
    wchar_t buf[8];
    EXPECT_EQ(KS_S_OK, BoundedCopyN(buf, 8, L"abcdef", 3));
    EXPECT_STREQ(L"abc", buf);
    EXPECT_EQ(KS_S_OK, BoundedCopyN(buf, 8, L"ab", 5));
    EXPECT_STREQ(L"ab", buf);
    EXPECT_EQ(KS_E_INSUFFICIENT_BUFFER, BoundedCopyN(buf, 3, L"abcdef", 5));
    EXPECT_STREQ(L"ab", buf);
    // A count that exactly fills the buffer but stops the source is not a cut.
    EXPECT_EQ(KS_S_OK, BoundedCopyN(buf, 3, L"abcdef", 2));
}

TEST(BoundedAppend, AppendsUpToTheLimit)
{
    wchar_t buf[8] = L"abc";
    EXPECT_EQ(KS_S_OK, BoundedAppend(buf, 8, L"def"));
    EXPECT_STREQ(L"abcdef", buf);
    EXPECT_EQ(KS_E_INSUFFICIENT_BUFFER, BoundedAppend(buf, 8, L"ghi"));
    EXPECT_STREQ(L"abcdefg", buf);
    EXPECT_EQ(KS_E_INSUFFICIENT_BUFFER, BoundedAppend(buf, 8, L"x"));
    EXPECT_STREQ(L"abcdefg", buf);
    EXPECT_EQ(KS_S_OK, BoundedAppend(buf, 8, L""));
}

TEST(BoundedAppend, UnterminatedDestinationIsLeftAlone)
{
    wchar_t buf[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_EQ(KS_E_INVALID_PARAMETER, BoundedAppend(buf, 4, L"x"));
    EXPECT_EQ(L'd', buf[3]);
}

TEST(BoundedFormat, FormatsWideAndNarrowArguments)
{
    wchar_t buf[64];
    EXPECT_EQ(KS_S_OK, BoundedFormat(buf, 64, L"<%ls>%d|%u|%hs", L"Status", -5, 4294967295u, "nar"));
    EXPECT_STREQ(L"<Status>-5|4294967295|nar", buf);
}

TEST(BoundedFormat, CutsLongOutputAtExactLimit)
{
    wchar_t buf[10];
    Poison(buf);
    EXPECT_EQ(KS_E_INSUFFICIENT_BUFFER, BoundedFormat(buf, 6, L"%ls-%d", L"abcd", 42));
    EXPECT_STREQ(L"abcd-", buf);
    EXPECT_EQ(L'#', buf[6]);

    EXPECT_EQ(KS_S_OK, BoundedFormat(buf, 8, L"%ls-%d", L"abcd", 42));
    EXPECT_STREQ(L"abcd-42", buf);
    EXPECT_EQ(KS_E_INSUFFICIENT_BUFFER, BoundedFormat(buf, 7, L"%ls-%d", L"abcd", 42));
    EXPECT_STREQ(L"abcd-4", buf);
}

TEST(BoundedFormat, CutsOutputFarLongerThanTheBuffer)
{
    const std::wstring big(5000, L'z');
    wchar_t buf[32];
    EXPECT_EQ(KS_E_INSUFFICIENT_BUFFER, BoundedFormat(buf, 32, L"a%ls", big.c_str()));
    EXPECT_EQ(std::wstring(L"a") + std::wstring(30, L'z'), buf);
}

TEST(WcsFind, FindsFirstSubstringAndLastCharacter)
{
    const wchar_t* text = L"a/b/c";
    EXPECT_EQ(text + 1, WcsFind(text, L"/"));
    EXPECT_EQ(nullptr, WcsFind(text, L"x"));
    EXPECT_EQ(text + 3, WcsFindLast(text, L'/'));
    EXPECT_EQ(nullptr, WcsFindLast(text, L'x'));
    EXPECT_EQ(nullptr, WcsFind(nullptr, L"a"));
    EXPECT_EQ(nullptr, WcsFindLast(nullptr, L'a'));
}

}  // namespace
