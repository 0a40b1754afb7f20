#include "app/ResourceStrings.h"

#include "app/EntryGlobals.h"
#include "util/SafeString.h"

#include <memory>
#include <new>

HMODULE g_hResModule = nullptr;

namespace {

constexpr int kProductNameSize = 20;

// The string's one "%s" takes the product name. Done by hand rather than by a formatter:
// a string table text is not a format we wrote, and any second "%s" or stray "%" in it
// must not read arguments that are not there.
void PutProductName(wchar_t* out, int cchOut, const wchar_t* text, const wchar_t* product)
{
    const wchar_t* mark = WcsFind(text, L"%s");
    const size_t cch = static_cast<size_t>(cchOut);
    BoundedCopyN(out, cch, text, static_cast<size_t>(mark - text));
    BoundedAppend(out, cch, product);
    BoundedAppend(out, cch, mark + 2);
}

}  // namespace

void LoadResourceModule()
{
    g_hResModule = g_hInstance;
}

int LoadResString(UINT id, wchar_t* out, int cchOut, int bFormat)
{
    if (out == nullptr || cchOut <= 0)
        return 0;
    std::unique_ptr<wchar_t[]> work(new (std::nothrow) wchar_t[cchOut]());
    if (!work)
        return 0;
    wchar_t product[kProductNameSize] = {};
    int productLength = 0;
    if (g_hResModule != nullptr) {
        LoadStringW(g_hResModule, id, work.get(), cchOut);
        productLength = LoadStringW(g_hResModule, IDS_PRODUCT_NAME, product, kProductNameSize);
    }
    if (productLength == 0)
        return 0;
    if (bFormat && WcsFind(work.get(), L"%s") != nullptr) {
        PutProductName(out, cchOut, work.get(), product);
    } else {
        SafeWcsCopy(out, work.get(), static_cast<size_t>(cchOut));
    }
    return 1;
}
