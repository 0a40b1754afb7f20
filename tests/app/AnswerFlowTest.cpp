// The application's side of the two requests: the version answer, the INI URL, the stored
// INI file and what the download library is given.
#include "tests/app/AppTestSupport.h"

#include "app/EntryGlobals.h"
#include "util/ConfigStore.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

const wchar_t kGeneralKey[] = L"SOFTWARE\\Orvik\\Config\\MV\\General";

std::vector<std::string> g_libraryCalls;

int WINAPI RecordInit(const char* root, const char* unpack, const char* ext, const char* vendor, const char* build)
{
    g_libraryCalls.push_back(std::string("Init ") + root + "|" + unpack + "|" + ext + "|" + vendor + "|" + build);
    return 0;
}

int WINAPI RecordParameter(const char* name, const char* value)
{
    g_libraryCalls.push_back(std::string(name) + "=" + value);
    return 0;
}

std::string ReadFileBytes(const std::wstring& path)
{
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (f == nullptr) return "<missing>";
    std::string bytes;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) bytes.append(buf, n);
    fclose(f);
    return bytes;
}

std::wstring TempPath(const wchar_t* name)
{
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
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
                               body.empty() ? nullptr : reinterpret_cast<const uint8_t*>(body.data()));
    }
    void AnswerFailure(int32_t result)
    {
        CUrlRequest* current = reinterpret_cast<CUrlRequest*>(0x1000);
        app->SetCurrentRequest(current);
        CMVAgtApp::OnUrlReturn(current, result, nullptr);
    }
    std::wstring Registry(const wchar_t* name)
    {
        wchar_t value[256];
        CfgGetString(L"General", name, L"<absent>", value, 256);
        return value;
    }
};

const char kGoodAnswer[] =
    "<?xml?><MVHostVersion><Status>success</Status><DlkUrlRoot>https://127.83.6.250/rel</DlkUrlRoot>"
    "<DlkIniName>agent.ini</DlkIniName><DlkActiveIniSection>Ignored</DlkActiveIniSection><LID>9</LID>"
    "<DlkUnpackVersion>2.1</DlkUnpackVersion><DlkExtVersion>7</DlkExtVersion><SupportDelta>1</SupportDelta>"
    "</MVHostVersion>";

TEST_F(AnswerFlow, AcceptedAnswerRequestsTheIniAndFillsTheLanguage)
{
    MVUrlInit(nullptr, 0);
    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer(kGoodAnswer);
    EXPECT_EQ(STATUS_DOWNLOADING_INI, app->GetStatus());
    EXPECT_NE(nullptr, app->GetCurrentRequest());
    EXPECT_TRUE(Traced(L"https://127.83.6.250/rel/agent.ini"));
    EXPECT_EQ(L"9", Registry(L"LANGUAGEID"));
}

TEST_F(AnswerFlow, PresentLanguageIsNotTouchedAndMissingLidWritesEmpty)
{
    CfgSetString(L"General", L"LANGUAGEID", L"7");
    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer(kGoodAnswer);
    EXPECT_EQ(L"7", Registry(L"LANGUAGEID"));

    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer("<MVHostVersion><Status>SUCCESS</Status></MVHostVersion>");
    EXPECT_EQ(L"", Registry(L"LANGUAGEID"));
    // Without a worker the INI request cannot be queued.
    EXPECT_TRUE(Traced(L"Can't connect out where downloading ini file..."));
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());
}

TEST_F(AnswerFlow, VersionCheckFailuresEndInIdle)
{
    app->SetStatus(STATUS_CHECKING_VERSION);
    AnswerFailure(0);
    EXPECT_TRUE(Traced(L"Get version info failed. Result = 0."));
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());

    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer("<MVHostVersion><Status>DENIED</Status></MVHostVersion>");
    EXPECT_TRUE(Traced(L"Getting version info error."));
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());
}

TEST_F(AnswerFlow, PagesWithoutTheEnvelopeWaitForTheTimeOut)
{
    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer("<html>Not Found</html>");
    EXPECT_EQ(STATUS_CHECKING_VERSION, app->GetStatus());
    EXPECT_EQ(1u, Statuses().size());
}

TEST_F(AnswerFlow, AnswerSizeLimitsAndBufferSwitch)
{
    const std::string envelope = "<MVHostVersion><Status>NOPE</Status></MVHostVersion>";
    for (size_t size : {4091u, 4092u, 102399u}) {
        app->SetStatus(STATUS_CHECKING_VERSION);
        Answer(std::string(size - envelope.size(), ' ') + envelope);
        EXPECT_EQ(STATUS_IDLE, app->GetStatus()) << size << " bytes were not read";
    }
    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer(std::string(102400 - envelope.size(), ' ') + envelope);
    EXPECT_EQ(STATUS_CHECKING_VERSION, app->GetStatus());
    EXPECT_TRUE(Traced(L"OnUrlReturn result= 102400"));
}

TEST_F(AnswerFlow, ResultsOfOtherRequestsAreDropped)
{
    app->SetStatus(STATUS_CHECKING_VERSION);
    app->SetCurrentRequest(nullptr);
    CMVAgtApp::OnUrlReturn(reinterpret_cast<CUrlRequest*>(0x2000), 0, nullptr);
    EXPECT_EQ(STATUS_CHECKING_VERSION, app->GetStatus());
}

