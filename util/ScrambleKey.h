// The fixed key that stored secrets are scrambled with (see Unscramble.h).
// No Windows header here: this also builds natively.
#pragma once

#include <cstddef>

// Number of key characters; a key position that reaches it starts again at 0.
constexpr size_t kScrambleKeyLength = 992;

// The key character at position pos (any value: taken modulo the key length).
unsigned char ScrambleKeyAt(size_t pos);
