// The program's localised strings: the string table carried by the program itself.
#pragma once

#include <windows.h>

// The module strings are loaded from: the program's own instance once the application
// object exists, null before.
extern HMODULE g_hResModule;

// Id of the product name, which fills the "%s" of the other strings.
constexpr UINT IDS_PRODUCT_NAME = 165;

void LoadResourceModule();

// Loads string id into out (cchOut wide characters). With bFormat non-zero the first "%s"
// of the string is replaced by the product name. 1 when the product name could be loaded
// (out then holds the text, empty when id itself is missing); 0 otherwise, out untouched.
int LoadResString(UINT id, wchar_t* out, int cchOut, int bFormat);
