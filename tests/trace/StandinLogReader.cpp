#include "tests/trace/StandinLogReader.h"

#include "trace/StaticInitOrder.h"
#include "util/ModulePath.h"

#include <fstream>
#include <regex>
#include <sstream>

#include <windows.h>

namespace {

StandinLogLine ParseLine(const std::string& raw)
{
    static const std::regex shape(
        R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} pid=(\d+) tid=(\d+) (.*)$)");
    StandinLogLine line{false, 0, 0, std::string(), raw};
    std::smatch match;
    if (!std::regex_match(raw, match, shape)) return line;
    line.wellFormed = true;
    line.pid = std::stoul(match[1].str());
    line.tid = std::stoul(match[2].str());
    line.text = match[3].str();
    return line;
}

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
    if (!GetModuleDir(nullptr, dir, MAX_PATH, 0)) return std::wstring();
    return std::wstring(dir) + L"\\" + fileName;
}

std::vector<StandinLogLine> ReadStandinLog(const wchar_t* fileName)
{
    std::vector<StandinLogLine> lines;
    std::ifstream file(BesideProgram(fileName).c_str(), std::ios::binary);
    if (!file) return lines;
    std::stringstream content;
    content << file.rdbuf();
    std::string raw;
    while (std::getline(content, raw)) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        lines.push_back(ParseLine(raw));
    }
    return lines;
}

std::vector<std::string> OwnLogTexts(const wchar_t* fileName)
{
    std::vector<std::string> texts;
    for (const StandinLogLine& line : ReadStandinLog(fileName)) {
        if (line.wellFormed && line.pid == GetCurrentProcessId()) texts.push_back(line.text);
    }
    return texts;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
