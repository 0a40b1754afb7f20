#include "app/CAnswerCheck.h"

#include "app/AppTrace.h"
#include "trace/TraceText.h"
#include "util/CCngVerifier.h"
#include "util/ConfigStore.h"
#include "util/UpdateKeyText.h"

#include <windows.h>

#include <cstring>

namespace {

// Room for every key the check uses, with blanks and separators around them.
constexpr size_t kKeyTextSize = 2048;
// 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

int64_t SecondsSince1970()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    return static_cast<int64_t>((ticks - kUnixEpochAsFileTime) / 10000000ull);
}

}  // namespace

CAnswerCheck::KeySetting CAnswerCheck::ReadKeySetting(wchar_t* text, size_t cchText) const
{
    text[0] = L'\0';
    CRegKey section = CfgOpenSection(L"General", FALSE);
    if (!section)
        return KeySetting::kAbsent;
    DWORD type = 0;
    DWORD bytes = 0;
    const LONG found =
        RegQueryValueExW(section.Get(), L"MVUpdateKey", nullptr, &type, nullptr, &bytes);
    if (found == ERROR_FILE_NOT_FOUND)
        return KeySetting::kAbsent;
    // A value that is there but cannot be read as the keys' text must not read as no keys.
    if (found != ERROR_SUCCESS || type != REG_SZ || bytes >= cchText * sizeof(wchar_t))
        return KeySetting::kUnreadable;
    CfgGetStringBuf(L"General", L"MVUpdateKey", static_cast<DWORD>(cchText), text, L"");
    return KeySetting::kText;
}

bool CAnswerCheck::Refuse(const wchar_t* reason)
{
    m_bDigestExpected = false;
    TraceFormat(TRACE_LEVEL_DETAIL, 256, L"Update answer refused: %ls.", reason);
    return false;
}

bool CAnswerCheck::AdmitVersionAnswer(const uint8_t* bytes, size_t size)
{
    m_bDigestExpected = false;
    wchar_t keyText[kKeyTextSize] = {};
    const KeySetting setting = ReadKeySetting(keyText, kKeyTextSize);
    if (setting == KeySetting::kAbsent || (setting == KeySetting::kText && keyText[0] == L'\0'))
        return true;
    EcPublicKey keys[kMaxUpdateKeys] = {};
    const size_t keyCount = setting == KeySetting::kText
                                ? ParseUpdateKeyList(keyText, keys, kMaxUpdateKeys, nullptr)
                                : 0;
    if (keyCount == 0)
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
    for (size_t i = 0; i < keyCount && verifiedBy == 0; ++i) {
        const CCngVerifier::Verdict verdict = cng.VerifyP256(keys[i], digest, rs);
        if (verdict == CCngVerifier::Verdict::kVerified)
            verifiedBy = i + 1;
        if (verdict != CCngVerifier::Verdict::kKeyUnusable)
            ++importable;
    }
    if (verifiedBy == 0)
        return Refuse(importable == 0 ? L"update key unusable" : L"signature invalid");

    uint8_t iniDigest[kSha256Size] = {};
    if (ReadIniDigest(envelope, parts.envelopeLength, iniDigest) != TagRead::kRead)
        return Refuse(L"INI digest missing");
    int64_t expires = 0;
    const TagRead expiry = ReadExpiry(envelope, parts.envelopeLength, &expires);
    // An expiry that cannot be read cannot show the answer to be fresh.
    if (expiry == TagRead::kMalformed ||
        (expiry == TagRead::kRead && expires <= SecondsSince1970()))
        return Refuse(L"answer expired");
    std::memcpy(m_iniDigest, iniDigest, sizeof(m_iniDigest));
    m_bDigestExpected = true;
    m_envelopeStart = parts.envelopeStart;
    m_envelopeLength = parts.envelopeLength;
    TraceFormat(TRACE_LEVEL_DETAIL, 256, L"Update answer signature verified with key %u.",
                static_cast<unsigned>(verifiedBy));
    return true;
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
