// Fuzz target: the smaller pure text pieces, one per input, chosen by the first byte: bounded
// wide strings, Base64, request URL splitting and token masking, the trace message buffer, the
// narrow string class, path cutting and the operating-system class. Each is checked against
// what its description promises, with guarded outputs.
#include "mvurl/UrlText.h"
#include "tests/fuzz/FuzzSupport.h"
#include "threading/CKSCharStr.h"
#include "trace/CTraceMsgBuf.h"
#include "util/Base64.h"
#include "util/HexText.h"
#include "util/ModulePath.h"
#include "util/OSVersion.h"
#include "util/SafeString.h"

#include <cinttypes>
#include <utility>

namespace {

void CheckBoundedStrings(fuzz::InputReader& in)
{
    const size_t capacity = 1 + in.U16() % 300;
    const std::wstring first = fuzz::DecodeUtf8(in.Field());
    const size_t firstLimit = in.U16();
    const std::wstring second = fuzz::DecodeUtf8(in.Rest());

    fuzz::GuardedBuffer<wchar_t> dst(capacity);
    const std::wstring copied = first.substr(0, firstLimit);
    const int32_t copyResult = BoundedCopyN(dst.data(), capacity, first.c_str(), firstLimit);
    FUZZ_CHECK(dst.GuardIntact() && dst.Terminated(), "copy stays within and terminates");
    FUZZ_CHECK(dst.Text() == fuzz::CutTo(copied, capacity), "copy holds the source cut to size - 1");
    FUZZ_CHECK(copyResult == (copied.size() < capacity ? KS_S_OK : KS_E_INSUFFICIENT_BUFFER), "copy reports a cut");

    const std::wstring before = dst.Text();
    const int32_t appendResult = BoundedAppend(dst.data(), capacity, second.c_str());
    FUZZ_CHECK(dst.GuardIntact() && dst.Terminated(), "append stays within and terminates");
    FUZZ_CHECK(dst.Text() == fuzz::CutTo(before + second, capacity), "append adds the source cut to size - 1");
    FUZZ_CHECK(appendResult == (before.size() + second.size() < capacity ? KS_S_OK : KS_E_INSUFFICIENT_BUFFER),
               "append reports a cut");

    fuzz::GuardedBuffer<wchar_t> formatted(capacity);
    const int32_t formatResult = BoundedFormat(formatted.data(), capacity, L"[%ls|%d]", first.c_str(), static_cast<int>(firstLimit));
    const std::wstring whole = L"[" + first + L"|" + std::to_wstring(static_cast<int>(firstLimit)) + L"]";
    FUZZ_CHECK(formatted.GuardIntact() && formatted.Terminated(), "format stays within and terminates");
    FUZZ_CHECK(formatted.Text() == fuzz::CutTo(whole, capacity), "format holds the text cut to size - 1");
    FUZZ_CHECK(formatResult == (whole.size() < capacity ? KS_S_OK : KS_E_INSUFFICIENT_BUFFER), "format reports a cut");

    fuzz::GuardedBuffer<wchar_t> zeroed(capacity);
    const int safe = SafeWcsCopy(zeroed.data(), second.c_str(), capacity);
    FUZZ_CHECK(zeroed.GuardIntact() && zeroed.Text() == fuzz::CutTo(second, capacity), "zero-filling copy holds the cut source");
    FUZZ_CHECK(safe == (second.size() < capacity ? 1 : 2), "zero-filling copy reports a cut");
    for (size_t i = zeroed.TextLength(); i < capacity; ++i) FUZZ_CHECK(zeroed.data()[i] == 0, "rest of the copy zero-filled");
}

std::string DecodeBase64(const std::string& text)
{
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    FUZZ_CHECK(text.size() % 4 == 0, "Base64 comes in groups of four");
    std::string out;
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t group = 0;
        int pad = 0;
        for (size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=') {
                FUZZ_CHECK(i + 4 == text.size() && k >= 2, "padding only at the end");
                ++pad;
                group <<= 6;
                continue;
            }
            FUZZ_CHECK(pad == 0, "no character after padding");
            const size_t v = alphabet.find(c);
            FUZZ_CHECK(v != std::string::npos, "only alphabet characters");
            group = (group << 6) | static_cast<uint32_t>(v);
        }
        out += static_cast<char>(group >> 16);
        if (pad < 2) out += static_cast<char>((group >> 8) & 0xFF);
        if (pad < 1) out += static_cast<char>(group & 0xFF);
    }
    return out;
}

