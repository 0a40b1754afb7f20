// Files of the stand-in tests: the test program's directory, the stand-ins' record files,
// whole-file reads and writes.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

// fileName (may hold "\") in the test program's directory.
std::wstring BesideTest(const std::wstring& fileName);

// The texts of a stand-in's record or log beside the test program: each line without its
// "<date> <time> pid=<n> tid=<n> " prefix. Only lines of this process when ownOnly.
std::vector<std::string> ReadStandinLines(const std::wstring& fileName, bool ownOnly = true);

bool WriteBytes(const std::wstring& path, const std::string& bytes);
// Empty, with false, when the file cannot be read.
bool ReadBytes(const std::wstring& path, std::string& bytes);
bool FileExists(const std::wstring& path);
// Names in a directory, "." and ".." left out; empty when it does not exist.
std::vector<std::wstring> ListDir(const std::wstring& dir);
// Deletes a directory with everything below it.
void RemoveTree(const std::wstring& dir);

std::string Sha256Hex(const std::string& bytes);
std::string Utf8(const std::wstring& text);
