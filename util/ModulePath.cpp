#include "util/ModulePath.h"

#include <cwchar>

bool CutPathComponents(wchar_t* path, int levels)
{
    if (path == nullptr)
        return false;
    for (int i = 0; i <= levels; ++i) {
        wchar_t* slash = std::wcsrchr(path, L'\\');
        if (slash == nullptr) {
            path[0] = L'\0';
            return false;
        }
        *slash = L'\0';
    }
    return true;
}

#ifdef _WIN32

BOOL GetModuleDir(HMODULE module, wchar_t* buffer, DWORD cchBuffer, int levels)
{
    if (buffer == nullptr || cchBuffer == 0)
        return FALSE;
    const DWORD n = GetModuleFileNameW(module, buffer, cchBuffer);
    // A path that filled the buffer was cut: its directory would be the wrong one.
    if (n == 0 || n >= cchBuffer) {
        buffer[0] = L'\0';
        return FALSE;
    }
    return CutPathComponents(buffer, levels) ? TRUE : FALSE;
}

#endif