void CheckBase64(fuzz::InputReader& in)
{
    const size_t capacity = in.U16() % 800;
    const std::string bytes = in.Rest();
    fuzz::GuardedBuffer<char> out(capacity);
    // A length of 0 means a terminated text: the bytes are handed with a terminator then.
    const int n = Base64EncodeBounded(out.data(), capacity, bytes.c_str(), bytes.size());
    FUZZ_CHECK(out.GuardIntact(), "encoding stays within its output");
    if (Base64EncodedLength(bytes.size()) + 1 > capacity) {
        FUZZ_CHECK(n == -1, "an encoding that does not fit is refused");
        FUZZ_CHECK(capacity == 0 || out.data()[0] == '\0', "a refused encoding leaves the output empty");
        return;
    }
    FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) == Base64EncodedLength(bytes.size()), "encoding has its announced length");
    FUZZ_CHECK(out.TextLength() == static_cast<size_t>(n), "encoding terminated after its characters");
    FUZZ_CHECK(DecodeBase64(out.Text()) == bytes, "encoding decodes to the bytes");
}

void CheckUrlText(fuzz::InputReader& in)
{
    // The pieces take terminated texts: what follows a NUL is not theirs to see.
    const std::string url = in.Field().c_str();
    const std::string text = in.Rest().c_str();

    const UrlTarget target = SplitRequestUrl(url.c_str());
    const std::string host = target.host.GetText();
    const std::string object = target.object.GetText();
    std::string scheme;
    if (url.compare(0, 7, "http://") == 0) scheme = "http://";
    if (url.compare(0, 8, "https://") == 0) scheme = "https://";
    FUZZ_CHECK(target.forcesTls == (scheme == "https://"), "TLS forced by the https scheme only");
    FUZZ_CHECK(host.find('/') == std::string::npos, "host holds no slash");
    FUZZ_CHECK(!object.empty() && object[0] == '/', "object starts with a slash");
    const std::string rebuilt = scheme + host + (url.find('/', scheme.size()) == std::string::npos ? "" : object);
    FUZZ_CHECK(rebuilt == url, "host and object make the URL again");

    const UploadParts upload = SplitUpload(text.c_str());
    const std::string cut = upload.object.GetText();
    const std::string body = upload.body.GetText();
    if (upload.hasBody) {
        FUZZ_CHECK(cut.find("&traceinfo=") == std::string::npos, "object cut at the first mark");
        FUZZ_CHECK(cut + "&traceinfo=" + body == text, "object, mark and body make the text");
    } else {
        FUZZ_CHECK(cut == text && body.empty() && text.find("&traceinfo=") == std::string::npos,
                   "no mark: the object is the text");
    }

    const std::string masked = RedactToken(text.c_str()).GetText();
    size_t param = std::string::npos;
    for (size_t pos = text.find("TK="); pos != std::string::npos; pos = text.find("TK=", pos + 1)) {
        if (pos == 0 || text[pos - 1] == '?' || text[pos - 1] == '&') {
            param = pos;
            break;
        }
    }
    if (param == std::string::npos) {
        FUZZ_CHECK(masked == text, "text without a token parameter stays as it is");
    } else {
        FUZZ_CHECK(masked == text.substr(0, param + 3) + kTokenMask, "everything behind the token parameter masked");
    }
    FUZZ_CHECK(std::string(EffectiveUploadUrl(text.c_str())) == (text.size() > 4 ? text : std::string(kDefaultUploadUrl)),
               "upload URL is the stored one when longer than 4 characters");
}

std::string HexDigits(uint64_t value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%" PRIx64, value);
    return text;
}

void CheckTraceMsgBuf(fuzz::InputReader& in)
{
    const size_t capacity = in.U16() % 600;
    fuzz::GuardedBuffer<char> buffer(capacity);
    CTraceMsgBuf msg(buffer.data(), capacity);
    std::string whole;
    bool hex = false;
    for (int op = 0; op < 24; ++op) {
        switch (in.Byte() % 7) {
        case 0: {
            const std::string text = in.Field();
            msg.AppendText(text.c_str());
            whole += text;
            break;
        }
        case 1: {
            const uint32_t v = in.U32();
            msg.AppendUnsigned(v);
            whole += hex ? HexDigits(v) : std::to_string(v);
            hex = false;
            break;
        }
        case 2: {
            const int32_t v = static_cast<int32_t>(in.U32());
            msg.AppendSigned(v);
            whole += hex ? HexDigits(static_cast<uint32_t>(v)) : std::to_string(v);
            hex = false;
            break;
        }
        case 3: {
            const void* p = reinterpret_cast<const void*>(static_cast<uintptr_t>(in.U32()) * 4099u);
            msg.AppendPointer(p);
            whole += "0x" + HexDigits(reinterpret_cast<uintptr_t>(p));
            hex = false;
            break;
        }
        case 4: msg.Hex(); hex = true; break;
        case 5: msg.Decimal(); hex = false; break;
        default: msg.AppendText(nullptr); break;
        }
        FUZZ_CHECK(buffer.GuardIntact(), "record stays within its buffer");
        if (capacity == 0) continue;
        FUZZ_CHECK(buffer.data()[capacity - 1] == '\0', "last byte stays the terminator");
        FUZZ_CHECK(msg.GetLength() == buffer.TextLength(), "length is the text's");
        FUZZ_CHECK(buffer.Text() == whole.substr(0, capacity - 1), "record is everything appended, cut");
    }
}

