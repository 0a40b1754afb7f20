#include "util/Unscramble.h"

#include "standins/scrambler/Scrambler.h"
#include "util/Utf8.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kGuard = 8;
constexpr char kNarrowGuard = '#';
constexpr wchar_t kWideGuard = 0xBEEF;

std::wstring Widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

std::string ToUtf8(const std::wstring& wide)
{
    const int cb = WideToUtf8(wide.c_str(), nullptr, 0);
    std::string out(static_cast<size_t>(cb), '\0');
    WideToUtf8(wide.c_str(), &out[0], cb);
    out.resize(static_cast<size_t>(cb) - 1);
    return out;
}

// Unscrambles into an output of size bytes followed by guard bytes that must survive.
std::string Narrow(const std::string& hex, size_t size, int* count = nullptr)
{
    std::vector<char> buf(size + kGuard, kNarrowGuard);
    const int n = UnscrambleHexText(hex.c_str(), buf.data(), size);
    if (count) *count = n;
    for (size_t i = size; i < buf.size(); ++i) EXPECT_EQ(kNarrowGuard, buf[i]) << "overflow at " << i;
    if (size == 0) return std::string();
    EXPECT_LT(strnlen(buf.data(), size), size) << "no terminator";
    return std::string(buf.data());
}

std::string Narrow(const std::string& hex)
{
    return Narrow(hex, hex.size() + 1);
}

// The same for the wide routine with a capacity in characters.
std::wstring Wide(const std::wstring& hex, size_t capacity, int* result = nullptr)
{
    std::vector<wchar_t> buf(capacity + kGuard, kWideGuard);
    const int n = UnscrambleHexTextW(hex.c_str(), buf.data(), capacity);
    if (result) *result = n;
    for (size_t i = capacity; i < buf.size(); ++i) EXPECT_EQ(kWideGuard, buf[i]) << "overflow at " << i;
    if (capacity == 0) return std::wstring();
    EXPECT_LT(wcsnlen(buf.data(), capacity), capacity) << "no terminator";
    EXPECT_EQ(static_cast<size_t>(n), wcslen(buf.data())) << "the answer is the length";
    return std::wstring(buf.data());
}

std::wstring Wide(const std::string& hex)
{
    return Wide(Widen(hex), hex.size() + 1);
}

TEST(Unscramble, HandComputedFormsGiveTheirText)
{
    // 'H' ^ ',' = 0x64 and 'i' ^ 'y' = 0x10 from key position 0; 'H' ^ 'A', 'i' ^ '.' from 2.
    EXPECT_EQ("Hi", Narrow("00006410"));
    EXPECT_EQ("Hi", Narrow("02000947"));
    EXPECT_EQ(L"Hi", Wide("00006410"));
    EXPECT_EQ(L"Hi", Wide("02000947"));
}

TEST(Unscramble, TextsOfAtMostFourCharactersAreEmpty)
{
    for (const char* hex : {"", "0", "00", "000", "0000", "FF03"}) {
        int count = -1;
        EXPECT_EQ("", Narrow(hex, 16, &count)) << hex;
        EXPECT_EQ(0, count) << hex;
        int length = -1;
        EXPECT_EQ(L"", Wide(Widen(hex), 16, &length)) << hex;
        EXPECT_EQ(0, length) << hex;
    }
    char out[4] = "xyz";
    EXPECT_EQ(0, UnscrambleHexText(nullptr, out, sizeof(out)));
    EXPECT_STREQ("", out);
    wchar_t wout[4] = L"xyz";
    EXPECT_EQ(0, UnscrambleHexTextW(nullptr, wout, 4));
    EXPECT_STREQ(L"", wout);
}

TEST(Unscramble, OddLengthEndsWithOneDigitReadAlone)
{
    // 0x6 ^ ',' (0x2C) = 0x2A.
    int count = 0;
    EXPECT_EQ("*", Narrow("00006", 8, &count));
    EXPECT_EQ(1, count);
    // "64" gives 'H', then "1" ^ 'y' = 0x01 ^ 0x79 = 'x'.
    EXPECT_EQ("Hx", Narrow("0000641", 8, &count));
    EXPECT_EQ(2, count);
    EXPECT_EQ(L"Hx", Wide("0000641"));
}

