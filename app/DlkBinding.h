// The download-and-install library ieksdlk.dll and its extension ksdlkext.dll, bound at run
// time. Every entry point is a process-wide pointer, null when unresolved; callers skip
// unresolved ones.
#pragma once

#include "app/DlkApi.h"

#include <windows.h>

extern PFN_DlkInitStdDownload g_pfnDlkInitStdDownload;
extern PFN_DlkExitStdDownload g_pfnDlkExitStdDownload;
extern PFN_DlkSetStdParameter g_pfnDlkSetStdParameter;
extern PFN_DlkStdDownload g_pfnDlkStdDownload;
extern PFN_DlkStdDownload2 g_pfnDlkStdDownload2;
extern PFN_DlkStdGetSectionIntegrity g_pfnDlkStdGetSectionIntegrity;
extern PFN_DlkStdGetSectionIntegrity2 g_pfnDlkStdGetSectionIntegrity2;
extern PFN_DlkOdeConfig g_pfnDLKOpcConfig;

// Binds ieksdlk.dll: the copy the process has loaded already, else the one two directories
// above the program's own. TRUE when bound (entry points resolved as far as they exist).
BOOL LoadDLKFunctions();
// Releases the library (only when this code loaded it) and forgets every entry point.
void FreeDLKFunctions();
// Resolves DlkOdeConfig from ksdlkext.dll when the process has that loaded (the download
// library loads it); never loads it itself. Once found, the module is not looked up again.
void LoadKsdlkextFunctions();
