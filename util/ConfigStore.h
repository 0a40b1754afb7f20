// The program's settings in the registry of the local machine.
//
// A section is a subkey of "SOFTWARE\Orvik\Config\MV"; the program's own settings are in
// "General". Every value, numbers included, is stored as REG_SZ text; a value of any other
// type reads as absent. Each call opens and closes its own key, so these functions keep no
// state and may be called from any thread. Readers never fail: whatever goes wrong, they
// hand back the caller's default. Sizes are in wide characters, terminator included.
#pragma once

#include "util/UniqueHandle.h"

#include <windows.h>

// Opens the section for reading (KEY_READ) or, with forWrite, for all access, creating it
// and any missing key above it when it does not exist. The path is cut at 511 characters
// and the cut path is what is opened. The caller owns the key; an empty owner when the
// section cannot be opened (or section is null).
CRegKey CfgOpenSection(const wchar_t* section, BOOL forWrite);

// Reads a REG_SZ value into out. When the section or value is missing, is not REG_SZ, or
// its text and terminator do not fit in cchOut, the default is placed instead (cut to
// cchOut - 1 characters when it does not fit; a null default leaves an empty text).
// Answers the length of the text now in out; 0 with nothing touched when section, name or
// out is null or cchOut is 0.
int CfgGetString(const wchar_t* section, const wchar_t* name, const wchar_t* defaultText,
                 wchar_t* out, DWORD cchOut);

// What a strict read of one text value found.
enum class CfgTextRead { kAbsent, kUnreadable, kText };

// Reads a REG_SZ value through one open of the section, telling a missing value from one that
// is there but cannot be used: kAbsent when the section or the value does not exist;
// kUnreadable when it exists but is of another type, does not fit cchOut with its terminator,
// or cannot be read at all; kText with the text in out. out is empty unless kText.
CfgTextRead CfgReadText(const wchar_t* section, const wchar_t* name, wchar_t* out, DWORD cchOut);

// The same reading, answering out itself.
wchar_t* CfgGetStringBuf(const wchar_t* section, const wchar_t* name, DWORD cchOut, wchar_t* out,
                         const wchar_t* defaultText);

// Writes text as REG_SZ (terminator included in its length), creating the section when it
// is missing. FALSE when an argument is null or the key cannot be opened or written.
BOOL CfgSetString(const wchar_t* section, const wchar_t* name, const wchar_t* text);

// CfgSetString for callers that go on whatever happens.
void CfgSetStringNoResult(const wchar_t* section, const wchar_t* name, const wchar_t* text);

// Reads a number stored as decimal text. Leading digits count ("12abc" is 12); a text that
// does not start with a number gives the default. An unsigned read accepts a minus sign and
// wraps ("-1" is 4294967295); text beyond the 32-bit range saturates at its limit.
DWORD CfgGetUInt(const wchar_t* section, const wchar_t* name, DWORD defaultValue);
int CfgGetInt(const wchar_t* section, const wchar_t* name, int defaultValue);
