#include "util/DllSearch.h"

#include "util/ProcAddress.h"

namespace {

// Not in every kernel32: resolved at run time.
using PFN_SetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);

constexpr DWORD kSearchDefaultDirs = 0x00001000;  // LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
constexpr DWORD kSearchDllLoadDir = 0x00000100;   // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR

}  // namespace

BOOL RestrictDllSearch()
{
    const auto setDefault =
        GetProcAs<PFN_SetDefaultDllDirectories>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefault != nullptr && setDefault(kSearchDefaultDirs)) return TRUE;
    SetDllDirectoryW(L"");
    return FALSE;
}

HMODULE LoadLibraryFromItsFolder(const wchar_t* fullPath)
{
    HMODULE module = LoadLibraryExW(fullPath, nullptr, kSearchDllLoadDir | kSearchDefaultDirs);
    // Systems without the search flags refuse them as an invalid parameter.
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        module = LoadLibraryExW(fullPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return module;
}
