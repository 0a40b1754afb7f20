#include "util/DllSearch.h"

#include "util/ProcAddress.h"
#include "util/SafeString.h"

namespace {

// Not in every kernel32: resolved at run time.
using PFN_SetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);

constexpr DWORD kSearchDefaultDirs = 0x00001000;  // LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
constexpr DWORD kSearchDllLoadDir = 0x00000100;   // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR

}  // namespace

BOOL RestrictDllSearch()
{
    const auto setDefault = GetProcAs<PFN_SetDefaultDllDirectories>(
        GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefault != nullptr && setDefault(kSearchDefaultDirs))
        return TRUE;
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

HMODULE LoadSystemLibrary(const wchar_t* fileName)
{
    wchar_t dir[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return nullptr;
    wchar_t path[MAX_PATH] = {};
    // A cut path could name some other file: load nothing rather than that.
    if (BoundedFormat(path, MAX_PATH, L"%ls\\%ls", dir, fileName) != KS_S_OK)
        return nullptr;
    OutputDebugStringW(path);
    return LoadLibraryW(path);
}
