#include "util/RolloutText.h"

#include "util/SafeString.h"
#include "util/TagReader.h"

namespace {

// Longer than any share: a value this long is unreadable, not missing.
constexpr size_t kTagValueSize = 32;

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// Reads between 1 and maxDigits digits at *text; false when there is none or more follow.
bool ReadDigits(const wchar_t*& text, size_t maxDigits, uint32_t* value)
{
    size_t count = 0;
    *value = 0;
    while (IsDigit(*text)) {
        if (++count > maxDigits)
            return false;
        *value = *value * 10 + static_cast<uint32_t>(*text - L'0');
        ++text;
    }
    return count > 0;
}

}  // namespace

bool ParseRolloutShare(const wchar_t* text, uint32_t* hundredths)
{
    if (text == nullptr)
        return false;
    uint32_t whole = 0;
    if (!ReadDigits(text, 3, &whole))
        return false;
    uint32_t fraction = 0;
    if (*text == L'.') {
        ++text;
        const wchar_t* first = text;
        if (!ReadDigits(text, 2, &fraction))
            return false;
        // One decimal is tenths: "12.5" is 12.50.
        if (text - first == 1)
            fraction *= 10;
    }
    const uint32_t value = whole * 100 + fraction;
    if (*text != L'\0' || value > kFullRollout)
        return false;
    *hundredths = value;
    return true;
}

RolloutTag ReadRolloutTag(const wchar_t* envelope, uint32_t* hundredths)
{
    *hundredths = kFullRollout;
    if (WcsFind(envelope, L"<MVRollout>") == nullptr)
        return RolloutTag::kAbsent;
    wchar_t value[kTagValueSize] = {};
    // The reader answers its own buffer only for a value it found whole.
    if (TagGetString(envelope, L"MVRollout", kTagValueSize, value, L"") != value)
        return RolloutTag::kUnreadable;
    uint32_t share = 0;
    if (!ParseRolloutShare(value, &share))
        return RolloutTag::kUnreadable;
    *hundredths = share;
    return RolloutTag::kShare;
}

bool ParseRolloutBucket(const wchar_t* text, uint32_t* bucket)
{
    if (text == nullptr)
        return false;
    uint32_t value = 0;
    if (!ReadDigits(text, 4, &value) || *text != L'\0')
        return false;
    *bucket = value;
    return true;
}

uint32_t BucketFromRandom(uint32_t random)
{
    // 2^32 is no multiple of 10000: the low buckets come up more often by less than one part in
    // 400000, far below anything a rollout could tell.
    return random % kRolloutBuckets;
}

bool IsInRollout(uint32_t bucket, uint32_t hundredths)
{
    return bucket < hundredths;
}

void FormatRolloutShare(uint32_t hundredths, wchar_t (&text)[kShareTextSize])
{
    const unsigned whole = hundredths / 100;
    const unsigned fraction = hundredths % 100;
    if (fraction == 0)
        BoundedFormat(text, kShareTextSize, L"%u", whole);
    else if (fraction % 10 == 0)
        BoundedFormat(text, kShareTextSize, L"%u.%u", whole, fraction / 10);
    else
        BoundedFormat(text, kShareTextSize, L"%u.%02u", whole, fraction);
}
