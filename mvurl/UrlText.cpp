#include "mvurl/UrlText.h"

#include <cstring>

const char kDefaultUploadUrl[] = "http://report.mvupdate.invalid/report/upload.php";

namespace {

const char kTraceInfoMark[] = "&traceinfo=";

bool StartsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool SplitHostPort(const char* hostPort, CKSCharStr& host, uint16_t* port)
{
    *port = 0;
    const char* text = hostPort != nullptr ? hostPort : "";
    const char* colon = nullptr;
    if (text[0] == '[') {
        const char* close = std::strchr(text, ']');
        if (close == nullptr)
            return false;
        if (close[1] == ':')
            colon = close + 1;
        else if (close[1] != '\0')
            return false;
    } else {
        colon = std::strrchr(text, ':');
    }
    const size_t hostLength =
        colon != nullptr ? static_cast<size_t>(colon - text) : std::strlen(text);
    if (hostLength == 0)
        return false;
    if (colon != nullptr) {
        uint32_t value = 0;
        const char* digit = colon + 1;
        if (*digit == '\0')
            return false;
        for (; *digit != '\0'; ++digit) {
            if (*digit < '0' || *digit > '9' || value > 65535)
                return false;
            value = value * 10 + static_cast<uint32_t>(*digit - '0');
        }
        if (value == 0 || value > 65535)
            return false;
        *port = static_cast<uint16_t>(value);
    }
    return host.Set(text, hostLength);
}

bool SettingServer(const char* surl, CKSCharStr& host, uint16_t* port)
{
    const char* name = surl != nullptr ? surl : "";
    if (StartsWith(name, "https://"))
        name += 8;
    else if (StartsWith(name, "http://"))
        name += 7;
    CKSCharStr authority;
    if (!authority.Set(name, std::strcspn(name, "/")))
        return false;
    if (!SplitHostPort(authority.GetText(), host, port))
        return false;
    if (*port == 0)
        *port = 443;
    return true;
}

bool IsSameHost(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (AsciiLower(*a) != AsciiLower(*b))
            return false;
    }
    return *a == *b;
}

UrlTarget SplitRequestUrl(const char* url)
{
    UrlTarget target;
    if (url == nullptr) {
        target.host.Set("");
        target.object.Set("/");
        return target;
    }
    const char* host = url;
    if (StartsWith(url, "http://")) {
        host = url + 7;
    } else if (StartsWith(url, "https://")) {
        host = url + 8;
        target.forcesTls = true;
    }
    const char* slash = std::strchr(host, '/');
    if (slash == nullptr) {
        target.host.Set(host);
        target.object.Set("/");
    } else {
        target.host.Set(host, static_cast<size_t>(slash - host));
        target.object.Set(slash);
    }
    return target;
}

const char* EffectiveUploadUrl(const char* stored)
{
    return stored != nullptr && std::strlen(stored) > 4 ? stored : kDefaultUploadUrl;
}

UploadParts SplitUpload(const char* object)
{
    UploadParts parts;
    const char* text = object != nullptr ? object : "";
    const char* mark = std::strstr(text, kTraceInfoMark);
    if (mark == nullptr) {
        parts.object.Set(text);
        return parts;
    }
    parts.object.Set(text, static_cast<size_t>(mark - text));
    parts.body.Set(mark + sizeof(kTraceInfoMark) - 1);
    parts.hasBody = true;
    return parts;
}
