// mvscramble: prints the stored hex form of a secret (see standins/README.md).
//
//   mvscramble [-s START] [-f FILLERS] [-l] [--acp] [TEXT]
//
// TEXT (or, without it, standard input up to its end, less one trailing line break) is
// taken as UTF-8 and scrambled from key position START (0-255, default 0) behind FILLERS
// random filler bytes (0-3, default 0). -l writes lower-case digits. --acp scrambles the
// text in the system's ANSI code page instead of UTF-8, for values read as narrow text.
#include "standins/scrambler/Scrambler.h"

#include "util/Utf8.h"

#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <iostream>
#include <iterator>
#include <random>
#include <string>

namespace {

struct Arguments {
    ScrambleOptions options;
    unsigned fillerCount = 0;
    bool ansi = false;
    bool haveText = false;
    std::wstring text;
};

int Usage()
{
    std::fputs("usage: mvscramble [-s START(0-255)] [-f FILLERS(0-3)] [-l] [--acp] [TEXT]\n"
               "Without TEXT the text is read from standard input (UTF-8).\n",
               stderr);
    return 2;
}

bool ParseNumber(const wchar_t* text, unsigned maxValue, unsigned* value)
{
    if (text == nullptr || *text == L'\0')
        return false;
    wchar_t* end = nullptr;
    const unsigned long parsed = std::wcstoul(text, &end, 0);
    if (*end != L'\0' || parsed > maxValue)
        return false;
    *value = static_cast<unsigned>(parsed);
    return true;
}

bool ParseArguments(int argc, wchar_t** argv, Arguments* args)
{
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const wchar_t* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == L"-s") {
            if (!ParseNumber(next, 255, &args->options.start))
                return false;
            ++i;
        } else if (arg == L"-f") {
            if (!ParseNumber(next, 3, &args->fillerCount))
                return false;
            ++i;
        } else if (arg == L"-l") {
            args->options.lowerCase = true;
        } else if (arg == L"--acp") {
            args->ansi = true;
        } else if (arg == L"--") {
            if (next == nullptr || i + 2 != argc)
                return false;
            args->text = next;
            args->haveText = true;
            ++i;
        } else if (!arg.empty() && arg[0] == L'-') {
            return false;
        } else if (!args->haveText) {
            args->text = arg;
            args->haveText = true;
        } else {
            return false;
        }
    }
    return true;
}

std::wstring ReadStdinAsWide()
{
    _setmode(_fileno(stdin), _O_BINARY);
    std::string bytes((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    if (!bytes.empty() && bytes.back() == '\n') {
        bytes.pop_back();
        if (!bytes.empty() && bytes.back() == '\r')
            bytes.pop_back();
    }
    const int cch = Utf8ToWide(bytes.c_str(), nullptr, 0);
    if (cch <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(cch), L'\0');
    Utf8ToWide(bytes.c_str(), &wide[0], cch);
    wide.resize(static_cast<size_t>(cch) - 1);
    return wide;
}

std::string ToCodePage(const std::wstring& text, UINT codePage)
{
    const int cb = WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 0)
        return std::string();
    std::string bytes(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(codePage, 0, text.c_str(), -1, &bytes[0], cb, nullptr, nullptr);
    bytes.resize(static_cast<size_t>(cb) - 1);
    return bytes;
}

// Wraps the argument vector of the wide command line so it is freed once.
struct CommandLineArgs {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    ~CommandLineArgs() { LocalFree(argv); }
};

}  // namespace

int main()
{
    // Arguments are taken from the wide command line: the narrow argv is in the ANSI code
    // page and would lose characters outside it.
    CommandLineArgs cmd;
    Arguments args;
    if (cmd.argv == nullptr || !ParseArguments(cmd.argc, cmd.argv, &args))
        return Usage();

    const std::wstring text = args.haveText ? args.text : ReadStdinAsWide();
    std::random_device random;
    for (unsigned i = 0; i < args.fillerCount; ++i)
        args.options.fillers.push_back(static_cast<unsigned char>(random() & 0xFF));

    const std::string plain = ToCodePage(text, args.ansi ? CP_ACP : CP_UTF8);
    std::printf("%s\n", ScrambleHexText(plain, args.options).c_str());
    return 0;
}
