// The application's side of the two requests, answers delivered by hand: no worker, another
// request's answer, answer sizes around the buffer switch and the limit, bytes that are no
// text, values and INI names too long or unsafe, other languages, and signed answers.
#include "tests/app/AppTestSupport.h"

#include "app/EntryGlobals.h"
#include "util/Base64.h"
#include "util/ConfigStore.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace {

const wchar_t kGeneralKey[] = L"SOFTWARE\\Orvik\\Config\\MV\\General";
const wchar_t kIniAsked[] = L"Can't connect out where downloading ini file...";

std::vector<std::string> g_libraryCalls;

int WINAPI RecordInit(const char* root, const char* unpack, const char* ext, const char*,
                      const char*)
{
    g_libraryCalls.push_back(std::string("Init ") + root + "|" + unpack + "|" + ext);
    return 0;
}

int WINAPI RecordParameter(const char* name, const char* value)
{
    g_libraryCalls.push_back(std::string(name) + "=" + value);
    return 0;
}

// The Base64 form the library's parameters take.
std::string Encoded(const std::string& utf8)
{
    std::string out(Base64EncodedLength(utf8.size()) + 1, '\0');
    out.resize(static_cast<size_t>(Base64Encode(&out[0], utf8.data(), utf8.size())));
    return out;
}

std::string Envelope(const std::string& tags)
{
    return "<MVHostVersion><Status>SUCCESS</Status><DlkIniName>t.ini</DlkIniName>" + tags +
           "</MVHostVersion>";
}

