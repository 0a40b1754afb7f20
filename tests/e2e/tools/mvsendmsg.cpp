// mvsendmsg: sends the updater's hidden window the messages of a shutdown or a user, for the
// end-to-end runs. Started with the program, it waits for the file the driver creates once the run
// is in the wanted status, so that starting a program under the emulator does not come between that
// status and the message.
//   mvsendmsg [--wait-file PATH --wait-ms N] NAME[:WPARAM:LPARAM]...   (close, queryendsession,
//   endsession; rewriteini: not a message, but another process of the same user trying to
//   rewrite, then delete, each file in the run's folders %TEMP%\mvu-*)
//   mvsendmsg --page-fault   dies of an unhandled exception (the driver's crash detection self
//   check)
//   mvsendmsg --launch [--path DIR] [--temp-sub NAME] PROGRAM [ARGS...]   runs PROGRAM with DIR
//   first on its PATH and, with --temp-sub, TEMP and TMP set to the folder NAME (created) in the
//   temporary directory, handing it an inheritable handle (a pipe's write end) whose value
//   MVU_INHERIT_PROBE names; exits with PROGRAM's exit code (5 when it could not be started)
// Prints a line per message; a handler that ends the process makes the send fail or time out,
// delivered all the same. Exit codes: 0 sent, 2 usage, 3 no window, 4 no wait file.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

struct Message {
    char name[32] = {};
    UINT id = 0;
    long long wParam = 0, lParam = 0;
};

static bool Parse(const char* text, Message& m)
{
    int end = 0;
    const int fields =
        std::sscanf(text, "%31[a-z]%n:%lli:%lli%n", m.name, &end, &m.wParam, &m.lParam, &end);
    m.id = std::strcmp(m.name, "close") == 0             ? WM_CLOSE
           : std::strcmp(m.name, "queryendsession") == 0 ? WM_QUERYENDSESSION
           : std::strcmp(m.name, "endsession") == 0      ? WM_ENDSESSION
           : std::strcmp(m.name, "rewriteini") == 0      ? WM_NULL
                                                         : 0;
    return (fields == 1 || fields == 3) && text[end] == '\0' &&
           (m.id != 0 || std::strcmp(m.name, "rewriteini") == 0);
}

// Tries to change each file of the run's folders as any program of the user could: prints
// "rewrite NAME: written" or "rewrite NAME: refused, error N", and the same for its deletion.
static void RewriteRunFiles()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    WIN32_FIND_DATAW folder = {};
    HANDLE folders = FindFirstFileW((std::wstring(temp) + L"mvu-*").c_str(), &folder);
    for (BOOL more = folders != INVALID_HANDLE_VALUE; more;
         more = FindNextFileW(folders, &folder)) {
        const std::wstring dir = std::wstring(temp) + folder.cFileName + L"\\";
        WIN32_FIND_DATAW file = {};
        HANDLE files = FindFirstFileW((dir + L"*").c_str(), &file);
        for (BOOL next = files != INVALID_HANDLE_VALUE; next; next = FindNextFileW(files, &file)) {
            if (file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            const std::wstring path = dir + file.cFileName;
            HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                std::printf("rewrite %ls: refused, error %lu\n", file.cFileName, GetLastError());
            } else {
                const char line[] = "\r\n[ZEInstall]\r\nfile=evil.exe|evil.exe|1|00|MV\\bin\r\n";
                DWORD written = 0;
                SetFilePointer(h, 0, nullptr, FILE_END);
                WriteFile(h, line, sizeof(line) - 1, &written, nullptr);
                CloseHandle(h);
                std::printf("rewrite %ls: written\n", file.cFileName);
            }
            if (DeleteFileW(path.c_str()))
                std::printf("delete %ls: deleted\n", file.cFileName);
            else
                std::printf("delete %ls: refused, error %lu\n", file.cFileName, GetLastError());
        }
        if (files != INVALID_HANDLE_VALUE)
            FindClose(files);
    }
    if (folders != INVALID_HANDLE_VALUE)
        FindClose(folders);
    std::fflush(stdout);
}

// Runs the command line after "--launch" as described above.
static int Launch(int argc, wchar_t** argv)
{
    int next = 2;
    if (argc > 4 && wcscmp(argv[next], L"--path") == 0) {
        std::vector<wchar_t> path(32768);
        const DWORD length = GetEnvironmentVariableW(L"PATH", path.data(), 32768);
        std::wstring value = std::wstring(argv[next + 1]) + L";";
        if (length < 32768)
            value += path.data();
        SetEnvironmentVariableW(L"PATH", value.c_str());
        next += 2;
    }
    if (argc > next + 2 && wcscmp(argv[next], L"--temp-sub") == 0) {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::wstring folder = std::wstring(temp) + argv[next + 1];
        CreateDirectoryW(folder.c_str(), nullptr);
        SetEnvironmentVariableW(L"TEMP", folder.c_str());
        SetEnvironmentVariableW(L"TMP", folder.c_str());
        next += 2;
    }
    std::wstring commandLine;
    for (int i = next; i < argc; ++i)
        commandLine += (i > next ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        return 5;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    SetEnvironmentVariableW(
        L"MVU_INHERIT_PROBE",
        std::to_wstring(static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(writeEnd)))
            .c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(argv[next], &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::printf("cannot start the program: error %lu\n", GetLastError());
        return 5;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 5;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}

int main(int argc, char** argv)
{
    int wideCount = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wide != nullptr && wideCount > 2 && wcscmp(wide[1], L"--launch") == 0)
        return Launch(wideCount, wide);
    if (argc == 2 && std::strcmp(argv[1], "--page-fault") == 0) {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
        return 1;
    }
    const bool wait = argc > 4 && std::strcmp(argv[1], "--wait-file") == 0 &&
                      std::strcmp(argv[3], "--wait-ms") == 0;
    std::vector<Message> messages(argc - (wait ? 5 : 1));
    for (size_t i = 0; i < messages.size(); ++i) {
        if (!Parse(argv[argc - messages.size() + i], messages[i]))
            messages.clear();
    }
    if (messages.empty()) {
        std::fprintf(stderr,
                     "usage: mvsendmsg [--wait-file PATH --wait-ms N] NAME[:WPARAM:LPARAM]...\n");
        return 2;
    }
    for (const DWORD started = GetTickCount();
         wait && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; Sleep(10)) {
        if (GetTickCount() - started > std::strtoul(argv[4], nullptr, 10)) {
            std::printf("wait file %s never appeared\n", argv[2]);
            return 4;
        }
    }
    const HWND window = FindWindowW(L"ovkmvdownloadhiddenwnd", nullptr);
    if (window == nullptr) {
        std::printf("no window of class ovkmvdownloadhiddenwnd\n");
        return 3;
    }
    for (const Message& m : messages) {
        if (m.id == WM_NULL) {
            RewriteRunFiles();
            continue;
        }
        DWORD_PTR result = 0;
        SetLastError(0);
        const LRESULT ok =
            SendMessageTimeoutW(window, m.id, static_cast<WPARAM>(m.wParam),
                                static_cast<LPARAM>(m.lParam), SMTO_NORMAL, 5000, &result);
        std::printf("sent %s wParam=0x%llx lParam=0x%llx ok=%d result=0x%llx error=%lu\n", m.name,
                    m.wParam, m.lParam, ok != 0 ? 1 : 0, static_cast<unsigned long long>(result),
                    GetLastError());
        std::fflush(stdout);
    }
    return 0;
}
