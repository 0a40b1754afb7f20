// The DER form of an ECDSA signature, as "openssl dgst -sign" writes it, to the fixed r then s
// form that the system's verifier takes.
// No Windows header here: this also builds natively for sanitizers and fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kP256ScalarSize = 32;
constexpr size_t kP256SignatureSize = 2 * kP256ScalarSize;
// SEQUENCE of two INTEGERs of at most 33 bytes each (a leading zero before a high bit).
constexpr size_t kMaxDerSignatureSize = 2 + 2 * (2 + kP256ScalarSize + 1);

// Accepts exactly SEQUENCE { INTEGER r, INTEGER s }: short-form lengths that match the bytes
// given (nothing after the sequence), each integer positive, minimally encoded and below
// 2^256. r and s go right-aligned into rs (32 bytes each). false, rs unspecified, otherwise.
bool ParseDerSignature(const uint8_t* der, size_t size, uint8_t (&rs)[kP256SignatureSize]);
