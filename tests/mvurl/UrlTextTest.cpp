#include "mvurl/UrlText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Text(const CKSCharStr& s)
{
    return s.GetText();
}

TEST(SplitRequestUrl, SchemesHostsAndObjects)
{
    const struct {
        const char* url;
        const char* host;
        const char* object;
        bool tls;
    } rows[] = {
        {"http://alpha.beta/x/smt.php?AT=RV&TK=", "alpha.beta", "/x/smt.php?AT=RV&TK=", false},
        {"https://alpha.beta/ini/a.ini", "alpha.beta", "/ini/a.ini", true},
        {"alpha.beta/p", "alpha.beta", "/p", false},
        // Nothing behind the host asks for the root.
        {"http://alpha.beta", "alpha.beta", "/", false},
        {"https://alpha.beta/", "alpha.beta", "/", true},
        {"http://", "", "/", false},
        {"https://alpha.beta:8443/x", "alpha.beta:8443", "/x", true},
        // Schemes are case-sensitive: an upper-case one is part of the host.
        {"HTTPS://alpha.beta/x", "HTTPS:", "//alpha.beta/x", false},
    };
    for (const auto& row : rows) {
        const UrlTarget t = SplitRequestUrl(row.url);
        EXPECT_EQ(row.host, Text(t.host)) << row.url;
        EXPECT_EQ(row.object, Text(t.object)) << row.url;
        EXPECT_EQ(row.tls, t.forcesTls) << row.url;
    }
}

TEST(EffectiveUploadUrl, ShortStoredValuesFallBackToTheReservedDefault)
{
    for (const char* shortValue : {"", "abcd", static_cast<const char*>(nullptr)}) {
        EXPECT_STREQ(kDefaultUploadUrl, EffectiveUploadUrl(shortValue));
    }
    EXPECT_STREQ("abcde", EffectiveUploadUrl("abcde"));
    EXPECT_NE(std::string(kDefaultUploadUrl).find(".invalid/report/upload.php"), std::string::npos);
}

TEST(SplitUpload, TraceInfoBecomesTheBody)
{
    const struct {
        const char* object;
        const char* cut;
        const char* body;
        bool hasBody;
    } rows[] = {
        {"/report/upload.php?a=1&traceinfo=xyz", "/report/upload.php?a=1", "xyz", true},
        {"/report/upload.php?a=1", "/report/upload.php?a=1", "", false},
        // Only the first mark cuts; a later one is part of the body.
        {"/u?&traceinfo=&traceinfo=b", "/u?", "&traceinfo=b", true},
    };
    for (const auto& row : rows) {
        const UploadParts p = SplitUpload(row.object);
        EXPECT_EQ(row.cut, Text(p.object)) << row.object;
        EXPECT_EQ(row.body, Text(p.body)) << row.object;
        EXPECT_EQ(row.hasBody, p.hasBody) << row.object;
    }
}

TEST(RedactToken, MasksTheTokenParameterToTheEndAndNothingElse)
{
    const std::string mask = kTokenMask;
    const struct {
        const char* text;
        std::string logged;
    } rows[] = {
        {"/a.php?AT=RV&TK=s3cret", "/a.php?AT=RV&TK=" + mask},
        {"/a.php?AT=RV&TK=", "/a.php?AT=RV&TK=" + mask},
        // A token may itself hold "&": nothing of it survives.
        {"/a?TK=ab&cd=ef", "/a?TK=" + mask},
        {"/a.php?AT=RV&LID=9", "/a.php?AT=RV&LID=9"},
        // "TK=" inside another parameter's name or value is not the token.
        {"/a?XTK=1&B=TK=2", "/a?XTK=1&B=TK=2"},
        {"", ""},
    };
    for (const auto& row : rows) EXPECT_EQ(row.logged, Text(RedactToken(row.text))) << row.text;
}

}  // namespace
