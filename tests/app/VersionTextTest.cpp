// The pure text work of the version check: server name, URLs, answer, local file name.
#include "app/VersionText.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

TEST(NormaliseServerName, SchemesAreDroppedForWriteBackAndOrvikPathsBecomeTheFirstLabel)
{
    const std::wstring label127(127, L'a');
    const std::wstring label128(128, L'a');
    const std::wstring name200 = std::wstring(100, L'x') + L"." + std::wstring(99, L'y');
    const struct {
        std::wstring surl;
        std::wstring server;
        bool writeBack;
    } rows[] = {
        {L"https://alpha.beta.gamma", L"alpha.beta.gamma/alpha", true},
        {L"http://alpha.beta.gamma/orvik", L"alpha.beta.gamma/alpha", true},
        {L"alpha.beta.gamma/ORVIK", L"alpha.beta.gamma/alpha", false},
        {L"alpha.beta.gamma/other", L"alpha.beta.gamma/other", false},
        {L"alpha.beta.gamma/orvik/", L"alpha.beta.gamma/orvik/", false},
        {L"alpha.beta.gamma/orvik2", L"alpha.beta.gamma/orvik2", false},
        {L"localhost", L"localhost", false},
        // Upper-case schemes are not schemes: the path test then sees "//alpha.beta.gamma".
        {L"HTTPS://alpha.beta.gamma", L"HTTPS://alpha.beta.gamma", false},
        // A first label of 128 characters or more is not added; the result is cut to 255.
        {label127 + L".b", (label127 + L".b/" + label127).substr(0, 255), false},
        {label128 + L".b", label128 + L".b", false},
        {name200, name200 + L"/" + std::wstring(54, L'x'), false},
    };
    for (const auto& row : rows) {
        wchar_t server[kServerNameSize];
        EXPECT_EQ(row.writeBack, NormaliseServerName(row.surl.c_str(), server)) << row.surl;
        EXPECT_EQ(row.server, server) << row.surl;
    }
}

TEST(VersionCheckUrl, TemplatesByOperatingSystemClassLanguageAndToken)
{
    const struct {
        const wchar_t* server;
        int osClass;
        bool wow64;
        uint32_t language;
        const wchar_t* token;
        const wchar_t* url;
    } rows[] = {
        {L"alpha.beta.gamma/alpha", 6, false, kNoLanguage, L"",
         L"http://alpha.beta.gamma/alpha/hx30/smt.php?AT=RV&OS=WIN2K&isUTF8=1&TK="},
        {L"s", 9, true, kNoLanguage, L"t", L"http://s/smt.php?AT=RV&OS=WINVISTA&OS_Bit=64&isUTF8=1&TK=t"},
        {L"s", 8, false, 9, L"tok", L"http://s/smt.php?AT=RV&OS=WINVISTA&isUTF8=1&LID=9&TK=tok"},
        {L"s", -1, true, kNoLanguage, L"", L"http://s/hx30/smt.php?AT=RV&OS=WIN31&isUTF8=1&TK="},
        {L"s", 2, false, kNoLanguage, L"", L"http://s/hx30/smt.php?AT=RV&OS=WIN95&isUTF8=1&TK="},
        {L"s", 4, false, kNoLanguage, L"", L"http://s/hx30/smt.php?AT=RV&OS=WINNT&isUTF8=1&TK="},
        // WOW64 matters only from Vista on.
        {L"s", 7, true, kNoLanguage, L"", L"http://s/hx30/smt.php?AT=RV&OS=WIN2K&isUTF8=1&TK="},
        // The language is signed, the token verbatim.
        {L"s", 9, false, 0xFFFFFFFEu, L"a&b c%s", L"http://s/smt.php?AT=RV&OS=WINVISTA&isUTF8=1&LID=-2&TK=a&b c%s"},
    };
    for (const auto& row : rows) {
        wchar_t url[kUrlSize];
        BuildVersionCheckUrl(url, row.server, row.osClass, row.wow64, row.language, row.token);
        EXPECT_STREQ(row.url, url) << row.osClass;
    }
    // A long token is cut.
    wchar_t url[kUrlSize];
    BuildVersionCheckUrl(url, L"s", 9, false, kNoLanguage, std::wstring(3000, L'k').c_str());
    EXPECT_EQ(kUrlSize - 1, std::wstring(url).size());
}

TEST(IniUrl, RootExWinsOverTheIniName)
{
    wchar_t url[kUrlSize];
    BuildIniUrl(url, L"https://d.example/rel", L"dlk.php", L"");
    EXPECT_STREQ(L"https://d.example/rel/dlk.php", url);
    BuildIniUrl(url, L"https://d.example/rel", L"dlk.php", L"x.ini");
    EXPECT_STREQ(L"https://d.example/rel/x.ini", url);
}

