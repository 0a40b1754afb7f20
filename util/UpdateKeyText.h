// The update keys the machine trusts, as the operator stores them: one or more base64 texts of
// a DER SubjectPublicKeyInfo for an ECDSA P-256 key (the body of the PEM that "openssl ec
// -pubout" writes, without its line breaks), separated by ";".
// No Windows header here: this also builds natively for sanitizers and fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kEcCoordinateSize = 32;
constexpr size_t kEcPointSize = 2 * kEcCoordinateSize;
constexpr size_t kMaxUpdateKeys = 8;

// A P-256 public point: X then Y, each 32 bytes big-endian.
struct EcPublicKey {
    uint8_t xy[kEcPointSize];
};

// Strict base64 (RFC 4648 alphabet, "=" padding required, no white space) of length bytes of
// text into out; false when the text is no such encoding or decodes to more than cbOut bytes.
// *decoded receives the byte count.
bool Base64DecodeStrict(const char* text, size_t length, uint8_t* out, size_t cbOut,
                        size_t* decoded);

// One key's text (exactly length characters) to its point. Only the one DER form of an
// id-ecPublicKey key on prime256v1 with an uncompressed point is accepted.
bool ParseUpdateKey(const char* text, size_t length, EcPublicKey& key);

// The value as stored: pieces between ";" are trimmed of blanks, empty pieces are skipped, and
// a piece that is no usable key is skipped too. Fills at most maxKeys keys and answers how
// many; *pieces (when not null) receives the count of non-empty pieces, so a value holding
// text but no usable key can be told from an empty one.
size_t ParseUpdateKeyList(const wchar_t* text, EcPublicKey* keys, size_t maxKeys, size_t* pieces);
