// Downloads through the library as the program drives them: files fetched from the test
// server, checked, installed all together or not at all, each step notified on the library's
// own thread.
#include "tests/standins/CDlkLibraryTestBase.h"

#include <gmock/gmock.h>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using IeksDlkDownloadTest = CDlkLibraryTestBase;

const char kBodyABytes[] = "agent build 7.1\r\n\x00\x01\xFF binary tail";
const std::string kBodyA(kBodyABytes, sizeof(kBodyABytes) - 1);
const std::string kBodyB(70000, 'b');  // more than one read of the transfer

TEST_F(IeksDlkDownloadTest, InstallsEverySectionFileAndReportsEachStep)
{
    Serve("a.bin", kBodyA);
    Serve("b.bin", kBodyB);
    const std::string ini = WriteIni({"; description of 7.1", "[ZEInstall]",
                                      FileLine("a.bin", kBodyA, "E\\F"), FileLine("b.bin", kBodyB)});

    ASSERT_EQ(DownloadToEnd(ini), DLK_RESULT_OK);

    EXPECT_EQ(InstalledContent("a.bin", L"E\\F"), kBodyA);
    EXPECT_EQ(InstalledContent("b.bin"), kBodyB);
    EXPECT_THAT(SideFiles(), IsEmpty());
    EXPECT_THAT(recorder.Events(),
                ElementsAre(DLK_EVENT_FILE_STARTED, DLK_EVENT_FILE_VERIFIED, DLK_EVENT_FILE_STARTED,
                            DLK_EVENT_FILE_VERIFIED, DLK_EVENT_FILE_INSTALLED,
                            DLK_EVENT_FILE_INSTALLED, DLK_EVENT_SECTION_DONE));
    const std::vector<DlkNotification> all = recorder.All();
    for (const DlkNotification& n : all) {
        EXPECT_NE(n.threadId, GetCurrentThreadId()) << "event " << n.eventCode;
        EXPECT_EQ(n.reserved, recorder.UserData());
        EXPECT_EQ(n.reserved2, 0u);
        EXPECT_EQ(n.resultCode, DLK_RESULT_OK);
    }
    EXPECT_EQ(all[0].fileName, "a.bin");
    EXPECT_EQ(all[0].secondName, Root() + "/a.bin");
    EXPECT_EQ(all[3].fileName, "b.bin");
    EXPECT_EQ(all[3].secondName, std::to_string(kBodyB.size()));
    EXPECT_EQ(all[4].secondName, Utf8(Installed("a.bin", L"E\\F")));
    EXPECT_EQ(all[6].fileName, "");

    const std::vector<RigRequest> requests = rig.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/pkg/a.bin");
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].listener, "https");
    EXPECT_EQ(requests[1].path, "/pkg/b.bin");
}

TEST_F(IeksDlkDownloadTest, FetchesOnlyWhatIsNotInPlace)
{
    CreateDirectoryW(CaseDir(L"E").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(Installed("a.bin", L"E"), kBodyA));
    Serve("b.bin", kBodyB);
    const std::string ini =
        WriteIni({"[ZEInstall]", FileLine("a.bin", kBodyA, "E"), FileLine("b.bin", kBodyB)});

    ASSERT_EQ(DownloadToEnd(ini), DLK_RESULT_OK);
    EXPECT_THAT(recorder.Events(), ElementsAre(DLK_EVENT_FILE_STARTED, DLK_EVENT_FILE_VERIFIED,
                                               DLK_EVENT_FILE_INSTALLED, DLK_EVENT_SECTION_DONE));
    EXPECT_EQ(InstalledContent("b.bin"), kBodyB);
    EXPECT_EQ(rig.Requests().size(), 1u);

    // Everything in place now: nothing to fetch, which counts as success.
    EXPECT_EQ(DownloadToEnd(ini), DLK_RESULT_NOTHING_NEEDED);
    EXPECT_EQ(rig.Requests().size(), 1u);
}

