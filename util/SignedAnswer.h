// The signed parts of a version answer, read from its bytes as they arrived: the envelope
// (from the first "<MVHostVersion>" through the first "</MVHostVersion>" after it), the
// "<MVSignature>" after it, and the envelope's "<DlkIniSha256>" and "<MVExpires>".
// No Windows header here: this also builds natively for sanitizers and fuzzing.
#pragma once

#include "util/DerSignature.h"

#include <cstddef>
#include <cstdint>

constexpr size_t kSha256Size = 32;

struct SignedAnswerParts {
    // Offset and length of the envelope in the answer; length 0 when it is missing or unclosed.
    size_t envelopeStart = 0;
    size_t envelopeLength = 0;
    // The signature tag's value, white space inside it dropped, base64-decoded.
    bool hasSignature = false;
    bool signatureDecoded = false;
    uint8_t signature[kMaxDerSignatureSize] = {};
    size_t signatureSize = 0;
};

// Finds the envelope and the signature in size bytes (zero bytes are ordinary bytes here).
void FindSignedAnswer(const uint8_t* bytes, size_t size, SignedAnswerParts& parts);

enum class TagRead { kAbsent, kMalformed, kRead };

// "<DlkIniSha256>": 64 hex digits of either case, blanks around them allowed.
TagRead ReadIniDigest(const uint8_t* envelope, size_t size, uint8_t (&digest)[kSha256Size]);

// The highest serial an answer may carry (2^63 - 1).
constexpr uint64_t kMaxSerial = 0x7fffffffffffffffull;

// The value of "<name>" (name without its brackets) up to the first "</name>" after it, blanks
// around it dropped: its offset and length in the envelope.
TagRead FindTagText(const uint8_t* envelope, size_t size, const char* name, size_t* start,
                    size_t* length);

// "<MVSerial>": a decimal number from 1 to kMaxSerial, blanks around it allowed.
TagRead ReadSerial(const uint8_t* envelope, size_t size, uint64_t* serial);

// The digits alone (exactly length characters): false for anything but a decimal number from
// 1 to kMaxSerial (no sign, no blanks).
bool ParseSerial(const char* text, size_t length, uint64_t* serial);

// Whether length bytes of value are the server's name, ASCII letters compared regardless of case.
bool IsSameServerName(const uint8_t* value, size_t length, const char* server);

// "<MVExpires>": a UTC time "YYYY-MM-DDTHH:MM:SSZ", blanks around it allowed, as seconds since
// 1970-01-01T00:00:00Z.
TagRead ReadExpiry(const uint8_t* envelope, size_t size, int64_t* secondsSince1970);

// The time text alone (exactly length characters); false for any other form or a date or
// time that does not exist.
bool ParseUtcTime(const char* text, size_t length, int64_t* secondsSince1970);
