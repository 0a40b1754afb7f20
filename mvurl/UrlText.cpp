#include "mvurl/UrlText.h"

#include <cstring>

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
bool IsParamStart(const std::string& text, size_t pos)
{
    return pos == 0 || text[pos - 1] == '?' || text[pos - 1] == '&';
}

}  // namespace

UrlTarget SplitRequestUrl(const char* url)
{
    UrlTarget target;
    if (url == nullptr) {
        target.object = "/";
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
        target.host = host;
        target.object = "/";
    } else {
        target.host.assign(host, slash);
        target.object = slash;
    }
    return target;
}

std::string EffectiveUploadUrl(const char* stored)
{
    if (stored != nullptr && std::strlen(stored) > 4) return stored;
    return kDefaultUploadUrl;
}

UploadParts SplitUpload(const std::string& object)
{
    UploadParts parts;
    const size_t mark = object.find(kTraceInfoMark);
    if (mark == std::string::npos) {
        parts.object = object;
        return parts;
    }
    parts.object = object.substr(0, mark);
    parts.body = object.substr(mark + sizeof(kTraceInfoMark) - 1);
    parts.hasBody = true;
    return parts;
}

std::string RedactToken(const std::string& text)
{
    for (size_t pos = text.find(kTokenParam); pos != std::string::npos; pos = text.find(kTokenParam, pos + 1)) {
        if (IsParamStart(text, pos)) return text.substr(0, pos + sizeof(kTokenParam) - 1) + kTokenMask;
    }
    return text;
}
