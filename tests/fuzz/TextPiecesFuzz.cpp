// The smaller text pieces, one per input chosen by the first byte: bounded wide strings,
// Base64, request URL splitting and token masking (in both widths, and the URL records' copies
// with the narrow string class), the trace message buffer, hex reading and path cutting,
// redirect locations.
#include "mvurl/RedirectText.h"
#include "mvurl/UrlText.h"
#include "tests/fuzz/FuzzSupport.h"
#include "threading/CKSCharStr.h"
#include "trace/CTraceMsgBuf.h"
#include "trace/SecretMask.h"
#include "trace/UrlMask.h"
#include "util/Base64.h"
#include "util/HexText.h"
#include "util/ModulePath.h"
#include "util/SafeString.h"

#include <cctype>
#include <cstring>
#include <utility>

namespace {

void CheckBoundedStrings(fuzz::InputReader& in)
{
    const size_t capacity = 1 + in.U16() % 300;
    const std::wstring first = fuzz::Wide(in.Field());
    const size_t limit = in.U16();
    const std::wstring second = fuzz::Wide(in.Rest());
    // The buffer holds the whole text cut to size - 1; the result tells whether it was cut.
    auto check = [&](int32_t result, fuzz::GuardedBuffer<wchar_t>& buffer,
                     const std::wstring& whole, const char* what) {
        FUZZ_CHECK(result == (whole.size() < capacity ? KS_S_OK : KS_E_INSUFFICIENT_BUFFER) &&
                       buffer.GuardIntact() && buffer.Text() == fuzz::CutTo(whole, capacity),
                   what);
    };
    fuzz::GuardedBuffer<wchar_t> dst(capacity), formatted(capacity), zeroed(capacity);
    check(BoundedCopyN(dst.data(), capacity, first.c_str(), limit), dst, first.substr(0, limit),
          "bounded copy");
    const std::wstring appended = dst.Text() + second;
    check(BoundedAppend(dst.data(), capacity, second.c_str()), dst, appended, "bounded append");
    check(BoundedFormat(formatted.data(), capacity, L"[%ls|%d]", first.c_str(),
                        static_cast<int>(limit)),
          formatted, L"[" + first + L"|" + std::to_wstring(limit) + L"]", "bounded format");
    const int safe = SafeWcsCopy(zeroed.data(), second.c_str(), capacity);
    check(safe == 1   ? KS_S_OK
          : safe == 2 ? KS_E_INSUFFICIENT_BUFFER
                      : -1,
          zeroed, second, "zero-filling copy");
    for (size_t i = zeroed.TextLength(); i < capacity; ++i)
        FUZZ_CHECK(zeroed.data()[i] == 0, "rest of the copy zero-filled");
}

void CheckBase64(fuzz::InputReader& in)
{
    const size_t capacity = in.U16() % 800;
    const std::string bytes = in.Rest();
    fuzz::GuardedBuffer<char> out(capacity);
    const int n = Base64EncodeBounded(out.data(), capacity, bytes.c_str(), bytes.size());
    FUZZ_CHECK(out.GuardIntact(), "encoding stays within its output");
    const size_t length = (bytes.size() + 2) / 3 * 4;
    if (length + 1 > capacity) {
        FUZZ_CHECK(n == -1 && (capacity == 0 || out.data()[0] == '\0'),
                   "an encoding that does not fit is refused, output empty");
        return;
    }
    const std::string text = out.Text();
    FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) == length && text.size() == length,
               "encoding of four per three bytes, terminated");
    // Decoded back: four characters make three bytes, "=" only as the last one or two.
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const size_t pad = (3 - bytes.size() % 3) % 3;
    std::string decoded;
    uint32_t bits = 0;
    for (size_t i = 0; i < length; ++i) {
        const size_t v = i + pad >= length ? (text[i] == '=' ? 0 : 64) : alphabet.find(text[i]);
        FUZZ_CHECK(v < 64, "alphabet characters, then the padding");
        bits = bits << 6 | static_cast<uint32_t>(v);
        if (i % 4 == 3)
            decoded += {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8),
                        static_cast<char>(bits)};
    }
    FUZZ_CHECK(decoded.substr(0, bytes.size()) == bytes, "encoding decodes to the bytes");
}

// The token parameters as their contract says: "TK=" after "?", "&" or at the start; its token
// to the text's end (lines: to its line's end) replaced by eight stars, except where a line
// ends right behind "TK=".
template <typename CharT>
std::basic_string<CharT> TokenMaskModel(const std::basic_string<CharT>& text, bool lines)
{
    using String = std::basic_string<CharT>;
    const String name = {CharT('T'), CharT('K'), CharT('=')};
    const String lineEnds = {CharT('\r'), CharT('\n')};
    String out;
    size_t from = 0;
    for (size_t at = text.find(name); at != String::npos; at = text.find(name, at + 1)) {
        if (at < from || (at != 0 && text[at - 1] != CharT('?') && text[at - 1] != CharT('&')))
            continue;
        size_t end = lines ? text.find_first_of(lineEnds, at + 3) : String::npos;
        end = end == String::npos ? text.size() : end;
        out += text.substr(from, at + 3 - from);
        if (end > at + 3 || !lines)
            out += String(8, CharT('*'));
        from = end;
    }
    return out + text.substr(from);
}

