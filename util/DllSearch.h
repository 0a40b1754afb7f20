// Where the process looks for the libraries it loads. A library found in the working
// directory or in a folder on PATH could be anyone's: the program runs with administrator
// rights, so it loads only from its own folder and the system's.
#pragma once

#include <windows.h>

// Restricts the search of every later load to the program's folder and the system folders
// (LOAD_LIBRARY_SEARCH_DEFAULT_DIRS where the system has it, else at least the working
// directory is dropped from the search). TRUE when the default-directories restriction holds.
BOOL RestrictDllSearch();

// Loads the library at fullPath, its own imports searched in its own folder and the default
// folders; on systems without those search flags, with the altered search path.
HMODULE LoadLibraryFromItsFolder(const wchar_t* fullPath);

// Loads fileName from exactly the system directory; null when that fails or the path
// would not fit.
HMODULE LoadSystemLibrary(const wchar_t* fileName);

// Restricts the search when constructed: the process's first static object, ahead of the
// trace modules, which load their libraries when they are built.
class CDllSearchRestriction {
public:
    CDllSearchRestriction() { RestrictDllSearch(); }
};
