#include "trace/SecretMask.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string Masked(const std::string& text, const std::vector<std::string>& secrets)
{
    std::vector<SecretValue<char>> values;
    for (const std::string& s : secrets)
        values.push_back({s.c_str(), s.size()});
    const size_t cchOut = 256;
    std::vector<char> out(cchOut + 1, '#');
    const size_t needed = MaskSecretValues(text.c_str(), text.size(), values.data(), values.size(),
                                           out.data(), cchOut);
    const std::string whole = std::string(out.data());
    EXPECT_EQ(out[cchOut], '#') << "written past the output";
    EXPECT_EQ(needed, whole.size() + 1) << text;
    EXPECT_EQ(whole != text,
              ContainsSecretValue(text.c_str(), text.size(), values.data(), values.size()));
    return whole;
}

TEST(SecretMask, EveryOccurrenceOfEveryValueIsMaskedLongestFirst)
{
    const struct {
        const char* text;
        std::vector<std::string> secrets;
        const char* expected;
    } rows[] = {
        {"", {"abc"}, ""},
        {"no secret here", {"abc"}, "no secret here"},
        {"abc", {"abc"}, "********"},
        {"xabcabcx", {"abc"}, "x****************x"},
        {"ab", {"abc"}, "ab"},  // a value cut by the end stays
        {"a=s3cr;b=pw", {"s3cr", "pw"}, "a=********;b=********"},
        // Overlapping values: the longest found where a match starts wins, so no tail of the
        // longer value is left in clear.
        {"key:secret!", {"sec", "secret"}, "key:********!"},
        {"key:secret!", {"secret", "sec"}, "key:********!"},
        {"a", {"a"}, "********"},
        {"x", {}, "x"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(row.expected, Masked(row.text, row.secrets));
    }
}

TEST(SecretMask, ShortOutputsAreCutAndTerminatedAndTheSizeIsStillTold)
{
    std::vector<SecretValue<char>> values = {{"pw", 2}};
    char out[6] = {'#', '#', '#', '#', '#', '#'};
    EXPECT_EQ(11u, MaskSecretValues("x pw", 4, values.data(), 1, out, 5));
    EXPECT_EQ(std::string("x **"), std::string(out));
    EXPECT_EQ('#', out[5]);
    EXPECT_EQ(11u, MaskSecretValues("x pw", 4, values.data(), 1, static_cast<char*>(nullptr), 0));
}

// The same text in either width: the rows are ASCII.
template <typename CharT>
std::basic_string<CharT> Widened(const std::string& text)
{
    return std::basic_string<CharT>(text.begin(), text.end());
}

// MaskTokenParameters over the first length characters of text, into an output one longer
// than the masked text needs; checks the size it tells and that nothing is written past it.
template <typename CharT>
std::string TokenMasked(const std::string& text, size_t length, TokenExtent extent)
{
    const std::basic_string<CharT> wide = Widened<CharT>(text);
    const size_t needed = MaskTokenParameters<CharT>(wide.c_str(), length, extent, nullptr, 0);
    std::basic_string<CharT> out(needed + 1, CharT('#'));
    EXPECT_EQ(needed, MaskTokenParameters(wide.c_str(), length, extent, &out[0], needed));
    EXPECT_EQ(CharT('#'), out[needed]) << "written past the output";
    EXPECT_EQ(CharT(0), out[needed - 1]) << "not terminated where the size said";
    return std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(needed - 1));
}

constexpr size_t kWhole = SIZE_MAX;

