#include "tests/standins/DlkTestFiles.h"

#include "standins/common/CStandinLog.h"
#include "standins/ieksdlk/CSha256.h"
#include "util/ModulePath.h"

#include <fstream>
#include <regex>
#include <sstream>

std::wstring BesideTest(const std::wstring& fileName)
{
    wchar_t dir[MAX_PATH];
    if (!GetModuleDir(nullptr, dir, MAX_PATH, 0)) return std::wstring();
    return std::wstring(dir) + L"\\" + fileName;
}

std::vector<std::string> ReadStandinLines(const std::wstring& fileName, bool ownOnly)
{
    static const std::regex shape(
        R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} pid=(\d+) tid=\d+ (.*)$)");
    std::vector<std::string> texts;
    std::string content;
    if (!ReadBytes(BesideTest(fileName), content)) return texts;
    std::stringstream lines(content);
    std::string raw;
    while (std::getline(lines, raw)) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        std::smatch match;
        if (!std::regex_match(raw, match, shape)) {
            texts.push_back("<malformed> " + raw);
            continue;
        }
        if (ownOnly && std::stoul(match[1].str()) != GetCurrentProcessId()) continue;
        texts.push_back(match[2].str());
    }
    return texts;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream file(path.c_str(), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

bool ReadBytes(const std::wstring& path, std::string& bytes)
{
    bytes.clear();
    std::ifstream file(path.c_str(), std::ios::binary);
    if (!file) return false;
    std::stringstream content;
    content << file.rdbuf();
    bytes = content.str();
    return true;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> ListDir(const std::wstring& dir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

void RemoveTree(const std::wstring& dir)
{
    for (const std::wstring& name : ListDir(dir)) {
        const std::wstring path = dir + L"\\" + name;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            RemoveTree(path);
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    }
    RemoveDirectoryW(dir.c_str());
}

std::string Sha256Hex(const std::string& bytes)
{
    CSha256 sha;
    sha.Update(bytes.data(), bytes.size());
    return sha.FinishHex();
}

std::string Utf8(const std::wstring& text)
{
    return ToUtf8(text.c_str());
}