TEST(Unscramble, FillerPairsAreSkipped)
{
    // Only the two lowest bits of the second pair count: 07 and fb both mean three fillers.
    EXPECT_EQ("Hi", Narrow("0007DEADBE6410"));
    EXPECT_EQ("Hi", Narrow("00fb0000006410"));
    EXPECT_EQ("Hi", Narrow("00FBzz-!  6410")) << "filler content is never read";
    EXPECT_EQ("Hi", Narrow("0001FF6410"));
    EXPECT_EQ("Hi", Narrow("00046410")) << "04 has no filler";
    EXPECT_EQ(L"Hi", Wide("0007DEADBE6410"));
    // Fillers running past the end of the text leave no data.
    EXPECT_EQ("", Narrow("0003DEAD"));
}

TEST(Unscramble, EitherCaseOfDigitsReadsAlike)
{
    ScrambleOptions upper;
    upper.start = 0xAB;
    upper.fillers = {0xCD};
    ScrambleOptions lower = upper;
    lower.lowerCase = true;
    const std::string plain = "\xff\xfe secret \xab\xcd";
    const std::string hexUpper = ScrambleHexText(plain, upper);
    const std::string hexLower = ScrambleHexText(plain, lower);
    ASSERT_NE(hexUpper, hexLower);
    std::string mixed = hexUpper;
    for (size_t i = 0; i < mixed.size(); i += 3) mixed[i] = hexLower[i];
    EXPECT_EQ(plain, Narrow(hexUpper));
    EXPECT_EQ(plain, Narrow(hexLower));
    EXPECT_EQ(plain, Narrow(mixed));
}

TEST(Unscramble, ZeroBytesAreCountedButNotWritten)
{
    const std::string hex = ScrambleHexText(std::string("a\0b", 3));
    int count = 0;
    EXPECT_EQ("ab", Narrow(hex, 16, &count));
    EXPECT_EQ(3, count);
}

TEST(Unscramble, SignedHeaderPairCannotLeaveTheKey)
{
    // "%X" reads "-1" as -1: its low eight bits, 255, are the start position.
    const std::string pairs = ScrambleHexText("abc", ScrambleOptions{255, {}, 0, false}).substr(4);
    EXPECT_EQ("abc", Narrow("-100" + pairs));
    EXPECT_EQ("abc", Narrow("FF00" + pairs));
}

TEST(Unscramble, KeyPositionWrapsFrom991ToZero)
{
    std::mt19937 rng(992);
    std::string plain(900, '\0');
    for (char& c : plain) c = static_cast<char>(rng() % 255 + 1);
    ScrambleOptions from255;
    from255.start = 255;
    const std::string hex = ScrambleHexText(plain, from255);
    EXPECT_EQ(plain, Narrow(hex));
}

