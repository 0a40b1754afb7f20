#include "util/CCngVerifier.h"

#include "util/DerSignature.h"
#include "util/UpdateKeyText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A key, and a signature of "signed message" that "openssl dgst -sha256 -sign" made with it.
const wchar_t kKey[] =
    L"MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEYQwVWjLBM90dlIfFtxxglvO0UuWIbhpIpLmVpnAx"
    L"AYDJMm1D3K57OLum0DfLpok38MAWQpTGmSOeZbRS0JaVTw==";
const char kSignature[] =
    "MEQCIFKaaTbwSucIQ0AVsZBN5KPGNcUyXTGsgQn8KyKzIPt4AiAWW39QN0sxqxPIF7mbyAkF1RjnG"
    "aZ8xkJFq7qnwHeboQ==";
const char kMessage[] = "signed message";

TEST(CngVerifier, VerifiesWhatOpensslSignedAndNothingElse)
{
    CCngVerifier cng;
    ASSERT_TRUE(cng.IsAvailable());
    EcPublicKey key = {};
    ASSERT_EQ(1u, ParseUpdateKeyList(kKey, &key, 1, nullptr));
    uint8_t der[kMaxDerSignatureSize] = {};
    size_t derSize = 0;
    ASSERT_TRUE(
        Base64DecodeStrict(kSignature, std::strlen(kSignature), der, sizeof(der), &derSize));
    uint8_t rs[kP256SignatureSize] = {};
    ASSERT_TRUE(ParseDerSignature(der, derSize, rs));
    uint8_t digest[32] = {};
    ASSERT_TRUE(cng.Sha256(kMessage, std::strlen(kMessage), digest));
    EXPECT_EQ(CCngVerifier::Verdict::kVerified, cng.VerifyP256(key, digest, rs));

    struct Row {
        const char* name;
        int digestByte;
        int signatureByte;
        int keyByte;
    };
    const Row rows[] = {
        {"message changed", 5, -1, -1},
        {"r changed", -1, 3, -1},
        {"s changed", -1, 40, -1},
        // Not on the curve: the import may be refused (Wine 8 takes it); it never verifies.
        {"key off the curve", -1, -1, 63},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        uint8_t d[32];
        uint8_t s[kP256SignatureSize];
        EcPublicKey k = key;
        std::memcpy(d, digest, sizeof(d));
        std::memcpy(s, rs, sizeof(s));
        if (row.digestByte >= 0)
            d[row.digestByte] ^= 1;
        if (row.signatureByte >= 0)
            s[row.signatureByte] ^= 1;
        if (row.keyByte >= 0)
            k.xy[row.keyByte] ^= 1;
        const CCngVerifier::Verdict verdict = cng.VerifyP256(k, d, s);
        EXPECT_TRUE(verdict == CCngVerifier::Verdict::kBadSignature ||
                    (row.keyByte >= 0 && verdict == CCngVerifier::Verdict::kKeyUnusable))
            << static_cast<int>(verdict);
    }
}

}  // namespace
