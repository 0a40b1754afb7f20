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

}  // namespace

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
