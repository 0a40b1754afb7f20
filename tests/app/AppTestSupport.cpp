#include "tests/app/AppTestSupport.h"

#include "app/TickSource.h"
#include "util/SafeString.h"

#include <cwchar>
#include <string>

DWORD AppTest::s_now = 0;
FakeOutcome FakeDlk::outcome = FakeOutcome::Nothing;
int FakeDlk::integrity = 0;
std::vector<std::string> FakeDlk::calls;
std::vector<ULONG_PTR> FakeDlk::userData;

namespace {

DWORD FakeTicks()
{
    return AppTest::s_now;
}

// The download's answer, after the notification the outcome asks for.
int Notify(PFN_DlkStdDownloadNotify notify, const char* file, ULONG_PTR userData)
{
    FakeDlk::userData.push_back(userData);
    const int results[] = {0, DLK_RESULT_OK, DLK_RESULT_NETWORK,
                           DLK_RESULT_NOTHING_NEEDED};  // by FakeOutcome
    if (FakeDlk::outcome == FakeOutcome::Refuse)
        return DLK_RESULT_START_FAILED;
    if (FakeDlk::outcome != FakeOutcome::Nothing)
        notify(userData, DLK_EVENT_SECTION_DONE, file, "",
               results[static_cast<int>(FakeDlk::outcome)], 0);
    return DLK_RESULT_OK;
}

int WINAPI FakeDownload(const char* ini, const char* section, PFN_DlkStdDownloadNotify notify,
                        ULONG_PTR userData)
{
    FakeDlk::calls.push_back(std::string("Download ") + ini + "|" + section);
    return Notify(notify, "data.bin", userData);
}

int WINAPI FakeDownload2(const char* ini, const char* section, const char* file,
                         PFN_DlkStdDownloadNotify notify, ULONG_PTR userData)
{
    FakeDlk::calls.push_back(std::string("Download2 ") + ini + "|" + section + "|" + file);
    return Notify(notify, file, userData);
}

int WINAPI FakeOdeConfig(int first, int second, int third)
{
    FakeDlk::calls.push_back("OdeConfig " + std::to_string(first) + " " + std::to_string(second) +
                             " " + std::to_string(third));
    return 1;
}

int WINAPI FakeIntegrity2(const char* ini, const char* section, const char* file)
{
    FakeDlk::calls.push_back(std::string("Integrity2 ") + ini + "|" + section + "|" + file);
    return FakeDlk::integrity;
}

}  // namespace

void CTestAgtApp::SetDownloadTarget(const wchar_t* iniPath, const wchar_t* section)
{
    BoundedCopy(m_answer.iniName, kAnswerFieldSize, iniPath);
    BoundedCopy(m_szInstallSection, kAnswerFieldSize, section);
}

void FakeDlk::Install(FakeOutcome newOutcome)
{
    outcome = newOutcome;
    g_pfnDlkStdDownload = FakeDownload;
    g_pfnDlkStdDownload2 = FakeDownload2;
    g_pfnDlkStdGetSectionIntegrity2 = FakeIntegrity2;
    // The extension's entry point as the library's loading would leave it.
    g_pfnDLKOpcConfig = FakeOdeConfig;
}

void FakeDlk::Clear()
{
    // Entry points an earlier case installed are not inherited.
    FreeDLKFunctions();
    outcome = FakeOutcome::Nothing;
    integrity = 0;
    calls.clear();
    userData.clear();
}

void AppTest::SetUp()
{
    s_now = 5000000;
    SetAppTickSource(FakeTicks);
    CMVAgtApp::ResetRunCounters();
    FakeDlk::Clear();
    app = new CTestAgtApp();
}

void AppTest::TearDown()
{
    delete app;
    app = nullptr;
    SetAppTickSource(nullptr);
}

void AppTest::Tick(DWORD ms)
{
    s_now += ms;
    app->OnTimer();
}

std::vector<int> AppTest::Statuses() const
{
    std::vector<int> statuses;
    for (const std::wstring& text : recorder.Texts()) {
        int status = 0;
        if (swscanf(text.c_str(), L"Change AgtApp status to %d.", &status) == 1)
            statuses.push_back(status);
    }
    return statuses;
}

size_t AppTest::CountTraced(const std::wstring& text, bool prefix) const
{
    size_t n = 0;
    for (const std::wstring& t : recorder.Texts())
        n += prefix ? t.compare(0, text.size(), text) == 0 : t == text;
    return n;
}
