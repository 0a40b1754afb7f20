// ieksdep.dll: a library the with-dependency build of the download library imports, so that
// where the program lets a library's own imports be found can be seen: beside the library it is
// found, a copy planted elsewhere must not be.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI IeksDepPresent()
{
    return 1;
}
