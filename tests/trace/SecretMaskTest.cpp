#include "trace/SecretMask.h"

#include <gtest/gtest.h>

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

}  // namespace