TEST_F(AnswerFlow, IniIsStoredWithCrLfInUtf8AndTheLibraryPrepared)
{
    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer(kGoodAnswer);  // no worker: the INI request fails, but the answer's values stay
    app->SetStatus(STATUS_DOWNLOADING_INI);
    Answer("[ZEInstall]\nfile=caf\xc3\xa9\r\nend");
    EXPECT_EQ(STATUS_READY_TO_DOWNLOAD, app->GetStatus());
    // Stored in a folder of the run's own inside the temporary directory, under the server's name.
    const std::wstring path = app->IniPath();
    EXPECT_EQ(0u, path.find(TempPath(L"mvu-"))) << path;
    EXPECT_EQ(L"\\agent.ini", path.substr(path.size() - 10));
    EXPECT_EQ("[ZEInstall]\r\nfile=caf\xc3\xa9\r\r\nend", ReadFileBytes(path));
    ASSERT_EQ(5u, g_libraryCalls.size());
    EXPECT_EQ("Init https://127.83.6.250/rel|2.1|7|Orvik|319", g_libraryCalls[0]);
    // The answer's LID 9 became the machine's language: German.
    EXPECT_EQ("DlkProgressBarTitle=TWlycm9ydmFsZSB3aXJkIGVpbmdlcmljaHRldA==", g_libraryCalls[1]);
    EXPECT_EQ("DlkLocalSetting=OQ==", g_libraryCalls[2]);
    EXPECT_EQ("SupportDelta=MQ==", g_libraryCalls[3]);
    EXPECT_EQ("DlkMovingInSubdir=Wanta", g_libraryCalls[4]);
}

TEST_F(AnswerFlow, ServerChosenNamesNeverLeaveTheTemporaryDirectory)
{
    for (const char* name : {"..\\escape.ini", "../escape.ini", "C:\\escape.ini", "con", "nul.ini", "a:b", ".."}) {
        g_libraryCalls.clear();
        app->SetStatus(STATUS_CHECKING_VERSION);
        Answer(std::string("<MVHostVersion><Status>SUCCESS</Status><DlkIniName>") + name +
               "</DlkIniName></MVHostVersion>");
        app->SetStatus(STATUS_DOWNLOADING_INI);
        Answer("[x]");
        EXPECT_EQ(STATUS_IDLE, app->GetStatus()) << name;
        EXPECT_TRUE(g_libraryCalls.empty()) << name;
    }
    EXPECT_EQ("<missing>", ReadFileBytes(TempPath(L"..\\escape.ini")));
    // A name that makes the path too long for the INI name member is refused, not cut.
    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer("<MVHostVersion><Status>SUCCESS</Status><DlkIniName>" + std::string(250, 'n') + "</DlkIniName></MVHostVersion>");
    app->SetStatus(STATUS_DOWNLOADING_INI);
    Answer("[x]");
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());
    EXPECT_GE(CountTraced(L"Create file ..\\escape.ini failed."), 1u);
}

TEST_F(AnswerFlow, WithoutLanguageTheTitleIsEnglishAndTheSettingTheDefault)
{
    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer("<MVHostVersion><Status>SUCCESS</Status><DlkIniName>t.ini</DlkIniName></MVHostVersion>");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
    app->SetStatus(STATUS_DOWNLOADING_INI);
    Answer("[x]");
    ASSERT_EQ(5u, g_libraryCalls.size());
    EXPECT_EQ("DlkProgressBarTitle=U2V0dGluZyBVcCBNaXJyb3J2YWxl", g_libraryCalls[1]);  // "Setting Up Mirrorvale"
    EXPECT_EQ("DlkLocalSetting=MQ==", g_libraryCalls[2]);                              // the default "1"
    EXPECT_EQ("SupportDelta=", g_libraryCalls[3]);
}

TEST_F(AnswerFlow, EmptyAndZeroLeadingIniBodies)
{
    app->SetStatus(STATUS_DOWNLOADING_INI);
    AnswerFailure(0);
    EXPECT_TRUE(Traced(L"Get dlk_ini_file failed. Result = 0."));
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());

    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer("<MVHostVersion><Status>SUCCESS</Status><DlkIniName>zero.ini</DlkIniName></MVHostVersion>");
    app->SetStatus(STATUS_DOWNLOADING_INI);
    Answer(std::string("\0rest", 5));
    EXPECT_EQ(STATUS_READY_TO_DOWNLOAD, app->GetStatus());
    EXPECT_EQ("", ReadFileBytes(app->IniPath()));
}

TEST_F(AnswerFlow, ProgressTitleFollowsTheLanguage)
{
    const struct {
        const wchar_t* language;
        const char* title;  // Base64 of the UTF-8 title
    } cases[] = {
        {L"9", "TWlycm9ydmFsZSB3aXJkIGVpbmdlcmljaHRldA=="},  // "Mirrorvale wird eingerichtet"
        {L"13", "SW5zdGFsYWNpw7NuIGRlIE1pcnJvcnZhbGU="},     // "Instalación de Mirrorvale"
        {L"4", "IOioreWumiBNaXJyb3J2YWxl"},                  // " 設定 Mirrorvale", leading blank kept
        {L" 9", "U2V0dGluZyBVcCBNaXJyb3J2YWxl"},             // not exactly "9": English
        {L"8", "U2V0dGluZyBVcCBNaXJyb3J2YWxl"},
    };
    for (const auto& c : cases) {
        CfgSetString(L"General", L"LANGUAGEID", c.language);
        g_libraryCalls.clear();
        app->SetStatus(STATUS_CHECKING_VERSION);
        Answer("<MVHostVersion><Status>SUCCESS</Status><DlkIniName>t.ini</DlkIniName></MVHostVersion>");
        app->SetStatus(STATUS_DOWNLOADING_INI);
        Answer("[x]");
        ASSERT_EQ(5u, g_libraryCalls.size());
        EXPECT_EQ(std::string("DlkProgressBarTitle=") + c.title, g_libraryCalls[1]);
    }
}

}  // namespace
