// The process of mvupdate.exe from start to exit: the start delay, the hidden window with
// its 50 ms timer, the application's run, the teardown and the final launch of the agent
// (check mode) or the agent controller.
#pragma once

#include <windows.h>

// Hidden window of the updater, as other software finds it.
extern const wchar_t kHiddenWindowClass[];
extern const wchar_t kHiddenWindowTitle[];
constexpr UINT_PTR kTickTimerId = 100;
constexpr UINT kTickPeriodMs = 50;
constexpr DWORD kStartDelayMs = 30000;

// The whole run: waits startDelayMs, then runs the update. Always 0.
int RunUpdater(HINSTANCE hInstance, const wchar_t* cmdLine, DWORD startDelayMs);

// True when the command line is exactly "/check" in any letter case.
bool IsCheckModeCommandLine(const wchar_t* cmdLine);

LRESULT CALLBACK HiddenWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Sets the working directory to the program's own directory.
void SetCurrentDirToModule(HINSTANCE hInstance);
// Starts fileName from the program's own directory.
BOOL LaunchFromModuleDir(const wchar_t* fileName, const wchar_t* parameters, int showCommand);
// Opens path with the shell; the result of ShellExecuteExW.
BOOL ShellOpenFile(const wchar_t* path, const wchar_t* parameters, int showCommand);