// MaskTokenParameters against the model, whole and cut at capacity, in both extents.
template <typename CharT>
void CheckTokenMask(const std::basic_string<CharT>& text, size_t capacity)
{
    for (const bool lines : {false, true}) {
        const TokenExtent extent = lines ? TokenExtent::ToLineEnd : TokenExtent::ToTextEnd;
        const std::basic_string<CharT> model = TokenMaskModel(text, lines);
        for (const size_t cch : {model.size() + 1, capacity}) {
            fuzz::GuardedBuffer<CharT> out(cch);
            const size_t needed =
                MaskTokenParameters(text.data(), text.size(), extent, out.data(), cch);
            FUZZ_CHECK(needed == model.size() + 1 && out.GuardIntact() &&
                           out.Text() == model.substr(0, cch == 0 ? 0 : cch - 1) &&
                           (cch == 0 || out.Terminated()),
                       "every token parameter masked, the output cut and terminated");
        }
    }
}

void CheckUrlText(fuzz::InputReader& in)
{
    const std::string url = in.Field().c_str(), text = in.Rest().c_str();
    const UrlTarget target = SplitRequestUrl(url.c_str());
    const std::string host = target.host.GetText(), object = target.object.GetText();
    const std::string scheme = url.compare(0, 8, "https://") == 0  ? "https://"
                               : url.compare(0, 7, "http://") == 0 ? "http://"
                                                                   : "";
    FUZZ_CHECK(target.forcesTls == (scheme == "https://"), "TLS forced by the https scheme only");
    FUZZ_CHECK(host.find('/') == std::string::npos && object[0] == '/',
               "host holds no slash, object starts with one");
    const std::string rebuilt =
        scheme + host + (url.find('/', scheme.size()) == std::string::npos ? "" : object);
    FUZZ_CHECK(rebuilt == url, "host and object make the URL again");

    const UploadParts upload = SplitUpload(text.c_str());
    const size_t mark = text.find("&traceinfo=");
    FUZZ_CHECK(upload.hasBody == (mark != std::string::npos) &&
                   upload.object.GetText() == text.substr(0, mark),
               "a body exactly when the text has the mark, the object cut at the first one");
    FUZZ_CHECK(upload.body.GetText() == (upload.hasBody ? text.substr(mark + 11) : ""),
               "body behind the mark");

    CheckTokenMask(text, url.size());
    CheckTokenMask(fuzz::Wide(text), url.size());
    FUZZ_CHECK(MaskTokenInUrl(text.c_str()).GetText() == TokenMaskModel(text, false),
               "everything behind the token parameter masked");
    FUZZ_CHECK(EffectiveUploadUrl(text.c_str()) ==
                   (text.size() > 4 ? text : std::string(kDefaultUploadUrl)),
               "upload URL is the stored one when longer than 4 characters");
}

void CheckTraceMsgBuf(fuzz::InputReader& in)
{
    const size_t capacity = in.U16() % 600;
    fuzz::GuardedBuffer<char> buffer(capacity);
    CTraceMsgBuf msg(buffer.data(), capacity);
    std::string whole;
    bool hex = false;
    // A number in the current mode (hex as the 32-bit pattern, or as a pointer), then decimal.
    auto number = [&](uint64_t pattern, const std::string& decimal) {
        char digits[24];
        std::snprintf(digits, sizeof(digits), "%llx", static_cast<unsigned long long>(pattern));
        whole += hex ? digits : decimal;
        hex = false;
    };
    for (int op = 0; op < 24; ++op) {
        const uint8_t what = in.Byte() % 7;
        const std::string text = what == 0 ? in.Field() : "";
        const uint32_t v = what >= 1 && what <= 3 ? in.U32() : 0;
        const uintptr_t p = static_cast<uintptr_t>(v) * 4099u;
        switch (what) {
        case 0:
            msg.AppendText(text.c_str());
            whole += text;
            break;
        case 1:
            msg.AppendUnsigned(v);
            number(v, std::to_string(v));
            break;
        case 2:
            msg.AppendSigned(static_cast<int32_t>(v));
            number(v, std::to_string(static_cast<int32_t>(v)));
            break;
        case 3:
            msg.AppendPointer(reinterpret_cast<const void*>(p));
            whole += "0x";
            hex = true;
            number(p, "");
            break;
        case 4:
            msg.Hex();
            hex = true;
            break;
        case 5:
            msg.Decimal();
            hex = false;
            break;
        default:
            msg.AppendText(nullptr);
            break;
        }
        FUZZ_CHECK(buffer.GuardIntact(), "record stays within its buffer");
        if (capacity == 0)
            continue;
        FUZZ_CHECK(buffer.data()[capacity - 1] == '\0' && msg.GetLength() == buffer.TextLength(),
                   "terminated, length the text's");
        FUZZ_CHECK(buffer.Text() == whole.substr(0, capacity - 1),
                   "record is everything appended, cut");
    }
}

