#include "util/DerSignature.h"
#include "util/SignedAnswer.h"
#include "util/UpdateKeyText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A P-256 key as "openssl ec -pubout" gives it, and the same key in other forms.
const wchar_t kKey[] =
    L"MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEYQwVWjLBM90dlIfFtxxglvO0UuWIbhpIpLmVpnAx"
    L"AYDJMm1D3K57OLum0DfLpok38MAWQpTGmSOeZbRS0JaVTw==";
const wchar_t kCompressed[] =
    L"MDkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDIgADYQwVWjLBM90dlIfFtxxglvO0UuWIbhpIpLmVpnAxAYA=";
const wchar_t kSecp256k1[] =
    L"MFYwEAYHKoZIzj0CAQYFK4EEAAoDQgAE+u9iF5ovpP0WKdStP5DKvI1UW0ZYw51I8eJeSUmBt8ruG49Xe9U6zs96Y4Dh"
    L"nVpc8NDOmTbI5TAK/eSBrf3hJg==";
const uint8_t kKeyX0 = 0x61;
const uint8_t kKeyY63 = 0x4F;

TEST(UpdateKeyText, KeyListsGiveTheirUsableKeys)
{
    const std::wstring key(kKey);
    const std::wstring truncated = key.substr(0, key.size() - 4);
    std::wstring oneByteLonger = key.substr(0, key.size() - 2) + L"AAA=";
    std::wstring badPrefix = key;
    badPrefix[0] = L'N';  // the outer SEQUENCE's tag changes
    struct Row {
        const char* name;
        std::wstring text;
        size_t keys;
        size_t pieces;
    };
    const Row rows[] = {
        {"one key", key, 1, 1},
        {"two keys, blanks around them", L" " + key + L" ;\r\n" + key + L"\t", 2, 2},
        {"empty", L"", 0, 0},
        {"only separators and blanks", L" ; ;", 0, 0},
        {"trailing separator", key + L";", 1, 1},
        {"truncated", truncated, 0, 1},
        {"one byte longer", oneByteLonger, 0, 1},
        {"other tag", badPrefix, 0, 1},
        {"compressed point", kCompressed, 0, 1},
        {"another curve", kSecp256k1, 0, 1},
        {"another curve of the same size",
         L"MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQYDQgAEYQwVWjLBM90dlIfFtxxglvO0UuWIbhpIpLmVpnAxAYDJMm1D3K57"
         L"OLum0DfLpok38MAWQpTGmSOeZbRS0JaVTw==",
         0, 1},
        {"hybrid point form",
         L"MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAGYQwVWjLBM90dlIfFtxxglvO0UuWIbhpIpLmVpnAxAYDJMm1D3K57"
         L"OLum0DfLpok38MAWQpTGmSOeZbRS0JaVTw==",
         0, 1},
        {"without its padding", key.substr(0, key.size() - 2), 0, 1},
        {"a line break inside", key.substr(0, 64) + L"\n" + key.substr(64), 0, 1},
        {"junk between the keys", key + L";junk!;" + key, 2, 3},
        {"a character beyond ASCII", key.substr(0, 10) + L"\u00e9" + key.substr(11), 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EcPublicKey keys[kMaxUpdateKeys] = {};
        size_t pieces = 99;
        EXPECT_EQ(row.keys, ParseUpdateKeyList(row.text.c_str(), keys, kMaxUpdateKeys, &pieces));
        EXPECT_EQ(row.pieces, pieces);
        for (size_t i = 0; i < row.keys; ++i) {
            EXPECT_EQ(kKeyX0, keys[i].xy[0]);
            EXPECT_EQ(kKeyY63, keys[i].xy[63]);
        }
    }
}

std::vector<uint8_t> Integer(std::vector<uint8_t> value)
{
    value.insert(value.begin(), {0x02, static_cast<uint8_t>(value.size())});
    return value;
}

std::vector<uint8_t> Sequence(const std::vector<uint8_t>& r, const std::vector<uint8_t>& s)
{
    std::vector<uint8_t> der = {0x30, static_cast<uint8_t>(r.size() + s.size())};
    der.insert(der.end(), r.begin(), r.end());
    der.insert(der.end(), s.begin(), s.end());
    return der;
}

TEST(DerSignature, OnlyTheStrictFormIsRead)
{
    const std::vector<uint8_t> full(32, 0x11);
    std::vector<uint8_t> high(32, 0x22);
    high[0] = 0x80;
    std::vector<uint8_t> highPadded = high;
    highPadded.insert(highPadded.begin(), 0x00);
    const std::vector<uint8_t> r = Integer(full);
    const std::vector<uint8_t> s = Integer(highPadded);
    std::vector<uint8_t> withTrailing = Sequence(r, s);
    withTrailing.push_back(0x00);
    std::vector<uint8_t> outerTooLong = Sequence(r, s);
    outerTooLong[1] += 1;
    std::vector<uint8_t> longForm = Sequence(r, s);
    longForm.insert(longForm.begin() + 1, 0x81);
    std::vector<uint8_t> tooBig(33, 0x01);
    struct Row {
        const char* name;
        std::vector<uint8_t> der;
        bool ok;
        uint8_t r0;
        uint8_t s0;
    };
    const Row rows[] = {
        {"32-byte r, 33-byte s with its sign zero", Sequence(r, s), true, 0x11, 0x80},
        {"short integers right-aligned", Sequence(Integer({0x05}), Integer({0x7F, 0x01})), true,
         0x00, 0x00},
        {"trailing byte", withTrailing, false, 0, 0},
        {"sequence length beyond the bytes", outerTooLong, false, 0, 0},
        {"sequence length in long form", longForm, false, 0, 0},
        {"truncated",
         [&] {
             std::vector<uint8_t> d = Sequence(r, s);
             d.pop_back();
             return d;
         }(),
         false, 0, 0},
        {"one integer only", Sequence(r, {}), false, 0, 0},
        {"three integers",
         [&] {
             std::vector<uint8_t> d = Sequence(r, s);
             d.insert(d.end(), {0x02, 0x01, 0x01});
             d[1] += 3;
             return d;
         }(),
         false, 0, 0},
        {"integer of length zero", Sequence(r, Integer({})), false, 0, 0},
        {"zero value", Sequence(r, Integer({0x00})), false, 0, 0},
        {"negative", Sequence(Integer(high), s), false, 0, 0},
        {"needless leading zero", Sequence(Integer({0x00, 0x7F}), s), false, 0, 0},
        {"33 bytes without a sign zero", Sequence(r, Integer(tooBig)), false, 0, 0},
        {"33 value bytes after a sign zero", Sequence(r, Integer([] {
                                                          std::vector<uint8_t> v(34, 0x90);
                                                          v[0] = 0x00;
                                                          return v;
                                                      }())),
         false, 0, 0},
        {"integer tag wrong",
         [&] {
             std::vector<uint8_t> d = Sequence(r, s);
             d[2] = 0x03;
             return d;
         }(),
         false, 0, 0},
        {"empty", {}, false, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        uint8_t rs[kP256SignatureSize] = {};
        ASSERT_EQ(row.ok, ParseDerSignature(row.der.data(), row.der.size(), rs));
        if (row.ok) {
            EXPECT_EQ(row.r0, rs[0]);
            EXPECT_EQ(row.s0, rs[32]);
            EXPECT_NE(0, rs[31]);
            EXPECT_NE(0, rs[63]);
        }
    }
}

TEST(SignedAnswer, EnvelopeSignatureDigestAndExpiry)
{
    const std::string digest(64, 'a');
    const std::string answer = "head <MVHostVersion>\n<DlkIniSha256> " + digest +
                               "\n</DlkIniSha256><MVExpires>2030-02-28T23:59:59Z</MVExpires>"
                               "</MVHostVersion></MVHostVersion>\n<MVSignature>MEQC\r\nAQ==\n"
                               "</MVSignature>";
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(answer.data());
    SignedAnswerParts parts;
    FindSignedAnswer(bytes, answer.size(), parts);
    EXPECT_EQ(5u, parts.envelopeStart);
    EXPECT_EQ(answer.find("</MVHostVersion>") + 16 - 5, parts.envelopeLength);
    EXPECT_TRUE(parts.hasSignature && parts.signatureDecoded);
    EXPECT_EQ(4u, parts.signatureSize);
    uint8_t sha[kSha256Size] = {};
    EXPECT_EQ(TagRead::kRead, ReadIniDigest(bytes + 5, parts.envelopeLength, sha));
    EXPECT_EQ(0xAA, sha[31]);
    int64_t when = 0;
    EXPECT_EQ(TagRead::kRead, ReadExpiry(bytes + 5, parts.envelopeLength, &when));
    EXPECT_EQ(1898553599, when);

    FindSignedAnswer(bytes, answer.find("</MVHostVersion>"), parts);
    EXPECT_EQ(0u, parts.envelopeLength) << "unclosed";
    for (const std::string& bad :
         {std::string(63, 'a'), std::string(65, 'a'), "g" + digest.substr(1)}) {
        const std::string tag = "<DlkIniSha256>" + bad + "</DlkIniSha256>";
        EXPECT_EQ(TagRead::kMalformed,
                  ReadIniDigest(reinterpret_cast<const uint8_t*>(tag.data()), tag.size(), sha));
    }
    const char* const badTimes[] = {"2030-02-29T00:00:00Z", "2100-02-29T00:00:00Z",
                                    "2030-04-31T00:00:00Z", "2030-13-01T00:00:00Z",
                                    "2030-01-01T24:00:00Z", "2030-01-01 00:00:00Z",
                                    "2030-01-01T00:00:00",  "2030-01-01T00:00:0xZ"};
    for (const char* bad : badTimes) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseUtcTime(bad, std::strlen(bad), &when));
    }
    // Leap days of a fourth and of a four-hundredth year, the day after a century's February.
    const struct {
        const char* text;
        int64_t seconds;
    } goodTimes[] = {{"2028-02-29T00:00:00Z", 1835395200},
                     {"2000-02-29T12:00:00Z", 951825600},
                     {"2100-03-01T00:00:00Z", 4107542400},
                     {"2030-12-31T23:59:59Z", 1924991999}};
    for (const auto& good : goodTimes) {
        SCOPED_TRACE(good.text);
        when = 0;
        EXPECT_TRUE(ParseUtcTime(good.text, std::strlen(good.text), &when));
        EXPECT_EQ(good.seconds, when);
    }
}

