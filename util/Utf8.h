// UTF-16 <-> UTF-8 conversions with explicit buffer contracts (code page 65001, flags 0).
#pragma once

// Size in bytes the whole UTF-8 form of text needs, terminator included. A null buffer or
// size 0 only asks for that size. When cbOut is at least that size, the buffer is zero-filled
// over its whole size and receives the terminated text, and the needed size is returned.
// Otherwise the first byte is set to 0 and -1 is returned. 0 when text cannot be converted.
int WideToUtf8(const wchar_t* text, char* out, int cbOut);

// The same contract in wide characters for UTF-8 text.
int Utf8ToWide(const char* text, wchar_t* out, int cchOut);

// Converts the characters of text before its terminator into out, whose size in wide
// characters is cchOut, and terminates them. Answers the characters written; 0 when the
// text cannot be converted or its conversion and a terminator do not fit (out is then left
// with an empty text). Never writes past cchOut.
int Utf8ToWideRaw(const char* text, wchar_t* out, int cchOut);