TEST_F(IeksDlkDownloadTest, AFailedFileLeavesTheInstallationAsItWas)
{
    const struct {
        const char* what;
        int status;
        std::string served;    // what the server sends for b.bin
        std::string described;  // what the INI says b.bin is
        int result;
    } cases[] = {
        {"missing on the server", 404, "not here", kBodyB, DLK_RESULT_HTTP_STATUS},
        {"server error", 500, "oops", kBodyB, DLK_RESULT_HTTP_STATUS},
        {"other content", 200, std::string(kBodyB.size(), 'c'), kBodyB, DLK_RESULT_HASH_MISMATCH},
        {"longer", 200, kBodyB + "x", kBodyB, DLK_RESULT_SIZE_MISMATCH},
        {"shorter", 200, kBodyB.substr(1), kBodyB, DLK_RESULT_SIZE_MISMATCH},
        {"empty", 200, "", kBodyB, DLK_RESULT_SIZE_MISMATCH},
    };
    const std::string oldA = "agent build 7.0";
    ASSERT_TRUE(WriteBytes(Installed("a.bin"), oldA));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(rig.Reset());
        Serve("a.bin", kBodyA);
        Serve("b.bin", c.served, c.status);
        const std::string ini = WriteIni(
            {"[ZEInstall]", FileLine("a.bin", kBodyA), FileLine("b.bin", c.described, "new\\dir")});

        EXPECT_EQ(DownloadToEnd(ini), c.result);
        EXPECT_EQ(recorder.Done().fileName, "b.bin");
        EXPECT_FALSE(recorder.Done().secondName.empty());
        EXPECT_EQ(InstalledContent("a.bin"), oldA);
        EXPECT_FALSE(FileExists(CaseDir(L"new"))) << "the directory made for b.bin stayed";
        EXPECT_THAT(SideFiles(), IsEmpty());
    }
    for (const DlkNotification& n : recorder.All()) {
        EXPECT_NE(n.eventCode, DLK_EVENT_FILE_INSTALLED);
    }
}