// Setting a string from its own text or tail, then copying, moving and self-assignment: ASan
// sees a read of freed memory or a buffer freed twice.
void CheckCharStr(fuzz::InputReader& in)
{
    const std::string first = in.Field(), second = in.Rest();
    CKSCharStr a, b, c;
    FUZZ_CHECK(a.Set(first.c_str()) && a.GetLength() == first.size() && a.Set(a.GetBuffer()) &&
                   a.GetText() == first,
               "set from its own text keeps it");
    FUZZ_CHECK(a.Set(a.GetBuffer() + first.size() / 2) &&
                   a.GetText() == first.substr(first.size() / 2),
               "set from its own tail");
    b = a;
    c.Set(second.c_str());
    b = std::move(c);
    const CKSCharStr& same = b;
    b = same;
    FUZZ_CHECK(std::strcmp(b.GetText(), second.c_str()) == 0 && c.GetBuffer() == nullptr,
               "moved, self-assigned text stays");
}

void CheckHexAndPath(fuzz::InputReader& in)
{
    const int levels = static_cast<int>(in.Byte() % 8) - 1;
    const std::string hex = in.Field();
    const unsigned maxChars = in.Byte() % 12;
    FUZZ_CHECK(HexToIntN(hex.c_str(), 0xFFFFFFFFu) == HexToInt(hex.c_str()),
               "unbounded read is the whole read");
    FUZZ_CHECK(HexToIntN(hex.c_str(), maxChars) == HexToInt(hex.substr(0, maxChars).c_str()),
               "bounded read sees only its characters");

    const std::wstring path = fuzz::Wide(in.Rest());
    std::wstring model = path;
    bool modelOk = true;
    for (int i = 0; i <= levels && modelOk; ++i) {
        const size_t slash = model.rfind(L'\\');
        modelOk = slash != std::wstring::npos;
        model.resize(modelOk ? slash : 0);
    }
    fuzz::GuardedBuffer<wchar_t> buffer(path.size() + 1);
    BoundedCopy(buffer.data(), path.size() + 1, path.c_str());
    const bool ok = CutPathComponents(buffer.data(), levels);
    FUZZ_CHECK(buffer.GuardIntact() && ok == modelOk && buffer.Text() == model,
               "path cut at its last backslashes");
}

}  // namespace

// A location from a server: only https (or a reference to the same server) is followed, to a
// host without credentials and an object from "/"; the shown form never holds the token.
void CheckRedirect(fuzz::InputReader& in)
{
    const std::string object = in.Field().c_str(), token = in.Field().c_str();
    const std::string location = in.Rest().c_str();
    const RedirectTarget to = ResolveRedirect(location.c_str(), "cur.host", 444, object.c_str());
    const std::string host = to.host.GetText(), path = to.object.GetText();
    size_t scheme = 0;
    while (scheme < location.size() && std::isalnum(static_cast<unsigned char>(location[scheme])))
        ++scheme;
    std::string head = location.substr(0, 6);
    for (char& c : head)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool https = head == "https:";
    if (scheme > 0 && scheme < location.size() && location[scheme] == ':' &&
        std::isalpha(static_cast<unsigned char>(location[0])) && !https)
        FUZZ_CHECK(to.kind != RedirectKind::Follow, "another scheme is never followed");
    if (to.kind == RedirectKind::Follow) {
        FUZZ_CHECK(!host.empty() && host.find('@') == std::string::npos && to.port != 0,
                   "a host without credentials, a port");
        FUZZ_CHECK(path[0] == '/' && path.find('#') == std::string::npos,
                   "an object from its slash, no fragment");
        // Only what the server sent is judged: the answering object is the request's own.
        if (object.find_first_of(" \r\n") == std::string::npos)
            FUZZ_CHECK(path.find_first_of(" \r\n") == std::string::npos,
                       "nothing that ends a header");
    } else {
        FUZZ_CHECK(host.empty() && path.empty(), "nothing to follow");
    }
    // The mask itself could make a token of stars appear again.
    const std::string url = "http://h/smt.php?AT=RV&TK=" + token;
    const std::string shown = MaskTokenInUrl(location.c_str(), url.c_str()).GetText();
    if (!token.empty() && token.find('*') == std::string::npos)
        FUZZ_CHECK(shown.find(token) == std::string::npos, "the token never shown");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader in(data, size);
    switch (in.Byte() % 7) {
    case 0:
        CheckBoundedStrings(in);
        break;
    case 1:
        CheckBase64(in);
        break;
    case 2:
        CheckUrlText(in);
        break;
    case 3:
        CheckTraceMsgBuf(in);
        break;
    case 4:
        CheckCharStr(in);
        break;
    case 5:
        CheckHexAndPath(in);
        break;
    default:
        CheckRedirect(in);
        break;
    }
    return 0;
}
