#include "standins/ieksdlk/CDlkStaging.h"

#include "standins/ieksdlk/DlkLogs.h"

#include <utility>

namespace {

std::string ErrorText(const char* what, const std::wstring& path)
{
    return std::string(what) + " " + NarrowToUtf8(path) + " failed, error " +
           std::to_string(GetLastError());
}

bool IsDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

CDlkStaging::CDlkStaging(const CDlkSectionFiles& places, std::wstring tag)
    : m_places(places), m_tag(std::move(tag))
{
}

CDlkStaging::~CDlkStaging()
{
    if (m_committed)
        return;
    for (const Item& item : m_items)
        DeleteFileW(item.aside.c_str());
    for (auto dir = m_createdDirs.rbegin(); dir != m_createdDirs.rend(); ++dir) {
        RemoveDirectoryW(dir->c_str());
    }
}

bool CDlkStaging::MakeDirectories(const std::wstring& dir)
{
    if (IsDirectory(dir))
        return true;
    const size_t slash = dir.find_last_of(L'\\');
    if (slash == std::wstring::npos || !MakeDirectories(dir.substr(0, slash)))
        return false;
    if (!CreateDirectoryW(dir.c_str(), nullptr)) {
        m_detail = ErrorText("creating directory", dir);
        return false;
    }
    m_createdDirs.push_back(dir);
    return true;
}

CWinHandle CDlkStaging::Stage(const CDlkIni::FileEntry& entry)
{
    if (!MakeDirectories(m_places.TargetDir(entry))) {
        if (m_detail.empty())
            m_detail = "no directory for " + entry.name;
        return CWinHandle();
    }
    Item item;
    item.name = entry.name;
    item.final = m_places.InstalledPath(entry);
    for (const Item& staged : m_items) {
        if (CompareStringOrdinal(staged.final.c_str(), -1, item.final.c_str(), -1, TRUE) ==
            CSTR_EQUAL) {
            m_detail = entry.name + " is listed twice for the same place";
            return CWinHandle();
        }
    }
    item.aside = item.final + L"." + m_tag + L".dlknew";
    item.backup = item.final + L"." + m_tag + L".dlkold";
    CWinHandle file(CreateFileW(item.aside.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        m_detail = ErrorText("creating", item.aside);
        return CWinHandle();
    }
    m_items.push_back(item);
    return file;
}

bool CDlkStaging::MoveIn(Item& item)
{
    if (MoveFileExW(item.final.c_str(), item.backup.c_str(), 0)) {
        item.backedUp = true;
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        m_detail = ErrorText("moving aside", item.final);
        return false;
    }
    if (!MoveFileExW(item.aside.c_str(), item.final.c_str(), 0)) {
        m_detail = ErrorText("moving into place", item.final);
        return false;
    }
    item.installed = true;
    return true;
}

bool CDlkStaging::Commit()
{
    for (Item& item : m_items) {
        if (!MoveIn(item)) {
            m_failedName = item.name;
            RollBack();
            return false;
        }
    }
    m_committed = true;
    DiscardBackups();
    return true;
}

void CDlkStaging::RollBack()
{
    for (auto item = m_items.rbegin(); item != m_items.rend(); ++item) {
        if (item->installed && !MoveFileExW(item->final.c_str(), item->aside.c_str(), 0)) {
            DlkLogFile().Append("roll back: " + ErrorText("moving out", item->final));
        }
        if (item->backedUp &&
            !MoveFileExW(item->backup.c_str(), item->final.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            DlkLogFile().Append("roll back: " + ErrorText("restoring", item->final));
        }
        item->installed = false;
        item->backedUp = false;
    }
}

void CDlkStaging::DiscardBackups()
{
    for (const Item& item : m_items) {
        // A running program's file can be moved but not deleted: its old copy stays behind.
        if (item.backedUp && !DeleteFileW(item.backup.c_str())) {
            DlkLogFile().Append("keeping " + ErrorText("deleting", item.backup));
        }
    }
}

std::vector<std::wstring> CDlkStaging::InstalledPaths() const
{
    std::vector<std::wstring> paths;
    for (const Item& item : m_items) {
        if (item.installed)
            paths.push_back(item.final);
    }
    return paths;
}
