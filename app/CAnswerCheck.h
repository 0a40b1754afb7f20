// The check of signed answers. With update keys set ("MVUpdateKey"), the version answer must
// carry a signature of its envelope by one of them, and inside the envelope the INI's digest,
// an expiry that is neither past nor too far ahead, the name of the server this machine asked,
// and a serial not below the highest one this machine ever admitted ("MVLastSerial"); the INI
// must then have that digest, and the stored INI must keep it until the library is done.
// Without keys nothing is checked.
#pragma once

#include "util/SignedAnswer.h"
#include "util/UpdateKeySetting.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

struct VersionAnswer;
class CPrivateTempFolder;

class CAnswerCheck {
public:
    CAnswerCheck() = default;
    virtual ~CAnswerCheck() = default;

    CAnswerCheck(const CAnswerCheck&) = delete;
    CAnswerCheck& operator=(const CAnswerCheck&) = delete;

    // Reads the keys for this run (once; later calls keep what was read). Without
    // "MVUpdateKey" that is traced: answers then go unchecked.
    void ReadKeys();
    // Whether "MVUpdateKey" is there, usable or not: answers are then checked before use.
    bool AreKeysSet();

    // The version answer's bytes as they arrived, and the server this machine asked (as
    // normalised from "SURL"). True when no keys are set, or when the envelope passes (its INI
    // digest and serial are then kept). A refusal is traced with its reason.
    bool AdmitVersionAnswer(const uint8_t* bytes, size_t size, const wchar_t* server);

    // The values read from the admitted envelope, before any is used: a rollout share, when
    // there is one, must be readable (also without keys), and the URL root the files and the
    // INI come from must be an https URL. Raises the stored serial when they pass.
    bool AdmitAnswerValues(const VersionAnswer& answer);

    // Where the envelope that passed lies in the answer; false when no signature was checked.
    bool GetSignedEnvelope(size_t* start, size_t* length) const;

    // The INI's bytes as they arrived: true when no digest is expected or the bytes have it.
    bool AdmitIni(const uint8_t* bytes, size_t size);

    // The bytes stored as the INI file for the library, written from an admitted INI.
    void NoteStoredIni(const void* bytes, DWORD count);
    // Before each library call: true when no digest is expected, or the stored file still
    // holds exactly the bytes written. A refusal is traced.
    bool RecheckStoredIni(const CPrivateTempFolder& folder);

private:
    bool CheckEnvelope(const uint8_t* envelope, size_t size, const wchar_t* server);
    bool CheckSerial(const uint8_t* envelope, size_t size);
    void RaiseStoredSerial();
    // Traces the refusal and forgets what was admitted.
    bool Refuse(const wchar_t* reason);
    // Traces the refusal only: a stored INI that changed keeps failing every attempt.
    bool TraceRefusal(const wchar_t* reason);

    bool m_bKeysRead = false;
    UpdateKeySetting m_keys;
    bool m_bDigestExpected = false;
    bool m_bStoredDigestKept = false;
    size_t m_envelopeStart = 0;
    size_t m_envelopeLength = 0;
    uint64_t m_serial = 0;
    uint8_t m_iniDigest[kSha256Size] = {};
    uint8_t m_storedDigest[kSha256Size] = {};
};
