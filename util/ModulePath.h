// The directory of a loaded module, and the pure path cutting beneath it.
#pragma once

#include <cstddef>

// Cuts the last component off path (at the last backslash), then one more for each level.
// No trailing backslash is left. When there is no backslash left to cut at, path is emptied
// and false returned.
bool CutPathComponents(wchar_t* path, int levels);

#ifdef _WIN32
#include <windows.h>

// The directory of module (null: the program) in buffer, levels directories further up.
// FALSE, with an empty buffer, when the path cannot be had whole or cannot be cut.
BOOL GetModuleDir(HMODULE module, wchar_t* buffer, DWORD cchBuffer, int levels);
#endif
