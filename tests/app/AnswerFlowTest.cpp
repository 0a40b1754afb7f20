// The application's side of the two requests where a real run cannot reach: no worker, another
// request's answer, the buffer switch at 4092 bytes, an INI name too long, other languages.
#include "tests/app/AppTestSupport.h"

#include "app/EntryGlobals.h"
#include "util/ConfigStore.h"

namespace {

const wchar_t kGeneralKey[] = L"SOFTWARE\\Orvik\\Config\\MV\\General";

std::vector<std::string> g_libraryCalls;

int WINAPI RecordInit(const char*, const char*, const char*, const char*, const char*)
{
    g_libraryCalls.push_back("Init");
    return 0;
}

int WINAPI RecordParameter(const char* name, const char* value)
{
    g_libraryCalls.push_back(std::string(name) + "=" + value);
    return 0;
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
    void AnswerBoth(const std::string& iniName, const wchar_t* language = nullptr)
    {
        app->SetStatus(STATUS_CHECKING_VERSION);
        Answer("<MVHostVersion><Status>SUCCESS</Status><DlkIniName>" + iniName +
               "</DlkIniName></MVHostVersion>");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
        if (language != nullptr)
            CfgSetString(L"General", L"LANGUAGEID", language);
        app->SetStatus(STATUS_DOWNLOADING_INI);
        Answer("[x]");
    }
};

TEST_F(AnswerFlow, WithoutAWorkerTheIniRequestFailsAndOthersAnswersAreDropped)
{
    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer("<MVHostVersion><Status>success</Status><DlkIniName>agent.ini</DlkIniName></"
           "MVHostVersion>");
    EXPECT_TRUE(Traced(L"Can't connect out where downloading ini file..."));
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());

    app->SetStatus(STATUS_CHECKING_VERSION);
    app->SetCurrentRequest(nullptr);
    CMVAgtApp::OnUrlReturn(reinterpret_cast<CUrlRequest*>(0x2000), 0, nullptr);
    EXPECT_EQ(STATUS_CHECKING_VERSION, app->GetStatus());
}

TEST_F(AnswerFlow, AnswersUpTo102399BytesAreReadAcrossTheBufferSwitch)
{
    // The answer's last bytes decide: only an answer read to its end asks for the INI (which
    // fails at once without a worker), so one cut anywhere before shows.
    const std::string envelope = "<MVHostVersion><Status>success</Status>"
                                 "<DlkIniName>agent.ini</DlkIniName></MVHostVersion>";
    const wchar_t* asked = L"Can't connect out where downloading ini file...";
    for (size_t size : {4091u, 4092u, 102399u, 102400u}) {
        const size_t before = CountTraced(asked);
        app->SetStatus(STATUS_CHECKING_VERSION);
        Answer(std::string(size - envelope.size(), ' ') + envelope);
        const bool used = size < 102400;
        EXPECT_EQ(used ? STATUS_IDLE : STATUS_CHECKING_VERSION, app->GetStatus()) << size;
        EXPECT_EQ(before + (used ? 1 : 0), CountTraced(asked)) << size;
    }
}

TEST_F(AnswerFlow, AnIniPathTooLongForItsMemberIsRefusedNotCut)
{
    AnswerBoth(std::string(250, 'n'));
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());
    EXPECT_TRUE(g_libraryCalls.empty());
    EXPECT_EQ(1u, CountTraced(L"Create file ", true));
}

TEST_F(AnswerFlow, ProgressTitleAndLocalSettingFollowTheLanguage)
{
    const struct {
        const wchar_t* language;  // null: none stored
        const char* title;        // Base64 of the UTF-8 title
        const char* setting;
    } cases[] = {
        {L"4", "IOioreWumiBNaXJyb3J2YWxl", "NA=="},  // " 設定 Mirrorvale", leading blank kept
        {L" 9", "U2V0dGluZyBVcCBNaXJyb3J2YWxl", "IDk="},  // not exactly "9": English
        {L"8", "U2V0dGluZyBVcCBNaXJyb3J2YWxl", "OA=="},
        {nullptr, "U2V0dGluZyBVcCBNaXJyb3J2YWxl", "MQ=="},  // the default "1"
    };
    for (const auto& c : cases) {
        g_libraryCalls.clear();
        AnswerBoth("t.ini", c.language);
        ASSERT_EQ(5u, g_libraryCalls.size());
        EXPECT_EQ(std::string("DlkProgressBarTitle=") + c.title, g_libraryCalls[1]);
        EXPECT_EQ(std::string("DlkLocalSetting=") + c.setting, g_libraryCalls[2]);
    }
}

}  // namespace
