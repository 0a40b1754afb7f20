// What the download library's integrity answer rests on, beyond the updater's check-mode runs
// with it (an intact agent, a longer one): an installed file is judged by its content.
#include "standins/ieksdlk/CDlkSectionFiles.h"
#include "standins/ieksdlk/CSha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

TEST(DlkLibraryTest, JudgesAnInstalledFileByItsContent)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("mvu-dlk-test-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(dir);
    const CDlkSectionFiles files(dir.wstring());
    CDlkIni::FileEntry entry;
    entry.name = "mvagtx.exe";
    entry.size = 15;
    CSha256 sha;
    sha.Update("agent build 7.1", entry.size);
    entry.sha256 = sha.FinishHex();
    // installed: the file's content; null: no file.
    const struct { const char* installed; bool intact; } cases[] = {
        {nullptr, false},           {"agent build 7.1", true}, {"agent build 7.2", false},
        {"agent build 7.1 ", false}, {"agent build 7.", false},
    };
    for (const auto& c : cases) {
        const fs::path installed = files.InstalledPath(entry);
        fs::remove(installed);
        if (c.installed) std::ofstream(installed, std::ios::binary) << c.installed;
        EXPECT_EQ(c.intact, files.IsInstalled(entry)) << (c.installed ? c.installed : "no file");
    }
    fs::remove_all(dir);
}

}  // namespace