TEST(ParseVersionAnswer, ReadsValuesFromTheEnvelopeOnly)
{
    VersionAnswer a;
    ASSERT_TRUE(ParseVersionAnswer(L"<DlkIniName>outside.ini</DlkIniName>\xfeff<MVHostVersion><Status> success </Status>"
                                   L"<DlkUrlRoot>https://d/r</DlkUrlRoot><LID>9</LID><SupportDelta>1</SupportDelta>"
                                   L"<DlkActiveIniSection>Sec</DlkActiveIniSection></MVHostVersion>",
                                   a));
    EXPECT_STREQ(L"success", a.status);
    EXPECT_STREQ(L"dlk.php", a.iniName) << "a tag outside the envelope is not read";
    EXPECT_STREQ(L"https://d/r", a.urlRoot);
    EXPECT_STREQ(L"9", a.lid);
    EXPECT_STREQ(L"1", a.supportDelta);
    EXPECT_STREQ(L"Sec", a.activeIniSection);
    EXPECT_STREQ(L"", a.urlRootEx);
}

TEST(ParseVersionAnswer, RefusesBrokenEnvelopesAndDropsOverlongValues)
{
    VersionAnswer a;
    EXPECT_FALSE(ParseVersionAnswer(L"<MVHostVersion><Status>FAILED</Status></MVHostVersion>", a));
    EXPECT_FALSE(ParseVersionAnswer(L"<MVHostVersion><Status>SUCCESS</Status>", a)) << "no closing mark";
    EXPECT_FALSE(ParseVersionAnswer(L"<Status>SUCCESS</Status>", a));
    const std::wstring tooLong = L"<MVHostVersion><Status>SUCCESS</Status>" + std::wstring(4100, L'x') + L"</MVHostVersion>";
    EXPECT_FALSE(ParseVersionAnswer(tooLong.c_str(), a));
    // A value longer than its buffer falls back to its default; one that just fits is kept.
    const std::wstring text = L"<MVHostVersion><Status>SUCCESS</Status><DlkIniName>" + std::wstring(256, L'n') +
                              L"</DlkIniName><SupportDelta>" + std::wstring(31, L'd') + L"</SupportDelta></MVHostVersion>";
    ASSERT_TRUE(ParseVersionAnswer(text.c_str(), a));
    EXPECT_STREQ(L"dlk.php", a.iniName);
    EXPECT_EQ(std::wstring(31, L'd'), a.supportDelta);
}

TEST(IsSafeLocalFileName, PlainNamesOnly)
{
    for (const wchar_t* good : {L"dlk.php", L"a..b.ini", L"x", L"caution.ini", L"com10", L"console.txt", L" nul.txt",
                                L"nulx .ini", L"a.nul", L"nu l.ini", L"com10 .log", L"con2 .ini"}) {
        EXPECT_TRUE(IsSafeLocalFileName(good)) << good;
    }
    for (const wchar_t* bad : {L"", L".", L"..", L"..\\x.ini", L"../x.ini", L"a/b", L"C:x.ini", L"C:\\x",
                               L"\\\\server\\share\\x", L"con", L"CON.txt", L"nul", L"Aux.ini", L"com1", L"LPT9.log",
                               L"prn", L"conin$", L"x.ini:stream", L"a*b", L"trailing.", L"blank ", L"tab\tname",
                               // Found by fuzzing: blanks between a device name and its extension still name the device.
                               L"nul .ini", L"NUL  .txt", L"con .ini", L"aux  .x.y", L"com1 .log", L"nul . txt",
                               L"CONIN$ .txt", L"lpt2               .ini"}) {
        EXPECT_FALSE(IsSafeLocalFileName(bad)) << bad;
    }
    EXPECT_FALSE(IsSafeLocalFileName(nullptr));
}

TEST(MaskTokenInText, HidesEveryTokenParameterToItsLineEnd)
{
    const struct {
        const wchar_t* text;
        const wchar_t* traced;
    } rows[] = {
        {L"Not found: /u/smt.php?AT=RV&TK=s3cr&t0k</p>\r\nnext line", L"Not found: /u/smt.php?AT=RV&TK=********\r\nnext line"},
        {L"TK=abc", L"TK=********"},
        {L"?TK=a\n&TK=b\nend", L"?TK=********\n&TK=********\nend"},
        // Not a parameter: a word that merely ends in TK=.
        {L"OKTK=plain", L"OKTK=plain"},
        {L"&TK=\nempty token", L"&TK=\nempty token"},
        {L"no token here", L"no token here"},
        {L"", L""},
    };
    for (const auto& row : rows) {
        const size_t needed = MaskTokenInText(row.text, nullptr, 0);
        EXPECT_EQ(std::wcslen(row.traced) + 1, needed) << row.text;
        std::wstring out(needed + 4, L'#');
        EXPECT_EQ(needed, MaskTokenInText(row.text, &out[0], needed));
        EXPECT_EQ(std::wstring(row.traced), out.c_str()) << row.text;
        EXPECT_EQ(L'#', out[needed]) << "written past the text";
    }
    // A buffer too small for the masked text gets it cut, and terminated.
    wchar_t small[8] = {};
    MaskTokenInText(L"&TK=secret", small, 8);
    EXPECT_STREQ(L"&TK=***", small);
    wchar_t empty[2] = {L'#', L'#'};
    EXPECT_EQ(1u, MaskTokenInText(nullptr, empty, 2));
    EXPECT_EQ(L'\0', empty[0]);
}

}  // namespace
