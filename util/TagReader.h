// Reads one value out of tagged text such as "<Status>SUCCESS</Status>".
//
// A plain search, not an XML parser: no attributes, nesting, entities or comments; names
// match exactly and case-sensitively and the first opening mark wins. No heap allocation,
// no state: callable from any thread. No Windows header here: this also builds natively.
#pragma once

#include <cstddef>

// Longest tag name whose marks are searched whole; a longer one is cut with its mark.
constexpr size_t kTagNameMaxChars = 252;

// Finds the value between "<name>" and the first "</name>" after it, trimmed of spaces,
// CR, LF and tabs on both sides. The output (capacity characters, terminator included)
// first receives the default (cut to capacity - 1 characters when longer); when the value
// is found and shorter than capacity it replaces the default and out is returned.
// Otherwise the answer is defaultText (a null default reads as empty text). An empty or
// all-white value is found: the empty text. Nothing is unescaped.
const wchar_t* TagGetString(const wchar_t* text, const wchar_t* name, size_t capacity, wchar_t* out,
                            const wchar_t* defaultText);
