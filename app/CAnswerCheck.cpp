#include "app/CAnswerCheck.h"

#include "app/AppTrace.h"
#include "app/VersionText.h"
#include "trace/TraceText.h"
#include "util/CCngVerifier.h"
#include "util/CPrivateTempFolder.h"
#include "util/ConfigStore.h"
#include "util/SafeString.h"
#include "util/Utf8.h"
#include "util/SettingNames.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace {

// 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
// An answer may be replayed until it expires: no release is fresh for more than this.
constexpr int64_t kMaxExpiryAheadSeconds = 400ll * 24 * 60 * 60;
// Room for a serial's digits, with a terminator.
constexpr DWORD kSerialTextSize = 32;
// A server's name as the answer names it, in UTF-8.
constexpr int kServerUtf8Size = 3 * kServerNameSize + 1;

int64_t SecondsSince1970()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    return static_cast<int64_t>((ticks - kUnixEpochAsFileTime) / 10000000ull);
}

bool StartsWithHttps(const wchar_t* url)
{
    static const wchar_t kScheme[] = L"https://";
    for (size_t i = 0; kScheme[i] != L'\0'; ++i) {
        wchar_t c = url[i];
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != kScheme[i])
            return false;
    }
    // A host must follow: "https://" alone or "https:///x" names no server.
    return url[8] != L'\0' && url[8] != L'/';
}

// The highest serial this machine admitted: 0 when none is stored, false when the stored text
// is no serial (then nothing can show an answer to be new).
bool ReadStoredSerial(uint64_t* serial)
{
    *serial = 0;
    wchar_t text[kSerialTextSize] = {};
    const CfgTextRead read =
        CfgReadText(kSettingsSection, kLastSerialSetting, text, kSerialTextSize);
    if (read == CfgTextRead::kAbsent)
        return true;
    if (read != CfgTextRead::kText)
        return false;
    char narrow[kSerialTextSize] = {};
    size_t length = 0;
    for (; text[length] != L'\0'; ++length) {
        if (text[length] > 0x7f)
            return false;
        narrow[length] = static_cast<char>(text[length]);
    }
    return ParseSerial(narrow, length, serial);
}

// Decimal digits of a serial, without the C runtime's formatter (not every one knows 64 bits).
void FormatSerial(uint64_t serial, wchar_t (&text)[kSerialTextSize])
{
    wchar_t reversed[kSerialTextSize] = {};
    size_t n = 0;
    do {
        reversed[n++] = static_cast<wchar_t>(L'0' + serial % 10);
        serial /= 10;
    } while (serial != 0 && n < kSerialTextSize - 1);
    for (size_t i = 0; i < n; ++i)
        text[i] = reversed[n - 1 - i];
    text[n] = L'\0';
}

}  // namespace

void CAnswerCheck::ReadKeys()
{
    if (m_bKeysRead)
        return;
    m_bKeysRead = true;
    ReadUpdateKeySetting(m_keys);
    if (m_keys.state == UpdateKeyState::kAbsent) {
        TraceText(TRACE_LEVEL_PROGRESS,
                  L"Update answers are not signature-checked (no MVUpdateKey).");
    }
    if (m_keys.pieces > kMaxUpdateKeys) {
        TraceFormat(TRACE_LEVEL_PROGRESS, kShortRecord,
                    L"MVUpdateKey holds %u keys: only the first %u are used.",
                    static_cast<unsigned>(m_keys.pieces), static_cast<unsigned>(kMaxUpdateKeys));
    }
}

bool CAnswerCheck::AreKeysSet()
{
    ReadKeys();
    return m_keys.state != UpdateKeyState::kAbsent;
}

bool CAnswerCheck::Refuse(const wchar_t* reason)
{
    m_bDigestExpected = false;
    m_bStoredDigestKept = false;
    return TraceRefusal(reason);
}

bool CAnswerCheck::TraceRefusal(const wchar_t* reason)
{
    TraceFormat(TRACE_LEVEL_DETAIL, kShortRecord, L"Update answer refused: %ls.", reason);
    return false;
}

bool CAnswerCheck::AdmitVersionAnswer(const uint8_t* bytes, size_t size, const wchar_t* server)
{
    m_bDigestExpected = false;
    m_bStoredDigestKept = false;
    if (!AreKeysSet())
        return true;
    if (m_keys.state != UpdateKeyState::kKeys)
        return Refuse(L"update key unusable");
    CCngVerifier cng;
    if (!cng.IsAvailable())
        return Refuse(L"verification unavailable");

    SignedAnswerParts parts;
    FindSignedAnswer(bytes, size, parts);
    if (parts.envelopeLength == 0 || !parts.hasSignature)
        return Refuse(L"signature missing");
    uint8_t rs[kP256SignatureSize] = {};
    if (!parts.signatureDecoded || !ParseDerSignature(parts.signature, parts.signatureSize, rs))
        return Refuse(L"signature invalid");
    const uint8_t* envelope = bytes + parts.envelopeStart;
    uint8_t digest[kSha256Size] = {};
    if (!cng.Sha256(envelope, parts.envelopeLength, digest))
        return Refuse(L"verification unavailable");
    size_t verifiedBy = 0;
    size_t importable = 0;
    for (size_t i = 0; i < m_keys.count && verifiedBy == 0; ++i) {
        const CCngVerifier::Verdict verdict = cng.VerifyP256(m_keys.keys[i], digest, rs);
        if (verdict == CCngVerifier::Verdict::kVerified)
            verifiedBy = i + 1;
        if (verdict != CCngVerifier::Verdict::kKeyUnusable)
            ++importable;
    }
    if (verifiedBy == 0)
        return Refuse(importable == 0 ? L"update key unusable" : L"signature invalid");
    if (!CheckEnvelope(envelope, parts.envelopeLength, server))
        return false;
    m_bDigestExpected = true;
    m_envelopeStart = parts.envelopeStart;
    m_envelopeLength = parts.envelopeLength;
    TraceFormat(TRACE_LEVEL_DETAIL, kShortRecord, L"Update answer signature verified with key %u.",
                static_cast<unsigned>(verifiedBy));
    return true;
}

