#include "tests/standins/CDlkLibraryTestBase.h"

namespace {

const wchar_t kCasesDir[] = L"cases";

void CollectSideFiles(const std::wstring& dir, std::vector<std::wstring>& found)
{
    for (const std::wstring& name : ListDir(dir)) {
        const std::wstring path = dir + L"\\" + name;
        if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
            CollectSideFiles(path, found);
        } else if (name.find(L".dlknew") != std::wstring::npos ||
                   name.find(L".dlkold") != std::wstring::npos) {
            found.push_back(path);
        }
    }
}

}  // namespace

void CDlkLibraryTestBase::SetUp()
{
    ASSERT_FALSE(env.address.empty()) << "MVU_RIG_ADDRESS unset: the test needs its rig fixture";
    ASSERT_TRUE(rig.Reset()) << rig.LastError();
    ASSERT_NE(lib.Module(), nullptr) << "cannot load " << Utf8(lib.Path());
    m_caseName = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    RemoveTree(CaseDir());
    CreateDirectoryW(BesideTest(kCasesDir).c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryW(CaseDir().c_str(), nullptr));
    DeleteFileW(BesideTest(L"ieksdlk.record").c_str());
    DeleteFileW(BesideTest(L"ieksdlk.log").c_str());
    DeleteFileW(BesideTest(L"ksdlkext.record").c_str());
    Init(Root());
}

void CDlkLibraryTestBase::TearDown()
{
    if (lib.exit != nullptr) lib.exit();
}

std::string CDlkLibraryTestBase::Root() const
{
    return "https://" + env.host + "/pkg";
}

void CDlkLibraryTestBase::Init(const std::string& root)
{
    ASSERT_NE(lib.init, nullptr);
    EXPECT_EQ(lib.init(root.c_str(), "7.1", "7.2", DLK_VENDOR, DLK_BUILD), DLK_RESULT_OK);
}

void CDlkLibraryTestBase::Serve(const std::string& name, const std::string& body, int status, bool hold)
{
    RigAnswer answer;
    answer.path = "/pkg/" + name;
    answer.status = status;
    answer.body = body;
    answer.hold = hold;
    answer.close = true;
    ASSERT_NE(rig.Script(answer), 0) << rig.LastError();
}

std::string CDlkLibraryTestBase::FileLine(const std::string& name, const std::string& body,
                                          const std::string& subDir) const
{
    std::string target = "cases\\" + m_caseName;
    if (!subDir.empty()) target += "\\" + subDir;
    return "file=" + name + "|" + name + "|" + std::to_string(body.size()) + "|" +
           Sha256Hex(body) + "|" + target;
}

std::string CDlkLibraryTestBase::WriteIni(const std::vector<std::string>& lines,
                                          const std::string& lineEnd,
                                          const std::wstring& fileName) const
{
    std::string text;
    for (const std::string& line : lines) text += line + lineEnd;
    const std::wstring path = CaseDir() + L"\\" + fileName;
    EXPECT_TRUE(WriteBytes(path, text));
    return Utf8(path);
}

std::wstring CDlkLibraryTestBase::CaseDir(const std::wstring& subDir) const
{
    std::wstring dir = BesideTest(std::wstring(kCasesDir) + L"\\" +
                                  std::wstring(m_caseName.begin(), m_caseName.end()));
    return subDir.empty() ? dir : dir + L"\\" + subDir;
}

std::wstring CDlkLibraryTestBase::Installed(const std::string& name, const std::wstring& subDir) const
{
    return CaseDir(subDir) + L"\\" + std::wstring(name.begin(), name.end());
}

std::string CDlkLibraryTestBase::InstalledContent(const std::string& name,
                                                  const std::wstring& subDir) const
{
    std::string content;
    return ReadBytes(Installed(name, subDir), content) ? content : "<absent>";
}

int CDlkLibraryTestBase::Download(const std::string& ini, const std::string& section)
{
    return lib.download(ini.c_str(), section.c_str(), &CNotifyRecorder::Notify, recorder.UserData());
}

int CDlkLibraryTestBase::DownloadToEnd(const std::string& ini, const std::string& section)
{
    const size_t before = recorder.Events().size();
    const int started = Download(ini, section);
    EXPECT_EQ(started, DLK_RESULT_OK);
    if (started != DLK_RESULT_OK) return started;
    size_t doneBefore = 0;
    for (size_t i = 0; i < before; ++i) {
        if (recorder.All()[i].eventCode == DLK_EVENT_SECTION_DONE) ++doneBefore;
    }
    EXPECT_TRUE(recorder.WaitForSectionDone(doneBefore + 1)) << "no end of the download came";
    return recorder.Done().resultCode;
}

std::vector<std::wstring> CDlkLibraryTestBase::SideFiles() const
{
    std::vector<std::wstring> found;
    CollectSideFiles(CaseDir(), found);
    return found;
}
