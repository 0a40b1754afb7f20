// The application's commands: the configuration program's launch and the close command.
#include "app/CMVAgtApp.h"
#include "app/LaunchedProgram.h"

#include "trace/CMVFuncTrace.h"
#include "trace/TraceText.h"
#include "util/ModulePath.h"
#include "util/SafeString.h"

void CMVAgtApp::LaunchConfiguration()
{
    CMVFuncTrace scope(L"CMVAgtApp::LaunchConfiguration");
    wchar_t path[MAX_PATH] = {};
    if (!GetModuleDir(nullptr, path, MAX_PATH, 0) || path[0] == L'\0') {
        TraceText(TRACE_LEVEL_PROGRESS, L"Program directory unknown: mvcfg.exe not started.");
        SetStatus(STATUS_QUIT);
        return;
    }
    BoundedAppend(path, MAX_PATH, L"\\mvcfg.exe");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    // The configuration program gets none of the updater's handles.
    if (CreateProcessW(path, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        UniqueKernelHandle thread(process.hThread);
        AwaitLaunched(UniqueKernelHandle(process.hProcess));
    }
    SetStatus(STATUS_QUIT);
}

void CMVAgtApp::OnCommandClose()
{
    CMVFuncTrace scope(L"CMVAgtApp::OnCommandClose");
    TraceText(TRACE_LEVEL_DETAIL, L"Command : ID_MENU_CLOSE.");
    SetStatus(STATUS_QUIT);
}
