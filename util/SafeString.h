// Bounded wide-string copy, append and format into fixed buffers.
//
// Sizes are in characters, terminator included. Text that does not fit is cut to size - 1
// characters and terminated; nothing is ever written past the size. Results follow the
// Windows safe-string functions so callers that look at them can:
//   KS_S_OK                    the whole text fitted
//   KS_E_INSUFFICIENT_BUFFER   the text was cut (the destination holds the cut text)
//   KS_E_INVALID_PARAMETER     null destination, size 0 or above KS_MAX_CCH (nothing written)
// No Windows header here: these functions also build natively.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

constexpr int32_t KS_S_OK = 0;
constexpr int32_t KS_E_INSUFFICIENT_BUFFER = static_cast<int32_t>(0x8007007Au);
constexpr int32_t KS_E_INVALID_PARAMETER = static_cast<int32_t>(0x80070057u);
constexpr size_t KS_MAX_CCH = 2147483647u;

// Copies src (null counts as empty) into dst.
int32_t BoundedCopy(wchar_t* dst, size_t cchDst, const wchar_t* src);

// Copies at most cchSrc characters of src into dst.
int32_t BoundedCopyN(wchar_t* dst, size_t cchDst, const wchar_t* src, size_t cchSrc);

// Appends src to the terminated text in dst. A dst with no terminator within its size is
// an invalid parameter and is left as it is.
int32_t BoundedAppend(wchar_t* dst, size_t cchDst, const wchar_t* src);

// Formats into dst. Use %ls for wide and %hs for narrow string arguments: they mean the
// same on every C runtime, where a bare %s does not.
int32_t BoundedFormat(wchar_t* dst, size_t cchDst, const wchar_t* format, ...);
int32_t BoundedFormatV(wchar_t* dst, size_t cchDst, const wchar_t* format, va_list args);

// Zero-fills the whole destination, then copies. -1 when a pointer is null or the size is
// unusable, 2 when the source was cut (its length was not below the size), 1 when it fitted.
int SafeWcsCopy(wchar_t* dst, const wchar_t* src, size_t cchDst);

// wcsstr and wcsrchr under the program's own names; null text finds nothing.
const wchar_t* WcsFind(const wchar_t* text, const wchar_t* sought);
const wchar_t* WcsFindLast(const wchar_t* text, wchar_t ch);
