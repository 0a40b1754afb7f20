#include "standins/ieksdlk/DlkText.h"

#include <cstdio>

namespace {

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

bool NeedsEncoding(unsigned char c)
{
    return c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>';
}

std::string EncodePath(const std::string& path)
{
    std::string out;
    for (char ch : path) {
        const unsigned char c = static_cast<unsigned char>(ch == '\\' ? '/' : ch);
        if (NeedsEncoding(c)) {
            char escaped[4];
            std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

bool EqualNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

std::string TrimBlanks(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool MakeDownloadUrl(const std::string& root, const std::string& path, std::string& url)
{
    std::string base = TrimBlanks(root);
    const size_t scheme = base.find("://");
    if (scheme == std::string::npos) {
        base = "https://" + base;
    } else if (!StartsWithNoCase(base, "https://") && !StartsWithNoCase(base, "http://")) {
        return false;
    }
    const size_t hostStart = base.find("://") + 3;
    if (hostStart >= base.size() || base[hostStart] == '/')
        return false;
    while (base.back() == '/')
        base.pop_back();

    std::string tail = EncodePath(path);
    const size_t first = tail.find_first_not_of('/');
    if (first == std::string::npos)
        return false;
    url = base + "/" + tail.substr(first);
    return true;
}

std::string QuoteRecordText(const char* text)
{
    if (text == nullptr)
        return "null";
    std::string out = "\"";
    for (const char* p = text; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"') {
            out += "\"\"";
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
            out += escaped;
        } else {
            out += *p;
        }
    }
    return out + "\"";
}
