// Fuzz target: the version server's answer. The input is the body as it comes off the wire;
// like the program, bodies above 102399 bytes are dropped, the rest is converted from UTF-8 up
// to its first zero byte, and the answer is read from "<MVHostVersion>" on. An accepted
// answer's values then make the INI URL and the local INI file name.
#include "app/VersionText.h"
#include "tests/fuzz/FuzzReference.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cwchar>
#include <memory>

namespace {

constexpr size_t kMaxAnswerBytes = 102399;

template <size_t N>
void CheckField(const wchar_t (&field)[N], const std::wstring& local, const wchar_t* tag, const wchar_t* def)
{
    FUZZ_CHECK(wcsnlen(field, N) < N, "answer value terminated within its capacity");
    const fuzz::TagModelResult model = fuzz::ModelTag(local, tag, N, def);
    FUZZ_CHECK(model.output == field, "answer value as the tag reader's contract gives it");
}

void CheckIniUrl(const VersionAnswer& a)
{
    fuzz::GuardedBuffer<wchar_t> url(kUrlSize);
    BuildIniUrl(url.AsArray<kUrlSize>(), a.urlRoot, a.iniName, a.urlRootEx);
    FUZZ_CHECK(url.GuardIntact(), "INI URL stays within its buffer");
    FUZZ_CHECK(url.Terminated() && url.TextLength() < kUrlSize, "INI URL terminated, below 2048 characters");
    const std::wstring second = a.urlRootEx[0] != L'\0' ? a.urlRootEx : a.iniName;
    FUZZ_CHECK(url.Text() == fuzz::CutTo(std::wstring(a.urlRoot) + L"/" + second, kUrlSize),
               "INI URL is root, slash and root ex or INI name");
}

void CheckFileName(const wchar_t* name)
{
    const bool safe = IsSafeLocalFileName(name);
    FUZZ_CHECK(safe == fuzz::ModelIsSafeLocalFileName(name), "file name judged as a plain name in the directory");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > kMaxAnswerBytes) return 0;
    const std::wstring text = fuzz::DecodeUtf8(data, size);
    const size_t mark = text.find(L"<MVHostVersion>");
    if (mark == std::wstring::npos) return 0;
    const std::wstring fromMark = text.substr(mark);

    // On the heap and alone, so a write past the last value reaches a red zone.
    auto answer = std::make_unique<VersionAnswer>();
    const bool accepted = ParseVersionAnswer(fromMark.c_str(), *answer);

    const fuzz::TagModelResult envelope = fuzz::ModelTag(fromMark, L"MVHostVersion", 4096, L"");
    const fuzz::TagModelResult status = fuzz::ModelTag(envelope.output, L"Status", 64, L"");
    FUZZ_CHECK(accepted == (fuzz::AsciiLower(status.output) == L"success"),
               "accepted exactly when the envelope's Status is SUCCESS in any case");
    if (!accepted) return 0;

    const VersionAnswer& a = *answer;
    const std::wstring& local = envelope.output;
    CheckField(a.status, local, L"Status", L"");
    CheckField(a.productVersion, local, L"DlkProductVersion", L"");
    CheckField(a.productDescription, local, L"DlkProductDescription", L"");
    CheckField(a.iniName, local, L"DlkIniName", L"dlk.php");
    CheckField(a.urlRootEx, local, L"DlkUrlRootEx", L"");
    CheckField(a.activeIniSection, local, L"DlkActiveIniSection", L"");
    CheckField(a.urlRoot, local, L"DlkUrlRoot", L"");
    CheckField(a.unpackVersion, local, L"DlkUnpackVersion", L"");
    CheckField(a.extVersion, local, L"DlkExtVersion", L"");
    CheckField(a.unpackName, local, L"DlkUnpackName", L"");
    CheckField(a.extName, local, L"DlkExtName", L"");
    CheckField(a.supportDelta, local, L"SupportDelta", L"");
    CheckField(a.lid, local, L"LID", L"");

    CheckIniUrl(a);
    CheckFileName(a.iniName);
    CheckFileName(a.urlRootEx);
    CheckFileName(a.unpackName);
    CheckFileName(a.extName);
    return 0;
}
