#include "standins/scrambler/Scrambler.h"

#include "util/ScrambleKey.h"

#include <stdexcept>

namespace {

void AppendHexByte(std::string& out, unsigned value, bool lowerCase)
{
    const char* digits = lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
    out += digits[(value >> 4) & 15u];
    out += digits[value & 15u];
}

}  // namespace

std::string ScrambleHexText(const std::string& plain, const ScrambleOptions& options)
{
    if (options.start > 255)
        throw std::invalid_argument("the start position is 0 to 255");
    if (options.fillers.size() > 3)
        throw std::invalid_argument("at most 3 filler bytes");

    std::string out;
    out.reserve(4 + 2 * (options.fillers.size() + plain.size()));
    AppendHexByte(out, options.start, options.lowerCase);
    const unsigned header =
        (options.headerBits & ~3u) | static_cast<unsigned>(options.fillers.size());
    AppendHexByte(out, header, options.lowerCase);
    for (unsigned char filler : options.fillers)
        AppendHexByte(out, filler, options.lowerCase);

    size_t keyPos = options.start;
    for (char c : plain) {
        AppendHexByte(out, static_cast<unsigned char>(c) ^ ScrambleKeyAt(keyPos),
                      options.lowerCase);
        keyPos = (keyPos + 1) % kScrambleKeyLength;
    }
    return out;
}
