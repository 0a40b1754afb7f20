// The check of signed answers: with update keys set ("MVUpdateKey"), the version answer must
// carry a signature of its envelope by one of them, the INI's digest, and no expiry in the past;
// the INI must then have that digest. Without keys nothing is checked.
#pragma once

#include "util/SignedAnswer.h"

#include <cstddef>
#include <cstdint>

class CAnswerCheck {
public:
    CAnswerCheck() = default;
    virtual ~CAnswerCheck() = default;

    CAnswerCheck(const CAnswerCheck&) = delete;
    CAnswerCheck& operator=(const CAnswerCheck&) = delete;

    // The version answer's bytes as they arrived. Reads the keys; true when none are set, or
    // when the answer passes (its INI digest is then kept). A refusal is traced with its reason.
    bool AdmitVersionAnswer(const uint8_t* bytes, size_t size);

    // Where the envelope that passed lies in the answer; false when no signature was checked.
    bool GetSignedEnvelope(size_t* start, size_t* length) const;

    // The INI's bytes as they arrived: true when no digest is expected or the bytes have it.
    bool AdmitIni(const uint8_t* bytes, size_t size);

private:
    enum class KeySetting { kAbsent, kUnreadable, kText };
    KeySetting ReadKeySetting(wchar_t* text, size_t cchText) const;
    bool Refuse(const wchar_t* reason);

    bool m_bDigestExpected = false;
    size_t m_envelopeStart = 0;
    size_t m_envelopeLength = 0;
    uint8_t m_iniDigest[kSha256Size] = {};
};
