// Fuzz target: unscrambling of stored secrets, the core and the narrow form, and the round trip
// with the scrambler. Input: output size (2 bytes, 1 to 600), a mode byte, then
//   mode even: the stored text itself, any bytes;
//   mode odd:  start position, header byte, filler count (low two bits) and letter case (bit 2),
//              the fillers, then the plain bytes, which are scrambled and must come back.
#include "standins/scrambler/Scrambler.h"
#include "tests/fuzz/FuzzSupport.h"
#include "util/ScrambleKey.h"
#include "util/Unscramble.h"

#include <algorithm>
#include <cstring>

namespace {

int StrictHexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The stored form as its description reads, for texts of hex digits only: S, then F in the
// low bits of the second pair, F filler pairs, then data pairs XOR the key from S on; a last
// single digit is a pair of its own. Zero plain bytes are dropped.
std::string ModelUnscrambleHexDigits(const std::string& text, size_t maxPairs, size_t& pairs)
{
    pairs = 0;
    std::string plain;
    if (text.size() < 4) return plain;
    auto pairAt = [&](size_t pos) {
        if (pos + 1 >= text.size()) return StrictHexDigit(text[pos]);
        return StrictHexDigit(text[pos]) * 16 + StrictHexDigit(text[pos + 1]);
    };
    size_t keyPos = static_cast<size_t>(pairAt(0));
    const size_t fillers = static_cast<size_t>(pairAt(2)) & 3u;
    for (size_t pos = 4 + 2 * fillers; pos < text.size() && pairs < maxPairs; pos += 2, ++pairs) {
        const char c = static_cast<char>(pairAt(pos) ^ ScrambleKeyAt(keyPos++));
        if (c != 0) plain += c;
    }
    return plain;
}

// The core and the narrow form on any stored text.
void CheckStoredText(const std::string& text, size_t outSize)
{
    const size_t maxPairs = outSize;
    fuzz::GuardedBuffer<char> core(maxPairs);
    const size_t pairs = UnscrambleHexBytes(text.data(), text.size(), core.data(), maxPairs);
    FUZZ_CHECK(core.GuardIntact(), "core writes at most maxPairs bytes");
    FUZZ_CHECK(pairs <= maxPairs, "core reads at most maxPairs pairs");
    FUZZ_CHECK(pairs <= (text.size() + 1) / 2, "core reads no more pairs than the text has");

    if (std::all_of(text.begin(), text.end(), [](char c) { return StrictHexDigit(c) >= 0; })) {
        size_t modelPairs = 0;
        const std::string plain = ModelUnscrambleHexDigits(text, maxPairs, modelPairs);
        FUZZ_CHECK(pairs == modelPairs, "pairs read as the stored form describes");
        FUZZ_CHECK(std::memcmp(core.data(), plain.data(), plain.size()) == 0, "plain bytes as the stored form describes");
    }

    // The narrow form reads the text up to its terminator.
    const std::string terminated(text.c_str());
    fuzz::GuardedBuffer<char> narrow(outSize);
    const int narrowPairs = UnscrambleHexText(terminated.c_str(), narrow.data(), outSize);
    FUZZ_CHECK(narrow.GuardIntact(), "narrow form stays within its output");
    FUZZ_CHECK(narrow.data()[outSize - 1] == '\0', "narrow form keeps the last byte as terminator");
    FUZZ_CHECK(narrowPairs >= 0 && static_cast<size_t>(narrowPairs) <= outSize - 1, "narrow form reads at most size - 1 pairs");
    FUZZ_CHECK(narrow.TextLength() <= static_cast<size_t>(narrowPairs), "no more plain bytes than pairs");

    std::string expected(outSize, '\0');
    const size_t expectedPairs = UnscrambleHexBytes(terminated.data(), terminated.size(), &expected[0], outSize - 1);
    FUZZ_CHECK(static_cast<size_t>(narrowPairs) == expectedPairs, "narrow form counts as the core does");
    FUZZ_CHECK(std::memcmp(narrow.data(), expected.data(), outSize) == 0, "narrow form is the core's bytes, zero-filled");
}

// Scrambled plain bytes come back, zero bytes dropped, as far as the output reaches.
void CheckRoundTrip(fuzz::InputReader& in, size_t outSize)
{
    ScrambleOptions options;
    options.start = in.Byte();
    options.headerBits = in.Byte();
    const uint8_t layout = in.Byte();
    options.lowerCase = (layout & 4) != 0;
    for (unsigned i = 0; i < (layout & 3u); ++i) options.fillers.push_back(in.Byte());
    const std::string plain = in.Rest();
    const std::string stored = ScrambleHexText(plain, options);

    const size_t reach = std::min(plain.size(), outSize - 1);
    std::string expected = plain.substr(0, reach);
    expected.erase(std::remove(expected.begin(), expected.end(), '\0'), expected.end());

    fuzz::GuardedBuffer<char> narrow(outSize);
    const int pairs = UnscrambleHexText(stored.c_str(), narrow.data(), outSize);
    FUZZ_CHECK(narrow.GuardIntact(), "round trip stays within its output");
    FUZZ_CHECK(static_cast<size_t>(pairs) == reach, "round trip reads every pair that fits");
    FUZZ_CHECK(narrow.Text() == expected, "round trip gives the plain text back");

    fuzz::GuardedBuffer<char> core(plain.size());
    const size_t corePairs = UnscrambleHexBytes(stored.data(), stored.size(), core.data(), plain.size());
    FUZZ_CHECK(core.GuardIntact(), "core round trip stays within its output");
    FUZZ_CHECK(corePairs == plain.size(), "core round trip reads every pair");
    std::string all = plain;
    all.erase(std::remove(all.begin(), all.end(), '\0'), all.end());
    FUZZ_CHECK(std::memcmp(core.data(), all.data(), all.size()) == 0, "core round trip gives the plain bytes back");

    CheckStoredText(stored, outSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader in(data, size);
    const size_t outSize = 1 + in.U16() % 600;
    const uint8_t mode = in.Byte();
    if (mode & 1) {
        CheckRoundTrip(in, outSize);
    } else {
        CheckStoredText(in.Rest(), outSize);
    }
    return 0;
}
