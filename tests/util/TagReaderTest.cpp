#include "util/TagReader.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

// Random texts, names, capacities and defaults are compared with a plain model, under the
// address sanitizer, by the tag-reader fuzz target; these rows pin the cases by hand.
TEST(TagGetString, FindsTrimmedValuesOrGivesTheDefault)
{
    constexpr size_t kGuard = 8;
    constexpr wchar_t kGuardChar = 0xBEEF;
    struct Row {
        const char* name;
        std::wstring text;
        std::wstring tag;
        size_t capacity;
        const wchar_t* defaultText;
        bool found;  // the output is answered, not the default
        std::wstring value;
    };
    const std::wstring name300(300, L'n');
    const Row rows[] = {
        {"plain", L"<Status>SUCCESS</Status>", L"Status", 64, L"dflt", true, L"SUCCESS"},
        {"trimmed", L"<V>\t\r\n a b \t\n</V>", L"V", 64, L"dflt", true, L"a b"},
        {"only space CR LF tab trimmed", L"<V>\va\f</V>", L"V", 64, L"dflt", true, L"\va\f"},
        {"white value", L"<V> \r\n\t</V>", L"V", 64, L"dflt", true, L""},
        {"case matters", L"<status>x</status>", L"Status", 64, L"dflt", false, L"dflt"},
        {"mark includes its '>'", L"<DlkUrlRootEx>x</DlkUrlRootEx>", L"DlkUrlRoot", 64, L"dflt", false, L"dflt"},
        {"only white after the mark", L"<V>  \r\n", L"V", 64, L"dflt", false, L"dflt"},
        {"closing mark first", L"</V>x<V>", L"V", 64, L"dflt", false, L"dflt"},
        {"first occurrence wins", L"<A>1</A><A>2</A>", L"A", 64, L"dflt", true, L"1"},
        {"no nesting, nothing unescaped", L"<A><b>&amp;</b><A>x</A></A>", L"A", 64, L"dflt", true, L"<b>&amp;</b><A>x"},
        {"as long as capacity", L"<V>abcde</V>", L"V", 5, L"xy", false, L"xy"},
        {"long default cut", L"<V>abcde</V>", L"V", 5, L"a default longer than five", false, L"a de"},
        {"capacity one", L"<V>a</V>", L"V", 1, L"dflt", false, L""},
        // "<" and 300 characters is cut to "<" and 254 of them: the value starts right after.
        {"longer name cut with its mark", L"<" + name300 + L">v</" + name300 + L">", name300, 512, L"dflt", true,
         std::wstring(46, L'n') + L">v"},
    };
    for (const Row& row : rows) {
        std::vector<wchar_t> out(row.capacity + kGuard, kGuardChar);
        const wchar_t* answer = TagGetString(row.text.c_str(), row.tag.c_str(), row.capacity, out.data(), row.defaultText);
        EXPECT_EQ(row.found ? out.data() : row.defaultText, answer) << row.name;
        EXPECT_EQ(row.value, std::wstring(out.data(), wcsnlen(out.data(), row.capacity))) << row.name;
        EXPECT_EQ(std::vector<wchar_t>(kGuard, kGuardChar), std::vector<wchar_t>(out.begin() + row.capacity, out.end()))
            << row.name << ": written past the capacity";
    }
}

TEST(TagGetString, NullArgumentsGiveTheDefault)
{
    const wchar_t kDefault[] = L"dflt";
    wchar_t out[8];
    EXPECT_EQ(kDefault, TagGetString(nullptr, L"V", 8, out, kDefault));
    EXPECT_STREQ(kDefault, out);
    EXPECT_EQ(kDefault, TagGetString(L"<V>1</V>", nullptr, 8, out, kDefault));
    EXPECT_EQ(kDefault, TagGetString(L"<V>1</V>", L"V", 8, nullptr, kDefault));
    const wchar_t* answer = TagGetString(L"<W>1</W>", L"V", 8, out, nullptr);
    ASSERT_NE(nullptr, answer);
    EXPECT_STREQ(L"", answer);
    EXPECT_STREQ(L"", out);
}

}  // namespace