bool CAnswerCheck::CheckEnvelope(const uint8_t* envelope, size_t size, const wchar_t* server)
{
    if (ReadIniDigest(envelope, size, m_iniDigest) != TagRead::kRead)
        return Refuse(L"INI digest missing");
    int64_t expires = 0;
    // Without a readable expiry nothing shows the answer to be fresh: it could be replayed
    // for ever.
    if (ReadExpiry(envelope, size, &expires) != TagRead::kRead)
        return Refuse(L"answer expired");
    const int64_t now = SecondsSince1970();
    if (expires <= now)
        return Refuse(L"answer expired");
    if (expires - now > kMaxExpiryAheadSeconds)
        return Refuse(L"expiry too far ahead");
    // One key may sign for several sites: the answer must be meant for the one asked.
    char name[kServerUtf8Size] = {};
    size_t start = 0;
    size_t length = 0;
    if (WideToUtf8(server, name, kServerUtf8Size) <= 0 ||
        FindTagText(envelope, size, "MVServer", &start, &length) != TagRead::kRead ||
        !IsSameServerName(envelope + start, length, name))
        return Refuse(L"answer for another server");
    return CheckSerial(envelope, size);
}

bool CAnswerCheck::CheckSerial(const uint8_t* envelope, size_t size)
{
    if (ReadSerial(envelope, size, &m_serial) != TagRead::kRead)
        return Refuse(L"serial missing");
    uint64_t stored = 0;
    if (!ReadStoredSerial(&stored))
        return Refuse(L"stored serial unreadable");
    if (m_serial < stored) {
        wchar_t digits[kSerialTextSize] = {};
        FormatSerial(stored, digits);
        wchar_t reason[64] = {};
        BoundedFormat(reason, 64, L"older than serial %ls", digits);
        return Refuse(reason);
    }
    return true;
}

bool CAnswerCheck::AdmitAnswerValues(const VersionAnswer& answer)
{
    // A share the machine cannot read could be meant for none of it or for all of it: neither
    // is a guess to act on, signed or not.
    if (answer.rollout == RolloutTag::kUnreadable)
        return Refuse(L"rollout unreadable");
    if (!m_bDigestExpected)
        return true;
    // The INI's URL and the root the library fetches every file from.
    wchar_t iniUrl[kUrlSize] = {};
    BuildIniUrl(iniUrl, answer.urlRoot, answer.iniName, answer.urlRootEx);
    if (!StartsWithHttps(answer.urlRoot) || !StartsWithHttps(iniUrl))
        return Refuse(L"URL root not over TLS");
    RaiseStoredSerial();
    return true;
}

void CAnswerCheck::RaiseStoredSerial()
{
    uint64_t stored = 0;
    if (ReadStoredSerial(&stored) && stored == m_serial)
        return;
    wchar_t text[kSerialTextSize] = {};
    FormatSerial(m_serial, text);
    if (!CfgSetString(kSettingsSection, kLastSerialSetting, text))
        TraceText(TRACE_LEVEL_DETAIL, L"MVLastSerial could not be stored.");
}

bool CAnswerCheck::GetSignedEnvelope(size_t* start, size_t* length) const
{
    *start = m_envelopeStart;
    *length = m_envelopeLength;
    return m_bDigestExpected;
}

bool CAnswerCheck::AdmitIni(const uint8_t* bytes, size_t size)
{
    if (!m_bDigestExpected)
        return true;
    CCngVerifier cng;
    uint8_t digest[kSha256Size] = {};
    if (!cng.Sha256(bytes, size, digest))
        return Refuse(L"verification unavailable");
    if (std::memcmp(digest, m_iniDigest, sizeof(digest)) != 0)
        return Refuse(L"INI digest mismatch");
    return true;
}

void CAnswerCheck::NoteStoredIni(const void* bytes, DWORD count)
{
    m_bStoredDigestKept = false;
    if (!m_bDigestExpected)
        return;
    CCngVerifier cng;
    m_bStoredDigestKept = cng.Sha256(bytes, count, m_storedDigest);
}

bool CAnswerCheck::RecheckStoredIni(const CPrivateTempFolder& folder)
{
    if (!m_bDigestExpected)
        return true;
    DWORD size = 0;
    if (!m_bStoredDigestKept || !folder.GetStoredFileSize(&size))
        return TraceRefusal(L"INI digest mismatch");
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
    DWORD read = 0;
    if (!bytes || !folder.ReadStoredFile(bytes.get(), size, &read))
        return TraceRefusal(L"INI digest mismatch");
    CCngVerifier cng;
    uint8_t digest[kSha256Size] = {};
    if (!cng.Sha256(bytes.get(), read, digest))
        return TraceRefusal(L"verification unavailable");
    if (std::memcmp(digest, m_storedDigest, sizeof(digest)) != 0)
        return TraceRefusal(L"INI digest mismatch");
    return true;
}