class AnswerFlow : public AppTest {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
        g_hInstance = GetModuleHandleW(nullptr);
        AppTest::SetUp();
        g_libraryCalls.clear();
        g_pfnDlkInitStdDownload = RecordInit;
        g_pfnDlkSetStdParameter = RecordParameter;
    }
    void TearDown() override
    {
        MVUrlCleanup();
        AppTest::TearDown();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
    }

    // Delivers bytes as the answer to the application's current request.
    void Answer(const std::string& body)
    {
        CUrlRequest* current = reinterpret_cast<CUrlRequest*>(0x1000);
        app->SetCurrentRequest(current);
        CMVAgtApp::OnUrlReturn(current, static_cast<int32_t>(body.size()),
                               body.empty() ? nullptr
                                            : reinterpret_cast<const uint8_t*>(body.data()));
    }
    // A version answer naming the INI, then the INI itself; between them, the stored language
    // is set as given (null: none).
    void AnswerBoth(const std::string& iniName, const wchar_t* language = nullptr,
                    const std::string& ini = "[x]")
    {
        app->SetStatus(STATUS_CHECKING_VERSION);
        Answer("<MVHostVersion><Status>SUCCESS</Status><DlkIniName>" + iniName +
               "</DlkIniName></MVHostVersion>");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
        if (language != nullptr)
            CfgSetString(L"General", L"LANGUAGEID", language);
        app->SetStatus(STATUS_DOWNLOADING_INI);
        Answer(ini);
    }
    // The INI file the application last stored, as its trace names it.
    std::wstring StoredIniPath() const
    {
        const std::wstring prefix = L"dlkActiveIniName = ";
        std::wstring path;
        for (const std::wstring& text : recorder.Texts()) {
            if (text.compare(0, prefix.size(), prefix) == 0)
                path = text.substr(prefix.size());
        }
        return path;
    }
    // Its bytes.
    std::string StoredIni() const
    {
        std::ifstream file(StoredIniPath().c_str(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
};

TEST_F(AnswerFlow, WithoutAWorkerTheIniRequestFailsAndOthersAnswersAreDropped)
{
    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer("<MVHostVersion><Status>success</Status><DlkIniName>agent.ini</DlkIniName></"
           "MVHostVersion>");
    EXPECT_TRUE(Traced(kIniAsked));
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());

    app->SetStatus(STATUS_CHECKING_VERSION);
    app->SetCurrentRequest(nullptr);
    CMVAgtApp::OnUrlReturn(reinterpret_cast<CUrlRequest*>(0x2000), 0, nullptr);
    EXPECT_EQ(STATUS_CHECKING_VERSION, app->GetStatus());
}

TEST_F(AnswerFlow, VersionAnswersUpTo102399BytesAreReadToTheirFirstZeroByte)
{
    // The answer's last bytes decide: only an answer read to its end asks for the INI (which
    // fails at once without a worker), so one cut anywhere before shows.
    const std::string envelope = Envelope("");
    const struct {
        std::string body;
        bool used;
        AgtStatus status;  // afterwards
    } rows[] = {
        {std::string(4091 - envelope.size(), ' ') + envelope, true, STATUS_IDLE},
        {std::string(4092 - envelope.size(), ' ') + envelope, true, STATUS_IDLE},
        {std::string(102399 - envelope.size(), ' ') + envelope, true, STATUS_IDLE},
        // Longer ones fail at once: no wait for the answer's time-out.
        {std::string(102400 - envelope.size(), ' ') + envelope, false, STATUS_IDLE},
        {std::string(200 * 1024 - envelope.size(), ' ') + envelope, false, STATUS_IDLE},
        // The text ends at a zero byte: the envelope is then unclosed.
        {Envelope(std::string("<DlkProductDescription>Mirror\0vale</DlkProductDescription>", 58)),
         false, STATUS_IDLE},
        // Bytes that are no UTF-8 read as replacement characters.
        {Envelope("<DlkProductDescription>Mirror\xff\xfevale \xc3(</DlkProductDescription>"), true,
         STATUS_IDLE},
    };
    for (const auto& row : rows) {
        const size_t before = CountTraced(kIniAsked);
        app->SetStatus(STATUS_CHECKING_VERSION);
        Answer(row.body);
        EXPECT_EQ(row.status, app->GetStatus()) << row.body.size();
        EXPECT_EQ(before + (row.used ? 1 : 0), CountTraced(kIniAsked)) << row.body.size();
    }
    EXPECT_TRUE(Traced(L"OnUrlReturn: an answer of 204800 bytes is refused (at most 102399)."));
}

TEST_F(AnswerFlow, IniAnswersAreStoredWholeAsUtf8WithTheirLineEnds)
{
    const std::string fill = "[x]\r\n;" + std::string(102399 - 6, 'p');
    const struct {
        std::string ini;
        std::string stored;  // empty with used false: nothing stored
        bool used;
    } rows[] = {
        {"[x]\r\nfile=a\r\n", "[x]\r\r\nfile=a\r\r\n", true},
        {fill, "[x]\r\r\n;" + std::string(102399 - 6, 'p'), true},
        {fill + "p", "", false},
        // The text ends at its first zero byte.
        {std::string("\0[x]\r\n", 6), "", true},
        {"; caf\xe9 \xff\xfe \xc3(\r\n[x]",
         "; caf\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd \xef\xbf\xbd(\r\r\n[x]", true},
    };
    for (const auto& row : rows) {
        const size_t before = CountTraced(L"dlkActiveIniName = ", true);
        AnswerBoth("t.ini", nullptr, row.ini);
        EXPECT_EQ(row.used ? STATUS_READY_TO_DOWNLOAD : STATUS_IDLE, app->GetStatus())
            << row.ini.size();
        EXPECT_EQ(before + (row.used ? 1 : 0), CountTraced(L"dlkActiveIniName = ", true));
        if (row.used) {
            EXPECT_EQ(row.stored, StoredIni()) << row.ini.size();
        }
    }
}

TEST_F(AnswerFlow, AnIniNameTooLongOrLeadingOutOfItsFolderIsRefusedNotCut)
{
    for (const std::string& name :
         {std::string(250, 'n'), std::string("..\\..\\..\\..\\Orvik\\MV\\bin\\mvagtx.exe")}) {
        const size_t before = CountTraced(L"Create file ", true);
        AnswerBoth(name);
        EXPECT_EQ(STATUS_IDLE, app->GetStatus()) << name;
        EXPECT_TRUE(g_libraryCalls.empty()) << name;
        EXPECT_EQ(before + 1, CountTraced(L"Create file ", true)) << name;
    }
}

TEST_F(AnswerFlow, ValuesLongerThanTheirBuffersFallBackToTheirDefaults)
{
    app->SetStatus(STATUS_CHECKING_VERSION);
    // 256 characters do not fit a value of 256, 255 do; the delta flag and the language hold 31.
    Answer(Envelope("<DlkUrlRoot>r</DlkUrlRoot><DlkUnpackVersion>" + std::string(256, 'u') +
                    "</DlkUnpackVersion><DlkExtVersion>" + std::string(255, 'e') +
                    "</DlkExtVersion><SupportDelta>" + std::string(40, '1') +
                    "</SupportDelta><LID>" + std::string(40, '9') + "</LID>"));
    wchar_t language[8] = {};
    EXPECT_STREQ(L"", CfgGetStringBuf(L"General", L"LANGUAGEID", 8, language, L"absent"));
    app->SetStatus(STATUS_DOWNLOADING_INI);
    Answer("[x]");
    ASSERT_EQ(5u, g_libraryCalls.size());
    EXPECT_EQ("Init r||" + std::string(255, 'e'), g_libraryCalls[0]);
    EXPECT_EQ("SupportDelta=", g_libraryCalls[3]);
}

// Every language the string table has, and numbers that name none.
TEST_F(AnswerFlow, ProgressTitleAndLocalSettingFollowTheLanguage)
{
    const struct {
        const wchar_t* language;  // null: none stored
        const char* setting;      // the language as the library gets it
        const char* title;        // UTF-8
    } cases[] = {
        {L"3", "3", u8"正在设置 Mirrorvale"},
        {L"4", "4", u8" 設定 Mirrorvale"},  // the leading blank kept
        {L"5", "5", u8"Mirrorvaleを設定しています"},
        {L"6", "6", u8"Mirrorvale 설치 중"},
        {L"7", "7", "Configurer Mirrorvale"},
        {L"9", "9", "Mirrorvale wird eingerichtet"},
        {L"13", "13", u8"Instalación de Mirrorvale"},
        // Anything else is English, the default "1" too.
        {L" 9", " 9", "Setting Up Mirrorvale"},
        {L"8", "8", "Setting Up Mirrorvale"},
        {L"14", "14", "Setting Up Mirrorvale"},
        {nullptr, "1", "Setting Up Mirrorvale"},
    };
    for (const auto& c : cases) {
        g_libraryCalls.clear();
        AnswerBoth("t.ini", c.language);
        ASSERT_EQ(5u, g_libraryCalls.size());
        EXPECT_EQ("DlkProgressBarTitle=" + Encoded(c.title), g_libraryCalls[1]) << c.title;
        EXPECT_EQ("DlkLocalSetting=" + Encoded(c.setting), g_libraryCalls[2]);
    }
}

// The answer's values as the INI's request and the library get them: DlkUrlRootEx, when not
// empty, names the INI on the server in place of DlkIniName, which still names the stored file.
TEST_F(AnswerFlow, TheAnswersValuesReachTheIniRequestAndTheLibrary)
{
    const struct {
        std::string tags;
        const wchar_t* iniUrl;
        const char* delta;  // the answer's SupportDelta
    } rows[] = {
        {"<SupportDelta>1</SupportDelta>", L"https://r.mvtest.invalid/rel/t.ini", "1"},
        {"<DlkUrlRootEx>x64/agent.ini</DlkUrlRootEx><SupportDelta>2</SupportDelta>",
         L"https://r.mvtest.invalid/rel/x64/agent.ini", "2"},
        {"<DlkUrlRootEx></DlkUrlRootEx>", L"https://r.mvtest.invalid/rel/t.ini", ""},
    };
    for (const auto& row : rows) {
        g_libraryCalls.clear();
        app->SetStatus(STATUS_CHECKING_VERSION);
        Answer(Envelope("<DlkUrlRoot>https://r.mvtest.invalid/rel</DlkUrlRoot><DlkUnpackVersion>"
                        "7.2</DlkUnpackVersion><DlkExtVersion>7.3</DlkExtVersion>" +
                        row.tags));
        const std::vector<std::wstring> texts = recorder.Texts();
        // This row's request, the last one, and the INI's URL traced just before it.
        const auto asked = std::find(texts.rbegin(), texts.rend(), std::wstring(kIniAsked));
        ASSERT_TRUE(asked != texts.rend() && asked + 1 != texts.rend()) << row.tags;
        EXPECT_EQ(row.iniUrl, *(asked + 1));
        app->SetStatus(STATUS_DOWNLOADING_INI);
        Answer("[x]");
        ASSERT_EQ(5u, g_libraryCalls.size()) << row.tags;
        EXPECT_EQ("Init https://r.mvtest.invalid/rel|7.2|7.3", g_libraryCalls[0]);
        EXPECT_EQ("SupportDelta=" + Encoded(row.delta), g_libraryCalls[3]) << row.tags;
        const std::wstring stored = StoredIniPath();
        EXPECT_TRUE(stored.size() > 6 && stored.compare(stored.size() - 6, 6, L"\\t.ini") == 0)
            << stored;
    }
}

}  // namespace
