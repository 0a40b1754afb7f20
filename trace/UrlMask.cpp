#include "trace/UrlMask.h"

#include "trace/SecretMask.h"
#include "util/SecureWipe.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// text with its token parameter masked, in a buffer of its own; null when memory ran out.
std::unique_ptr<char[]> MaskParameter(const char* text, size_t length, size_t* maskedLength)
{
    const size_t needed =
        MaskTokenParameters<char>(text, length, TokenExtent::ToTextEnd, nullptr, 0);
    std::unique_ptr<char[]> masked(new (std::nothrow) char[needed]);
    if (masked)
        MaskTokenParameters(text, length, TokenExtent::ToTextEnd, masked.get(), needed);
    *maskedLength = needed - 1;
    return masked;
}

}  // namespace

CKSCharStr MaskTokenInUrl(const char* text, const char* requestUrl)
{
    CKSCharStr shown;
    const char* source = text != nullptr ? text : "";
    const size_t sourceLength = std::strlen(source);
    const char* url = requestUrl != nullptr ? requestUrl : "";
    const char* token = TokenOfParameter(url, std::strlen(url));
    const SecretValue<char> value = {token, token != nullptr ? std::strlen(token) : 0};
    const bool hasValue = value.length > 0 && ContainsSecretValue(source, sourceLength, &value, 1);
    if (!hasValue && TokenOfParameter(source, sourceLength) == nullptr) {
        shown.Set(source, sourceLength);
        return shown;
    }
    size_t length = 0;
    std::unique_ptr<char[]> masked = MaskParameter(source, sourceLength, &length);
    if (!masked)
        return shown;
    if (!hasValue || !ContainsSecretValue(masked.get(), length, &value, 1)) {
        shown.Set(masked.get(), length);
        return shown;
    }
    const size_t needed = MaskSecretValues<char>(masked.get(), length, &value, 1, nullptr, 0);
    std::unique_ptr<char[]> out(new (std::nothrow) char[needed]);
    if (out) {
        MaskSecretValues(masked.get(), length, &value, 1, out.get(), needed);
        shown.Set(out.get(), needed - 1);
    }
    // The token stood in the text before its occurrences were masked.
    SecureWipe(masked.get(), length);
    return shown;
}
