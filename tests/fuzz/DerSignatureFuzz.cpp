// The strict DER signature reader against a model written from its contract, and the reading
// of a signed answer's parts from its raw bytes. Input: a mode byte, then
//   mode 0 (mod 4): the DER bytes themselves, any bytes;
//   mode 2 (mod 4): a version answer's bytes, any bytes;
//   mode odd:  a layout byte (bit 0: r gets a needless leading zero, bit 1: s does, bit 2: a
//              trailing byte, bit 3: the sequence length one off), r's length (0-40) and its
//              bytes, then s's bytes (the rest): encoded as DER the plain way, then read back.
#include "tests/fuzz/FuzzSupport.h"
#include "util/DerSignature.h"
#include "util/SignedAnswer.h"

#include <cstring>

namespace {

struct Model {
    bool ok = false;
    std::vector<uint8_t> rs;
};

// Plain reading of SEQUENCE { INTEGER, INTEGER } in DER: definite short-form lengths, each
// integer positive, minimal and of at most 32 value bytes, nothing after the sequence.
Model ModelParse(const std::vector<uint8_t>& d)
{
    Model m;
    if (d.size() < 2 || d[0] != 0x30 || (d[1] & 0x80) != 0 || d[1] + 2u != d.size())
        return m;
    std::vector<uint8_t> rs;
    size_t pos = 2;
    for (int n = 0; n < 2; ++n) {
        if (pos + 2 > d.size() || d[pos] != 0x02 || (d[pos + 1] & 0x80) != 0)
            return m;
        const size_t len = d[pos + 1];
        if (len == 0 || pos + 2 + len > d.size())
            return m;
        std::vector<uint8_t> v(d.begin() + pos + 2, d.begin() + pos + 2 + len);
        if ((v[0] & 0x80) != 0)
            return m;
        if (v[0] == 0 && (v.size() == 1 || (v[1] & 0x80) == 0))
            return m;
        if (v[0] == 0)
            v.erase(v.begin());
        if (v.size() > 32)
            return m;
        std::vector<uint8_t> padded(32 - v.size(), 0);
        padded.insert(padded.end(), v.begin(), v.end());
        rs.insert(rs.end(), padded.begin(), padded.end());
        pos += 2 + len;
    }
    if (pos != d.size())
        return m;
    m.ok = true;
    m.rs = rs;
    return m;
}

std::vector<uint8_t> EncodeInteger(std::vector<uint8_t> v, bool needlessZero)
{
    while (v.size() > 1 && v[0] == 0 && (v[1] & 0x80) == 0)
        v.erase(v.begin());
    if (v.empty() || (v[0] & 0x80) != 0 || needlessZero)
        v.insert(v.begin(), 0x00);
    v.insert(v.begin(), {0x02, static_cast<uint8_t>(v.size())});
    return v;
}

void Check(const std::vector<uint8_t>& der)
{
    uint8_t rs[kP256SignatureSize + fuzz::GuardedBuffer<uint8_t>::kGuard];
    std::memset(rs, 0x6B, sizeof(rs));
    const std::vector<uint8_t> exact(der);  // no spare bytes: ASan sees a read past the end
    const bool ok = ParseDerSignature(exact.data(), exact.size(),
                                      *reinterpret_cast<uint8_t(*)[kP256SignatureSize]>(rs));
    const Model m = ModelParse(der);
    FUZZ_CHECK(ok == m.ok, "accepts exactly what the model accepts");
    FUZZ_CHECK(!ok || std::memcmp(rs, m.rs.data(), kP256SignatureSize) == 0,
               "r and s right-aligned as the model reads them");
    for (size_t i = kP256SignatureSize; i < sizeof(rs); ++i)
        FUZZ_CHECK(rs[i] == 0x6B, "nothing written past r and s");
}

// The envelope is the first opening mark through the first closing mark after it; the
// signature tag is looked for only after it; the tags inside are read within its bytes.
void CheckAnswer(const std::string& answer)
{
    const std::vector<uint8_t> exact(answer.begin(), answer.end());
    SignedAnswerParts parts;
    FindSignedAnswer(exact.data(), exact.size(), parts);
    const std::string open = "<MVHostVersion>", close = "</MVHostVersion>";
    const size_t at = answer.find(open);
    const size_t end = at == std::string::npos ? at : answer.find(close, at + open.size());
    if (end == std::string::npos) {
        FUZZ_CHECK(parts.envelopeLength == 0 && !parts.hasSignature, "no envelope, nothing read");
        return;
    }
    FUZZ_CHECK(parts.envelopeStart == at && parts.envelopeLength == end + close.size() - at,
               "the envelope as the model finds it");
    const std::string after = answer.substr(end + close.size());
    const size_t sig = after.find("<MVSignature>");
    FUZZ_CHECK(parts.hasSignature == (sig != std::string::npos &&
                                      after.find("</MVSignature>", sig + 13) != std::string::npos),
               "a signature only when its tag is closed after the envelope");
    FUZZ_CHECK(parts.signatureSize <= kMaxDerSignatureSize, "decoded signature bounded");
    const std::vector<uint8_t> envelope(exact.begin() + static_cast<long>(at),
                                        exact.begin() + static_cast<long>(end + close.size()));
    uint8_t digest[kSha256Size];
    int64_t when = 0;
    ReadIniDigest(envelope.data(), envelope.size(), digest);
    if (ReadExpiry(envelope.data(), envelope.size(), &when) == TagRead::kRead)
        FUZZ_CHECK(when >= -62167219200LL && when < 253402300800LL, "a time of years 0 to 9999");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader in(data, size);
    const uint8_t mode = in.Byte();
    if ((mode & 3) == 2) {
        CheckAnswer(in.Rest());
        return 0;
    }
    if ((mode & 1) == 0) {
        const std::string rest = in.Rest();
        Check(std::vector<uint8_t>(rest.begin(), rest.end()));
        return 0;
    }
    const uint8_t layout = in.Byte();
    const size_t rLength = in.Byte() % 41;
    std::vector<uint8_t> r;
    for (size_t i = 0; i < rLength; ++i)
        r.push_back(in.Byte());
    const std::string rest = in.Rest();
    const std::vector<uint8_t> s(rest.begin(), rest.end());
    std::vector<uint8_t> body = EncodeInteger(r, (layout & 1) != 0);
    const std::vector<uint8_t> second = EncodeInteger(s, (layout & 2) != 0);
    body.insert(body.end(), second.begin(), second.end());
    if (body.size() > 120)
        return 0;
    std::vector<uint8_t> der = {0x30, static_cast<uint8_t>(body.size() + ((layout & 8) ? 1 : 0))};
    der.insert(der.end(), body.begin(), body.end());
    if ((layout & 4) != 0)
        der.push_back(layout);
    Check(der);
    // Plainly encoded values that fit come back whole.
    const Model m = ModelParse(der);
    if ((layout & 15) == 0 && m.ok) {
        uint8_t rs[kP256SignatureSize];
        FUZZ_CHECK(ParseDerSignature(der.data(), der.size(), rs), "a plain encoding is read");
    }
    return 0;
}
