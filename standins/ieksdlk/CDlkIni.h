// The download description the library works from: an INI text of sections whose "file=" lines
// each name one file to fetch, check and install:
//
//   ; comment
//   [ZEInstall]
//   file=mvagtx.exe|agent/1.2/mvagtx.exe|123456|<64 hex digits of SHA-256>|E\F
//
// Fields: the file's name, its path below the URL root, its size in bytes, its SHA-256 and the
// directory it goes to, relative to the library's own directory (empty or "." for that
// directory itself). Section names and keys compare without regard to ASCII case; other keys
// and text outside sections are ignored. Line ends may be LF, CR LF or CR CR LF; a UTF-8 byte
// order mark is skipped. No Windows header here: this also builds natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CDlkIni {
public:
    struct FileEntry {
        std::string name;        // plain file name, UTF-8
        std::string remotePath;  // below the URL root, as written
        uint64_t size = 0;
        std::string sha256;  // 64 lower-case hex digits
        std::string
            targetDir;  // relative, "\"-separated, no "." or ".." parts; empty: the library's
        int line = 0;   // line number in the text, from 1
    };

    struct Section {
        std::string name;
        std::vector<FileEntry> files;
        int badLine = 0;  // first "file=" line that could not be used; 0: none
        std::string badReason;
    };

    // Reads the text, replacing what was read before.
    void Parse(const std::string& text);

    // The section of that name (merged when it appears more than once); null when absent.
    const Section* FindSection(const std::string& name) const;

    // The entries of section that carry fileName (compared without regard to ASCII case).
    static std::vector<FileEntry> FilesNamed(const Section& section, const std::string& fileName);

    // Checks and normalises the value of one "file=" line; false with a reason when unusable.
    static bool ParseFileEntry(const std::string& value, FileEntry& entry, std::string& reason);

private:
    Section& SectionNamed(const std::string& name);
    void ParseLine(const std::string& line, int number, Section*& current);

    std::vector<Section> m_sections;
};
