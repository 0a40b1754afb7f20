#include "util/TagReader.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kGuard = 8;
constexpr wchar_t kGuardChar = 0xBEEF;
const wchar_t kDefault[] = L"dflt";

// The text placed so that its terminator is the last character before a page the process
// may not touch: reading one character past the end faults.
class GuardedText
{
public:
    explicit GuardedText(const std::wstring& text)
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        m_page = info.dwPageSize;
        const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        m_dataPages = (bytes + m_page - 1) / m_page;
        m_base = static_cast<char*>(VirtualAlloc(nullptr, (m_dataPages + 1) * m_page, MEM_RESERVE | MEM_COMMIT,
                                                 PAGE_READWRITE));
        DWORD old = 0;
        if (m_base == nullptr || !VirtualProtect(m_base + m_dataPages * m_page, m_page, PAGE_NOACCESS, &old)) {
            ADD_FAILURE() << "[VirtualAlloc] " << GetLastError();
            return;
        }
        m_text = reinterpret_cast<wchar_t*>(m_base + m_dataPages * m_page - bytes);
        std::memcpy(m_text, text.c_str(), bytes);
    }
    ~GuardedText()
    {
        if (m_base) VirtualFree(m_base, 0, MEM_RELEASE);
    }
    GuardedText(const GuardedText&) = delete;
    GuardedText& operator=(const GuardedText&) = delete;

    const wchar_t* Get() const { return m_text; }

private:
    size_t m_page = 0;
    size_t m_dataPages = 0;
    char* m_base = nullptr;
    wchar_t* m_text = nullptr;
};

struct Result
{
    bool found;          // the output buffer was returned, not the default
    std::wstring value;  // what the output buffer holds afterwards
};

// Reads through a guarded text into an output of capacity characters followed by guards.
Result Read(const std::wstring& text, const std::wstring& name, size_t capacity = 64,
            const wchar_t* defaultText = kDefault)
{
    GuardedText guarded(text);
    std::vector<wchar_t> out(capacity + kGuard, kGuardChar);
    const wchar_t* answer = TagGetString(guarded.Get(), name.c_str(), capacity, out.data(), defaultText);
    for (size_t i = capacity; i < out.size(); ++i) EXPECT_EQ(kGuardChar, out[i]) << "overflow at " << i;
    EXPECT_LT(wcsnlen(out.data(), capacity), capacity) << "no terminator";
    const bool found = answer == out.data();
    if (!found) {
        EXPECT_EQ(defaultText, answer) << "the answer is either the output or the default";
    }
    return Result{found, std::wstring(out.data())};
}

TEST(TagGetString, FindsAndTrimsTheValue)
{
    Result r = Read(L"<Status>SUCCESS</Status>", L"Status");
    EXPECT_TRUE(r.found);
    EXPECT_EQ(L"SUCCESS", r.value);

    r = Read(L"<Status>  SUCCESS \r\n</Status>", L"Status");
    EXPECT_TRUE(r.found);
    EXPECT_EQ(L"SUCCESS", r.value);

    r = Read(L"<V>\t\r\n a b \t\n</V>", L"V");
    EXPECT_EQ(L"a b", r.value) << "inner white space stays";

    r = Read(L"<V>\va\f</V>", L"V");
    EXPECT_EQ(L"\va\f", r.value) << "only space, CR, LF and tab are trimmed";
}

TEST(TagGetString, EmptyAndWhiteValuesAreFoundEmpty)
{
    Result r = Read(L"<Status></Status>", L"Status");
    EXPECT_TRUE(r.found);
    EXPECT_EQ(L"", r.value);

    r = Read(L"<Status> \r\n\t</Status>", L"Status");
    EXPECT_TRUE(r.found);
    EXPECT_EQ(L"", r.value);
}

TEST(TagGetString, MarksMustMatchExactly)
{
    for (const wchar_t* text : {L"<status>SUCCESS</status>", L"<Status x=1>SUCCESS</Status>",
                                L"< Status>SUCCESS</Status>"}) {
        Result r = Read(text, L"Status");
        EXPECT_FALSE(r.found) << text;
        EXPECT_EQ(kDefault, r.value) << text;
    }
    Result r = Read(L"<DlkUrlRootEx>x</DlkUrlRootEx>", L"DlkUrlRoot");
    EXPECT_FALSE(r.found) << "the mark includes its '>'";
}

