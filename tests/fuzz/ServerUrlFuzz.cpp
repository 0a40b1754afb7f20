// Fuzz target: the "SURL" text made a server name, and the version-check URL built from it.
// Input: operating-system class byte (-2 to 10), flags (bit 0 WOW64, bit 1 no language),
// language number (4 bytes), then "SURL" and the token as UTF-8 separated by a zero byte.
#include "app/VersionText.h"
#include "tests/fuzz/FuzzReference.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cwchar>

namespace {

std::wstring ModelVersionUrl(const std::wstring& server, int osClass, bool wow64, uint32_t languageId,
                             const std::wstring& token)
{
    std::wstring url = VersionUrlTemplate(osClass, wow64);
    const size_t mark = url.find(L"%s");
    FUZZ_CHECK(mark != std::wstring::npos && url.find(L"%s", mark + 2) == std::wstring::npos,
               "template has one place for the server");
    FUZZ_CHECK(url.compare(0, 9, L"http://%s") == 0, "template starts with the plain scheme and the server");
    const bool vista = osClass == 8 || osClass == 9;
    FUZZ_CHECK((url.find(L"/hx30/") == std::wstring::npos) == vista, "only the Vista templates lack hx30");
    FUZZ_CHECK((url.find(L"OS_Bit=64") != std::wstring::npos) == (vista && wow64), "64-bit marked for Vista under WOW64 only");
    url.replace(mark, 2, server);
    if (languageId != kNoLanguage) url += L"&LID=" + std::to_wstring(static_cast<int32_t>(languageId));
    return fuzz::CutTo(url + L"&TK=" + token, kUrlSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader in(data, size);
    const int osClass = static_cast<int>(in.Byte() % 13) - 2;
    const uint8_t flags = in.Byte();
    const bool wow64 = (flags & 1) != 0;
    const uint32_t rawLanguage = in.U32();
    const uint32_t languageId = (flags & 2) ? kNoLanguage : rawLanguage;
    const std::wstring surl = fuzz::DecodeUtf8(in.Field());
    const std::wstring token = fuzz::DecodeUtf8(in.Rest());

    fuzz::GuardedBuffer<wchar_t> server(kServerNameSize);
    const bool writeBack = NormaliseServerName(surl.c_str(), server.AsArray<kServerNameSize>());
    FUZZ_CHECK(server.GuardIntact(), "server name stays within its buffer");
    FUZZ_CHECK(server.Terminated(), "server name terminated within 256 characters");
    bool modelWriteBack = false;
    const std::wstring modelServer = fuzz::ModelServerName(surl, modelWriteBack);
    FUZZ_CHECK(writeBack == modelWriteBack, "written back exactly when a scheme was dropped");
    FUZZ_CHECK(server.Text() == modelServer, "server name normalised as described");

    fuzz::GuardedBuffer<wchar_t> url(kUrlSize);
    BuildVersionCheckUrl(url.AsArray<kUrlSize>(), server.data(), osClass, wow64, languageId, token.c_str());
    FUZZ_CHECK(url.GuardIntact(), "version URL stays within its buffer");
    FUZZ_CHECK(url.Terminated(), "version URL terminated below 2048 characters");
    FUZZ_CHECK(url.Text() == ModelVersionUrl(modelServer, osClass, wow64, languageId, token),
               "version URL is template, language and token, cut at 2047");
    return 0;
}
