// mvsendmsg: sends the updater's hidden window the messages a shutdown or a user would send,
// for the end-to-end fault runs. Started early in the machine of the run, it waits until the
// driver creates a file (the run has reached the status the case wants), then finds the window
// by its class and sends each message in turn, so that the delay of starting a program under
// the emulator does not come between the status and the message.
//
//   mvsendmsg [--wait-file PATH] [--wait-ms N] [--timeout-ms N] MESSAGE[:WPARAM[:LPARAM]]...
//   mvsendmsg --page-fault
//
// MESSAGE: queryendsession (0x11), endsession (0x16), close (0x10), or a number; WPARAM and
// LPARAM are numbers (0x for hex), 0 when left out. One line per message on standard output:
//   sent endsession wParam=0x1 lParam=0x0 ok=0 result=0x0 error=1460
// A window that ends its process inside its handler (end of session) makes the send fail
// or time out; it was delivered all the same. Exit codes: 0 every message was sent, 2 usage,
// 3 no such window, 4 the wait file never appeared.
//
// --page-fault writes through a null pointer and so ends the tool by an unhandled exception:
// the driver checks with it that its crash detection sees what the emulator reports then.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const wchar_t kWindowClass[] = L"ovkmvdownloadhiddenwnd";
constexpr DWORD kPollMs = 10;

struct Message {
    std::string name;
    UINT id = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

bool ParseNumber(const std::string& text, unsigned long long& value)
{
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 0);
    return end != nullptr && *end == '\0';
}

bool ParseMessage(const std::string& text, Message& out)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (parts.size() > 3) return false;
    static const struct {
        const char* name;
        UINT id;
    } kNames[] = {{"queryendsession", WM_QUERYENDSESSION}, {"endsession", WM_ENDSESSION}, {"close", WM_CLOSE}};
    out.name = parts[0];
    bool known = false;
    for (const auto& n : kNames) {
        if (parts[0] == n.name) {
            out.id = n.id;
            known = true;
        }
    }
    unsigned long long number = 0;
    if (!known) {
        if (!ParseNumber(parts[0], number)) return false;
        out.id = static_cast<UINT>(number);
    }
    if (parts.size() > 1) {
        if (!ParseNumber(parts[1], number)) return false;
        out.wParam = static_cast<WPARAM>(number);
    }
    if (parts.size() > 2) {
        if (!ParseNumber(parts[2], number)) return false;
        out.lParam = static_cast<LPARAM>(number);
    }
    return true;
}

bool WaitForFile(const std::string& path, DWORD waitMs)
{
    const DWORD started = GetTickCount();
    while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - started > waitMs) return false;
        Sleep(kPollMs);
    }
    return true;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: mvsendmsg [--wait-file PATH] [--wait-ms N] [--timeout-ms N] "
                 "MESSAGE[:WPARAM[:LPARAM]]...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string waitFile;
    unsigned long long waitMs = 600000;
    unsigned long long timeoutMs = 5000;
    std::vector<Message> messages;
    if (argc == 2 && std::strcmp(argv[1], "--page-fault") == 0) {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--wait-file" && hasValue) {
            waitFile = argv[++i];
        } else if (arg == "--wait-ms" && hasValue) {
            if (!ParseNumber(argv[++i], waitMs)) return Usage();
        } else if (arg == "--timeout-ms" && hasValue) {
            if (!ParseNumber(argv[++i], timeoutMs)) return Usage();
        } else {
            Message m;
            if (!ParseMessage(arg, m)) return Usage();
            messages.push_back(m);
        }
    }
    if (messages.empty()) return Usage();
    if (!waitFile.empty() && !WaitForFile(waitFile, static_cast<DWORD>(waitMs))) {
        std::printf("wait file %s never appeared\n", waitFile.c_str());
        return 4;
    }
    HWND window = FindWindowW(kWindowClass, nullptr);
    if (window == nullptr) {
        std::printf("no window of class ovkmvdownloadhiddenwnd\n");
        return 3;
    }
    for (const Message& m : messages) {
        DWORD_PTR result = 0;
        SetLastError(0);
        const LRESULT ok = SendMessageTimeoutW(window, m.id, m.wParam, m.lParam, SMTO_NORMAL,
                                               static_cast<UINT>(timeoutMs), &result);
        const DWORD error = GetLastError();
        std::printf("sent %s wParam=0x%llx lParam=0x%llx ok=%d result=0x%llx error=%lu\n", m.name.c_str(),
                    static_cast<unsigned long long>(m.wParam), static_cast<unsigned long long>(m.lParam),
                    ok != 0 ? 1 : 0, static_cast<unsigned long long>(result), error);
        std::fflush(stdout);
    }
    return 0;
}
