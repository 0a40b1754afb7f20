#include "app/VersionText.h"

#include "util/OSVersion.h"
#include "util/SafeString.h"
#include "util/TagReader.h"

#include <cwchar>

namespace {

constexpr size_t kLabelSize = 128;
constexpr size_t kEnvelopeSize = 4096;

wchar_t AsciiLower(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix)
{
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

// A path of exactly "/orvik" (any case) is the product's own folder: not part of the name.
void CutProductFolder(wchar_t (&server)[kServerNameSize])
{
    wchar_t* slash = std::wcschr(server, L'/');
    if (slash == nullptr)
        return;
    wchar_t path[kServerNameSize] = {};
    BoundedCopy(path, kServerNameSize, slash);
    for (wchar_t* p = path; *p != L'\0'; ++p)
        *p = AsciiLower(*p);
    if (std::wcscmp(path, L"/orvik") == 0)
        *slash = L'\0';
}

// A name without a path gets its first label as its folder: alpha.beta -> alpha.beta/alpha.
void AppendSiteLabel(wchar_t (&server)[kServerNameSize])
{
    if (std::wcschr(server, L'/') != nullptr)
        return;
    const wchar_t* dot = std::wcschr(server, L'.');
    if (dot == nullptr)
        return;
    const size_t labelLength = static_cast<size_t>(dot - server);
    if (labelLength >= kLabelSize)
        return;
    wchar_t label[kLabelSize] = {};
    BoundedCopyN(label, kLabelSize, server, labelLength);
    BoundedAppend(server, kServerNameSize, L"/");
    BoundedAppend(server, kServerNameSize, label);
}

bool IsReservedDeviceName(const wchar_t* name)
{
    static const wchar_t* const kDevices[] = {L"con", L"prn",    L"aux",
                                              L"nul", L"conin$", L"conout$"};
    // The device name is what stands before the first dot, less the blanks at its end: the
    // system opens "con.txt" as the console and "nul .txt" as the null device too.
    size_t n = 0;
    while (name[n] != L'\0' && name[n] != L'.')
        ++n;
    while (n > 0 && name[n - 1] == L' ')
        --n;
    wchar_t base[16] = {};
    if (n >= 16)
        return false;
    for (size_t i = 0; i < n; ++i)
        base[i] = AsciiLower(name[i]);
    for (const wchar_t* device : kDevices) {
        if (std::wcscmp(base, device) == 0)
            return true;
    }
    const bool numbered =
        (std::wcsncmp(base, L"com", 3) == 0 || std::wcsncmp(base, L"lpt", 3) == 0) && n == 4;
    return numbered && ((base[3] >= L'0' && base[3] <= L'9') || base[3] == 0xB9 ||
                        base[3] == 0xB2 || base[3] == 0xB3);
}

}  // namespace

bool NormaliseServerName(const wchar_t* surl, wchar_t (&server)[kServerNameSize])
{
    const wchar_t* name = surl != nullptr ? surl : L"";
    bool writeBack = false;
    if (StartsWith(name, L"https://")) {
        name += 8;
        writeBack = true;
    } else if (StartsWith(name, L"http://")) {
        name += 7;
        writeBack = true;
    }
    BoundedCopy(server, kServerNameSize, name);
    CutProductFolder(server);
    AppendSiteLabel(server);
    return writeBack;
}

const wchar_t* VersionUrlTemplate(int osClass, bool wow64)
{
    switch (osClass) {
    case kOsClassWin95:
    case kOsClassWin98:
    case kOsClassWinMe:
        return L"http://%s/hx30/smt.php?AT=RV&OS=WIN95&isUTF8=1";
    case kOsClassNt4:
        return L"http://%s/hx30/smt.php?AT=RV&OS=WINNT&isUTF8=1";
    case kOsClassWin2000:
    case kOsClassWinXp:
    case kOsClassWin2003:
        return L"http://%s/hx30/smt.php?AT=RV&OS=WIN2K&isUTF8=1";
    case kOsClassVista:
    case kOsClassWin7:
        return wow64 ? L"http://%s/smt.php?AT=RV&OS=WINVISTA&OS_Bit=64&isUTF8=1"
                     : L"http://%s/smt.php?AT=RV&OS=WINVISTA&isUTF8=1";
    default:
        return L"http://%s/hx30/smt.php?AT=RV&OS=WIN31&isUTF8=1";
    }
}

void FillPattern(wchar_t* out, size_t cchOut, const wchar_t* pattern, const wchar_t* text)
{
    const wchar_t* mark = std::wcsstr(pattern, L"%s");
    if (mark == nullptr) {
        BoundedCopy(out, cchOut, pattern);
        return;
    }
    BoundedCopyN(out, cchOut, pattern, static_cast<size_t>(mark - pattern));
    BoundedAppend(out, cchOut, text);
    BoundedAppend(out, cchOut, mark + 2);
}

void BuildVersionCheckUrl(wchar_t (&url)[kUrlSize], const wchar_t* server, int osClass, bool wow64,
                          uint32_t languageId, const wchar_t* token)
{
    FillPattern(url, kUrlSize, VersionUrlTemplate(osClass, wow64), server);
    if (languageId != kNoLanguage) {
        wchar_t lid[32] = {};
        BoundedFormat(lid, 32, L"&LID=%d", static_cast<int32_t>(languageId));
        BoundedAppend(url, kUrlSize, lid);
    }
    BoundedAppend(url, kUrlSize, L"&TK=");
    BoundedAppend(url, kUrlSize, token);
}

void BuildIniUrl(wchar_t (&url)[kUrlSize], const wchar_t* urlRoot, const wchar_t* iniName,
                 const wchar_t* urlRootEx)
{
    BoundedCopy(url, kUrlSize, urlRoot);
    BoundedAppend(url, kUrlSize, L"/");
    BoundedAppend(url, kUrlSize,
                  (urlRootEx != nullptr && urlRootEx[0] != L'\0') ? urlRootEx : iniName);
}

bool ParseVersionAnswer(const wchar_t* text, VersionAnswer& a)
{
    a = VersionAnswer{};
    wchar_t local[kEnvelopeSize] = {};
    TagGetString(text, L"MVHostVersion", kEnvelopeSize, local, L"");
    TagGetString(local, L"Status", kAnswerStatusSize, a.status, L"");
    if (!EqualsIgnoreAsciiCase(a.status, L"SUCCESS"))
        return false;
    TagGetString(local, L"DlkProductVersion", kAnswerFieldSize, a.productVersion, L"");
    TagGetString(local, L"DlkProductDescription", kAnswerFieldSize, a.productDescription, L"");
    TagGetString(local, L"DlkIniName", kAnswerFieldSize, a.iniName, L"dlk.php");
    TagGetString(local, L"DlkUrlRootEx", kAnswerFieldSize, a.urlRootEx, L"");
    TagGetString(local, L"DlkActiveIniSection", kAnswerFieldSize, a.activeIniSection, L"");
    TagGetString(local, L"DlkUrlRoot", kAnswerFieldSize, a.urlRoot, L"");
    TagGetString(local, L"DlkUnpackVersion", kAnswerFieldSize, a.unpackVersion, L"");
    TagGetString(local, L"DlkExtVersion", kAnswerFieldSize, a.extVersion, L"");
    TagGetString(local, L"DlkUnpackName", kAnswerFieldSize, a.unpackName, L"");
    TagGetString(local, L"DlkExtName", kAnswerFieldSize, a.extName, L"");
    TagGetString(local, L"SupportDelta", kAnswerShortFieldSize, a.supportDelta, L"");
    TagGetString(local, L"LID", kAnswerShortFieldSize, a.lid, L"");
    a.rollout = ReadRolloutTag(local, &a.rolloutShare);
    return true;
}

bool IsSafeLocalFileName(const wchar_t* name)
{
    if (name == nullptr || name[0] == L'\0')
        return false;
    if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0)
        return false;
    for (const wchar_t* p = name; *p != L'\0'; ++p) {
        if (*p < 32 || std::wcschr(L"\\/:*?\"<>|", *p) != nullptr)
            return false;
    }
    // Windows drops trailing dots and blanks, which would make another name of it.
    const wchar_t last = name[std::wcslen(name) - 1];
    if (last == L'.' || last == L' ')
        return false;
    return !IsReservedDeviceName(name);
}

