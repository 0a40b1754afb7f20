#include "mvurl/UrlText.h"

#include <gtest/gtest.h>

namespace {

TEST(SplitRequestUrl, SchemesHostsAndObjects)
{
    UrlTarget t = SplitRequestUrl("http://alpha.beta/x/smt.php?AT=RV&TK=");
    EXPECT_EQ("alpha.beta", t.host);
    EXPECT_EQ("/x/smt.php?AT=RV&TK=", t.object);
    EXPECT_FALSE(t.forcesTls);

    t = SplitRequestUrl("https://alpha.beta/ini/a.ini");
    EXPECT_EQ("alpha.beta", t.host);
    EXPECT_EQ("/ini/a.ini", t.object);
    EXPECT_TRUE(t.forcesTls);

    t = SplitRequestUrl("alpha.beta/p");
    EXPECT_EQ("alpha.beta", t.host);
    EXPECT_EQ("/p", t.object);
    EXPECT_FALSE(t.forcesTls);
}

TEST(SplitRequestUrl, NothingBehindTheHostRequestsRoot)
{
    EXPECT_EQ("/", SplitRequestUrl("http://alpha.beta").object);
    EXPECT_EQ("/", SplitRequestUrl("http://alpha.beta/").object);
    EXPECT_EQ("alpha.beta", SplitRequestUrl("https://alpha.beta/").host);
    EXPECT_EQ("", SplitRequestUrl("http://").host);
}

TEST(SplitRequestUrl, PortStaysInTheHostAndSchemesAreCaseSensitive)
{
    EXPECT_EQ("alpha.beta:8443", SplitRequestUrl("https://alpha.beta:8443/x").host);
    const UrlTarget upper = SplitRequestUrl("HTTPS://alpha.beta/x");
    EXPECT_FALSE(upper.forcesTls);
    EXPECT_EQ("HTTPS:", upper.host);
    EXPECT_EQ("//alpha.beta/x", upper.object);
}

TEST(EffectiveUploadUrl, ShortStoredValuesFallBackToTheReservedDefault)
{
    EXPECT_EQ(kDefaultUploadUrl, EffectiveUploadUrl(""));
    EXPECT_EQ(kDefaultUploadUrl, EffectiveUploadUrl("abcd"));
    EXPECT_EQ(kDefaultUploadUrl, EffectiveUploadUrl(nullptr));
    EXPECT_EQ("abcde", EffectiveUploadUrl("abcde"));
    EXPECT_NE(std::string(kDefaultUploadUrl).find(".invalid/report/upload.php"), std::string::npos);
}

TEST(SplitUpload, TraceInfoBecomesTheBody)
{
    UploadParts p = SplitUpload("/report/upload.php?a=1&traceinfo=xyz");
    EXPECT_EQ("/report/upload.php?a=1", p.object);
    EXPECT_EQ("xyz", p.body);
    EXPECT_TRUE(p.hasBody);

    p = SplitUpload("/report/upload.php?a=1");
    EXPECT_EQ("/report/upload.php?a=1", p.object);
    EXPECT_FALSE(p.hasBody);

    // Only the first mark cuts; a later one is part of the body.
    p = SplitUpload("/u?&traceinfo=&traceinfo=b");
    EXPECT_EQ("/u?", p.object);
    EXPECT_EQ("&traceinfo=b", p.body);
}

TEST(RedactToken, MasksTheTokenToTheEnd)
{
    EXPECT_EQ(std::string("/a.php?AT=RV&TK=") + kTokenMask, RedactToken("/a.php?AT=RV&TK=s3cret"));
    EXPECT_EQ(std::string("/a.php?AT=RV&TK=") + kTokenMask, RedactToken("/a.php?AT=RV&TK="));
    // A token may itself hold "&": nothing of it survives.
    EXPECT_EQ(std::string("/a?TK=") + kTokenMask, RedactToken("/a?TK=ab&cd=ef"));
}

TEST(RedactToken, LeavesOtherTextAlone)
{
    EXPECT_EQ("/a.php?AT=RV&LID=9", RedactToken("/a.php?AT=RV&LID=9"));
    // "TK=" inside another parameter's name or value is not the token.
    EXPECT_EQ("/a?XTK=1&B=TK=2", RedactToken("/a?XTK=1&B=TK=2"));
    EXPECT_EQ("", RedactToken(""));
}

}  // namespace
