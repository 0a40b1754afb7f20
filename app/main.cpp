// mvupdate.exe: brings the host agent up to date, then starts it.
#include "app/Entry.h"

#include <cstdlib>

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, PWSTR lpCmdLine,
                    int /*nShowCmd*/)
{
    return RunUpdater(hInstance, lpCmdLine, kStartDelayMs);
}

// The C++ library's default terminate handler names the active exception's type, and so links
// the whole symbol demangler, a large part of a small program. No exception is thrown in this
// program; should anything still end in a terminate, ending at once is all it can do.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
}  // namespace __gnu_cxx
