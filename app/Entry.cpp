#include "app/Entry.h"

#include "app/AppTrace.h"
#include "app/CMVAgtApp.h"
#include "app/DlkBinding.h"
#include "app/EntryGlobals.h"
#include "app/LaunchedProgram.h"
#include "trace/TraceText.h"
#include "util/ModulePath.h"
#include "util/OSVersion.h"
#include "util/SafeString.h"

#include <ole2.h>
#include <shellapi.h>

#include <cstdlib>
#include <cwchar>
#include <new>

HINSTANCE g_hInstance = nullptr;
int g_nOSVersionClass = -1;
CMVAgtApp* g_pAgtApp = nullptr;

const wchar_t kHiddenWindowClass[] = L"ovkmvdownloadhiddenwnd";
const wchar_t kHiddenWindowTitle[] = L"*****ovkmvdownload*****5621#####$$$$$";
// The program's own path, in characters: longer than MAX_PATH, as a long folder may be.
constexpr DWORD kModulePathSize = 512;

namespace {

HWND CreateHiddenWindow(HINSTANCE hInstance)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = HiddenWndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = kHiddenWindowClass;
    RegisterClassW(&wc);
    return CreateWindowExW(0, kHiddenWindowClass, kHiddenWindowTitle, WS_POPUPWINDOW, 0, 0, 0, 0,
                           nullptr, nullptr, hInstance, nullptr);
}

// stopLibrary: the run is dropped where it stands (the end of the session), so the download
// library's threads are stopped before the application object they notify goes. After the
// message loop the application has stopped the library itself.
void DestroyApplication(bool stopLibrary)
{
    if (g_pAgtApp == nullptr)
        return;
    g_pAgtApp->Cleanup();
    if (stopLibrary && g_pfnDlkExitStdDownload != nullptr)
        g_pfnDlkExitStdDownload();
    delete g_pAgtApp;
    g_pAgtApp = nullptr;
}

// The application's run on the hidden window: from its creation to the end of its loop.
void RunApplication(HWND hWnd, const wchar_t* cmdLine)
{
    g_pAgtApp = new (std::nothrow) CMVAgtApp();
    if (g_pAgtApp == nullptr) {
        // Out of memory before the run began: nothing to update with, but the launch still comes.
        TraceText(TRACE_LEVEL_PROGRESS, L"Agent-App could not be created: out of memory.");
        return;
    }
    if (IsCheckModeCommandLine(cmdLine))
        g_pAgtApp->SetCheckFlag(1);
    g_pAgtApp->Initialize(hWnd);
    g_pAgtApp->Run();
}

void LaunchAgent(const wchar_t* cmdLine)
{
    if (IsCheckModeCommandLine(cmdLine)) {
        LaunchFromModuleDir(L"mvagtx.exe", nullptr, SW_SHOWNORMAL);
    } else {
        LaunchFromModuleDir(L"ksagtctl.exe", L"/start2", SW_SHOWNORMAL);
    }
}

}  // namespace

bool IsCheckModeCommandLine(const wchar_t* cmdLine)
{
    return cmdLine != nullptr && _wcsicmp(cmdLine, L"/check") == 0;
}

int RunUpdater(HINSTANCE hInstance, const wchar_t* cmdLine, DWORD startDelayMs)
{
    Sleep(startDelayMs);
    SetCurrentDirToModule(hInstance);
    g_nOSVersionClass = GetOSVersionClass();
    OleInitialize(nullptr);
    HWND hWnd = CreateHiddenWindow(hInstance);
    const bool ticking =
        hWnd != nullptr && SetTimer(hWnd, kTickTimerId, kTickPeriodMs, nullptr) != 0;
    g_hInstance = hInstance;
    if (ticking) {
        RunApplication(hWnd, cmdLine);
    } else {
        // Without the window's timer the run could never end: go straight to the launch.
        TraceText(TRACE_LEVEL_PROGRESS, L"Hidden window or its timer could not be created.");
    }
    if (hWnd != nullptr) {
        KillTimer(hWnd, kTickTimerId);
        DestroyWindow(hWnd);
    }
    DestroyApplication(false);
    OleUninitialize();
    LaunchAgent(cmdLine);
    return 0;
}

LRESULT CALLBACK HiddenWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_QUERYENDSESSION:
        if (lParam == 0 && g_pAgtApp != nullptr)
            g_pAgtApp->OnCommandClose();
        break;
    case WM_ENDSESSION:
        // wParam FALSE: the shutdown was cancelled and the session goes on. The query has
        // already moved the run to its end, which launches the agent as usual; exiting here
        // would leave the host agent stopped until the next boot.
        if (lParam == 0 && wParam != FALSE) {
            DestroyApplication(true);
            std::exit(0);
        }
        break;
    case WM_TIMER:
        if (g_pAgtApp != nullptr)
            g_pAgtApp->OnTimer();
        break;
    case WM_CLOSE:
        // Closed from outside: end the run in order (and launch the agent) rather than lose
        // the window and its timer, after which the run could never end.
        if (g_pAgtApp != nullptr)
            g_pAgtApp->OnCommandClose();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

void SetCurrentDirToModule(HINSTANCE hInstance)
{
    wchar_t dir[kModulePathSize] = {};
    DWORD length = GetModuleFileNameW(hInstance, dir, kModulePathSize);
    if (length >= kModulePathSize)
        length = 0;  // a cut path names no directory of ours
    while (length > 0 && dir[length - 1] != L'\\')
        dir[--length] = L'\0';
    if (length == 0)
        dir[0] = L'\0';
    SetCurrentDirectoryW(dir);
    TraceFormat(TRACE_LEVEL_DETAIL, kLongRecord, L"Set current directory to : %ls", dir);
}

BOOL LaunchFromModuleDir(const wchar_t* fileName, const wchar_t* parameters, int showCommand)
{
    wchar_t path[MAX_PATH] = {};
    // Without the program's own folder the name would be looked up from the drive's root.
    if (!GetModuleDir(nullptr, path, MAX_PATH, 0) || path[0] == L'\0') {
        TraceFormat(TRACE_LEVEL_PROGRESS, kLongRecord,
                    L"Program directory unknown: %ls not started.", fileName);
        return FALSE;
    }
    BoundedAppend(path, MAX_PATH, L"\\");
    BoundedAppend(path, MAX_PATH, fileName);
    return ShellOpenFile(path, parameters, showCommand);
}

BOOL ShellOpenFile(const wchar_t* path, const wchar_t* parameters, int showCommand)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // The process ends right after the launch: it must not be left to a thread the exit kills.
    info.fMask = SEE_MASK_NOZONECHECKS | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = path;
    info.lpParameters = parameters;
    info.nShow = showCommand;
    const BOOL ok = ShellExecuteExW(&info);
    AwaitLaunched(UniqueKernelHandle(info.hProcess));
    return ok;
}
