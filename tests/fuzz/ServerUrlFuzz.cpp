// The "SURL" text made a server name, and the version-check URL built from it.
// Input: operating-system class byte (-2 to 10), flags (bit 0 WOW64, bit 1 no language),
// language number (4 bytes), then "SURL" and the token as UTF-8 separated by a zero byte.
#include "app/VersionText.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// Scheme dropped, a "/orvik" path cut, the first label added as the folder of a name without
// a path; both cuts keep 255 characters.
std::wstring ModelServerName(std::wstring name, bool& writeBack)
{
    writeBack = name.compare(0, 8, L"https://") == 0 || name.compare(0, 7, L"http://") == 0;
    if (writeBack)
        name.erase(0, name.find(L"//") + 2);
    std::wstring server = fuzz::CutTo(name, kServerNameSize);
    const size_t slash = server.find(L'/');
    if (slash != std::wstring::npos && fuzz::AsciiLower(server.substr(slash)) == L"/orvik")
        server.resize(slash);
    const size_t dot = server.find(L'.');
    if (server.find(L'/') == std::wstring::npos && dot < 128) {
        server = fuzz::CutTo(server + L"/" + server.substr(0, dot), kServerNameSize);
    }
    return server;
}

// The version URL's template by operating-system class, written out from the contract (not taken
// from the program): every class from -2 to 10 is compared with it.
std::wstring ModelTemplate(int osClass, bool wow64)
{
    if (osClass == 8 || osClass == 9) {
        return std::wstring(L"http://%s/smt.php?AT=RV&OS=WINVISTA") +
               (wow64 ? L"&OS_Bit=64" : L"") + L"&isUTF8=1";
    }
    const wchar_t* os = L"WIN31";
    if (osClass >= 1 && osClass <= 3) {
        os = L"WIN95";
    } else if (osClass == 4) {
        os = L"WINNT";
    } else if (osClass >= 5 && osClass <= 7) {
        os = L"WIN2K";
    }
    return std::wstring(L"http://%s/hx30/smt.php?AT=RV&OS=") + os + L"&isUTF8=1";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader in(data, size);
    const int osClass = static_cast<int>(in.Byte() % 13) - 2;
    const uint8_t flags = in.Byte();
    const uint32_t rawLanguage = in.U32();
    const uint32_t languageId = (flags & 2) ? kNoLanguage : rawLanguage;
    const std::wstring surl = fuzz::Wide(in.Field());
    const std::wstring token = fuzz::Wide(in.Rest());

    fuzz::GuardedBuffer<wchar_t> server(kServerNameSize);
    const bool writeBack = NormaliseServerName(surl.c_str(), server.AsArray<kServerNameSize>());
    FUZZ_CHECK(server.GuardIntact() && server.Terminated(),
               "server name stays within its buffer, terminated");
    bool modelWriteBack = false;
    const std::wstring modelServer = ModelServerName(surl, modelWriteBack);
    FUZZ_CHECK(writeBack == modelWriteBack, "written back exactly when a scheme was dropped");
    FUZZ_CHECK(server.Text() == modelServer, "server name normalised as described");

    fuzz::GuardedBuffer<wchar_t> url(kUrlSize);
    BuildVersionCheckUrl(url.AsArray<kUrlSize>(), server.data(), osClass, flags & 1, languageId,
                         token.c_str());
    FUZZ_CHECK(url.GuardIntact() && url.Terminated(),
               "version URL stays within its buffer, terminated");
    std::wstring model = ModelTemplate(osClass, flags & 1);
    const size_t mark = model.find(L"%s");
    FUZZ_CHECK(mark != std::wstring::npos, "template has a place for the server");
    model.replace(mark, 2, modelServer);
    if (languageId != kNoLanguage)
        model += L"&LID=" + std::to_wstring(static_cast<int32_t>(languageId));
    FUZZ_CHECK(url.Text() == fuzz::CutTo(model + L"&TK=" + token, kUrlSize),
               "version URL is template, language and token, cut");
    return 0;
}
