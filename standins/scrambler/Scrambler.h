// Scrambling of secrets into the stored hex form the product unscrambles (util/Unscramble.h).
// The product itself only unscrambles; this is for tests and for operators who store values.
#pragma once

#include <string>
#include <vector>

struct ScrambleOptions {
    unsigned start = 0;                  // S: the key position of the first data byte, 0-255
    std::vector<unsigned char> fillers;  // filler bytes written after the header, 0-3 of them
    unsigned char headerBits = 0;        // the second header byte; its two low bits become F
    bool lowerCase = false;              // hex digits a-f instead of A-F
};

// The stored form of the plain bytes: S, the header byte, the fillers, then each byte XOR
// the key character at its position. Zero bytes are scrambled too, but the unscrambler
// drops them. Throws std::invalid_argument for a start above 255 or more than 3 fillers.
std::string ScrambleHexText(const std::string& plain, const ScrambleOptions& options = {});
