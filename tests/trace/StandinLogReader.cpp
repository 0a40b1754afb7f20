#include "tests/trace/StandinLogReader.h"

#include "trace/StaticInitOrder.h"
#include "util/ModulePath.h"

#include <fstream>
#include <regex>

#include <windows.h>

namespace {

// The logs of earlier runs go before the trace modules register, so a program only ever reads
// its own lines (process ids repeat from run to run).
class CEarlierLogsRemover {
public:
    CEarlierLogsRemover()
    {
        DeleteFileW(BesideProgram(L"ovktrace.log").c_str());
        DeleteFileW(BesideProgram(L"kstrac32.log").c_str());
    }
    virtual ~CEarlierLogsRemover() = default;
};

CEarlierLogsRemover s_earlierLogsRemover MVU_INIT_PRIORITY(MVU_INIT_PRIORITY_TEST_SETUP);

}  // namespace

std::wstring BesideProgram(const wchar_t* fileName)
{
    wchar_t dir[MAX_PATH];
    if (!GetModuleDir(nullptr, dir, MAX_PATH, 0))
        return std::wstring();
    return std::wstring(dir) + L"\\" + fileName;
}

std::vector<std::string> OwnLogTexts(const wchar_t* fileName)
{
    static const std::regex shape(
        R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} pid=(\d+) tid=\d+ (.*?)\r?$)");
    std::vector<std::string> texts;
    std::ifstream file(BesideProgram(fileName).c_str(), std::ios::binary);
    std::smatch match;
    for (std::string raw; std::getline(file, raw);) {
        if (std::regex_match(raw, match, shape) &&
            std::stoul(match[1].str()) == GetCurrentProcessId())
            texts.push_back(match[2].str());
    }
    return texts;
}
