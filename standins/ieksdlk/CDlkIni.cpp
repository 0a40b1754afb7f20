#include "standins/ieksdlk/CDlkIni.h"

#include "standins/ieksdlk/DlkText.h"

namespace {

constexpr size_t kFieldCount = 5;
constexpr size_t kHashDigits = 64;

std::vector<std::string> SplitFields(const std::string& value)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t bar = value.find('|', start);
        fields.push_back(TrimBlanks(value.substr(start, bar - start)));
        if (bar == std::string::npos)
            return fields;
        start = bar + 1;
    }
}

bool HasControl(const std::string& text)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

// A name that stays inside its directory: no separators, drive or stream marks, or wildcards.
bool IsPlainFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || HasControl(name))
        return false;
    return name.find_first_of("\\/:*?\"<>|") == std::string::npos;
}

bool ParseSize(const std::string& text, uint64_t& size)
{
    if (text.empty() || text.size() > 18)
        return false;  // 18 digits cannot overflow
    size = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        size = size * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

bool ParseHash(const std::string& text, std::string& hash)
{
    if (text.size() != kHashDigits)
        return false;
    hash.clear();
    for (char c : text) {
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
        hash += c;
    }
    return true;
}

// A directory below the library's: relative, without ".." parts, drives or stream marks.
bool NormaliseTargetDir(const std::string& text, std::string& dir)
{
    if (HasControl(text) || text.find(':') != std::string::npos)
        return false;
    if (!text.empty() && (text[0] == '\\' || text[0] == '/'))
        return false;
    dir.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = text.size();
        const std::string part = TrimBlanks(text.substr(start, end - start));
        if (part == "..")
            return false;
        if (!part.empty() && part != ".") {
            if (part.find_first_of("*?\"<>|") != std::string::npos)
                return false;
            dir += (dir.empty() ? "" : "\\") + part;
        }
        start = end + 1;
    }
    return true;
}

}  // namespace

bool CDlkIni::ParseFileEntry(const std::string& value, FileEntry& entry, std::string& reason)
{
    const std::vector<std::string> fields = SplitFields(value);
    if (fields.size() != kFieldCount) {
        reason = "expected 5 fields separated by |, found " + std::to_string(fields.size());
        return false;
    }
    entry.name = fields[0];
    entry.remotePath = fields[1];
    if (!IsPlainFileName(entry.name))
        reason = "unusable file name";
    else if (entry.remotePath.empty() || HasControl(entry.remotePath))
        reason = "unusable path";
    else if (!ParseSize(fields[2], entry.size))
        reason = "unusable size";
    else if (!ParseHash(fields[3], entry.sha256))
        reason = "SHA-256 is not 64 hex digits";
    else if (!NormaliseTargetDir(fields[4], entry.targetDir))
        reason = "unsafe target directory";
    else
        return true;
    return false;
}

void CDlkIni::Parse(const std::string& text)
{
    m_sections.clear();
    size_t start = (text.compare(0, 3, "\xEF\xBB\xBF") == 0) ? 3 : 0;
    Section* current = nullptr;
    int number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        ParseLine(TrimBlanks(line), ++number, current);
        start = end + 1;
    }
}

void CDlkIni::ParseLine(const std::string& line, int number, Section*& current)
{
    if (line.empty() || line[0] == ';' || line[0] == '#')
        return;
    if (line[0] == '[') {
        const size_t close = line.find(']');
        current = (close == std::string::npos)
                      ? nullptr
                      : &SectionNamed(TrimBlanks(line.substr(1, close - 1)));
        return;
    }
    const size_t equals = line.find('=');
    if (current == nullptr || equals == std::string::npos)
        return;
    if (!EqualNoCase(TrimBlanks(line.substr(0, equals)), "file"))
        return;

    FileEntry entry;
    std::string reason;
    if (ParseFileEntry(line.substr(equals + 1), entry, reason)) {
        entry.line = number;
        current->files.push_back(entry);
    } else if (current->badLine == 0) {
        current->badLine = number;
        current->badReason = reason;
    }
}

CDlkIni::Section& CDlkIni::SectionNamed(const std::string& name)
{
    for (Section& section : m_sections) {
        if (EqualNoCase(section.name, name))
            return section;
    }
    m_sections.emplace_back();
    m_sections.back().name = name;
    return m_sections.back();
}

const CDlkIni::Section* CDlkIni::FindSection(const std::string& name) const
{
    for (const Section& section : m_sections) {
        if (EqualNoCase(section.name, name))
            return &section;
    }
    return nullptr;
}

std::vector<CDlkIni::FileEntry> CDlkIni::FilesNamed(const Section& section,
                                                    const std::string& fileName)
{
    std::vector<FileEntry> found;
    for (const FileEntry& entry : section.files) {
        if (EqualNoCase(entry.name, fileName))
            found.push_back(entry);
    }
    return found;
}
