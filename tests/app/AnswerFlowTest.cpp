// The application's side of the two requests: the version answer, the INI URL, the stored
// INI file and what the download library is given.
#include "tests/app/AppTestSupport.h"

#include "app/EntryGlobals.h"
#include "util/ConfigStore.h"

#include <cstdio>

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
        Deliver(static_cast<int32_t>(body.size()), body.empty() ? nullptr : reinterpret_cast<const uint8_t*>(body.data()));
    }
    void AnswerFailure(int32_t result) { Deliver(result, nullptr); }
    void Deliver(int32_t value, const uint8_t* content)
    {
        CUrlRequest* current = reinterpret_cast<CUrlRequest*>(0x1000);
        app->SetCurrentRequest(current);
        CMVAgtApp::OnUrlReturn(current, value, content);
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

TEST_F(AnswerFlow, AcceptedAnswerRequestsTheIniAndStoresTheLanguageOnlyWhereNoneIs)
{
    MVUrlInit(nullptr, 0);
    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer(kGoodAnswer);
    EXPECT_EQ(STATUS_DOWNLOADING_INI, app->GetStatus());
    EXPECT_NE(nullptr, app->GetCurrentRequest());
    EXPECT_TRUE(Traced(L"https://127.83.6.250/rel/agent.ini"));
    EXPECT_EQ(L"9", Registry(L"LANGUAGEID"));

    // Without a worker the INI request cannot be queued; a stored language stays.
    MVUrlCleanup();
    CfgSetString(L"General", L"LANGUAGEID", L"7");
    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer(kGoodAnswer);
    EXPECT_TRUE(Traced(L"Can't connect out where downloading ini file..."));
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());
    EXPECT_EQ(L"7", Registry(L"LANGUAGEID"));

    // An answer without one stores an empty language.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
    app->SetStatus(STATUS_CHECKING_VERSION);
    Answer("<MVHostVersion><Status>SUCCESS</Status></MVHostVersion>");
    EXPECT_EQ(L"", Registry(L"LANGUAGEID"));
}

TEST_F(AnswerFlow, RefusedAnswersEndInIdleAndPagesWaitForTheTimeOut)
{
    const struct {
        const char* body;  // null: the request failed
        int32_t status;
        const wchar_t* trace;
    } rows[] = {
        {nullptr, STATUS_IDLE, L"Get version info failed. Result = 0."},
        {"<MVHostVersion><Status>DENIED</Status></MVHostVersion>", STATUS_IDLE, L"Getting version info error."},
        // Without the envelope the answer is no answer at all.
        {"<html>Not Found</html>", STATUS_CHECKING_VERSION, nullptr},
    };
    for (const auto& row : rows) {
        app->SetStatus(STATUS_CHECKING_VERSION);
        const size_t statuses = Statuses().size();
        row.body != nullptr ? Answer(row.body) : AnswerFailure(0);
        EXPECT_EQ(row.status, app->GetStatus()) << row.trace;
        if (row.trace != nullptr) {
            EXPECT_TRUE(Traced(row.trace));
        }
        if (row.status == STATUS_CHECKING_VERSION) {
            EXPECT_EQ(statuses, Statuses().size()) << "status set again";
        }
    }
    // The answer to a request that is not the current one is dropped.
    app->SetCurrentRequest(nullptr);
    CMVAgtApp::OnUrlReturn(reinterpret_cast<CUrlRequest*>(0x2000), 0, nullptr);
    EXPECT_EQ(STATUS_CHECKING_VERSION, app->GetStatus());
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
    // The last name makes the path too long for the INI name member: refused, not cut.
    for (const std::string& name : std::vector<std::string>{"..\\escape.ini", "../escape.ini", "C:\\escape.ini", "con",
                                                            "nul.ini", "a:b", "..", std::string(250, 'n')}) {
        g_libraryCalls.clear();
        app->SetStatus(STATUS_CHECKING_VERSION);
        Answer("<MVHostVersion><Status>SUCCESS</Status><DlkIniName>" + name + "</DlkIniName></MVHostVersion>");
        app->SetStatus(STATUS_DOWNLOADING_INI);
        const size_t refusals = CountTracedStart(L"Create file ");
        Answer("[x]");
        EXPECT_EQ(STATUS_IDLE, app->GetStatus()) << name;
        EXPECT_TRUE(g_libraryCalls.empty()) << name;
        EXPECT_EQ(refusals + 1, CountTracedStart(L"Create file ")) << name;
    }
    EXPECT_EQ("<missing>", ReadFileBytes(TempPath(L"..\\escape.ini")));
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

TEST_F(AnswerFlow, ProgressTitleAndLocalSettingFollowTheLanguage)
{
    const struct {
        const wchar_t* language;  // null: none stored
        const char* title;        // Base64 of the UTF-8 title
        const char* setting;
    } cases[] = {
        {L"9", "TWlycm9ydmFsZSB3aXJkIGVpbmdlcmljaHRldA==", "OQ=="},  // "Mirrorvale wird eingerichtet"
        {L"13", "SW5zdGFsYWNpw7NuIGRlIE1pcnJvcnZhbGU=", "MTM="},     // "Instalación de Mirrorvale"
        {L"4", "IOioreWumiBNaXJyb3J2YWxl", "NA=="},                  // " 設定 Mirrorvale", leading blank kept
        {L" 9", "U2V0dGluZyBVcCBNaXJyb3J2YWxl", "IDk="},             // not exactly "9": English
        {L"8", "U2V0dGluZyBVcCBNaXJyb3J2YWxl", "OA=="},
        {nullptr, "U2V0dGluZyBVcCBNaXJyb3J2YWxl", "MQ=="},           // the default "1"
    };
    for (const auto& c : cases) {
        g_libraryCalls.clear();
        app->SetStatus(STATUS_CHECKING_VERSION);
        Answer("<MVHostVersion><Status>SUCCESS</Status><DlkIniName>t.ini</DlkIniName></MVHostVersion>");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kGeneralKey);
        if (c.language != nullptr) CfgSetString(L"General", L"LANGUAGEID", c.language);
        app->SetStatus(STATUS_DOWNLOADING_INI);
        Answer("[x]");
        ASSERT_EQ(5u, g_libraryCalls.size());
        EXPECT_EQ(std::string("DlkProgressBarTitle=") + c.title, g_libraryCalls[1]);
        EXPECT_EQ(std::string("DlkLocalSetting=") + c.setting, g_libraryCalls[2]);
        EXPECT_EQ("SupportDelta=", g_libraryCalls[3]);
    }
}

}  // namespace
