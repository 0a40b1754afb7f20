// The server name, the INI URL and the answer's values are checked against models by the
// server-URL and version-answer fuzz targets; here the URL templates, the language as the
// Windows runtime formats it, file names and token masking.
#include "app/VersionText.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

TEST(VersionCheckUrl, TemplatesByOperatingSystemClassLanguageAndToken)
{
    const struct {
        int osClass;
        bool wow64;
        uint32_t language;
        const wchar_t* token;
        const wchar_t* url;
    } rows[] = {
        {6, false, kNoLanguage, L"", L"http://s/hx30/smt.php?AT=RV&OS=WIN2K&isUTF8=1&TK="},
        {9, true, kNoLanguage, L"t", L"http://s/smt.php?AT=RV&OS=WINVISTA&OS_Bit=64&isUTF8=1&TK=t"},
        {8, false, 9, L"tok", L"http://s/smt.php?AT=RV&OS=WINVISTA&isUTF8=1&LID=9&TK=tok"},
        {-1, true, kNoLanguage, L"", L"http://s/hx30/smt.php?AT=RV&OS=WIN31&isUTF8=1&TK="},
        {2, false, kNoLanguage, L"", L"http://s/hx30/smt.php?AT=RV&OS=WIN95&isUTF8=1&TK="},
        {4, false, kNoLanguage, L"", L"http://s/hx30/smt.php?AT=RV&OS=WINNT&isUTF8=1&TK="},
        // WOW64 matters only from Vista on.
        {7, true, kNoLanguage, L"", L"http://s/hx30/smt.php?AT=RV&OS=WIN2K&isUTF8=1&TK="},
        // The language is signed, the token verbatim.
        {9, false, 0xFFFFFFFEu, L"a&b c%s",
         L"http://s/smt.php?AT=RV&OS=WINVISTA&isUTF8=1&LID=-2&TK=a&b c%s"},
    };
    for (const auto& row : rows) {
        wchar_t url[kUrlSize];
        BuildVersionCheckUrl(url, L"s", row.osClass, row.wow64, row.language, row.token);
        EXPECT_STREQ(row.url, url) << row.osClass;
    }
}

TEST(IsSafeLocalFileName, PlainNamesOnly)
{
    for (const wchar_t* good :
         {L"dlk.php", L"a..b.ini", L"x", L"caution.ini", L"com10", L"console.txt", L" nul.txt",
          L"nulx .ini", L"a.nul", L"nu l.ini", L"com10 .log", L"con2 .ini"}) {
        EXPECT_TRUE(IsSafeLocalFileName(good)) << good;
    }
    for (const wchar_t* bad :
         {L"", L".", L"..", L"..\\x.ini", L"../x.ini", L"a/b", L"C:x.ini", L"C:\\x",
          L"\\\\server\\share\\x", L"con", L"CON.txt", L"nul", L"Aux.ini", L"com1", L"LPT9.log",
          L"prn", L"conin$", L"x.ini:stream", L"a*b", L"trailing.", L"blank ", L"tab\tname",
          // Found by fuzzing: blanks between a device name and its extension still name the device.
          L"nul .ini", L"NUL  .txt", L"con .ini", L"aux  .x.y", L"com1 .log", L"nul . txt",
          L"CONIN$ .txt", L"lpt2               .ini"}) {
        EXPECT_FALSE(IsSafeLocalFileName(bad)) << bad;
    }
    EXPECT_FALSE(IsSafeLocalFileName(nullptr));
}

// The share is one of the envelope's values: read from inside it only (the signed part, when
// answers are signed), whatever stands around it.
TEST(ParseVersionAnswer, TheRolloutShareIsReadFromTheEnvelopeOnly)
{
    const struct {
        const wchar_t* text;
        RolloutTag tag;
        uint32_t hundredths;
    } rows[] = {
        {L"<MVHostVersion><Status>SUCCESS</Status></MVHostVersion>", RolloutTag::kAbsent,
         kFullRollout},
        {L"<MVHostVersion><Status>SUCCESS</Status><MVRollout>12.5</MVRollout></MVHostVersion>",
         RolloutTag::kShare, 1250},
        {L"<MVHostVersion><Status>SUCCESS</Status></MVHostVersion><MVRollout>0</MVRollout>",
         RolloutTag::kAbsent, kFullRollout},
        {L"<MVHostVersion><Status>SUCCESS</Status><MVRollout>100</MVRollout></MVHostVersion>"
         L"<MVRollout>0</MVRollout>",
         RolloutTag::kShare, 10000},
        {L"<MVHostVersion><Status>SUCCESS</Status></MVHostVersion><MVRollout>x</MVRollout>",
         RolloutTag::kAbsent, kFullRollout},
        {L"<MVHostVersion><Status>SUCCESS</Status><MVRollout>x</MVRollout></MVHostVersion>",
         RolloutTag::kUnreadable, kFullRollout},
        // A closing mark outside the envelope closes no value inside it.
        {L"<MVHostVersion><Status>SUCCESS</Status><MVRollout>5</MVHostVersion></MVRollout>",
         RolloutTag::kUnreadable, kFullRollout},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        VersionAnswer answer;
        ASSERT_TRUE(ParseVersionAnswer(row.text, answer));
        EXPECT_EQ(static_cast<int>(row.tag), static_cast<int>(answer.rollout));
        EXPECT_EQ(row.hundredths, answer.rolloutShare);
    }
}

}  // namespace
