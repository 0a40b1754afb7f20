#include "util/ConfigStore.h"

#include "util/SafeString.h"
#include "util/SettingNames.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace {

constexpr size_t kPathChars = 512;
// Numbers are formatted and read through this many characters, terminator included.
constexpr DWORD kNumberChars = 32;

void ComposeSectionPath(const wchar_t* section, wchar_t (&path)[kPathChars])
{
    std::memset(path, 0, sizeof(path));
    BoundedCopy(path, kPathChars, kProductKeyPath);
    BoundedAppend(path, kPathChars, L"\\");
    BoundedAppend(path, kPathChars, section);
}

int PlaceDefault(const wchar_t* defaultText, wchar_t* out, DWORD cchOut)
{
    if (defaultText == nullptr) {
        out[0] = L'\0';
        return 0;
    }
    SafeWcsCopy(out, defaultText, cchOut);
    return static_cast<int>(std::wcslen(out));
}

// Reads a REG_SZ value whose text and terminator fit in cchOut; false for anything else.
bool QueryStringValue(HKEY key, const wchar_t* name, wchar_t* out, DWORD cchOut)
{
    if (cchOut > MAXDWORD / sizeof(wchar_t))
        cchOut = MAXDWORD / sizeof(wchar_t);
    // Cleared first: the stored data need not carry its terminator, and whatever the
    // query leaves beyond its bytes must read as zeros.
    std::memset(out, 0, cchOut * sizeof(wchar_t));
    DWORD type = 0;
    DWORD cb = cchOut * static_cast<DWORD>(sizeof(wchar_t));
    const LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &cb);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return false;
    // A text that fills the buffer without a terminator is too long, not a text to cut.
    return wcsnlen(out, cchOut) < cchOut;
}

// Reads the leading decimal number of text as "%u" does: a minus sign negates it modulo
// 2^32. Unlike a scanf conversion, text beyond the 32-bit range is defined here: it
// saturates at 4294967295. false when text does not begin with a number.
bool ParseUInt32(const wchar_t* text, DWORD* value)
{
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::wcstoull(text, &end, 10);
    if (end == text)
        return false;
    const wchar_t* sign = text;
    while (std::iswspace(*sign))
        ++sign;
    const bool negative = *sign == L'-';
    const unsigned long long magnitude = negative ? 0ull - parsed : parsed;
    if (errno == ERANGE || magnitude > MAXDWORD)
        *value = MAXDWORD;
    else
        *value = static_cast<DWORD>(parsed);
    return true;
}

// Reads the leading decimal number of text as "%d" does, saturating beyond 32 bits.
bool ParseInt32(const wchar_t* text, int* value)
{
    wchar_t* end = nullptr;
    const long long parsed = std::wcstoll(text, &end, 10);
    if (end == text)
        return false;
    *value = parsed > INT_MAX ? INT_MAX : parsed < INT_MIN ? INT_MIN : static_cast<int>(parsed);
    return true;
}

}  // namespace

CRegKey CfgOpenSection(const wchar_t* section, BOOL forWrite)
{
    // A failed open or create leaves nothing to close: the slot is released, not reset.
    CRegKey key;
    if (section == nullptr)
        return key;
    wchar_t path[kPathChars];
    ComposeSectionPath(section, path);
    if (!forWrite) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS)
            key.Release();
        return key;
    }
    // Writing a value needs no more than the right to set one.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, key.Receive()) == ERROR_SUCCESS)
        return key;
    key.Release();
    if (RegCreateKeyW(HKEY_LOCAL_MACHINE, path, key.Receive()) != ERROR_SUCCESS)
        key.Release();
    return key;
}

int CfgGetString(const wchar_t* section, const wchar_t* name, const wchar_t* defaultText,
                 wchar_t* out, DWORD cchOut)
{
    if (section == nullptr || name == nullptr || out == nullptr || cchOut == 0)
        return 0;
    bool found = false;
    {
        CRegKey key = CfgOpenSection(section, FALSE);
        found = key && QueryStringValue(key.Get(), name, out, cchOut);
    }
    if (!found)
        return PlaceDefault(defaultText, out, cchOut);
    return static_cast<int>(std::wcslen(out));
}

CfgTextRead CfgReadText(const wchar_t* section, const wchar_t* name, wchar_t* out, DWORD cchOut)
{
    if (section == nullptr || name == nullptr || out == nullptr || cchOut == 0)
        return CfgTextRead::kUnreadable;
    out[0] = L'\0';
    wchar_t path[kPathChars];
    ComposeSectionPath(section, path);
    CRegKey key;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.Receive());
    if (opened != ERROR_SUCCESS) {
        key.Release();
        return opened == ERROR_FILE_NOT_FOUND ? CfgTextRead::kAbsent : CfgTextRead::kUnreadable;
    }
    // One query through one handle: a value that changes meanwhile is never half read.
    std::memset(out, 0, cchOut * sizeof(wchar_t));
    DWORD type = 0;
    DWORD cb = (cchOut > MAXDWORD / sizeof(wchar_t) ? MAXDWORD / sizeof(wchar_t) : cchOut) *
               static_cast<DWORD>(sizeof(wchar_t));
    const LONG rc =
        RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(out), &cb);
    if (rc == ERROR_FILE_NOT_FOUND) {
        out[0] = L'\0';
        return CfgTextRead::kAbsent;
    }
    if (rc != ERROR_SUCCESS || type != REG_SZ || wcsnlen(out, cchOut) >= cchOut) {
        out[0] = L'\0';
        return CfgTextRead::kUnreadable;
    }
    return CfgTextRead::kText;
}

wchar_t* CfgGetStringBuf(const wchar_t* section, const wchar_t* name, DWORD cchOut, wchar_t* out,
                         const wchar_t* defaultText)
{
    CfgGetString(section, name, defaultText, out, cchOut);
    return out;
}

BOOL CfgSetString(const wchar_t* section, const wchar_t* name, const wchar_t* text)
{
    if (section == nullptr || name == nullptr || text == nullptr)
        return FALSE;
    const size_t chars = std::wcslen(text);
    if (chars >= MAXDWORD / sizeof(wchar_t))
        return FALSE;
    CRegKey key = CfgOpenSection(section, TRUE);
    if (!key)
        return FALSE;
    const DWORD cb = static_cast<DWORD>((chars + 1) * sizeof(wchar_t));
    const LONG rc =
        RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), cb);
    return rc == ERROR_SUCCESS ? TRUE : FALSE;
}

void CfgSetStringNoResult(const wchar_t* section, const wchar_t* name, const wchar_t* text)
{
    CfgSetString(section, name, text);
}

DWORD CfgGetUInt(const wchar_t* section, const wchar_t* name, DWORD defaultValue)
{
    wchar_t defaultText[kNumberChars];
    wchar_t text[kNumberChars];
    BoundedFormat(defaultText, kNumberChars, L"%u", static_cast<unsigned>(defaultValue));
    CfgGetString(section, name, defaultText, text, kNumberChars);
    DWORD value = defaultValue;
    ParseUInt32(text, &value);
    return value;
}

int CfgGetInt(const wchar_t* section, const wchar_t* name, int defaultValue)
{
    wchar_t defaultText[kNumberChars];
    wchar_t text[kNumberChars];
    BoundedFormat(defaultText, kNumberChars, L"%d", defaultValue);
    CfgGetString(section, name, defaultText, text, kNumberChars);
    int value = defaultValue;
    ParseInt32(text, &value);
    return value;
}