TEST(SignedAnswer, SerialsAreDecimalNumbersFromOneTo2To63Minus1)
{
    const struct {
        const char* text;
        bool ok;
        uint64_t value;
    } rows[] = {
        {"1", true, 1},
        {"1765000000", true, 1765000000},
        {"007", true, 7},
        {"9223372036854775807", true, kMaxSerial},
        {"9223372036854775808", false, 0},
        {"18446744073709551616", false, 0},
        {"99999999999999999999", false, 0},
        {"0", false, 0},
        {"", false, 0},
        {"-1", false, 0},
        {"+1", false, 0},
        {"1 2", false, 0},
        {"12a", false, 0},
        {"0x10", false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        uint64_t value = 0;
        EXPECT_EQ(row.ok, ParseSerial(row.text, std::strlen(row.text), &value));
        if (row.ok) {
            EXPECT_EQ(row.value, value);
        }
    }
}

TEST(SignedAnswer, SerialAndServerAreReadFromTheirTags)
{
    const std::string envelope = "<MVHostVersion><MVSerial> 42\n</MVSerial>"
                                 "<MVServer> Update.Example.com:8443/update </MVServer>"
                                 "</MVHostVersion>";
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(envelope.data());
    uint64_t serial = 0;
    EXPECT_EQ(TagRead::kRead, ReadSerial(bytes, envelope.size(), &serial));
    EXPECT_EQ(42u, serial);
    size_t start = 0;
    size_t length = 0;
    ASSERT_EQ(TagRead::kRead, FindTagText(bytes, envelope.size(), "MVServer", &start, &length));
    const struct {
        const char* server;
        bool same;
    } names[] = {
        {"update.example.com:8443/update", true}, {"UPDATE.EXAMPLE.COM:8443/UPDATE", true},
        {"update.example.com/update", false},     {"update.example.com:8443/update2", false},
        {"update.example.com:8443/updat", false}, {"", false},
    };
    for (const auto& row : names) {
        SCOPED_TRACE(row.server);
        EXPECT_EQ(row.same, IsSameServerName(bytes + start, length, row.server));
    }

    const std::string unclosed = "<MVSerial>42";
    const std::string malformed = "<MVSerial>4 2</MVSerial>";
    EXPECT_EQ(TagRead::kAbsent, ReadSerial(reinterpret_cast<const uint8_t*>(unclosed.data()),
                                           unclosed.size(), &serial));
    EXPECT_EQ(TagRead::kMalformed, ReadSerial(reinterpret_cast<const uint8_t*>(malformed.data()),
                                              malformed.size(), &serial));
}

}  // namespace
