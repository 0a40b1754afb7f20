#include "app/DlkBinding.h"

#include "trace/CMVFuncTrace.h"
#include "trace/TraceText.h"
#include "app/AppTrace.h"
#include "util/DllSearch.h"
#include "util/ModulePath.h"
#include "util/ProcAddress.h"
#include "util/SafeString.h"

PFN_DlkInitStdDownload g_pfnDlkInitStdDownload = nullptr;
PFN_DlkExitStdDownload g_pfnDlkExitStdDownload = nullptr;
PFN_DlkSetStdParameter g_pfnDlkSetStdParameter = nullptr;
PFN_DlkStdDownload g_pfnDlkStdDownload = nullptr;
PFN_DlkStdDownload2 g_pfnDlkStdDownload2 = nullptr;
PFN_DlkStdGetSectionIntegrity g_pfnDlkStdGetSectionIntegrity = nullptr;
PFN_DlkStdGetSectionIntegrity2 g_pfnDlkStdGetSectionIntegrity2 = nullptr;
PFN_DlkOdeConfig g_pfnDLKOpcConfig = nullptr;

namespace {

// Freed only by FreeDLKFunctions, never as the process ends: the library's own threads may still
// be inside it then. So no owner object, whose destructor would run at exit.
HMODULE g_hDlk = nullptr;
bool g_bDlkOwned = false;
HMODULE g_hKsdlkext = nullptr;

template <typename Fn>
void Resolve(HMODULE module, Fn& entry, const char* name)
{
    entry = GetProcAs<Fn>(module, name);
}

// The library's place: the directory two levels above the program's own. False when that
// directory is unknown (the name alone would be looked up from the drive's root).
bool LibraryPath(wchar_t (&path)[MAX_PATH])
{
    if (!GetModuleDir(nullptr, path, MAX_PATH, 2) || path[0] == L'\0')
        return false;
    BoundedAppend(path, MAX_PATH, L"\\");
    BoundedAppend(path, MAX_PATH, L"ieksdlk.dll");
    return true;
}

void ResolveDlk()
{
    Resolve(g_hDlk, g_pfnDlkInitStdDownload, "DlkInitStdDownload");
    Resolve(g_hDlk, g_pfnDlkExitStdDownload, "DlkExitStdDownload");
    Resolve(g_hDlk, g_pfnDlkSetStdParameter, "DlkSetStdParameter");
    Resolve(g_hDlk, g_pfnDlkStdDownload, "DlkStdDownload");
    Resolve(g_hDlk, g_pfnDlkStdDownload2, "DlkStdDownload2");
    Resolve(g_hDlk, g_pfnDlkStdGetSectionIntegrity, "DlkStdGetSectionIntegrity");
    Resolve(g_hDlk, g_pfnDlkStdGetSectionIntegrity2, "DlkStdGetSectionIntegrity2");
}

}  // namespace

BOOL LoadDLKFunctions()
{
    CMVFuncTrace scope(L"LoadDLKFunctions");
    if (g_hDlk != nullptr)
        return TRUE;
    g_hDlk = GetModuleHandleW(L"ieksdlk.dll");
    g_bDlkOwned = false;
    if (g_hDlk == nullptr) {
        wchar_t path[MAX_PATH] = {};
        if (!LibraryPath(path)) {
            TraceText(TRACE_LEVEL_PROGRESS, L"Program directory unknown: ieksdlk.dll not loaded.");
            return FALSE;
        }
        g_hDlk = LoadLibraryFromItsFolder(path);
        g_bDlkOwned = g_hDlk != nullptr;
        if (g_hDlk != nullptr) {
            TraceFormat(TRACE_LEVEL_PROGRESS, kLongRecord, L"LoadLibrary ieksdlk.dll success %ls",
                        path);
        } else {
            TraceFormat(TRACE_LEVEL_DETAIL, kLongRecord, L"LoadLibrary ieksdlk.dll failed %ls",
                        path);
        }
    }
    if (g_hDlk == nullptr)
        return FALSE;
    ResolveDlk();
    return TRUE;
}

void FreeDLKFunctions()
{
    CMVFuncTrace scope(L"FreeDLKFunctions");
    if (g_hDlk != nullptr && g_bDlkOwned)
        FreeLibrary(g_hDlk);
    g_hDlk = nullptr;
    g_bDlkOwned = false;
    g_pfnDlkInitStdDownload = nullptr;
    g_pfnDlkExitStdDownload = nullptr;
    g_pfnDlkSetStdParameter = nullptr;
    g_pfnDlkStdDownload = nullptr;
    g_pfnDlkStdDownload2 = nullptr;
    g_pfnDlkStdGetSectionIntegrity = nullptr;
    g_pfnDlkStdGetSectionIntegrity2 = nullptr;
    // The extension belongs to the download library, which may have just unloaded it.
    g_hKsdlkext = nullptr;
    g_pfnDLKOpcConfig = nullptr;
}

void LoadKsdlkextFunctions()
{
    CMVFuncTrace scope(L"LoadKsdlkextFunctions");
    if (g_hKsdlkext != nullptr)
        return;
    g_hKsdlkext = GetModuleHandleW(L"ksdlkext.dll");
    if (g_hKsdlkext == nullptr) {
        TraceText(TRACE_LEVEL_DETAIL, L"To load ksdlkext.dll failed");
        return;
    }
    Resolve(g_hKsdlkext, g_pfnDLKOpcConfig, "DlkOdeConfig");
    TraceText(TRACE_LEVEL_DETAIL, g_pfnDLKOpcConfig ? L"To load function g_pfnDLKOpcConfig success"
                                                    : L"To load function g_pfnDLKOpcConfig failed");
}