TEST(Unscramble, NarrowOutputKeepsItsTerminator)
{
    const std::string hex = ScrambleHexText("abcdefgh");
    int count = 0;
    EXPECT_EQ("abcd", Narrow(hex, 5, &count));
    EXPECT_EQ(4, count) << "stops after size - 1 pairs";
    EXPECT_EQ("", Narrow(hex, 1, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(0, UnscrambleHexText(hex.c_str(), nullptr, 5));
    char untouched = kNarrowGuard;
    EXPECT_EQ(0, UnscrambleHexText(hex.c_str(), &untouched, 0));
    EXPECT_EQ(kNarrowGuard, untouched);
}

TEST(UnscrambleW, TextThatDoesNotFitComesOutEmptyNotCut)
{
    struct Case
    {
        std::wstring plain;
        size_t units;
    };
    const Case cases[] = {
        {L"abcdef", 6},
        {L"\u20ac\u20ac\u20ac\u20ac", 4},      // three UTF-8 bytes each
        {L"\U0001F600\U0001F600", 4},           // surrogate pairs
        {L"\u00e9a\u20ac\U0001F600", 5},
    };
    for (const Case& c : cases) {
        const std::wstring hex = Widen(ScrambleHexText(ToUtf8(c.plain)));
        int length = -1;
        EXPECT_EQ(c.plain, Wide(hex, c.units + 1, &length));
        EXPECT_EQ(static_cast<int>(c.units), length);
        EXPECT_EQ(L"", Wide(hex, c.units, &length)) << "no room for the terminator";
        EXPECT_EQ(0, length);
        EXPECT_EQ(L"", Wide(hex, 1, &length));
        EXPECT_EQ(0, length);
    }
}

TEST(UnscrambleW, SmallCapacitiesNeverOverflow)
{
    // The working buffer takes up to three bytes per output character, which as ASCII would
    // be three times the output: every capacity below the text's needs must give nothing.
    const std::string plain(40, 'k');
    const std::wstring hex = Widen(ScrambleHexText(plain));
    for (size_t capacity = 1; capacity <= plain.size() + 2; ++capacity) {
        const std::wstring got = Wide(hex, capacity);
        EXPECT_EQ(capacity > plain.size() ? Widen(plain) : L"", got) << "capacity " << capacity;
    }
}

// Random plain texts of ASCII and non-ASCII characters, surrogate pairs included.
std::wstring RandomText(std::mt19937& rng)
{
    std::wstring text;
    const size_t length = rng() % 40;
    for (size_t i = 0; i < length; ++i) {
        switch (rng() % 4) {
        case 0: text += static_cast<wchar_t>(0x20 + rng() % 0x5F); break;
        case 1: text += static_cast<wchar_t>(0x80 + rng() % 0x780); break;
        case 2: text += static_cast<wchar_t>(0x3000 + rng() % 0xA000); break;
        default: {
            const unsigned above = rng() % 0x100000;  // the code point less 0x10000
            text += static_cast<wchar_t>(0xD800 + (above >> 10));
            text += static_cast<wchar_t>(0xDC00 + (above & 0x3FF));
        }
        }
    }
    return text;
}

ScrambleOptions RandomOptions(std::mt19937& rng)
{
    ScrambleOptions options;
    options.start = rng() % 256;
    options.fillers.resize(rng() % 4);
    for (unsigned char& f : options.fillers) f = static_cast<unsigned char>(rng());
    options.headerBits = static_cast<unsigned char>(rng());
    options.lowerCase = rng() % 2 == 0;
    return options;
}

TEST(Unscramble, RandomTextsRoundTrip)
{
    std::mt19937 rng(20240611);
    for (int i = 0; i < 400; ++i) {
        const std::wstring plain = RandomText(rng);
        const std::string utf8 = ToUtf8(plain);
        const std::string hex = ScrambleHexText(utf8, RandomOptions(rng));
        ASSERT_EQ(plain, Wide(Widen(hex), plain.size() + 1 + rng() % 4)) << "case " << i;
        ASSERT_EQ(utf8, Narrow(hex, utf8.size() + 1 + rng() % 4)) << "case " << i;
    }
}

TEST(Unscramble, RandomGarbageNeverOverflows)
{
    const wchar_t alphabet[] = L"0123456789abcdefABCDEF-+xX \t\u00e9\u20ac\xD83D\xDE00";
    const size_t alphabetSize = sizeof(alphabet) / sizeof(alphabet[0]) - 1;
    std::mt19937 rng(77);
    for (int i = 0; i < 2000; ++i) {
        std::wstring hex;
        const size_t length = rng() % 60;
        for (size_t k = 0; k < length; ++k) hex += alphabet[rng() % alphabetSize];
        const size_t capacity = 1 + rng() % 24;
        Wide(hex, capacity);
        std::string narrowHex;
        for (wchar_t c : hex) narrowHex += static_cast<char>(c < 0x80 ? c : 0xC3);
        Narrow(narrowHex, capacity);
        if (HasFailure()) FAIL() << "case " << i;
    }
}

}  // namespace
