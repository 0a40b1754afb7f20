#include "util/Unscramble.h"

#include "standins/scrambler/Scrambler.h"
#include "util/Utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr size_t kGuard = 8;

std::wstring Widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// Unscrambles through the wide form into capacity characters and guards; answers the text.
std::wstring Wide(const std::wstring& hex, size_t capacity)
{
    std::vector<wchar_t> buf(capacity + kGuard, 0xBEEF);
    const int n = UnscrambleHexTextW(hex.c_str(), buf.data(), capacity);
    EXPECT_EQ(std::wstring(kGuard, 0xBEEF), std::wstring(buf.end() - kGuard, buf.end()))
        << "overflow";
    const std::wstring text(buf.data(), wcsnlen(buf.data(), capacity));
    EXPECT_LT(text.size(), capacity) << "no terminator";
    EXPECT_EQ(static_cast<size_t>(n), text.size()) << "the answer is the length";
    return text;
}

// How any stored form of hex digits is read (case, odd lengths, fillers, zero bytes, short
// texts) is checked against a model by the unscramble fuzz target; these stored forms are
// computed by hand, so they pin the key as well, or hold what is not a hex digit, which the
// model leaves out; all of them go through the wide form too, which only the program's build has.
TEST(Unscramble, StoredFormsGiveTheirText)
{
    std::string cycle;  // printable, so that the wide form can read it too
    for (int i = 0; i < 900; ++i)
        cycle += static_cast<char>(0x20 + i % 95);
    struct Row {
        const char* name;
        std::string hex;
        std::string plain;
        int pairs;
    };
    const Row rows[] = {
        // 'H' ^ ',' = 0x64 and 'i' ^ 'y' = 0x10 from key position 0; 'H' ^ 'A', 'i' ^ '.' from 2.
        {"from key position 0", "00006410", "Hi", 2},
        {"from key position 2", "02000947", "Hi", 2},
        {"filler content never read", "00FBzz-!  6410", "Hi", 2},
        // "%X" reads "-1" as -1: its low eight bits, 255, are the start position.
        {"signed start position",
         "-100" + ScrambleHexText("abc", ScrambleOptions{255, {}, 0, false}).substr(4), "abc", 3},
        {"key position wraps from 991 to 0",
         ScrambleHexText(cycle, ScrambleOptions{255, {}, 0, false}), cycle, 900},
    };
    for (const Row& row : rows) {
        std::vector<char> narrow(row.hex.size() + 1, '#');
        EXPECT_EQ(row.pairs, UnscrambleHexText(row.hex.c_str(), narrow.data(), narrow.size()))
            << row.name;
        EXPECT_EQ(row.plain, narrow.data()) << row.name;
        EXPECT_EQ(Widen(row.plain), Wide(Widen(row.hex), row.hex.size() + 1)) << row.name;
    }
}

// The whole key, pinned: 992 data pairs of 0x80 give the key itself from the start position on
// (each character with its high bit set). The digests were computed from the key's 992
// characters outside this program (FNV-1a, 64 bits), so that a change of any one character
// shows, where the rows above pin only the first few.
TEST(Unscramble, TheWholeKeyGivesItsKnownAnswers)
{
    const struct {
        int start;
        uint64_t digest;
    } rows[] = {{0, 0xabf66a82742cff61ull}, {200, 0x04f030a68dc98ec9ull}};
    for (const auto& row : rows) {
        char header[5];
        std::snprintf(header, sizeof(header), "%02X00", row.start);
        std::string hex = header;
        for (int i = 0; i < 992; ++i)
            hex += "80";
        std::vector<char> plain(993, '\0');
        EXPECT_EQ(992, UnscrambleHexText(hex.c_str(), plain.data(), plain.size()));
        uint64_t digest = 0xcbf29ce484222325ull;
        for (int i = 0; i < 992; ++i) {
            digest ^= static_cast<unsigned char>(plain[i]);
            digest *= 0x100000001b3ull;
        }
        EXPECT_EQ(row.digest, digest) << "start " << row.start;
    }
}

TEST(Unscramble, UnusableArgumentsGiveNothing)
{
    char out[4] = "xyz";
    EXPECT_EQ(0, UnscrambleHexText(nullptr, out, sizeof(out)));
    EXPECT_STREQ("", out);
    out[0] = '#';
    EXPECT_EQ(0, UnscrambleHexText("00006410", out, 0));
    EXPECT_EQ('#', out[0]);
    EXPECT_EQ(0, UnscrambleHexText("00006410", nullptr, 5));
    wchar_t wout[4] = L"xyz";
    EXPECT_EQ(0, UnscrambleHexTextW(nullptr, wout, 4));
    EXPECT_STREQ(L"", wout);
}

// The data is UTF-8; a text whose conversion and terminator do not fit must come out empty:
// a cut secret is never the right one.
TEST(UnscrambleW, TextThatDoesNotFitComesOutEmptyNotCut)
{
    struct Row {
        std::wstring plain;
        size_t units;
        ScrambleOptions options;
    };
    const Row rows[] = {
        {L"abcdef", 6, {}},
        // Up to three bytes are read per output character: as ASCII, three times the output.
        {std::wstring(40, L'k'), 40, {}},
        {L"\u20ac\u20ac\u20ac\u20ac", 4, {}},  // three UTF-8 bytes each
        {L"\U0001F600\U0001F600", 4, {}},      // surrogate pairs
        {L"\u00e9a\u20ac\U0001F600", 5, ScrambleOptions{7, {1, 2, 3}, 0xFC, true}},
    };
    for (const Row& row : rows) {
        char utf8[64];
        ASSERT_GT(WideToUtf8(row.plain.c_str(), utf8, sizeof(utf8)), 0);
        const std::wstring hex = Widen(ScrambleHexText(utf8, row.options));
        EXPECT_EQ(row.plain, Wide(hex, row.units + 1));
        EXPECT_EQ(L"", Wide(hex, row.units)) << "no room for the terminator";
        EXPECT_EQ(L"", Wide(hex, 1));
    }
    // Not UTF-8 ("\xff\xba"): whatever the conversion makes of it, the answer is its length.
    Wide(L"0000D3C3", 8);
}

}  // namespace
