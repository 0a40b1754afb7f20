#include "util/SafeString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

// Copying, appending and zero-filled copying are checked against a model by the text-pieces
// fuzz target; these are the refusals it never reaches.
TEST(BoundedStrings, UnusableArgumentsAreRefusedUntouched)
{
    wchar_t buf[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_EQ(KS_E_INVALID_PARAMETER, BoundedAppend(buf, 4, L"x"))
        << "no terminator within the size";
    EXPECT_EQ(KS_E_INVALID_PARAMETER, BoundedCopy(buf, 0, L"x"));
    EXPECT_EQ(KS_E_INVALID_PARAMETER, BoundedCopy(buf, KS_MAX_CCH + 1, L"x"));
    EXPECT_EQ(KS_E_INVALID_PARAMETER, BoundedFormat(nullptr, 4, L"x"));
    EXPECT_EQ(-1, SafeWcsCopy(nullptr, L"x", 4));
    EXPECT_EQ(-1, SafeWcsCopy(buf, nullptr, 4));
    EXPECT_EQ(-1, SafeWcsCopy(buf, L"x", 0));
    EXPECT_EQ(L"abcd", std::wstring(buf, 4));
    EXPECT_EQ(KS_S_OK, BoundedCopy(buf, 4, nullptr)) << "a null source is empty text";
    EXPECT_STREQ(L"", buf);
}

// On Windows formatting goes through the C runtime, whose way of reporting a text that does
// not fit differs from the native build's: the cut must come out the same, and the wide and
// narrow conversions mean what they mean there.
TEST(BoundedFormat, CutsAtTheSizeNeverWritesPastItAndFormatsAsTheRuntime)
{
    struct Row {
        size_t size;
        int32_t result;
        const wchar_t* expected;
    };
    const Row rows[] = {{9, KS_S_OK, L"abcd-42"},
                        {8, KS_S_OK, L"abcd-42"},
                        {7, KS_E_INSUFFICIENT_BUFFER, L"abcd-4"},
                        {6, KS_E_INSUFFICIENT_BUFFER, L"abcd-"},
                        {1, KS_E_INSUFFICIENT_BUFFER, L""}};
    for (const Row& row : rows) {
        wchar_t buf[12];
        std::fill(std::begin(buf), std::end(buf), L'#');
        EXPECT_EQ(row.result, BoundedFormat(buf, row.size, L"%ls-%d", L"abcd", 42))
            << "size " << row.size;
        EXPECT_STREQ(row.expected, buf) << "size " << row.size;
        EXPECT_EQ(std::wstring(12 - row.size, L'#'), std::wstring(buf + row.size, 12 - row.size))
            << "size " << row.size;
    }

    const std::wstring big(5000, L'z');
    wchar_t buf[32];
    EXPECT_EQ(KS_E_INSUFFICIENT_BUFFER, BoundedFormat(buf, 32, L"a%ls", big.c_str()));
    EXPECT_EQ(L"a" + std::wstring(30, L'z'), buf);
}

}  // namespace
