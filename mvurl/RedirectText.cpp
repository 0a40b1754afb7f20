#include "mvurl/RedirectText.h"

#include "util/SecureWipe.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

bool IsAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A space or control character would end the header it was sent in or be sent as it stands.
bool HasControlOrSpace(const char* text)
{
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        if (*p <= 0x20 || *p == 0x7F)
            return true;
    }
    return false;
}

// The length of the scheme that text begins with (letters, digits, "+", "-", "." after a
// letter, up to a ":"), or 0 when it begins with none.
size_t SchemeLength(const char* text)
{
    if (!IsAlpha(text[0]))
        return 0;
    size_t n = 1;
    while (IsAlpha(text[n]) || IsDigit(text[n]) || text[n] == '+' || text[n] == '-' ||
           text[n] == '.')
        ++n;
    return text[n] == ':' ? n : 0;
}

bool IsHttps(const char* scheme, size_t length)
{
    const char https[] = "https";
    if (length != sizeof(https) - 1)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const char c = scheme[i] >= 'A' && scheme[i] <= 'Z' ? scheme[i] - 'A' + 'a' : scheme[i];
        if (c != https[i])
            return false;
    }
    return true;
}

// Sets out to the two pieces one after the other; false when that cannot be allocated.
bool Join(CKSCharStr& out, const char* first, size_t firstLength, const char* second,
          size_t secondLength)
{
    const size_t length = firstLength + secondLength;
    std::unique_ptr<char[]> joined(new (std::nothrow) char[length + 1]);
    if (!joined)
        return false;
    std::memcpy(joined.get(), first, firstLength);
    std::memcpy(joined.get() + firstLength, second, secondLength);
    joined[length] = '\0';
    const bool set = out.Set(joined.get(), length);
    SecureWipe(joined.get(), length);
    return set;
}

// The object a reference (path, query or both, its fragment cut off) names: always from "/".
bool SetObject(RedirectTarget& target, const char* reference)
{
    const size_t length = std::strcspn(reference, "#");
    if (reference[0] == '/')
        return target.object.Set(reference, length);
    return Join(target.object, "/", 1, reference, length);
}

// "host[:port]" up to the first "/", "?" or "#"; the rest names the object. False when there is
// no host, the port is no number from 1 to 65535, or credentials come with it.
bool SetServer(RedirectTarget& target, const char* authority)
{
    const size_t length = std::strcspn(authority, "/?#");
    if (std::memchr(authority, '@', length) != nullptr)
        return false;
    size_t hostLength = length;
    if (authority[0] == '[') {
        const char* close = static_cast<const char*>(std::memchr(authority, ']', length));
        if (close == nullptr)
            return false;
        hostLength = static_cast<size_t>(close - authority) + 1;
    } else if (const char* colon = static_cast<const char*>(std::memchr(authority, ':', length))) {
        hostLength = static_cast<size_t>(colon - authority);
    }
    if (hostLength == 0 || (hostLength < length && authority[hostLength] != ':'))
        return false;
    uint32_t port = 443;
    if (hostLength + 1 < length) {
        port = 0;
        for (size_t i = hostLength + 1; i < length; ++i) {
            if (!IsDigit(authority[i]) || port > 65535)
                return false;
            port = port * 10 + static_cast<uint32_t>(authority[i] - '0');
        }
        if (port == 0 || port > 65535)
            return false;
    }
    target.port = static_cast<uint16_t>(port);
    return target.host.Set(authority, hostLength) && SetObject(target, authority + length);
}

// A reference without a server: resolved against the object that answered.
bool SetRelative(RedirectTarget& target, const char* reference, const char* base)
{
    if (reference[0] == '/' || reference[0] == '#')
        return SetObject(target, reference[0] == '/' ? reference : base);
    const size_t path = std::strcspn(base, "?#");
    size_t kept = path;
    // A path replaces the last segment of the answering object; a query only its query.
    if (reference[0] != '?') {
        while (kept > 0 && base[kept - 1] != '/')
            --kept;
    }
    return Join(target.object, base, kept, reference, std::strcspn(reference, "#"));
}

}  // namespace

RedirectTarget ResolveRedirect(const char* location, const char* host, uint16_t port,
                               const char* object)
{
    RedirectTarget target;
    if (location == nullptr || location[0] == '\0' || HasControlOrSpace(location))
        return target;
    const size_t scheme = SchemeLength(location);
    if (scheme != 0 && !IsHttps(location, scheme)) {
        target.kind = RedirectKind::LeavesTls;
        return target;
    }
    const char* rest = location + (scheme != 0 ? scheme + 1 : 0);
    bool resolved;
    if (std::strncmp(rest, "//", 2) == 0) {
        resolved = SetServer(target, rest + 2);
    } else if (scheme != 0) {
        resolved = false;  // "https:" without a server
    } else {
        target.port = port;
        resolved = target.host.Set(host != nullptr ? host : "") &&
                   SetRelative(target, rest, object != nullptr ? object : "/");
    }
    // An answering object without its "/" leaves a relative one without it too.
    if (resolved && target.object.GetText()[0] != '/')
        resolved = Join(target.object, "/", 1, target.object.GetText(), target.object.GetLength());
    if (resolved && target.host.GetLength() > 0)
        target.kind = RedirectKind::Follow;
    return target;
}
