// The pure text work of the version check: server name, URLs, answer, local file name.
#include "app/VersionText.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

struct Normalised {
    std::wstring server;
    bool writeBack;
};

Normalised Normalise(const wchar_t* surl)
{
    wchar_t server[kServerNameSize];
    const bool writeBack = NormaliseServerName(surl, server);
    return {server, writeBack};
}

TEST(NormaliseServerName, SchemesAreDroppedAndReportedForWriteBack)
{
    Normalised n = Normalise(L"https://alpha.beta.gamma");
    EXPECT_EQ(L"alpha.beta.gamma/alpha", n.server);
    EXPECT_TRUE(n.writeBack);
    n = Normalise(L"http://alpha.beta.gamma/orvik");
    EXPECT_EQ(L"alpha.beta.gamma/alpha", n.server);
    EXPECT_TRUE(n.writeBack);
    n = Normalise(L"alpha.beta.gamma/ORVIK");
    EXPECT_EQ(L"alpha.beta.gamma/alpha", n.server);
    EXPECT_FALSE(n.writeBack);
}

TEST(NormaliseServerName, OtherPathsAndNamesStayAsTheyAre)
{
    EXPECT_EQ(L"alpha.beta.gamma/other", Normalise(L"alpha.beta.gamma/other").server);
    EXPECT_EQ(L"alpha.beta.gamma/orvik/", Normalise(L"alpha.beta.gamma/orvik/").server);
    EXPECT_EQ(L"alpha.beta.gamma/orvik2", Normalise(L"alpha.beta.gamma/orvik2").server);
    EXPECT_EQ(L"localhost", Normalise(L"localhost").server);
    // Upper-case schemes are not schemes: the path test then sees "//alpha.beta.gamma".
    const Normalised upper = Normalise(L"HTTPS://alpha.beta.gamma");
    EXPECT_EQ(L"HTTPS://alpha.beta.gamma", upper.server);
    EXPECT_FALSE(upper.writeBack);
}

TEST(NormaliseServerName, LongLabelsAndNamesAreBounded)
{
    const std::wstring label127(127, L'a');
    EXPECT_EQ((label127 + L".b/" + label127).substr(0, 255), Normalise((label127 + L".b").c_str()).server);
    const std::wstring label128(128, L'a');
    EXPECT_EQ(label128 + L".b", Normalise((label128 + L".b").c_str()).server);
    // 200 + "/" + label of 100: cut to 255 characters.
    const std::wstring name = std::wstring(100, L'x') + L"." + std::wstring(99, L'y');
    const std::wstring result = Normalise(name.c_str()).server;
    EXPECT_EQ(255u, result.size());
    EXPECT_EQ(name + L"/" + std::wstring(54, L'x'), result);
}

TEST(VersionCheckUrl, TemplatesByOperatingSystemClass)
{
    wchar_t url[kUrlSize];
    BuildVersionCheckUrl(url, L"alpha.beta.gamma/alpha", 6, false, kNoLanguage, L"");
    EXPECT_STREQ(L"http://alpha.beta.gamma/alpha/hx30/smt.php?AT=RV&OS=WIN2K&isUTF8=1&TK=", url);
    BuildVersionCheckUrl(url, L"s", 9, true, kNoLanguage, L"t");
    EXPECT_STREQ(L"http://s/smt.php?AT=RV&OS=WINVISTA&OS_Bit=64&isUTF8=1&TK=t", url);
    BuildVersionCheckUrl(url, L"s", 8, false, 9, L"tok");
    EXPECT_STREQ(L"http://s/smt.php?AT=RV&OS=WINVISTA&isUTF8=1&LID=9&TK=tok", url);
    BuildVersionCheckUrl(url, L"s", -1, true, kNoLanguage, L"");
    EXPECT_STREQ(L"http://s/hx30/smt.php?AT=RV&OS=WIN31&isUTF8=1&TK=", url);
    BuildVersionCheckUrl(url, L"s", 2, false, kNoLanguage, L"");
    EXPECT_STREQ(L"http://s/hx30/smt.php?AT=RV&OS=WIN95&isUTF8=1&TK=", url);
    BuildVersionCheckUrl(url, L"s", 4, false, kNoLanguage, L"");
    EXPECT_STREQ(L"http://s/hx30/smt.php?AT=RV&OS=WINNT&isUTF8=1&TK=", url);
    // WOW64 matters only from Vista on.
    BuildVersionCheckUrl(url, L"s", 7, true, kNoLanguage, L"");
    EXPECT_STREQ(L"http://s/hx30/smt.php?AT=RV&OS=WIN2K&isUTF8=1&TK=", url);
}

TEST(VersionCheckUrl, LanguageIsSignedAndTokenVerbatim)
{
    wchar_t url[kUrlSize];
    BuildVersionCheckUrl(url, L"s", 9, false, 0xFFFFFFFEu, L"a&b c%s");
    EXPECT_STREQ(L"http://s/smt.php?AT=RV&OS=WINVISTA&isUTF8=1&LID=-2&TK=a&b c%s", url);
}

