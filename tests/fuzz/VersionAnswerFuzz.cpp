// The version server's answer as it comes off the wire: like the program, bodies above 102399
// bytes are dropped, the rest is converted up to its first zero byte and read from
// "<MVHostVersion>" on. An accepted answer's values then make the INI URL and file names.
#include "app/VersionText.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cwchar>
#include <memory>
#include <regex>

namespace {

// A plain file inside the directory: no separator, drive, wildcard or control character, no
// trailing dot or blank, no device name ("nul .txt" opens the null device too).
bool ModelIsSafeLocalFileName(const std::wstring& name)
{
    if (name.empty() || name.back() == L'.' || name.back() == L' ')
        return false;
    for (wchar_t c : name) {
        if (c < 32 || std::wstring(L"\\/:*?\"<>|").find(c) != std::wstring::npos)
            return false;
    }
    static const std::wregex device(
        L"(con|prn|aux|nul|conin\\$|conout\\$|(com|lpt)[0-9\u00b9\u00b2\u00b3]) *");
    return !std::regex_match(fuzz::AsciiLower(name.substr(0, name.find(L'.'))), device);
}

template <size_t N>
void CheckField(const wchar_t (&field)[N], const std::wstring& envelope, const wchar_t* tag,
                const wchar_t* def = L"")
{
    FUZZ_CHECK(wcsnlen(field, N) < N, "answer value terminated within its capacity");
    FUZZ_CHECK(fuzz::ModelTag(envelope, tag, N, def).output == field,
               "answer value as the tag reader gives it");
}

// The share: absent without its opening mark; otherwise 1 to 3 digits, optionally "." and 1 or 2
// digits, at most 100, in hundredths; anything else is unreadable.
RolloutTag ModelRolloutTag(const std::wstring& envelope, uint32_t* hundredths)
{
    *hundredths = kFullRollout;
    if (envelope.find(L"<MVRollout>") == std::wstring::npos)
        return RolloutTag::kAbsent;
    const fuzz::TagModel tag = fuzz::ModelTag(envelope, L"MVRollout", 32, L"");
    static const std::wregex share(L"([0-9]{1,3})(\\.([0-9]{1,2}))?");
    std::wsmatch parts;
    if (!tag.found || !std::regex_match(tag.output, parts, share))
        return RolloutTag::kUnreadable;
    const std::wstring decimals = (parts[3].str() + L"00").substr(0, 2);
    const uint32_t value =
        static_cast<uint32_t>(std::stoul(parts[1].str()) * 100 + std::stoul(decimals));
    if (value > 10000)
        return RolloutTag::kUnreadable;
    *hundredths = value;
    return RolloutTag::kShare;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 102399)
        return 0;
    const std::wstring text = fuzz::Wide(std::string(reinterpret_cast<const char*>(data), size));
    const size_t mark = text.find(L"<MVHostVersion>");
    if (mark == std::wstring::npos)
        return 0;
    const std::wstring fromMark = text.substr(mark);

    // On the heap and alone, so a write past the last value reaches a red zone.
    auto answer = std::make_unique<VersionAnswer>();
    const bool accepted = ParseVersionAnswer(fromMark.c_str(), *answer);
    const std::wstring envelope = fuzz::ModelTag(fromMark, L"MVHostVersion", 4096, L"").output;
    FUZZ_CHECK(accepted == (fuzz::AsciiLower(fuzz::ModelTag(envelope, L"Status", 64, L"").output) ==
                            L"success"),
               "accepted exactly when the envelope's Status is SUCCESS in any case");
    if (!accepted)
        return 0;

    const VersionAnswer& a = *answer;
    CheckField(a.status, envelope, L"Status");
    CheckField(a.productVersion, envelope, L"DlkProductVersion");
    CheckField(a.productDescription, envelope, L"DlkProductDescription");
    CheckField(a.iniName, envelope, L"DlkIniName", L"dlk.php");
    CheckField(a.urlRootEx, envelope, L"DlkUrlRootEx");
    CheckField(a.activeIniSection, envelope, L"DlkActiveIniSection");
    CheckField(a.urlRoot, envelope, L"DlkUrlRoot");
    CheckField(a.unpackVersion, envelope, L"DlkUnpackVersion");
    CheckField(a.extVersion, envelope, L"DlkExtVersion");
    CheckField(a.unpackName, envelope, L"DlkUnpackName");
    CheckField(a.extName, envelope, L"DlkExtName");
    CheckField(a.supportDelta, envelope, L"SupportDelta");
    CheckField(a.lid, envelope, L"LID");
    uint32_t share = 0;
    FUZZ_CHECK(ModelRolloutTag(envelope, &share) == a.rollout && share == a.rolloutShare,
               "rollout share read from the envelope as the model reads it");

    fuzz::GuardedBuffer<wchar_t> url(kUrlSize);
    BuildIniUrl(url.AsArray<kUrlSize>(), a.urlRoot, a.iniName, a.urlRootEx);
    FUZZ_CHECK(url.GuardIntact() && url.Terminated(),
               "INI URL stays within its buffer, terminated");
    const std::wstring second = a.urlRootEx[0] != L'\0' ? a.urlRootEx : a.iniName;
    FUZZ_CHECK(url.Text() == fuzz::CutTo(std::wstring(a.urlRoot) + L"/" + second, kUrlSize),
               "INI URL is root, slash, root ex or INI name");
    for (const wchar_t* name : {a.iniName, a.urlRootEx, a.unpackName, a.extName}) {
        FUZZ_CHECK(IsSafeLocalFileName(name) == ModelIsSafeLocalFileName(name),
                   "file name judged as a plain name in the directory");
    }
    return 0;
}
