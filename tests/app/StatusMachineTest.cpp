// The status machine driven tick by tick with a clock the test moves.
#include "tests/app/AppTestSupport.h"

#include "mvurl/CUrlMgr.h"
#include "mvurl/CUrlRequest.h"

namespace {

using StatusList = std::vector<int>;

TEST_F(AppTest, IdleEndsTheRunAfterTenSeconds)
{
    app->SetStatus(STATUS_IDLE);
    Tick(10000);
    EXPECT_EQ(STATUS_IDLE, app->GetStatus()) << "the limit is strict";
    Tick(1);
    EXPECT_EQ(STATUS_QUIT, app->GetStatus());
    EXPECT_FALSE(app->IsQuitting());
    Tick(50);
    EXPECT_TRUE(app->IsQuitting());
}

TEST_F(AppTest, VersionCheckTimesOutAfterThirtySeconds)
{
    app->SetStatus(STATUS_CHECKING_VERSION);
    Tick(30000);
    EXPECT_EQ(STATUS_CHECKING_VERSION, app->GetStatus());
    Tick(1);
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());
    EXPECT_TRUE(Traced(L"Getting downloading info time out."));
    EXPECT_EQ(nullptr, app->GetCurrentRequest());
}

TEST_F(AppTest, IniDownloadTimesOutLikeTheVersionCheck)
{
    app->SetStatus(STATUS_DOWNLOADING_INI);
    Tick(30000);
    EXPECT_EQ(STATUS_DOWNLOADING_INI, app->GetStatus());
    Tick(1);
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());
    EXPECT_TRUE(Traced(L"Getting dlk ini file time out."));
}

TEST_F(AppTest, DownloadStartsOneSecondAfterTheLibraryIsReady)
{
    FakeDlk::Install(FakeOutcome::Nothing);
    app->SetDownloadTarget(L"C:\\temp\\dlk.ini", L"Agent\u00e9");
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    Tick(1000);
    EXPECT_TRUE(FakeDlk::calls.empty());
    Tick(1);
    EXPECT_EQ(STATUS_DOWNLOADING, app->GetStatus());
    ASSERT_EQ(1u, FakeDlk::calls.size());
    EXPECT_EQ("Download C:\\temp\\dlk.ini|Agent\xc3\xa9", FakeDlk::calls[0]);
    EXPECT_TRUE(Traced(L"normal download..."));
    EXPECT_TRUE(Traced(L"DlkStdDownload returned.."));
}

TEST_F(AppTest, DownloadWithoutNotificationTimesOutAfterTenMinutes)
{
    FakeDlk::Install(FakeOutcome::Nothing);
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    Tick(1001);
    Tick(600000);
    EXPECT_EQ(STATUS_DOWNLOADING, app->GetStatus());
    Tick(1);
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());
    EXPECT_TRUE(Traced(L"Downlaoding/Version-Checking time out."));
}

TEST_F(AppTest, SuccessfulDownloadEndsTheRun)
{
    FakeDlk::Install(FakeOutcome::Succeed);
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    Tick(1001);
    Tick(50);
    Tick(50);
    EXPECT_EQ((StatusList{3, 4, 5, 8}), Statuses());
    EXPECT_TRUE(app->IsQuitting());
    EXPECT_TRUE(Traced(L"DLKAPI DlkStdDownloadNotify: Meeting download succeed."));
}

TEST_F(AppTest, FourFailuresInARowGiveUpAndResetTheRetryCounter)
{
    FakeDlk::Install(FakeOutcome::Fail);
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    for (int i = 0; i < 4; ++i) {
        Tick(1001);  // download starts and fails at once
        Tick(50);    // retry or give up
    }
    Tick(10001);
    EXPECT_EQ((StatusList{3, 4, 6, 3, 4, 6, 3, 4, 6, 3, 4, 6, 0, 8}), Statuses());
    EXPECT_EQ(4u, FakeDlk::calls.size());
    EXPECT_EQ(0, CMVAgtApp::GetDownloadRetryCount());
    EXPECT_EQ(4u, CountTraced(L"DLKAPI DlkStdDownloadNotify: Download error."));
}

TEST_F(AppTest, FailureThenSuccessResetsTheRetryCounter)
{
    FakeDlk::Install(FakeOutcome::Fail);
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    Tick(1001);
    Tick(50);
    EXPECT_EQ(1, CMVAgtApp::GetDownloadRetryCount());
    FakeDlk::outcome = FakeOutcome::Succeed;
    Tick(1001);
    Tick(50);
    EXPECT_EQ(0, CMVAgtApp::GetDownloadRetryCount());
    EXPECT_EQ(STATUS_QUIT, app->GetStatus());
}

TEST_F(AppTest, NothingNeededCountsAsSuccess)
{
    FakeDlk::Install(FakeOutcome::NothingNeeded);
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    Tick(1001);
    EXPECT_EQ(STATUS_DONE, app->GetStatus());
}

