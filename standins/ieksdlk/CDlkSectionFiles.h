// The files a call of the library is about: read from the INI file, picked from one section (or
// one name of it), and found on disk below the library's directory.
#pragma once

#include "standins/ieksdlk/CDlkIni.h"

#include <string>
#include <vector>

class CDlkSectionFiles {
public:
    // libraryDir: the directory the INI's target directories are relative to.
    explicit CDlkSectionFiles(std::wstring libraryDir);
    virtual ~CDlkSectionFiles() = default;

    // Reads the INI file at iniPath (UTF-8) and keeps the files of section, only those named
    // fileName when it is not null. Answers a DLK_RESULT_* code; on failure Detail() says why
    // and FailedName() names the line's file, when one is concerned.
    int Load(const std::string& iniPath, const std::string& section, const char* fileName);

    const std::vector<CDlkIni::FileEntry>& Files() const { return m_files; }
    const std::string& Detail() const { return m_detail; }
    const std::string& FailedName() const { return m_failedName; }

    // Where an entry lives once installed.
    std::wstring InstalledPath(const CDlkIni::FileEntry& entry) const;
    // The directory an entry goes to.
    std::wstring TargetDir(const CDlkIni::FileEntry& entry) const;

    // True when the installed file exists with the entry's size and SHA-256.
    bool IsInstalled(const CDlkIni::FileEntry& entry) const;

private:
    int Fail(int result, const std::string& detail);

    std::wstring m_libraryDir;
    std::vector<CDlkIni::FileEntry> m_files;
    std::string m_detail;
    std::string m_failedName;
};

// UTF-8 to UTF-16 and back; empty when the text cannot be converted.
std::wstring WidenUtf8(const std::string& text);
std::string NarrowToUtf8(const std::wstring& text);
