// mvupdate.exe: brings the host agent up to date, then starts it.
#include "app/Entry.h"

#include <cstdlib>
#include <new>

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

// The C++ library's nothrow allocation calls its throwing one inside a handler, and so links the
// unwinder, the exception personality and the exception allocator: a fifth of the program. Every
// allocation of the product asks for a null answer on failure, so these go to the C runtime's
// heap directly; the deletes match them.
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size != 0 ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size != 0 ? size : 1);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    std::free(p);
}