TEST_F(AppTest, NotificationsOutsideTheDownloadAreIgnored)
{
    app->SetStatus(STATUS_DONE);
    CMVAgtApp::OnDlkStdDownloadNotify(0, DLK_EVENT_SECTION_DONE, "x", nullptr, DLK_RESULT_NETWORK, 0);
    EXPECT_EQ(STATUS_DONE, app->GetStatus());
    app->SetStatus(STATUS_DOWNLOADING);
    CMVAgtApp::OnDlkStdDownloadNotify(0, DLK_EVENT_FILE_STARTED, "x", nullptr, DLK_RESULT_NETWORK, 0);
    EXPECT_EQ(STATUS_DOWNLOADING, app->GetStatus()) << "only event 1 decides";
    EXPECT_TRUE(Traced(L"OnDlkStdDownloadNotify : download file name: x"));
}

TEST_F(AppTest, LateNotificationDoesNotUndoAShutdownQuery)
{
    app->SetStatus(STATUS_DOWNLOADING);
    app->OnCommandClose();
    CMVAgtApp::OnDlkStdDownloadNotify(0, DLK_EVENT_SECTION_DONE, "x", "", DLK_RESULT_NETWORK, 0);
    EXPECT_EQ(STATUS_QUIT, app->GetStatus());
    EXPECT_FALSE(app->SetStatusIf(STATUS_DOWNLOADING, STATUS_DOWNLOAD_FAILED));
    EXPECT_TRUE(app->SetStatusIf(STATUS_QUIT, STATUS_IDLE));
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());
}

TEST_F(AppTest, CheckModeWithIntactAgentDownloadsNothing)
{
    FakeDlk::Install(FakeOutcome::Succeed);
    FakeDlk::integrity = 1;
    app->SetCheckFlag(1);
    app->SetDownloadTarget(L"i.ini", L"S");
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    Tick(1001);
    Tick(50);
    EXPECT_EQ((StatusList{3, 4, 5, 8}), Statuses());
    ASSERT_EQ(1u, FakeDlk::calls.size());
    EXPECT_EQ("Integrity2 i.ini|S|mvagtx.exe", FakeDlk::calls[0]);
    EXPECT_TRUE(Traced(L"DlkStdDownload returned.."));
}

TEST_F(AppTest, CheckModeWithOutdatedAgentFetchesOnlyThatFile)
{
    FakeDlk::Install(FakeOutcome::Succeed);
    app->SetCheckFlag(1);
    app->SetDownloadTarget(L"i.ini", L"S");
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    Tick(1001);
    ASSERT_EQ(2u, FakeDlk::calls.size());
    EXPECT_EQ("Download2 i.ini|S|mvagtx.exe", FakeDlk::calls[1]);
    EXPECT_TRUE(Traced(L"download mvagtx.exe..."));
    EXPECT_EQ(STATUS_DONE, app->GetStatus());
}

TEST_F(AppTest, CheckModeFallsBackToTheWholeSection)
{
    FakeDlk::Install(FakeOutcome::Succeed);
    g_pfnDlkStdDownload2 = nullptr;
    app->SetCheckFlag(1);
    app->SetDownloadTarget(L"i.ini", L"S");
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    Tick(1001);
    EXPECT_TRUE(Traced(L"can't download one file, download whole section"));
    EXPECT_EQ("Download i.ini|S", FakeDlk::calls.back());

    FakeDlk::calls.clear();
    g_pfnDlkStdGetSectionIntegrity2 = nullptr;
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    Tick(1001);
    EXPECT_TRUE(Traced(L"can't check mvagtx.exe version, normal download..."));
    ASSERT_EQ(1u, FakeDlk::calls.size());
    EXPECT_EQ("Download i.ini|S", FakeDlk::calls[0]);
}

TEST_F(AppTest, CheckModeFailureEndsAsDoneWithoutRetry)
{
    FakeDlk::Install(FakeOutcome::Fail);
    app->SetCheckFlag(1);
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    Tick(1001);
    EXPECT_EQ(STATUS_DONE, app->GetStatus());
    EXPECT_TRUE(Traced(L"DLKAPI DlkStdDownloadNotify: section download fail."));
    EXPECT_EQ(0, CMVAgtApp::GetDownloadRetryCount());
}

TEST_F(AppTest, WithoutTheLibraryNothingIsBound)
{
    // Nothing lies two levels above this test program.
    EXPECT_FALSE(LoadDLKFunctions());
    EXPECT_EQ(nullptr, g_pfnDlkStdDownload);
    EXPECT_EQ(nullptr, g_pfnDlkExitStdDownload);
}

