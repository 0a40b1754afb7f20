// Hexadecimal text to a number, as scanf's "%X" reads it.
// No Windows header here: this also builds natively.
#pragma once

// Leading white space, an optional sign and an optional "0x"/"0X" are skipped, then hex
// digits of either case are read; the value wraps modulo 2^32 (a minus sign negates it).
// 0 when no digit can be read.
int HexToInt(const char* text);

// The same for at most maxChars characters of text (a hex pair read out of a longer text).
int HexToIntN(const char* text, unsigned maxChars);
// The value of one hex digit of either case; -1 for any other character.
int HexDigitValue(char c);