TEST(VersionCheckUrl, LongTokenIsCut)
{
    wchar_t url[kUrlSize];
    const std::wstring token(3000, L'k');
    BuildVersionCheckUrl(url, L"s", 9, false, kNoLanguage, token.c_str());
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

TEST(ParseVersionAnswer, RefusesOtherStatusesAndBrokenEnvelopes)
{
    VersionAnswer a;
    EXPECT_FALSE(ParseVersionAnswer(L"<MVHostVersion><Status>FAILED</Status></MVHostVersion>", a));
    EXPECT_FALSE(ParseVersionAnswer(L"<MVHostVersion><Status>SUCCESS</Status>", a)) << "no closing mark";
    EXPECT_FALSE(ParseVersionAnswer(L"<Status>SUCCESS</Status>", a));
    const std::wstring tooLong = L"<MVHostVersion><Status>SUCCESS</Status>" + std::wstring(4100, L'x') + L"</MVHostVersion>";
    EXPECT_FALSE(ParseVersionAnswer(tooLong.c_str(), a));
}

TEST(ParseVersionAnswer, OverlongValuesFallBackToTheirDefaults)
{
    VersionAnswer a;
    const std::wstring text = L"<MVHostVersion><Status>SUCCESS</Status><DlkIniName>" + std::wstring(256, L'n') +
                              L"</DlkIniName><SupportDelta>" + std::wstring(31, L'd') + L"</SupportDelta></MVHostVersion>";
    ASSERT_TRUE(ParseVersionAnswer(text.c_str(), a));
    EXPECT_STREQ(L"dlk.php", a.iniName);
    EXPECT_EQ(std::wstring(31, L'd'), a.supportDelta);
}

TEST(IsSafeLocalFileName, PlainNamesOnly)
{
    for (const wchar_t* good : {L"dlk.php", L"a..b.ini", L"x", L"caution.ini", L"com10", L"console.txt"}) {
        EXPECT_TRUE(IsSafeLocalFileName(good)) << good;
    }
    for (const wchar_t* bad : {L"", L".", L"..", L"..\\x.ini", L"../x.ini", L"a/b", L"C:x.ini", L"C:\\x",
                               L"\\\\server\\share\\x", L"con", L"CON.txt", L"nul", L"Aux.ini", L"com1", L"LPT9.log",
                               L"prn", L"conin$", L"x.ini:stream", L"a*b", L"trailing.", L"blank ", L"tab\tname"}) {
        EXPECT_FALSE(IsSafeLocalFileName(bad)) << bad;
    }
    EXPECT_FALSE(IsSafeLocalFileName(nullptr));
}

// Found by fuzzing: blanks between a device name and its extension still name the device.
TEST(IsSafeLocalFileName, DeviceNamesWithBlanksBeforeTheDot)
{
    for (const wchar_t* device : {L"nul .ini", L"NUL  .txt", L"con .ini", L"aux  .x.y", L"com1 .log", L"nul . txt",
                                  L"CONIN$ .txt", L"lpt2               .ini"}) {
        EXPECT_FALSE(IsSafeLocalFileName(device)) << device;
    }
    for (const wchar_t* file : {L" nul.txt", L"nulx .ini", L"a.nul", L"nu l.ini", L"com10 .log", L"con2 .ini"}) {
        EXPECT_TRUE(IsSafeLocalFileName(file)) << file;
    }
}

// Every name the check lets through opens as a file on disk in the directory, not as a device.
TEST(IsSafeLocalFileName, AcceptedNamesOpenAsFiles)
{
    wchar_t dir[MAX_PATH] = {};
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, dir));
    for (const wchar_t* name : {L"nul .ini", L"con .txt", L"aux  .x", L"com1 .log", L"dlk.php", L" nul.txt",
                                L"nulx .ini", L"a.nul", L"com10 .log"}) {
        if (!IsSafeLocalFileName(name)) continue;
        const std::wstring path = std::wstring(dir) + name;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file) << name;
        EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_DISK), GetFileType(file)) << name;
        CloseHandle(file);
    }
}

TEST(EqualsIgnoreAsciiCase, FoldsOnlyAsciiLetters)
{
    EXPECT_TRUE(EqualsIgnoreAsciiCase(L"SUCCESS", L"success"));
    EXPECT_TRUE(EqualsIgnoreAsciiCase(L"SuCcEsS", L"SUCCESS"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase(L"SUCCESS ", L"SUCCESS"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase(L"SUCCES", L"SUCCESS"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase(L"\u00c9", L"\u00e9"));
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
    for (const auto& row : rows) EXPECT_EQ(std::wstring(row.traced), MaskTokenInText(row.text)) << row.text;
    EXPECT_EQ(L"", MaskTokenInText(nullptr));
}

}  // namespace
