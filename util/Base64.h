// Base64 (RFC 4648 alphabet, "=" padding, no line breaks) of byte strings.
// No Windows header here: these functions also build natively.
#pragma once

#include <cstddef>

// The alphabet character of a 6-bit value; "=" for any value outside 0-63.
char Base64Char(int value);

// Characters Base64Encode writes for nLen bytes, terminator not counted.
size_t Base64EncodedLength(size_t nLen);

// Encodes nLen bytes of pIn (nLen 0: pIn is a terminated string and its strlen is taken)
// into pszOut, which must hold Base64EncodedLength(nLen) + 1 bytes. Always terminates the
// output; returns the characters written.
int Base64Encode(char* pszOut, const void* pIn, size_t nLen);

// The same with the output's size in bytes: when the encoding and its terminator do not
// fit, the output is left empty (when it has room for that) and -1 is returned.
int Base64EncodeBounded(char* pszOut, size_t cbOut, const void* pIn, size_t nLen);
