#include "util/SafeString.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace {

bool IsUsableSize(const wchar_t* dst, size_t cchDst)
{
    return dst != nullptr && cchDst != 0 && cchDst <= KS_MAX_CCH;
}

// Copies up to cchSrc characters of src to dst, cutting at cchDst - 1.
int32_t CopyCut(wchar_t* dst, size_t cchDst, const wchar_t* src, size_t cchSrc)
{
    size_t n = 0;
    if (src != nullptr) {
        while (n < cchSrc && n < cchDst - 1 && src[n] != L'\0') {
            dst[n] = src[n];
            ++n;
        }
    }
    dst[n] = L'\0';
    const bool cut = src != nullptr && n < cchSrc && src[n] != L'\0';
    return cut ? KS_E_INSUFFICIENT_BUFFER : KS_S_OK;
}

// Formats into dst; the length written when the whole text fitted with its terminator, else -1.
int FormatInto(wchar_t* dst, size_t cch, const wchar_t* format, va_list args)
{
#ifdef _WIN32
    // The C runtime's own formatter, so no second formatting engine is linked into the
    // program; it means the same for our conversions (%ls, %hs, %d, %u, %x). A text that fills
    // the buffer exactly is left without its terminator: it counts as not fitting.
    const int n = _vsnwprintf(dst, cch, format, args);
#else
    const int n = std::vswprintf(dst, cch, format, args);
#endif
    return n >= 0 && static_cast<size_t>(n) < cch ? n : -1;
}

// Largest scratch buffer tried when a formatted text must be cut (in characters).
constexpr size_t kMaxFormatScratch = 1u << 20;

// A formatter reports a text that does not fit only as a failure and leaves the buffer
// unspecified, so the cut text is made in ever larger scratch space and copied.
int32_t FormatCut(wchar_t* dst, size_t cchDst, const wchar_t* format, va_list args)
{
    for (size_t cch = cchDst * 2; cch <= kMaxFormatScratch; cch *= 2) {
        std::unique_ptr<wchar_t[]> scratch(new (std::nothrow) wchar_t[cch]);
        if (!scratch)
            break;
        va_list copy;
        va_copy(copy, args);
        const int n = FormatInto(scratch.get(), cch, format, copy);
        va_end(copy);
        if (n >= 0) {
            CopyCut(dst, cchDst, scratch.get(), static_cast<size_t>(n));
            return KS_E_INSUFFICIENT_BUFFER;
        }
    }
    dst[0] = L'\0';
    return KS_E_INSUFFICIENT_BUFFER;
}

}  // namespace

int32_t BoundedCopy(wchar_t* dst, size_t cchDst, const wchar_t* src)
{
    return BoundedCopyN(dst, cchDst, src, KS_MAX_CCH);
}

int32_t BoundedCopyN(wchar_t* dst, size_t cchDst, const wchar_t* src, size_t cchSrc)
{
    if (!IsUsableSize(dst, cchDst))
        return KS_E_INVALID_PARAMETER;
    return CopyCut(dst, cchDst, src, cchSrc);
}

int32_t BoundedAppend(wchar_t* dst, size_t cchDst, const wchar_t* src)
{
    if (!IsUsableSize(dst, cchDst))
        return KS_E_INVALID_PARAMETER;
    const size_t used = wcsnlen(dst, cchDst);
    if (used == cchDst)
        return KS_E_INVALID_PARAMETER;
    return CopyCut(dst + used, cchDst - used, src, KS_MAX_CCH);
}

int32_t BoundedFormat(wchar_t* dst, size_t cchDst, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int32_t hr = BoundedFormatV(dst, cchDst, format, args);
    va_end(args);
    return hr;
}

int32_t BoundedFormatV(wchar_t* dst, size_t cchDst, const wchar_t* format, va_list args)
{
    if (!IsUsableSize(dst, cchDst))
        return KS_E_INVALID_PARAMETER;
    if (format == nullptr) {
        dst[0] = L'\0';
        return KS_E_INVALID_PARAMETER;
    }
    va_list copy;
    va_copy(copy, args);
    const int n = FormatInto(dst, cchDst, format, copy);
    va_end(copy);
    if (n >= 0)
        return KS_S_OK;
    return FormatCut(dst, cchDst, format, args);
}

int SafeWcsCopy(wchar_t* dst, const wchar_t* src, size_t cchDst)
{
    if (dst == nullptr || src == nullptr || !IsUsableSize(dst, cchDst))
        return -1;
    std::memset(dst, 0, cchDst * sizeof(wchar_t));
    return BoundedCopy(dst, cchDst, src) == KS_S_OK ? 1 : 2;
}

const wchar_t* WcsFind(const wchar_t* text, const wchar_t* sought)
{
    if (text == nullptr || sought == nullptr)
        return nullptr;
    return std::wcsstr(text, sought);
}

const wchar_t* WcsFindLast(const wchar_t* text, wchar_t ch)
{
    if (text == nullptr)
        return nullptr;
    return std::wcsrchr(text, ch);
}
