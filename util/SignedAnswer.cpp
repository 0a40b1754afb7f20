#include "util/SignedAnswer.h"

#include "util/HexText.h"
#include "util/UpdateKeyText.h"

#include <cstring>

namespace {

constexpr char kEnvelopeOpen[] = "<MVHostVersion>";
constexpr char kEnvelopeClose[] = "</MVHostVersion>";
// The base64 of the longest DER signature, with room for line breaks inside it.
constexpr size_t kMaxSignatureText = 4 * ((kMaxDerSignatureSize + 2) / 3) + 64;

size_t Find(const uint8_t* bytes, size_t size, size_t from, const char* mark)
{
    const size_t length = std::strlen(mark);
    for (size_t i = from; i < size && size - i >= length; ++i) {
        if (std::memcmp(bytes + i, mark, length) == 0)
            return i;
    }
    return size;
}

bool IsBlank(uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The value between "<name>" and the first "</name>" after it, trimmed of blanks.
bool FindValue(const uint8_t* bytes, size_t size, const char* open, const char* close,
               size_t* start, size_t* length)
{
    const size_t at = Find(bytes, size, 0, open);
    if (at == size)
        return false;
    size_t first = at + std::strlen(open);
    size_t last = Find(bytes, size, first, close);
    if (last == size)
        return false;
    while (first < last && IsBlank(bytes[first]))
        ++first;
    while (last > first && IsBlank(bytes[last - 1]))
        --last;
    *start = first;
    *length = last - first;
    return true;
}

uint8_t AsciiLower(uint8_t c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c - 'A' + 'a') : c;
}

bool ReadDigits(const char* text, size_t count, int* value)
{
    *value = 0;
    for (size_t i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        *value = *value * 10 + (text[i] - '0');
    }
    return true;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int year, int month)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

void FindSignedAnswer(const uint8_t* bytes, size_t size, SignedAnswerParts& parts)
{
    parts = SignedAnswerParts();
    const size_t open = Find(bytes, size, 0, kEnvelopeOpen);
    if (open == size)
        return;
    const size_t close = Find(bytes, size, open + std::strlen(kEnvelopeOpen), kEnvelopeClose);
    if (close == size)
        return;
    const size_t end = close + std::strlen(kEnvelopeClose);
    parts.envelopeStart = open;
    parts.envelopeLength = end - open;
    size_t start = 0;
    size_t length = 0;
    if (!FindValue(bytes + end, size - end, "<MVSignature>", "</MVSignature>", &start, &length))
        return;
    parts.hasSignature = true;
    if (length > kMaxSignatureText)
        return;
    // Base64 tools break their lines; the breaks carry nothing.
    char text[kMaxSignatureText];
    size_t kept = 0;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = bytes[end + start + i];
        if (!IsBlank(c))
            text[kept++] = static_cast<char>(c);
    }
    parts.signatureDecoded = Base64DecodeStrict(text, kept, parts.signature,
                                                sizeof(parts.signature), &parts.signatureSize);
}

TagRead ReadIniDigest(const uint8_t* envelope, size_t size, uint8_t (&digest)[kSha256Size])
{
    size_t start = 0;
    size_t length = 0;
    if (!FindValue(envelope, size, "<DlkIniSha256>", "</DlkIniSha256>", &start, &length))
        return TagRead::kAbsent;
    if (length != 2 * kSha256Size)
        return TagRead::kMalformed;
    for (size_t i = 0; i < kSha256Size; ++i) {
        const int high = HexDigitValue(static_cast<char>(envelope[start + 2 * i]));
        const int low = HexDigitValue(static_cast<char>(envelope[start + 2 * i + 1]));
        if (high < 0 || low < 0)
            return TagRead::kMalformed;
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return TagRead::kRead;
}

TagRead FindTagText(const uint8_t* envelope, size_t size, const char* name, size_t* start,
                    size_t* length)
{
    // Tag names are short and fixed; one that does not fit is never found.
    char open[64];
    char close[64];
    const size_t nameLength = std::strlen(name);
    if (nameLength + 4 > sizeof(open))
        return TagRead::kAbsent;
    open[0] = '<';
    std::memcpy(open + 1, name, nameLength);
    std::memcpy(open + 1 + nameLength, ">", 2);
    close[0] = '<';
    close[1] = '/';
    std::memcpy(close + 2, name, nameLength);
    std::memcpy(close + 2 + nameLength, ">", 2);
    return FindValue(envelope, size, open, close, start, length) ? TagRead::kRead
                                                                 : TagRead::kAbsent;
}

TagRead ReadSerial(const uint8_t* envelope, size_t size, uint64_t* serial)
{
    size_t start = 0;
    size_t length = 0;
    if (FindTagText(envelope, size, "MVSerial", &start, &length) != TagRead::kRead)
        return TagRead::kAbsent;
    const char* text = reinterpret_cast<const char*>(envelope + start);
    return ParseSerial(text, length, serial) ? TagRead::kRead : TagRead::kMalformed;
}

bool ParseSerial(const char* text, size_t length, uint64_t* serial)
{
    if (length == 0 || length > 19)
        return false;
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (value > (kMaxSerial - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    if (value == 0)
        return false;
    *serial = value;
    return true;
}

bool IsSameServerName(const uint8_t* value, size_t length, const char* server)
{
    if (std::strlen(server) != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (AsciiLower(value[i]) != AsciiLower(static_cast<uint8_t>(server[i])))
            return false;
    }
    return true;
}

TagRead ReadExpiry(const uint8_t* envelope, size_t size, int64_t* secondsSince1970)
{
    size_t start = 0;
    size_t length = 0;
    if (!FindValue(envelope, size, "<MVExpires>", "</MVExpires>", &start, &length))
        return TagRead::kAbsent;
    const char* text = reinterpret_cast<const char*>(envelope + start);
    return ParseUtcTime(text, length, secondsSince1970) ? TagRead::kRead : TagRead::kMalformed;
}

bool ParseUtcTime(const char* text, size_t length, int64_t* secondsSince1970)
{
    // YYYY-MM-DDTHH:MM:SSZ
    if (length != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return false;
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!ReadDigits(text, 4, &year) || !ReadDigits(text + 5, 2, &month) ||
        !ReadDigits(text + 8, 2, &day) || !ReadDigits(text + 11, 2, &hour) ||
        !ReadDigits(text + 14, 2, &minute) || !ReadDigits(text + 17, 2, &second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    *secondsSince1970 =
        DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}