TEST_F(AppTest, UnboundLibraryFailsTheAttemptAtOnce)
{
    // Nothing would ever notify: the attempt fails like one the library reports failed.
    const struct {
        int32_t checkFlag;
        int32_t expected;
    } rows[] = {{0, STATUS_DOWNLOAD_FAILED}, {1, STATUS_DONE}};
    for (const auto& row : rows) {
        app->SetCheckFlag(row.checkFlag);
        app->SetStatus(STATUS_READY_TO_DOWNLOAD);
        Tick(1001);
        EXPECT_EQ(row.expected, app->GetStatus()) << "check flag " << row.checkFlag;
        EXPECT_TRUE(Traced(L"DlkStdDownload is not available: download failed."));
    }
}

TEST_F(AppTest, TooLongNarrowArgumentsArePassedEmpty)
{
    FakeDlk::Install(FakeOutcome::Nothing);
    // 100 three-byte characters need 301 bytes in UTF-8: more than the 256 the library gets.
    app->SetDownloadTarget(std::wstring(100, L'\u20ac').c_str(), L"S");
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    Tick(1001);
    ASSERT_EQ(1u, FakeDlk::calls.size());
    EXPECT_EQ("Download |S", FakeDlk::calls[0]);
}

TEST_F(AppTest, SetStatusWithTheSameValueRenewsItsTime)
{
    app->SetStatus(STATUS_IDLE);
    Tick(9000);
    app->SetStatus(STATUS_IDLE);
    EXPECT_EQ(s_now, app->GetStatusTime());
    Tick(9000);
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());
    Tick(1001);
    EXPECT_EQ(STATUS_QUIT, app->GetStatus());
}

TEST_F(AppTest, LimitsHoldAcrossTheWrapOfTheMillisecondCount)
{
    s_now = 0xFFFFFF00u;
    app->SetStatus(STATUS_CHECKING_VERSION);
    Tick(0x200);  // the count wraps to 0x100
    EXPECT_EQ(STATUS_CHECKING_VERSION, app->GetStatus());
    Tick(30000);
    EXPECT_EQ(STATUS_IDLE, app->GetStatus());
}

TEST_F(AppTest, HeartbeatAtMostOncePerThreeMinutes)
{
    app->SetStatus(STATUS_DOWNLOADING);
    Tick(0);
    EXPECT_EQ(1u, CountTraced(L"Agent shell ticking..."));
    for (int i = 0; i < 3599; ++i) Tick(50);  // 179.95 s later
    EXPECT_EQ(1u, CountTraced(L"Agent shell ticking..."));
    Tick(51);
    EXPECT_EQ(2u, CountTraced(L"Agent shell ticking..."));
    // Also across the wrap of the count.
    s_now = 0xFFFFFFF0u;
    Tick(0);
    EXPECT_EQ(3u, CountTraced(L"Agent shell ticking..."));
    Tick(0x20);
    EXPECT_EQ(3u, CountTraced(L"Agent shell ticking..."));
}

TEST_F(AppTest, UnusedAndUnknownStatusesDoNothing)
{
    for (int status : {7, 9, -1}) {
        app->SetStatus(status);
        Tick(700000);
        EXPECT_EQ(status, app->GetStatus());
        EXPECT_FALSE(app->IsQuitting());
    }
}

int32_t g_deliveries = 0;
int32_t CountDelivery(CUrlRequest*, int32_t, const uint8_t*)
{
    ++g_deliveries;
    return 0;
}

TEST_F(AppTest, EveryTickDispatchesFinishedRequests)
{
    for (int status : {0, 1, 2, 3, 4, 5, 6, 7, 8}) {
        g_deliveries = 0;
        CUrlRequest* r = CUrlRequest::Create(&TheUrlMgr(), "u", 1, CountDelivery);
        TheUrlMgr().RequestDone(r);
        app->SetStatus(status);
        Tick(0);
        EXPECT_EQ(1, g_deliveries) << "status " << status;
    }
}

TEST_F(AppTest, CloseCommandEndsTheRunFromAnyStatus)
{
    FakeDlk::Install(FakeOutcome::Nothing);
    app->SetStatus(STATUS_READY_TO_DOWNLOAD);
    Tick(1001);
    app->OnCommandClose();
    EXPECT_EQ(STATUS_QUIT, app->GetStatus());
    EXPECT_TRUE(Traced(L"Command : ID_MENU_CLOSE."));
    Tick(50);
    EXPECT_TRUE(app->IsQuitting());
}

TEST_F(AppTest, RunEndsAfterTheQuittingTickAndLetsTheLibraryGo)
{
    FakeDlk::Install(FakeOutcome::Nothing);
    app->SetStatus(STATUS_QUIT);
    // The quit flag is tested before each message is fetched: Run ends at once.
    Tick(50);
    app->Run();
    ASSERT_FALSE(FakeDlk::calls.empty());
    EXPECT_EQ("Exit", FakeDlk::calls.back());
}

}  // namespace
