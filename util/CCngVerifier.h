// SHA-256 and ECDSA P-256 signature checks through the system's cryptography library (CNG,
// bcrypt.dll), bound at run time from the system folder: a system without it (or without
// the algorithms) can still run the program, it only cannot check signatures.
#pragma once

#include "util/UpdateKeyText.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

class CCngVerifier {
public:
    enum class Verdict { kVerified, kBadSignature, kKeyUnusable, kUnavailable };

    // Loads the library and opens both algorithms; IsAvailable tells whether that worked.
    CCngVerifier();
    virtual ~CCngVerifier();

    CCngVerifier(const CCngVerifier&) = delete;
    CCngVerifier& operator=(const CCngVerifier&) = delete;

    bool IsAvailable() const;
    // Whether the one-call hash is there (else the create, hash and finish calls are used).
    bool HasOneCallHash() const;

    bool Sha256(const void* data, size_t size, uint8_t (&digest)[32]) const;

    // Checks the r then s signature of a SHA-256 digest with the key.
    Verdict VerifyP256(const EcPublicKey& key, const uint8_t (&digest)[32],
                       const uint8_t (&rs)[64]) const;

private:
    struct Library;
    std::unique_ptr<Library> m_library;
};
