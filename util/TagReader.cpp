#include "util/TagReader.h"

#include "util/SafeString.h"

#include <cwchar>

namespace {

// Room for a mark of the longest name: "</", the name, ">" and the terminator.
constexpr size_t kMarkChars = kTagNameMaxChars + 4;

bool IsTagSpace(wchar_t c)
{
    return c == L' ' || c == L'\r' || c == L'\n' || c == L'\t';
}

// Composes open + name + ">" cut to the buffer; built by hand rather than formatted so a
// long name costs no heap.
void ComposeMark(wchar_t (&mark)[kMarkChars], const wchar_t* open, const wchar_t* name)
{
    BoundedCopy(mark, kMarkChars, open);
    BoundedAppend(mark, kMarkChars, name);
    BoundedAppend(mark, kMarkChars, L">");
}

}  // namespace

const wchar_t* TagGetString(const wchar_t* text, const wchar_t* name, size_t capacity, wchar_t* out,
                            const wchar_t* defaultText)
{
    if (defaultText == nullptr)
        defaultText = L"";
    if (out == nullptr || capacity == 0)
        return defaultText;
    if (capacity > KS_MAX_CCH)
        capacity = KS_MAX_CCH;
    BoundedCopy(out, capacity, defaultText);
    if (text == nullptr || name == nullptr)
        return defaultText;

    wchar_t mark[kMarkChars];
    ComposeMark(mark, L"<", name);
    const wchar_t* start = WcsFind(text, mark);
    if (start == nullptr)
        return defaultText;
    start += wcslen(mark);
    while (IsTagSpace(*start))
        ++start;
    if (*start == L'\0')
        return defaultText;

    ComposeMark(mark, L"</", name);
    const wchar_t* end = WcsFind(start, mark);
    if (end == nullptr)
        return defaultText;
    while (end > start && IsTagSpace(end[-1]))
        --end;

    const size_t length = static_cast<size_t>(end - start);
    if (length >= capacity)
        return defaultText;
    BoundedCopyN(out, capacity, start, length);
    return out;
}