void CheckCharStr(fuzz::InputReader& in)
{
    const std::string first = in.Field();
    const std::string second = in.Rest();
    CKSCharStr a;
    FUZZ_CHECK(a.Set(first.c_str()) && a.GetLength() == std::strlen(first.c_str()), "set keeps the length");
    CKSCharStr b(a);
    FUZZ_CHECK(std::strcmp(b.GetBuffer(), a.GetBuffer()) == 0 && b.GetBuffer() != a.GetBuffer(), "copy owns its text");
    // Setting a string from its own text, and from a part of it, must not read freed memory.
    FUZZ_CHECK(a.Set(a.GetBuffer()) && std::strcmp(a.GetBuffer(), first.c_str()) == 0, "set from its own text");
    const size_t skip = a.GetLength() / 2;
    FUZZ_CHECK(a.Set(a.GetBuffer() + skip) && std::strcmp(a.GetBuffer(), first.c_str() + skip) == 0, "set from its own tail");
    b.Set(second.c_str());
    a = std::move(b);
    FUZZ_CHECK(b.GetBuffer() == nullptr && b.GetLength() == 0, "moved-from string is empty");
    FUZZ_CHECK(std::strcmp(a.GetBuffer(), second.c_str()) == 0, "moved-to string holds the text");
    const CKSCharStr& same = a;
    a = same;
    FUZZ_CHECK(std::strcmp(a.GetBuffer(), second.c_str()) == 0, "assignment to itself keeps the text");
    a.Set(nullptr);
    FUZZ_CHECK(a.GetBuffer() == nullptr && a.GetLength() == 0, "null empties");
}

void CheckPathAndVersion(fuzz::InputReader& in)
{
    const int levels = static_cast<int>(in.Byte() % 8) - 1;
    const uint32_t platform = in.Byte() % 5;
    const uint32_t major = in.U32();
    const uint32_t minor = in.U32();
    const int osClass = OSVersionClassFromVersion(platform, major, minor);
    FUZZ_CHECK(osClass >= -1 && osClass <= 9, "class between -1 and 9");
    FUZZ_CHECK((osClass >= 4) == (platform == 2), "NT classes for the NT platform only");

    const std::string hex = in.Field();
    const unsigned maxChars = in.Byte() % 12;
    const int whole = HexToInt(hex.c_str());
    FUZZ_CHECK(HexToIntN(hex.c_str(), 0xFFFFFFFFu) == whole, "unbounded read is the whole read");
    FUZZ_CHECK(HexToIntN(hex.c_str(), maxChars) == HexToInt(hex.substr(0, maxChars).c_str()), "bounded read sees only its characters");

    std::wstring path = fuzz::DecodeUtf8(in.Rest());
    std::wstring model = path;
    bool modelOk = true;
    for (int i = 0; i <= levels; ++i) {
        const size_t slash = model.rfind(L'\\');
        if (slash == std::wstring::npos) {
            model.clear();
            modelOk = false;
            break;
        }
        model.resize(slash);
    }
    fuzz::GuardedBuffer<wchar_t> buffer(path.size() + 1);
    BoundedCopy(buffer.data(), path.size() + 1, path.c_str());
    const bool ok = CutPathComponents(buffer.data(), levels);
    FUZZ_CHECK(buffer.GuardIntact(), "cutting stays within the path");
    FUZZ_CHECK(ok == modelOk && buffer.Text() == model, "path cut at its last backslashes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader in(data, size);
    switch (in.Byte() % 6) {
    case 0: CheckBoundedStrings(in); break;
    case 1: CheckBase64(in); break;
    case 2: CheckUrlText(in); break;
    case 3: CheckTraceMsgBuf(in); break;
    case 4: CheckCharStr(in); break;
    default: CheckPathAndVersion(in); break;
    }
    return 0;
}
