// The programs the updater starts: each records its launch beside itself and ends with 0,
// without a console.
#include "standins/ieksdlk/DlkText.h"
#include "tests/standins/DlkTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ::testing::UnorderedElementsAre;

const char* const kPrograms[] = {"mvagtx.exe", "ksagtctl.exe", "mvcfg.exe"};

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// Starts program with the whole command line and working directory given; the process handle.
HANDLE Start(std::wstring commandLine, const std::wstring& workingDir)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workingDir.c_str(), &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

DWORD WaitForExit(HANDLE process)
{
    DWORD code = 0xDEADBEEF;
    if (WaitForSingleObject(process, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

WORD Subsystem(const std::wstring& path)
{
    std::string image;
    if (!ReadBytes(path, image) || image.size() < 0x40) return 0;
    const uint32_t peAt = *reinterpret_cast<const uint32_t*>(&image[0x3C]);
    // The optional header follows the 4-byte signature and the 20-byte file header; the
    // subsystem sits at the same offset in its 32- and 64-bit forms.
    const size_t at = peAt + 4 + 20 + 68;
    if (at + 2 > image.size() || image.compare(peAt, 4, std::string("PE\0\0", 4)) != 0) return 0;
    return *reinterpret_cast<const WORD*>(&image[at]);
}

class StandinProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteFileW(BesideTest(L"launches.log").c_str());
        workingDir = BesideTest(L"launch cwd");
        CreateDirectoryW(workingDir.c_str(), nullptr);
    }

    std::wstring workingDir;
};

TEST_F(StandinProgramTest, EachRecordsItsLaunchAndEndsWithZero)
{
    std::vector<std::string> expected;
    for (const char* program : kPrograms) {
        const std::wstring path = BesideTest(Wide(program));
        EXPECT_EQ(Subsystem(path), IMAGE_SUBSYSTEM_WINDOWS_GUI) << program;
        const std::wstring commandLine = L"\"" + path + L"\" /start2 \"two words\"";
        HANDLE process = Start(commandLine, workingDir);
        ASSERT_NE(process, nullptr) << program << " error " << GetLastError();
        EXPECT_EQ(WaitForExit(process), 0u) << program;
        expected.push_back(std::string(program) + " args=" +
                           QuoteRecordText("/start2 \"two words\"") +
                           " cwd=" + QuoteRecordText(Utf8(workingDir).c_str()) +
                           " cmdline=" + QuoteRecordText(Utf8(commandLine).c_str()));
    }
    EXPECT_EQ(ReadStandinLines(L"launches.log", false), expected);
}

TEST_F(StandinProgramTest, ProgramsStartedTogetherKeepTheirLinesWhole)
{
    std::vector<HANDLE> processes;
    for (const char* program : kPrograms) {
        // Unquoted program path and no arguments, as a shell-started program may have.
        const std::wstring commandLine = BesideTest(Wide(program));
        processes.push_back(Start(commandLine, workingDir));
        ASSERT_NE(processes.back(), nullptr) << program;
    }
    for (HANDLE process : processes) EXPECT_EQ(WaitForExit(process), 0u);

    std::vector<std::string> programs;
    for (const std::string& line : ReadStandinLines(L"launches.log", false)) {
        EXPECT_NE(line.find(" args=\"\" cwd="), std::string::npos) << line;
        programs.push_back(line.substr(0, line.find(' ')));
    }
    EXPECT_THAT(programs, UnorderedElementsAre("mvagtx.exe", "ksagtctl.exe", "mvcfg.exe"));
}

}  // namespace
