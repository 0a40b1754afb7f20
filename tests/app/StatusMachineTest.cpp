// The status machine driven tick by tick with a clock the test moves.
#include "tests/app/AppTestSupport.h"

#include "mvurl/CUrlMgr.h"
#include "mvurl/CUrlRequest.h"

#include <map>
#include <sstream>
#include <string>

namespace {

using StatusList = std::vector<int>;

template <typename Char>
std::basic_string<Char> Repeat(const Char* text, int times)
{
    std::basic_string<Char> out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

int32_t g_deliveries = 0;
int32_t CountDelivery(CUrlRequest*, int32_t, const uint8_t*)
{
    ++g_deliveries;
    return 0;
}

TEST_F(AppTest, EachWaitingStatusMovesOnOnlyPastItsLimit)
{
    const struct {
        const char* name;
        AgtStatus status;
        DWORD limit;
        AgtStatus next;
        const wchar_t* trace;  // null: none expected
        bool awaitsAnswer;     // the answer that comes too late must be dropped
    } rows[] = {
        {"idle", STATUS_IDLE, 10000, STATUS_QUIT, nullptr, false},
        {"version check", STATUS_CHECKING_VERSION, 30000, STATUS_IDLE,
         L"Getting downloading info time out.", true},
        {"INI download", STATUS_DOWNLOADING_INI, 30000, STATUS_IDLE,
         L"Getting dlk ini file time out.", true},
        {"download start", STATUS_READY_TO_DOWNLOAD, 1000, STATUS_DOWNLOADING,
         L"normal download...", false},
        {"download", STATUS_DOWNLOADING, 600000, STATUS_IDLE,
         L"Downlaoding/Version-Checking time out.", false},
    };
    FakeDlk::Install(FakeOutcome::Nothing);
    for (const auto& row : rows) {
        g_deliveries = 0;
        CUrlRequest* late = nullptr;
        if (row.awaitsAnswer) {
            late = CUrlRequest::Create(&TheUrlMgr(), "u", 1, CountDelivery);
            app->SetCurrentRequest(late);
        }
        app->SetStatus(row.status);
        Tick(row.limit);
        EXPECT_EQ(row.status, app->GetStatus()) << row.name << ": the limit is strict";
        if (late != nullptr)
            TheUrlMgr().RequestDone(late);  // the answer comes with the last tick
        Tick(1);
        EXPECT_EQ(row.next, app->GetStatus()) << row.name;
        if (row.trace != nullptr) {
            EXPECT_TRUE(Traced(row.trace)) << row.name;
        }
        if (row.awaitsAnswer) {
            EXPECT_EQ(0, g_deliveries) << row.name << ": the answer came after the time-out";
            EXPECT_EQ(nullptr, app->GetCurrentRequest()) << row.name;
        }
    }
    EXPECT_EQ((std::vector<std::string>{"OdeConfig 0 1 0", "Download |"}), FakeDlk::calls)
        << "the download started once";
}

// One download attempt, from the library's readiness to the tick after its outcome (a normal
// run's success and failure: the retry test below).
TEST_F(AppTest, DownloadAttemptOutcomes)
{
    enum Library { Bound, NoDownload2, NoIntegrity2, Unbound };
    // calls: the library's entry points called, in order (H: DlkOdeConfig asked to hide the
    // progress dialog, as on every system since Vista; I2: DlkStdGetSectionIntegrity2 and D2:
    // DlkStdDownload2 for "mvagtx.exe", D: DlkStdDownload, all for "i.ini" and section "S").
    const struct {
        const char* name;
        int32_t checkFlag;
        Library library;
        FakeOutcome outcome;
        int integrity;
        const char* calls;
        AgtStatus after;  // the status the attempt ends in
        AgtStatus then;   // and the one the next tick sets
        const wchar_t* trace;
    } rows[] = {
        {"nothing needed", 0, Bound, FakeOutcome::NothingNeeded, 0, "H D", STATUS_DONE, STATUS_QUIT,
         L"DLKAPI DlkStdDownloadNotify: Meeting download succeed."},
        {"check, agent intact", 1, Bound, FakeOutcome::Succeed, 1, "H I2", STATUS_DONE, STATUS_QUIT,
         nullptr},
        {"check, agent outdated", 1, Bound, FakeOutcome::Succeed, 0, "H I2 D2", STATUS_DONE,
         STATUS_QUIT, L"download mvagtx.exe..."},
        {"check, no single-file download", 1, NoDownload2, FakeOutcome::Succeed, 0, "H I2 D",
         STATUS_DONE, STATUS_QUIT, L"can't download one file, download whole section"},
        {"check, no single-file check", 1, NoIntegrity2, FakeOutcome::Succeed, 0, "H D",
         STATUS_DONE, STATUS_QUIT, L"can't check mvagtx.exe version, normal download..."},
        // A refusal comes with no notification: the attempt fails at once.
        {"refused", 0, Bound, FakeOutcome::Refuse, 0, "H D", STATUS_DOWNLOAD_FAILED,
         STATUS_READY_TO_DOWNLOAD, L"DlkStdDownload refused the download: -3"},
        {"check, single-file download refused", 1, Bound, FakeOutcome::Refuse, 0, "H I2 D2",
         STATUS_DONE, STATUS_QUIT, L"DlkStdDownload2 refused the download: -3"},
        // Check mode starts the agent it has rather than retry.
        {"check, failure", 1, Bound, FakeOutcome::Fail, 0, "H I2 D2", STATUS_DONE, STATUS_QUIT,
         L"DLKAPI DlkStdDownloadNotify: section download fail."},
        {"check, unbound", 1, Unbound, FakeOutcome::Nothing, 0, "", STATUS_DONE, STATUS_QUIT,
         L"DlkStdDownload is not available: download failed."},
    };
    const std::map<std::string, std::string> called = {
        {"I2", "Integrity2 i.ini|S|mvagtx.exe"},
        {"D2", "Download2 i.ini|S|mvagtx.exe"},
        {"D", "Download i.ini|S"},
        {"H", "OdeConfig 0 1 0"},
    };
    for (const auto& row : rows) {
        FakeDlk::Clear();
        CMVAgtApp::ResetRunCounters();
        if (row.library != Unbound)
            FakeDlk::Install(row.outcome);
        if (row.library == NoDownload2)
            g_pfnDlkStdDownload2 = nullptr;
        if (row.library == NoIntegrity2)
            g_pfnDlkStdGetSectionIntegrity2 = nullptr;
        FakeDlk::integrity = row.integrity;
        app->SetCheckFlag(row.checkFlag);
        app->SetDownloadTarget(L"i.ini", L"S");
        app->SetStatus(STATUS_READY_TO_DOWNLOAD);
        const size_t traced = row.trace != nullptr ? CountTraced(row.trace) : 0;
        Tick(1001);
        std::vector<std::string> calls;
        std::istringstream names(row.calls);
        for (std::string name; names >> name;)
            calls.push_back(called.at(name));
        EXPECT_EQ(calls, FakeDlk::calls) << row.name;
        EXPECT_EQ(row.after, app->GetStatus()) << row.name;
        if (row.trace != nullptr) {
            EXPECT_EQ(traced + 1, CountTraced(row.trace)) << row.name;
        }
        Tick(50);
        EXPECT_EQ(row.then, app->GetStatus()) << row.name;
        EXPECT_EQ(row.then == STATUS_QUIT ? 0 : 1, CMVAgtApp::GetDownloadRetryCount()) << row.name;
    }
}

TEST_F(AppTest, RetryCounterResetsOnSuccessAndWhenTheFourthFailureGivesUp)
{
    FakeDlk::Install(FakeOutcome::Fail);
    const auto attempt = [&] {
        Tick(1001);  // the download starts and ends at once
        Tick(50);    // done, retry or give up
    };
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    attempt();
    FakeDlk::outcome = FakeOutcome::Succeed;
    attempt();
    EXPECT_EQ((StatusList{3, 4, 6, 3, 4, 5, 8}), Statuses());
    EXPECT_EQ(0, CMVAgtApp::GetDownloadRetryCount());

    FakeDlk::outcome = FakeOutcome::Fail;
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    for (int i = 0; i < 4; ++i)
        attempt();
    Tick(10001);
    const StatusList all = Statuses();
    EXPECT_EQ((StatusList{3, 4, 6, 3, 4, 6, 3, 4, 6, 3, 4, 6, 0, 8}),
              StatusList(all.begin() + 7, all.end()));
    EXPECT_EQ(0, CMVAgtApp::GetDownloadRetryCount());
}

TEST_F(AppTest, OnlyTheSectionsEndDuringTheDownloadDecides)
{
    const struct {
        AgtStatus status;
        int event;
    } rows[] = {
        {STATUS_DONE, DLK_EVENT_SECTION_DONE},
        {STATUS_DOWNLOADING, DLK_EVENT_FILE_STARTED},
        // Late: a shutdown query has ended the download.
        {STATUS_QUIT, DLK_EVENT_SECTION_DONE},
    };
    for (const auto& row : rows) {
        app->SetStatus(row.status);
        CMVAgtApp::OnDlkStdDownloadNotify(0, row.event, "x", nullptr, DLK_RESULT_NETWORK, 0);
        EXPECT_EQ(row.status, app->GetStatus()) << "event " << row.event;
    }
}

TEST_F(AppTest, NotificationOfAnAttemptGivenUpChangesNothing)
{
    FakeDlk::Install(FakeOutcome::Nothing);
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    Tick(1001);
    ASSERT_EQ(1u, FakeDlk::userData.size());
    const ULONG_PTR first = FakeDlk::userData[0];
    CMVAgtApp::OnDlkStdDownloadNotify(first, DLK_EVENT_SECTION_DONE, "x", "", DLK_RESULT_NETWORK,
                                      0);
    Tick(50);  // the retry
    Tick(1001);
    ASSERT_EQ(2u, FakeDlk::userData.size());
    const ULONG_PTR second = FakeDlk::userData[1];
    EXPECT_NE(first, second);
    // The first attempt's thread reports again, late: the second attempt goes on.
    for (const int result : {DLK_RESULT_NETWORK, DLK_RESULT_OK}) {
        CMVAgtApp::OnDlkStdDownloadNotify(first, DLK_EVENT_SECTION_DONE, "x", "", result, 0);
        EXPECT_EQ(STATUS_DOWNLOADING, app->GetStatus()) << result;
    }
    EXPECT_EQ(2u, CountTraced(L"OnDlkStdDownloadNotify: notification of attempt " +
                              std::to_wstring(first) + L" ignored in attempt " +
                              std::to_wstring(second) + L"."));
    CMVAgtApp::OnDlkStdDownloadNotify(second, DLK_EVENT_SECTION_DONE, "x", "", DLK_RESULT_OK, 0);
    EXPECT_EQ(STATUS_DONE, app->GetStatus());
}

TEST_F(AppTest, NarrowArgumentsAreUtf8WhateverTheirWidth)
{
    const struct {
        std::wstring ini;
        std::string call;
    } rows[] = {
        {L"C:\\temp\\dlk\u00e9.ini", "Download C:\\temp\\dlk\xc3\xa9.ini|S"},
        // The longest path the run keeps, in three-byte characters: 765 bytes of UTF-8.
        {std::wstring(255, L'\u20ac'), "Download " + Repeat("\xe2\x82\xac", 255) + "|S"},
        // Characters outside the basic plane: two wide characters, four bytes.
        {Repeat(L"\U0001F600", 127), "Download " + Repeat("\xf0\x9f\x98\x80", 127) + "|S"},
    };
    FakeDlk::Install(FakeOutcome::Nothing);
    for (const auto& row : rows) {
        FakeDlk::calls.clear();
        app->SetDownloadTarget(row.ini.c_str(), L"S");
        app->SetStatus(STATUS_READY_TO_DOWNLOAD);
        Tick(1001);
        EXPECT_EQ((std::vector<std::string>{"OdeConfig 0 1 0", row.call}), FakeDlk::calls);
    }
}

TEST_F(AppTest, LimitsCountFromTheLastSetStatusAndAcrossTheWrapOfTheCount)
{
    app->SetStatus(STATUS_IDLE);
    Tick(9000);
    app->SetStatus(STATUS_IDLE);  // the same value renews its time
    Tick(9000);
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());
    Tick(1001);
    EXPECT_EQ(STATUS_QUIT, app->GetStatus());
    s_now = 0xFFFFFF00u;
    app->SetStatus(STATUS_CHECKING_VERSION);
    Tick(0x200);  // the count wraps to 0x100
    EXPECT_EQ(STATUS_CHECKING_VERSION, app->GetStatus());
    Tick(30000);
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());
}