bool EqualsIgnoreAsciiCase(const wchar_t* a, const wchar_t* b)
{
    if (a == nullptr || b == nullptr)
        return a == b;
    for (; *a != L'\0' && *b != L'\0'; ++a, ++b) {
        if (AsciiLower(*a) != AsciiLower(*b))
            return false;
    }
    return *a == *b;
}

size_t MaskTokenInText(const wchar_t* text, wchar_t* out, size_t cchOut)
{
    size_t needed = 0;
    auto put = [&](const wchar_t* from, size_t count) {
        for (size_t i = 0; i < count; ++i, ++needed) {
            if (out != nullptr && needed + 1 < cchOut)
                out[needed] = from[i];
        }
    };
    const wchar_t* p = text != nullptr ? text : L"";
    while (const wchar_t* found = std::wcsstr(p, L"TK=")) {
        const bool parameter = found == text || found[-1] == L'?' || found[-1] == L'&';
        put(p, static_cast<size_t>(found - p) + 3);
        p = found + 3;
        if (!parameter)
            continue;
        // The token is inserted verbatim and may hold "&": mask to the end of the line.
        const wchar_t* lineEnd = p + std::wcscspn(p, L"\r\n");
        if (lineEnd != p)
            put(L"********", 8);
        p = lineEnd;
    }
    put(p, std::wcslen(p));
    if (out != nullptr && cchOut > 0)
        out[needed < cchOut ? needed : cchOut - 1] = L'\0';
    return needed + 1;
}