TEST(TokenMask, EveryTokenParameterIsMaskedInEitherWidth)
{
    const TokenExtent url = TokenExtent::ToTextEnd, answer = TokenExtent::ToLineEnd;
    const struct {
        const char* text;
        TokenExtent extent;
        size_t length;  // kWhole: the whole text
        const char* expected;
    } rows[] = {
        // Where the parameter stands in a query: at the start, at the end, in the middle.
        {"TK=abc", url, kWhole, "TK=********"},
        {"TK=abc", answer, kWhole, "TK=********"},
        {"/u/smt.php?AT=RV&TK=t0k", url, kWhole, "/u/smt.php?AT=RV&TK=********"},
        {"/u/smt.php?AT=RV&TK=t0k", answer, kWhole, "/u/smt.php?AT=RV&TK=********"},
        // The token is put in verbatim and may hold "&": the mask runs on past it.
        {"/u/smt.php?TK=t0k&en&AT=RV", url, kWhole, "/u/smt.php?TK=********"},
        {"/u/smt.php?TK=t0k&en&AT=RV", answer, kWhole, "/u/smt.php?TK=********"},
        // Only the program's own spelling, and only where a parameter starts.
        {"/u/smt.php?tk=abc", url, kWhole, "/u/smt.php?tk=abc"},
        {"/u/smt.php?tk=abc", answer, kWhole, "/u/smt.php?tk=abc"},
        {"OKTK=plain", url, kWhole, "OKTK=plain"},
        {"OKTK=plain", answer, kWhole, "OKTK=plain"},
        // Several tokens: a URL is masked from the first one on, an answer on every line.
        {"?TK=a\n&TK=b\nend", url, kWhole, "?TK=********"},
        {"?TK=a\n&TK=b\nend", answer, kWhole, "?TK=********\n&TK=********\nend"},
        {"?TK=a\r\nx&TK=b", answer, kWhole, "?TK=********\r\nx&TK=********"},
        {"Not found: /u/smt.php?AT=RV&TK=s3cr&t0k</p>\r\nnext line", answer, kWhole,
         "Not found: /u/smt.php?AT=RV&TK=********\r\nnext line"},
        // An empty token: a URL still shows the mask, an answer's line ending behind "TK=" stays.
        {"https://m/smt.php?q=1&TK=", url, kWhole, "https://m/smt.php?q=1&TK=********"},
        {"&TK=\nempty token", url, kWhole, "&TK=********"},
        {"&TK=\nempty token", answer, kWhole, "&TK=\nempty token"},
        // A text cut by its length: inside the token, or inside the parameter's name.
        {"?TK=secret", url, 6, "?TK=********"},
        {"?TK=secret", answer, 6, "?TK=********"},
        {"?TK=secret", url, 3, "?TK"},
        {"no token here", url, kWhole, "no token here"},
        {"", answer, kWhole, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const std::string text = row.text;
        const size_t length = row.length == kWhole ? text.size() : row.length;
        EXPECT_EQ(row.expected, TokenMasked<char>(text, length, row.extent));
        EXPECT_EQ(row.expected, TokenMasked<wchar_t>(text, length, row.extent));
    }
}

TEST(TokenMask, AShortOutputCutsTheMaskAndIsTerminated)
{
    for (const TokenExtent extent : {TokenExtent::ToTextEnd, TokenExtent::ToLineEnd}) {
        wchar_t wide[9] = {L'#', L'#', L'#', L'#', L'#', L'#', L'#', L'#', L'#'};
        EXPECT_EQ(13u, MaskTokenParameters(L"&TK=secret", 10, extent, wide, 8));
        EXPECT_EQ(std::wstring(L"&TK=***"), std::wstring(wide));
        EXPECT_EQ(L'#', wide[8]);
        char narrow[2] = {'#', '#'};
        EXPECT_EQ(13u, MaskTokenParameters("&TK=secret", 10, extent, narrow, 1));
        EXPECT_EQ('\0', narrow[0]);
        EXPECT_EQ('#', narrow[1]);
    }
    wchar_t empty[2] = {L'#', L'#'};
    EXPECT_EQ(1u, MaskTokenParameters<wchar_t>(nullptr, 0, TokenExtent::ToLineEnd, empty, 2));
    EXPECT_EQ(L'\0', empty[0]);
}

TEST(TokenMask, TheTokenOfTheFirstParameterIsFound)
{
    const struct {
        const char* text;
        const char* token;  // null: none found
    } rows[] = {
        {"https://h/smt.php?AT=RV&TK=t0k&en", "t0k&en"},
        {"TK=abc", "abc"},
        {"/x?OKTK=no&TK=yes", "yes"},
        {"/x?TK=", ""},
        {"/x?tk=abc", nullptr},
        {"", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const char* token = TokenOfParameter(row.text, std::string(row.text).size());
        if (row.token == nullptr)
            EXPECT_EQ(nullptr, token);
        else
            EXPECT_EQ(std::string(row.token), token != nullptr ? token : "(none)");
    }
}

}  // namespace
