#include "trace/UrlMask.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(UrlMask, TheTokenParameterAndTheRequestsTokenAreMasked)
{
    const char* const request = "https://h/update/smt.php?AT=RV&TK=t0k&en";
    const struct {
        const char* text;
        const char* requestUrl;
        const char* shown;
    } rows[] = {
        {request, nullptr, "https://h/update/smt.php?AT=RV&TK=********"},
        {"/rel/dlk.php", nullptr, "/rel/dlk.php"},
        {"/rel/dlk.php", request, "/rel/dlk.php"},
        // A server may put the token anywhere in a location: every occurrence goes.
        {"http://h:443/update/t0k&en/smt.php?AT=RV&TK=t0k&en", request,
         "http://h:443/update/********/smt.php?AT=RV&TK=********"},
        {"https://m/t0k&en/x?t0k&en", request, "https://m/********/x?********"},
        // Without a token in the request only the parameter is masked, an empty one too.
        {"https://m/t0k&en/x", "https://h/x?AT=RV", "https://m/t0k&en/x"},
        {"https://m/x?q=1&TK=", "https://h/x?TK=", "https://m/x?q=1&TK=********"},
        {nullptr, request, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text != nullptr ? row.text : "(null)");
        const CKSCharStr shown = MaskTokenInUrl(row.text, row.requestUrl);
        ASSERT_NE(nullptr, shown.GetBuffer());
        EXPECT_EQ(std::string(row.shown), shown.GetText());
        EXPECT_EQ(std::string(row.shown).size(), shown.GetLength());
    }
}

}  // namespace
