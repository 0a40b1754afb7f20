// Pure text work of the version check and its answer: the server name from "SURL", the
// version-check and INI URLs, the version answer's values, and the local INI file name.
// No Windows header here: this also builds natively for sanitizers and fuzzing.
#pragma once

#include "util/RolloutText.h"

#include <cstddef>
#include <cstdint>

constexpr size_t kServerNameSize = 256;
// The capacities of the answer's values, terminator included.
constexpr size_t kAnswerFieldSize = 256;
constexpr size_t kAnswerShortFieldSize = 32;
constexpr size_t kAnswerStatusSize = 64;
constexpr size_t kUrlSize = 2048;
constexpr uint32_t kNoLanguage = 0xFFFFFFFFu;

// Turns the "SURL" text into the server name: the scheme ("https://" or "http://", exact
// case) is dropped, a path of exactly "/orvik" (any case) is cut, and a name without a path
// gets "/" and its first label appended. Returns true when the scheme was dropped, so the
// name is to be written back to "SURL".
bool NormaliseServerName(const wchar_t* surl, wchar_t (&server)[kServerNameSize]);

// The version-check URL template for an operating-system class ("%s" takes the server name).
const wchar_t* VersionUrlTemplate(int osClass, bool wow64);

// The whole version-check URL: template, then "&LID=<n>" unless languageId is kNoLanguage,
// then "&TK=" and the token verbatim. Cut at kUrlSize - 1 characters.
void BuildVersionCheckUrl(wchar_t (&url)[kUrlSize], const wchar_t* server, int osClass, bool wow64,
                          uint32_t languageId, const wchar_t* token);

// The INI URL: root, "/", then the root ex when it is not empty, else the INI name.
void BuildIniUrl(wchar_t (&url)[kUrlSize], const wchar_t* urlRoot, const wchar_t* iniName,
                 const wchar_t* urlRootEx);

// The values of a version answer, each its tag's value or default.
struct VersionAnswer {
    wchar_t status[kAnswerStatusSize];
    wchar_t productVersion[kAnswerFieldSize];
    wchar_t productDescription[kAnswerFieldSize];
    wchar_t iniName[kAnswerFieldSize];
    wchar_t urlRootEx[kAnswerFieldSize];
    wchar_t activeIniSection[kAnswerFieldSize];
    wchar_t urlRoot[kAnswerFieldSize];
    wchar_t unpackVersion[kAnswerFieldSize];
    wchar_t extVersion[kAnswerFieldSize];
    wchar_t unpackName[kAnswerFieldSize];
    wchar_t extName[kAnswerFieldSize];
    wchar_t supportDelta[kAnswerShortFieldSize];
    wchar_t lid[kAnswerShortFieldSize];
    // The share of the fleet the release is offered to, in hundredths of a percent
    // (kFullRollout unless the tag holds a share).
    RolloutTag rollout;
    uint32_t rolloutShare;
};

// Reads the answer's values from the "<MVHostVersion>" envelope of text. True when its
// Status is "SUCCESS" in any letter case (the values are read only then).
bool ParseVersionAnswer(const wchar_t* text, VersionAnswer& answer);

// Whether name can be used as a file name inside the temporary directory: no path
// separator, drive, ".." or other way out of it, no reserved device name, no character
// Windows refuses in file names.
bool IsSafeLocalFileName(const wchar_t* name);

// A server's answer as it may be traced: every "TK=" parameter (after "?", "&" or at the start)
// keeps its name, and the rest of its line is replaced by "********". A server that echoes the
// request URL would otherwise put the access token into the trace. Writes at most cchOut
// characters with the terminator (the text is cut there); answers the characters the whole
// masked text needs, terminator included, so a null out measures.
size_t MaskTokenInText(const wchar_t* text, wchar_t* out, size_t cchOut);

// ASCII letters compared without regard to case, everything else exactly.
bool EqualsIgnoreAsciiCase(const wchar_t* a, const wchar_t* b);

// Puts text into out at the first "%s" of pattern; the rest of pattern is copied as it
// stands. Cut at cchOut - 1 characters.
void FillPattern(wchar_t* out, size_t cchOut, const wchar_t* pattern, const wchar_t* text);
