#include "standins/ieksdlk/CDlkSectionFiles.h"

#include "app/DlkApi.h"
#include "standins/common/CStandinLog.h"
#include "standins/ieksdlk/CSha256.h"
#include "standins/ieksdlk/CWinHandle.h"
#include "util/Utf8.h"

#include <utility>

namespace {

// Larger than any INI file the library is meant to read.
constexpr DWORD kIniLimit = 16 * 1024 * 1024;

bool ReadWholeFile(const std::wstring& path, std::string& content)
{
    CWinHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > kIniLimit)
        return false;
    content.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (size.QuadPart == 0)
        return true;
    return ReadFile(file.Get(), &content[0], static_cast<DWORD>(size.QuadPart), &read, nullptr) &&
           read == size.QuadPart;
}

}  // namespace

std::wstring WidenUtf8(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int size = Utf8ToWide(text.c_str(), nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    if (Utf8ToWide(text.c_str(), &wide[0], size) != size)
        return std::wstring();
    wide.resize(static_cast<size_t>(size) - 1);
    return wide;
}

std::string NarrowToUtf8(const std::wstring& text)
{
    return ToUtf8(text.c_str());
}

CDlkSectionFiles::CDlkSectionFiles(std::wstring libraryDir) : m_libraryDir(std::move(libraryDir))
{
}

int CDlkSectionFiles::Fail(int result, const std::string& detail)
{
    m_detail = detail;
    m_files.clear();
    return result;
}

int CDlkSectionFiles::Load(const std::string& iniPath, const std::string& section,
                           const char* fileName)
{
    m_files.clear();
    m_detail.clear();
    m_failedName.clear();
    std::string text;
    const std::wstring widePath = WidenUtf8(iniPath);
    if (widePath.empty() || !ReadWholeFile(widePath, text)) {
        return Fail(DLK_RESULT_INI_UNREADABLE,
                    "cannot read INI file, error " + std::to_string(GetLastError()));
    }
    CDlkIni ini;
    ini.Parse(text);
    const CDlkIni::Section* found = ini.FindSection(section);
    if (found == nullptr)
        return Fail(DLK_RESULT_NO_SECTION, "no section [" + section + "]");
    if (found->badLine != 0) {
        return Fail(DLK_RESULT_BAD_ENTRY,
                    "line " + std::to_string(found->badLine) + ": " + found->badReason);
    }
    m_files = fileName == nullptr ? found->files : CDlkIni::FilesNamed(*found, fileName);
    if (fileName != nullptr && m_files.empty()) {
        m_failedName = fileName;
        return Fail(DLK_RESULT_NO_FILE,
                    std::string("no file ") + fileName + " in [" + section + "]");
    }
    return DLK_RESULT_OK;
}

std::wstring CDlkSectionFiles::TargetDir(const CDlkIni::FileEntry& entry) const
{
    return entry.targetDir.empty() ? m_libraryDir
                                   : m_libraryDir + L"\\" + WidenUtf8(entry.targetDir);
}

std::wstring CDlkSectionFiles::InstalledPath(const CDlkIni::FileEntry& entry) const
{
    return TargetDir(entry) + L"\\" + WidenUtf8(entry.name);
}

bool CDlkSectionFiles::IsInstalled(const CDlkIni::FileEntry& entry) const
{
    uint64_t size = 0;
    std::string sha256;
    return CSha256::HashFile(InstalledPath(entry), size, sha256) && size == entry.size &&
           sha256 == entry.sha256;
}
