// Unscrambling of the secrets the product keeps in the registry (access token, passwords).
//
// The stored form is hexadecimal text: two digits S (the key position the data starts at),
// two digits whose lowest two bits give F (0-3 filler bytes), F filler pairs, then one pair
// per data byte: the byte XOR the key character at the current key position (which starts
// at S and wraps at the key's end). Pairs are read as HexToIntN reads them, either case.
// A text of odd length ends with one digit, read alone.
#pragma once

#include <cstddef>

// The pure core: reads at most maxPairs data pairs of the first len characters of text and
// writes each non-zero plain byte to out (a zero byte is counted but not written). out must
// hold maxPairs bytes; nothing is terminated. Answers the pairs read. Texts shorter than
// the four header characters have no data.
size_t UnscrambleHexBytes(const char* text, size_t len, char* out, size_t maxPairs);

// Narrow unscrambling: the output is zero-filled over cbOut bytes, then receives at most
// cbOut - 1 data bytes, so it always keeps its terminator. Answers the pairs read.
// No Windows header is needed: this also builds natively.
int UnscrambleHexText(const char* text, char* out, size_t cbOut);

#ifdef _WIN32
// Wide unscrambling: the data bytes are UTF-8 and come back as UTF-16. The output is
// zero-filled over cchOut characters first. At most 3 x cchOut pairs are read; a plain text
// whose conversion and terminator do not fit in cchOut is not cut but refused, leaving the
// output empty (a cut secret is never the right one). Answers the characters written;
// 0 for an empty, refused or unconvertible text or when working memory is short.
int UnscrambleHexTextW(const wchar_t* text, wchar_t* out, size_t cchOut);
#endif
