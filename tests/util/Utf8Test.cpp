#include "util/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "Aé€😀": 1 + 2 + 3 + 4 UTF-8 bytes; the last character is a surrogate pair in UTF-16.
const wchar_t kWide[] = L"A\u00e9\u20ac\U0001F600";
const char kUtf8[] = "A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";

// Each output is 12 bytes or 8 wide characters of '#' first: a conversion that fits zero-fills
// the size it is given, one that does not only clears the first unit, a size query writes
// nothing. 11 bytes and 6 wide characters hold the text and its terminator.
TEST(WideToUtf8AndUtf8ToWide, ConvertQueryOrRefuseByTheOutputSize)
{
    const std::string utf8(kUtf8);
    const std::wstring wide(kWide);
    struct Row {
        int size;
        int answer;
        std::string utf8Out;
        std::wstring wideOut;
    };
    const Row toUtf8[] = {{12, 11, utf8 + '\0' + '\0', L""},
                          {11, 11, utf8 + '\0' + '#', L""},
                          {10, -1, '\0' + std::string(11, '#'), L""},
                          {0, 11, std::string(12, '#'), L""}};
    for (const Row& row : toUtf8) {
        std::string out(12, '#');
        EXPECT_EQ(row.answer, WideToUtf8(kWide, &out[0], row.size)) << "size " << row.size;
        EXPECT_EQ(row.utf8Out, out) << "size " << row.size;
    }
    EXPECT_EQ(11, WideToUtf8(kWide, nullptr, 0));

    const Row toWide[] = {{8, 6, "", wide + L'\0' + L'\0' + L'\0'},
                          {6, 6, "", wide + L'\0' + L'#' + L'#'},
                          {5, -1, "", L'\0' + std::wstring(7, L'#')},
                          {0, 6, "", std::wstring(8, L'#')}};
    for (const Row& row : toWide) {
        std::wstring out(8, L'#');
        EXPECT_EQ(row.answer, Utf8ToWide(kUtf8, &out[0], row.size)) << "size " << row.size;
        EXPECT_EQ(row.wideOut, out) << "size " << row.size;
    }
    EXPECT_EQ(6, Utf8ToWide(kUtf8, nullptr, 0));
}

}  // namespace
