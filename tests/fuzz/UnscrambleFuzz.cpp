// Unscrambling of stored secrets, the core and the narrow form, and the round trip with the
// scrambler. Input: output size (2 bytes, 1 to 600), a mode byte, then
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

std::string WithoutZeros(std::string s)
{
    s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
    return s;
}

// A text of hex digits as the stored form reads: S, F in the low bits of the second pair, F
// filler pairs, then data pairs XOR the key from S on; a last lone digit is a pair of its own.
// One byte per pair read, zero bytes included.
std::string ModelUnscramble(const std::string& text, size_t maxPairs)
{
    auto pairAt = [&](size_t pos) {
        return static_cast<size_t>(std::stoi(text.substr(pos, 2), nullptr, 16));
    };
    std::string plain;
    if (text.size() < 4)
        return plain;
    size_t key = pairAt(0);
    for (size_t pos = 4 + 2 * (pairAt(2) & 3); pos < text.size() && plain.size() < maxPairs;
         pos += 2)
        plain += static_cast<char>(pairAt(pos) ^ ScrambleKeyAt(key++));
    return plain;
}

void CheckStoredText(const std::string& text, size_t outSize)
{
    const std::vector<char> exact(text.begin(),
                                  text.end());  // no terminator: ASan sees a read past len
    fuzz::GuardedBuffer<char> core(outSize);
    const size_t pairs = UnscrambleHexBytes(exact.data(), exact.size(), core.data(), outSize);
    FUZZ_CHECK(core.GuardIntact() && pairs <= outSize && pairs <= (text.size() + 1) / 2,
               "core writes and reads at most maxPairs, and only the text's pairs");
    if (text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
        const std::string model = ModelUnscramble(text, outSize), plain = WithoutZeros(model);
        FUZZ_CHECK(pairs == model.size() &&
                       std::memcmp(core.data(), plain.data(), plain.size()) == 0,
                   "pairs read and plain bytes as the stored form describes");
    }

    // The narrow form reads the text up to its terminator and keeps its last byte a terminator.
    const std::string terminated(text.c_str());
    fuzz::GuardedBuffer<char> narrow(outSize);
    const int narrowPairs = UnscrambleHexText(terminated.c_str(), narrow.data(), outSize);
    FUZZ_CHECK(narrow.GuardIntact() && narrow.data()[outSize - 1] == '\0',
               "narrow form stays within, terminated");
    std::string expected(outSize, '\0');
    const size_t expectedPairs =
        UnscrambleHexBytes(terminated.data(), terminated.size(), &expected[0], outSize - 1);
    FUZZ_CHECK(narrowPairs >= 0 && static_cast<size_t>(narrowPairs) == expectedPairs &&
                   std::memcmp(narrow.data(), expected.data(), outSize) == 0,
               "narrow form counts as the core and holds its bytes, zero-filled");
}

// Scrambled plain bytes come back, zero bytes dropped, as far as the output reaches; the
// stored text (hex digits only) then meets the model.
void CheckRoundTrip(fuzz::InputReader& in, size_t outSize)
{
    ScrambleOptions options;
    options.start = in.Byte();
    options.headerBits = in.Byte();
    const uint8_t layout = in.Byte();
    options.lowerCase = (layout & 4) != 0;
    for (unsigned i = 0; i < (layout & 3u); ++i)
        options.fillers.push_back(in.Byte());
    const std::string plain = in.Rest();
    const std::string stored = ScrambleHexText(plain, options);

    fuzz::GuardedBuffer<char> narrow(outSize);
    const int pairs = UnscrambleHexText(stored.c_str(), narrow.data(), outSize);
    FUZZ_CHECK(static_cast<size_t>(pairs) == std::min(plain.size(), outSize - 1) &&
                   narrow.Text() == WithoutZeros(plain.substr(0, outSize - 1)),
               "round trip reads every pair that fits and gives the plain text back");

    CheckStoredText(stored, outSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader in(data, size);
    const size_t outSize = 1 + in.U16() % 600;
    if (in.Byte() & 1) {
        CheckRoundTrip(in, outSize);
    } else {
        CheckStoredText(in.Rest(), outSize);
    }
    return 0;
}
