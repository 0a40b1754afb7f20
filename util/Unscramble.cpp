#include "util/Unscramble.h"

#include "util/HexText.h"
#include "util/ScrambleKey.h"
#include "util/SecureWipe.h"
#include "util/Utf8.h"

#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace {

constexpr size_t kHeaderChars = 4;

// A value of the pair at text[pos], which may be the last, single digit.
unsigned char ReadPair(const char* text, size_t len, size_t pos)
{
    const unsigned chars = len - pos >= 2 ? 2u : 1u;
    return static_cast<unsigned char>(HexToIntN(text + pos, chars) & 0xFF);
}

}  // namespace

size_t UnscrambleHexBytes(const char* text, size_t len, char* out, size_t maxPairs)
{
    if (text == nullptr || out == nullptr || len < kHeaderChars)
        return 0;
    // Only the low eight bits count: a pair such as "-1" must not make a negative position.
    size_t keyPos = ReadPair(text, len, 0);
    const size_t fillers = ReadPair(text, len, 2) & 3u;
    size_t written = 0;
    size_t count = 0;
    for (size_t pos = kHeaderChars + 2 * fillers; pos < len && count < maxPairs; pos += 2) {
        const unsigned char plain = ReadPair(text, len, pos) ^ ScrambleKeyAt(keyPos);
        if (plain != 0)
            out[written++] = static_cast<char>(plain);
        ++count;
        if (++keyPos == kScrambleKeyLength)
            keyPos = 0;
    }
    return count;
}

int UnscrambleHexText(const char* text, char* out, size_t cbOut)
{
    if (out == nullptr || cbOut == 0)
        return 0;
    std::memset(out, 0, cbOut);
    if (text == nullptr)
        return 0;
    return static_cast<int>(UnscrambleHexBytes(text, std::strlen(text), out, cbOut - 1));
}

#ifdef _WIN32

int UnscrambleHexTextW(const wchar_t* text, wchar_t* out, size_t cchOut)
{
    if (out == nullptr || cchOut == 0)
        return 0;
    std::memset(out, 0, cchOut * sizeof(wchar_t));
    if (text == nullptr)
        return 0;

    const int cbText = WideToUtf8(text, nullptr, 0);
    if (cbText <= 0)
        return 0;
    std::unique_ptr<char[]> utf8(new (std::nothrow) char[static_cast<size_t>(cbText)]);
    if (!utf8 || WideToUtf8(text, utf8.get(), cbText) != cbText)
        return 0;
    const size_t len = static_cast<size_t>(cbText) - 1;

    // No UTF-16 unit takes more than three UTF-8 bytes, so more than 3 x cchOut pairs could
    // never fit; nor are more pairs read than the text holds: the working buffer needs no more.
    const size_t pairsInText = len / 2 + 1;
    const size_t maxPairs = cchOut <= pairsInText / 3 ? cchOut * 3 : pairsInText;
    std::unique_ptr<char[]> plain(new (std::nothrow) char[maxPairs + 1]());
    if (!plain)
        return 0;
    UnscrambleHexBytes(utf8.get(), len, plain.get(), maxPairs);

    const int cchLimit = cchOut > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(cchOut);
    const int converted = Utf8ToWideRaw(plain.get(), out, cchLimit);
    // Both working copies held the secret.
    SecureWipe(plain.get(), maxPairs + 1);
    SecureWipe(utf8.get(), static_cast<size_t>(cbText));
    if (converted <= 0)
        return 0;
    // The length is measured, not taken from the conversion's count: for invalid UTF-8 the
    // system's size query and its conversion need not agree.
    return static_cast<int>(wcsnlen(out, cchOut));
}

#endif