TEST_F(IeksDlkDownloadTest, PutsOlderFilesBackWhenAFileCannotBeMovedIn)
{
    ASSERT_TRUE(WriteBytes(Installed("a.bin"), "old a"));
    ASSERT_TRUE(WriteBytes(Installed("b.bin"), "old b"));
    Serve("a.bin", kBodyA);
    Serve("b.bin", kBodyB);
    const std::string ini = WriteIni({"[ZEInstall]", FileLine("a.bin", kBodyA), FileLine("b.bin", kBodyB)});

    // A program holding b.bin open without letting it be moved, as a running one would.
    HANDLE held = CreateFileW(Installed("b.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const int result = DownloadToEnd(ini);
    CloseHandle(held);

    EXPECT_EQ(result, DLK_RESULT_INSTALL_FAILED);
    EXPECT_EQ(recorder.Done().fileName, "b.bin");
    EXPECT_EQ(InstalledContent("a.bin"), "old a");
    EXPECT_EQ(InstalledContent("b.bin"), "old b");
    EXPECT_THAT(SideFiles(), IsEmpty());
}

TEST_F(IeksDlkDownloadTest, RefusesUnusableDescriptionsWithoutFetching)
{
    const std::string good = WriteIni({"[ZEInstall]", FileLine("a.bin", kBodyA)});
    EXPECT_EQ(DownloadToEnd(good, "Other"), DLK_RESULT_NO_SECTION);
    EXPECT_EQ(DownloadToEnd(Utf8(CaseDir(L"absent.php"))), DLK_RESULT_INI_UNREADABLE);

    const std::string page = WriteIni({"<html><body>Not Found</body></html>"}, "\r\n", L"page.php");
    EXPECT_EQ(DownloadToEnd(page), DLK_RESULT_NO_SECTION);

    const std::string escaping = WriteIni(
        {"[ZEInstall]", FileLine("a.bin", kBodyA),
         "file=b.bin|b.bin|1|" + Sha256Hex("b") + "|cases\\..\\..\\outside"},
        "\r\n", L"escaping.php");
    EXPECT_EQ(DownloadToEnd(escaping), DLK_RESULT_BAD_ENTRY);

    Init("ftp://" + env.host + "/pkg");
    EXPECT_EQ(DownloadToEnd(good), DLK_RESULT_BAD_URL);
    EXPECT_EQ(recorder.Done().fileName, "a.bin");

    EXPECT_THAT(rig.Requests(), IsEmpty());
    EXPECT_EQ(InstalledContent("a.bin"), "<absent>");
}

TEST_F(IeksDlkDownloadTest, ReadsTheLineEndsTheProgramStoresWith)
{
    Serve("a.bin", kBodyA);
    // The program writes the received text in text mode: a CR LF of the server becomes CR CR LF.
    const std::string ini = WriteIni({"[ZEInstall]", FileLine("a.bin", kBodyA)}, "\r\r\n");
    EXPECT_EQ(DownloadToEnd(ini), DLK_RESULT_OK);
    EXPECT_EQ(InstalledContent("a.bin"), kBodyA);
}

TEST_F(IeksDlkDownloadTest, TakesHttpAndBareHostRoots)
{
    const std::string ini = WriteIni({"[ZEInstall]", FileLine("a.bin", kBodyA)});
    Init("http://" + env.host + "/pkg/");
    Serve("a.bin", kBodyA);
    EXPECT_EQ(DownloadToEnd(ini), DLK_RESULT_OK);

    ASSERT_TRUE(DeleteFileW(Installed("a.bin").c_str()));
    Init(env.host + "/pkg");
    EXPECT_EQ(DownloadToEnd(ini), DLK_RESULT_OK);

    const std::vector<RigRequest> requests = rig.RequestsTo("/pkg/a.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].listener, "http");
    EXPECT_EQ(requests[1].listener, "https");
}

TEST_F(IeksDlkDownloadTest, DownloadsOnlyTheNamedFile)
{
    ASSERT_NE(lib.download2, nullptr);
    Serve("a.bin", kBodyA);
    Serve("b.bin", kBodyB);
    const std::string ini = WriteIni({"[ZEInstall]", FileLine("a.bin", kBodyA), FileLine("b.bin", kBodyB)});

    ASSERT_EQ(lib.download2(ini.c_str(), "ZEInstall", "B.BIN", &CNotifyRecorder::Notify,
                            recorder.UserData()),
              DLK_RESULT_OK);
    ASSERT_TRUE(recorder.WaitForSectionDone());
    EXPECT_EQ(recorder.Done().resultCode, DLK_RESULT_OK);
    EXPECT_EQ(InstalledContent("b.bin"), kBodyB);
    EXPECT_EQ(InstalledContent("a.bin"), "<absent>");
    const std::vector<RigRequest> requests = rig.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/pkg/b.bin");

    ASSERT_EQ(lib.download2(ini.c_str(), "ZEInstall", "mvagtx.exe", &CNotifyRecorder::Notify,
                            recorder.UserData()),
              DLK_RESULT_OK);
    ASSERT_TRUE(recorder.WaitForSectionDone(2));
    EXPECT_EQ(recorder.Done().resultCode, DLK_RESULT_NO_FILE);
    EXPECT_EQ(recorder.Done().fileName, "mvagtx.exe");
    EXPECT_EQ(rig.Requests().size(), 1u);
}

TEST_F(IeksDlkDownloadTest, ExitEndsARunningDownloadWithoutAFurtherWord)
{
    Serve("a.bin", kBodyA, 200, true);
    const std::string ini = WriteIni({"[ZEInstall]", FileLine("a.bin", kBodyA)});
    ASSERT_EQ(Download(ini), DLK_RESULT_OK);
    ASSERT_EQ(rig.WaitForRequests(1, "/pkg/a.bin"), 1) << rig.LastError();

    EXPECT_EQ(lib.exit(), DLK_RESULT_OK);
    rig.Release();

    EXPECT_THAT(recorder.Events(), ElementsAre(DLK_EVENT_FILE_STARTED));
    EXPECT_EQ(InstalledContent("a.bin"), "<absent>");
    EXPECT_THAT(SideFiles(), IsEmpty());

    // Ended: no download without a new initialisation, and no word about the refused one.
    EXPECT_EQ(Download(ini), DLK_RESULT_NOT_INITIALISED);
    EXPECT_EQ(lib.download(ini.c_str(), nullptr, &CNotifyRecorder::Notify, 0), DLK_RESULT_BAD_ARGUMENT);
    EXPECT_EQ(lib.download(ini.c_str(), "ZEInstall", nullptr, 0), DLK_RESULT_BAD_ARGUMENT);
    EXPECT_THAT(recorder.Events(), ElementsAre(DLK_EVENT_FILE_STARTED));
}

}  // namespace
