#include "mvurl/UrlText.h"

#include <cstring>
#include <memory>
#include <new>

const char kDefaultUploadUrl[] = "http://report.mvupdate.invalid/report/upload.php";
const char kTokenMask[] = "********";

namespace {

const char kTraceInfoMark[] = "&traceinfo=";
const char kTokenParam[] = "TK=";

bool StartsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// "TK=" counts only where a parameter starts: after "?" or "&" (or at the very start).
bool IsParamStart(const char* text, const char* at)
{
    return at == text || at[-1] == '?' || at[-1] == '&';
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

CKSCharStr RedactToken(const char* text)
{
    CKSCharStr out;
    const char* source = text != nullptr ? text : "";
    for (const char* at = std::strstr(source, kTokenParam); at != nullptr;
         at = std::strstr(at + 1, kTokenParam)) {
        if (!IsParamStart(source, at))
            continue;
        const size_t kept = static_cast<size_t>(at - source) + sizeof(kTokenParam) - 1;
        std::unique_ptr<char[]> masked(new (std::nothrow) char[kept + sizeof(kTokenMask)]);
        if (!masked)
            return out;
        std::memcpy(masked.get(), source, kept);
        std::memcpy(masked.get() + kept, kTokenMask, sizeof(kTokenMask));
        out.Set(masked.get());
        return out;
    }
    out.Set(source);
    return out;
}
