// What the download library promises beyond the runs the updater makes with it: files that do
// not match their description are never installed, a section goes in whole or not at all,
// installed files are judged by their content, and a download ended by the exit says nothing
// more and leaves nothing behind.
#include "app/DlkApi.h"
#include "standins/ieksdlk/CDlkDownloadJob.h"
#include "standins/ieksdlk/CDlkLibrary.h"
#include "standins/ieksdlk/CSha256.h"
#include "tests/support/RigClient.h"
#include "util/ModulePath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kAbsent = "<absent>";
const std::string kBodyA = "agent build 7.1\r\n\x01\xFF tail";
const std::string kBodyB(70000, 'b');  // more than one read of the transfer

fs::path ProgramDir()
{
    wchar_t dir[MAX_PATH];
    return GetModuleDir(nullptr, dir, MAX_PATH, 0) ? fs::path(dir) : fs::path();
}

// Writes content to path, or removes the file when content is kAbsent.
void Place(const fs::path& path, const std::string& content)
{
    if (content == kAbsent) {
        fs::remove(path);
        return;
    }
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string Content(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) return kAbsent;
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string FileLine(const std::string& name, const std::string& body, const std::string& dir = "")
{
    CSha256 sha;
    sha.Update(body.data(), body.size());
    return "file=" + name + "|" + name + "|" + std::to_string(body.size()) + "|" + sha.FinishHex() + "|" + dir;
}

int WINAPI Hear(ULONG_PTR heard, int eventCode, const char*, const char*, int, ULONG_PTR)
{
    reinterpret_cast<std::vector<int>*>(heard)->push_back(eventCode);
    return 0;
}

class DlkLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { Fresh(); }

    void Fresh()
    {
        ASSERT_FALSE(env.address.empty()) << "MVU_RIG_ADDRESS unset: the test needs its rig fixture";
        ASSERT_TRUE(rig.Reset()) << rig.LastError();
        fs::remove_all(root);
        fs::create_directories(lib);
        heard.clear();
        control = std::make_shared<CDlkJobControl>(&Hear, reinterpret_cast<ULONG_PTR>(&heard));
    }

    void Serve(const std::string& name, const std::string& body, bool hold = false)
    {
        RigAnswer answer;
        answer.path = "/pkg/" + name;
        answer.body = body;
        answer.hold = hold;
        answer.close = true;
        ASSERT_NE(rig.Script(answer), 0) << rig.LastError();
    }

    // The INI file of these lines beside the library directory; its UTF-8 path.
    std::string WriteIni(const std::vector<std::string>& lines)
    {
        std::string text;
        for (const std::string& line : lines) text += line + "\r\n";
        Place(root / "dlk.php", text);
        return NarrowToUtf8((root / "dlk.php").wstring());
    }

    // A download of the section into lib, as DlkStdDownload starts one; heard gets its notifications.
    std::unique_ptr<CDlkDownloadJob> Job(const std::string& ini)
    {
        CDlkDownloadJob::Request request;
        request.urlRoot = "https://" + env.host + "/pkg";
        request.iniPath = ini;
        request.section = "ZEInstall";
        return std::make_unique<CDlkDownloadJob>(request, lib.wstring(), 1, control);
    }

    // Every file and directory below root, sorted.
    std::vector<std::string> Tree() const
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            found.push_back(fs::relative(entry.path(), root).generic_string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    RigEnvironment env = RigEnvironment::FromProcess();
    RigClient rig{env};
    const fs::path root = ProgramDir() / "job";
    const fs::path lib = root / "lib";
    std::vector<int> heard;
    std::shared_ptr<CDlkJobControl> control;
};

TEST_F(DlkLibraryTest, AFailedDownloadLeavesTheInstallationAsItWas)
{
    const struct {
        const char* what;
        std::string served;  // what the server sends for b.bin
        const char* dir;     // where the INI puts b.bin
        bool held;           // an older b.bin is in place, held open as a running program holds it
        size_t fetches;
        int result;
    } cases[] = {
        {"other content", std::string(kBodyB.size(), 'c'), "new\\dir", false, 2, DLK_RESULT_HASH_MISMATCH},
        {"longer", kBodyB + "x", "new\\dir", false, 2, DLK_RESULT_SIZE_MISMATCH},
        {"shorter", kBodyB.substr(1), "new\\dir", false, 2, DLK_RESULT_SIZE_MISMATCH},
        {"the older file cannot be moved", kBodyB, "", true, 2, DLK_RESULT_INSTALL_FAILED},
        {"a place outside the library", kBodyB, "..\\outside", false, 0, DLK_RESULT_BAD_ENTRY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fresh();
        Place(lib / "a.bin", "old a");
        std::vector<std::string> left = {"dlk.php", "lib", "lib/a.bin"};
        if (c.held) {
            Place(lib / "b.bin", "old b");
            left.push_back("lib/b.bin");
        }
        Serve("a.bin", kBodyA);
        Serve("b.bin", c.served);
        const std::string ini = WriteIni({"[ZEInstall]", FileLine("a.bin", kBodyA), FileLine("b.bin", kBodyB, c.dir)});

        HANDLE held = c.held ? CreateFileW((lib / "b.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr)
                             : INVALID_HANDLE_VALUE;
        EXPECT_EQ(Job(ini)->Run(), c.result);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);

        EXPECT_EQ(rig.Requests().size(), c.fetches);
        EXPECT_EQ(Content(lib / "a.bin"), "old a");
        EXPECT_EQ(Content(lib / "b.bin"), c.held ? "old b" : kAbsent);
        EXPECT_EQ(Tree(), left) << "a file or directory made for the download stayed";
        EXPECT_EQ(std::count(heard.begin(), heard.end(), DLK_EVENT_FILE_INSTALLED), 0);
    }
}

TEST_F(DlkLibraryTest, JudgesInstalledFilesByTheirContent)
{
    // Target directories are relative to the library's own, here the test program's.
    const std::string a = "contents of a";
    const std::string agent = "contents of b";
    const std::string ini = WriteIni({"[ZEInstall]", FileLine("a.bin", a, "job\\lib\\E"),
                                      FileLine("mvagtx.exe", agent, "job\\lib"), "[Empty]"});
    const struct {
        const char* what;
        std::string a;
        std::string agent;
        const char* section;
        const char* file;  // null: the whole section
        bool intact;
    } cases[] = {
        {"nothing installed", kAbsent, kAbsent, "ZEInstall", nullptr, false},
        {"one of two installed", a, kAbsent, "ZEInstall", nullptr, false},
        {"the one installed", a, kAbsent, "ZEInstall", "a.bin", true},
        {"both installed, section named in another case", a, agent, "zeinstall", nullptr, true},
        {"file named in another case", a, agent, "ZEInstall", "MVAGTX.EXE", true},
        {"same size, one byte changed", a, "contents of c", "ZEInstall", "mvagtx.exe", false},
        {"one byte more", a, agent + " ", "ZEInstall", "mvagtx.exe", false},
        {"a name the section lacks", a, agent, "ZEInstall", "other.exe", false},
        {"a section without files", a, agent, "Empty", nullptr, false},
    };
    for (const auto& c : cases) {
        Place(lib / "E" / "a.bin", c.a);
        Place(lib / "mvagtx.exe", c.agent);
        const int answer = CDlkLibrary::Instance().Integrity(ini.c_str(), c.section, c.file != nullptr, c.file);
        EXPECT_EQ(answer != 0, c.intact) << c.what;
    }
}

TEST_F(DlkLibraryTest, ADownloadEndedByTheExitSaysNothingMoreAndLeavesNothing)
{
    Serve("a.bin", kBodyA, true);
    const std::string ini = WriteIni({"[ZEInstall]", FileLine("a.bin", kBodyA)});
    int result = 0;
    std::thread download([&] { result = Job(ini)->Run(); });
    const int asked = rig.WaitForRequests(1, "/pkg/a.bin");
    // What DlkExitStdDownload does to each running download; the answer only comes after it.
    control->Cancel();
    rig.Release();
    download.join();

    ASSERT_EQ(asked, 1) << rig.LastError();
    EXPECT_EQ(result, DLK_RESULT_CANCELLED);
    EXPECT_EQ(heard, std::vector<int>{DLK_EVENT_FILE_STARTED});
    EXPECT_EQ(Tree(), (std::vector<std::string>{"dlk.php", "lib"}));
}

}  // namespace
