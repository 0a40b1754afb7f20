// The files of one download on their way into place. Each is written beside its place under a
// name of its own ("<name>.<tag>.dlknew"); Commit moves them all in, keeping any older file as
// "<name>.<tag>.dlkold" until every move succeeded, and puts the older files back when one move
// fails. Whatever was not committed is removed on destruction, with the directories made for
// it, so a failed download leaves the installation as it found it.
#pragma once

#include "standins/ieksdlk/CDlkIni.h"
#include "standins/ieksdlk/CDlkSectionFiles.h"
#include "standins/ieksdlk/CWinHandle.h"

#include <string>
#include <vector>

class CDlkStaging {
public:
    // tag makes this download's side names unique among concurrent ones.
    CDlkStaging(const CDlkSectionFiles& places, std::wstring tag);
    virtual ~CDlkStaging();

    CDlkStaging(const CDlkStaging&) = delete;
    CDlkStaging& operator=(const CDlkStaging&) = delete;

    // Makes the entry's directory and creates its side file for writing. An invalid handle,
    // with Detail() set, on failure.
    CWinHandle Stage(const CDlkIni::FileEntry& entry);

    // Moves every staged file into its place, all or none. false with FailedName() and
    // Detail() set when a file could not be moved (the older files are back then).
    bool Commit();

    // Installed paths of the committed files, in staging order.
    std::vector<std::wstring> InstalledPaths() const;

    const std::string& Detail() const { return m_detail; }
    const std::string& FailedName() const { return m_failedName; }

private:
    struct Item {
        std::string name;
        std::wstring aside;
        std::wstring final;
        std::wstring backup;
        bool backedUp = false;
        bool installed = false;
    };

    bool MakeDirectories(const std::wstring& dir);
    bool MoveIn(Item& item);
    void RollBack();
    void DiscardBackups();

    const CDlkSectionFiles& m_places;
    std::wstring m_tag;
    std::vector<Item> m_items;
    std::vector<std::wstring> m_createdDirs;
    bool m_committed = false;
    std::string m_detail;
    std::string m_failedName;
};