TEST(TagGetString, UnfinishedValuesGiveTheDefault)
{
    for (const wchar_t* text : {L"<Status>SUCCESS", L"<Status>", L"<Status>  \r\n", L"<Status>x</Status",
                                L"", L"</Status>x<Status>"}) {
        Result r = Read(text, L"Status");
        EXPECT_FALSE(r.found) << text;
        EXPECT_EQ(kDefault, r.value) << text;
    }
}

TEST(TagGetString, FirstOccurrenceWinsAndNothingIsUnescaped)
{
    EXPECT_EQ(L"1", Read(L"<A>1</A><A>2</A>", L"A").value);
    EXPECT_EQ(L"<b>&amp;</b>", Read(L"<A><b>&amp;</b></A>", L"A").value);
    EXPECT_EQ(L"<A>x", Read(L"<A><A>x</A></A>", L"A").value) << "no nesting";
    EXPECT_EQ(L"x", Read(L"<>x</>", L"").value) << "an empty name makes the marks <> and </>";
}

TEST(TagGetString, ValueMustBeShorterThanTheCapacity)
{
    Result r = Read(L"<V>abcd</V>", L"V", 5);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(L"abcd", r.value);

    r = Read(L"<V>abcde</V>", L"V", 5, L"xy");
    EXPECT_FALSE(r.found);
    EXPECT_EQ(L"xy", r.value) << "the output keeps the default";

    r = Read(L"<V>abcde</V>", L"V", 5, L"a default longer than five");
    EXPECT_FALSE(r.found);
    EXPECT_EQ(L"a de", r.value) << "a long default is cut in the output";

    r = Read(L"<V>a</V>", L"V", 1);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(L"", r.value);
}

TEST(TagGetString, NullArgumentsGiveTheDefault)
{
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

TEST(TagGetString, LongNamesAreSearchedWithTheirCutMarks)
{
    const std::wstring name252(252, L'n');
    EXPECT_EQ(L"v", Read(L"<" + name252 + L">v</" + name252 + L">", name252).value);
    EXPECT_FALSE(Read(L"<" + name252 + L"n>v</" + name252 + L"n>", name252).found);

    // "<" and 300 characters is cut to "<" and 254 of them: the search finds that prefix,
    // and the value starts right after it.
    const std::wstring name300(300, L'n');
    const std::wstring text = L"<" + name300 + L">v</" + name300 + L">";
    Result r = Read(text, name300, 512);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(std::wstring(46, L'n') + L">v", r.value);
}

// A plain model of the reader over std::wstring; false for "not found".
bool ModelFind(const std::wstring& text, const std::wstring& name, std::wstring* value)
{
    auto isSpace = [](wchar_t c) { return c == L' ' || c == L'\r' || c == L'\n' || c == L'\t'; };
    const std::wstring open = L"<" + name + L">";
    size_t start = text.find(open);
    if (start == std::wstring::npos) return false;
    start += open.size();
    while (start < text.size() && isSpace(text[start])) ++start;
    if (start == text.size()) return false;
    size_t end = text.find(L"</" + name + L">", start);
    if (end == std::wstring::npos) return false;
    while (end > start && isSpace(text[end - 1])) --end;
    *value = text.substr(start, end - start);
    return true;
}

TEST(TagGetString, RandomTextsAgreeWithAPlainModel)
{
    const std::wstring pieces[] = {L"<A>", L"</A>", L"<AB>", L"</AB>", L"<a>", L"</a>", L"<", L">", L"/",
                                   L"</", L"A", L"B", L"x", L" ", L"\r", L"\n", L"\t", L"\u00e9"};
    const std::wstring names[] = {L"A", L"AB", L"a", L"B", L""};
    const wchar_t* defaults[] = {L"", L"d", L"a longer default"};
    std::mt19937 rng(5321);
    for (int i = 0; i < 3000; ++i) {
        std::wstring text;
        const size_t count = rng() % 14;
        for (size_t k = 0; k < count; ++k) text += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
        const std::wstring& name = names[rng() % (sizeof(names) / sizeof(names[0]))];
        const size_t capacity = 1 + rng() % 10;
        const wchar_t* defaultText = defaults[rng() % 3];

        std::wstring value;
        const bool modelFound = ModelFind(text, name, &value) && value.size() < capacity;
        const std::wstring expected = modelFound ? value : std::wstring(defaultText).substr(0, capacity - 1);
        const Result r = Read(text, name, capacity, defaultText);
        ASSERT_EQ(modelFound, r.found) << "case " << i;
        ASSERT_EQ(expected, r.value) << "case " << i;
        if (HasFailure()) FAIL() << "case " << i;
    }
}

}  // namespace