TEST_F(AppTest, HeartbeatAtMostOncePerThreeMinutes)
{
    const std::wstring beat = L"Agent shell ticking...";
    app->SetStatus(STATUS_DOWNLOADING);
    Tick(0);
    EXPECT_EQ(1u, CountTraced(beat));
    for (int i = 0; i < 3599; ++i)
        Tick(50);  // 179.95 s later
    EXPECT_EQ(1u, CountTraced(beat));
    Tick(51);
    EXPECT_EQ(2u, CountTraced(beat));
    // Also across the wrap of the count.
    s_now = 0xFFFFFFF0u;
    Tick(0);
    EXPECT_EQ(3u, CountTraced(beat));
    Tick(0x20);
    EXPECT_EQ(3u, CountTraced(beat));
}

TEST_F(AppTest, EveryTickDispatchesFinishedRequests)
{
    // 7 is no status of the run: a tick in it still dispatches.
    for (int status : {0, 1, 2, 3, 4, 5, 6, 7, 8}) {
        g_deliveries = 0;
        TheUrlMgr().RequestDone(CUrlRequest::Create(&TheUrlMgr(), "u", 1, CountDelivery));
        app->SetStatus(static_cast<AgtStatus>(status));
        Tick(0);
        EXPECT_EQ(1, g_deliveries) << "status " << status;
    }
}

}  // namespace
