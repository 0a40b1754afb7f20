// Text helpers of the download library stand-in. No Windows header here: these also build
// natively.
#pragma once

#include <string>

// ASCII case-insensitive equality, as section names, keys and file names compare.
bool EqualNoCase(const std::string& a, const std::string& b);

// Spaces and tabs off both ends.
std::string TrimBlanks(const std::string& text);

// The URL of a file: root ("https://host/path", "http://host/path", or a bare "host/path" taken
// as https) joined to path with exactly one "/". Backslashes of path become "/"; bytes that may
// not stand in a URL (blanks, controls, non-ASCII, quotes, angle brackets) are percent-encoded.
// false for an empty root or path, a root without a host or with another scheme.
bool MakeDownloadUrl(const std::string& root, const std::string& path, std::string& url);

// A text as a record shows it: in double quotes, an inner quote doubled, each control character
// as \xNN; null is written null, without quotes.
std::string QuoteRecordText(const char* text);
