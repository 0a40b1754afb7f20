#include "util/OSVersion.h"

namespace {

int Win9xClass(unsigned long major, unsigned long minor)
{
    if (major != 4)
        return kOsClassUnknown;
    switch (minor) {
    case 0:
        return kOsClassWin95;
    case 10:
        return kOsClassWin98;
    case 90:
        return kOsClassWinMe;
    default:
        return kOsClassUnknown;
    }
}

int NtClass(unsigned long major, unsigned long minor)
{
    if (major <= 4)
        return kOsClassNt4;
    if (major == 5)
        return minor == 0 ? kOsClassWin2000 : (minor == 1 ? kOsClassWinXp : kOsClassWin2003);
    if (major == 6)
        return minor == 0 ? kOsClassVista : kOsClassWin7;
    return kOsClassWin7;
}

}  // namespace

int OSVersionClassFromVersion(unsigned long platformId, unsigned long major, unsigned long minor)
{
    switch (platformId) {
    case 0:
        return kOsClassWin32s;
    case 1:
        return Win9xClass(major, minor);
    case 2:
        return NtClass(major, minor);
    default:
        return kOsClassUnknown;
    }
}

#ifdef _WIN32

#include "util/ProcAddress.h"

int GetOSVersionClass()
{
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL ok = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
    if (!ok) {
        // Older systems know only the basic structure.
        info = {};
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        ok = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
    }
#pragma GCC diagnostic pop
    if (!ok)
        return -1;
    return OSVersionClassFromVersion(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}

BOOL IsWow64()
{
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (kernel == nullptr)
        return FALSE;
    auto fn = GetProcAs<IsWow64ProcessFn>(kernel, "IsWow64Process");
    BOOL wow64 = FALSE;
    if (fn == nullptr || !fn(GetCurrentProcess(), &wow64))
        return FALSE;
    return wow64;
}

#endif
