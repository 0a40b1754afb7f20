// Linked into the with-dependency build of the download library only: an import of
// ieksdep.dll, which the loader must then find before the library loads at all.
#include <windows.h>

extern "C" __declspec(dllimport) int WINAPI IeksDepPresent();

namespace {

const int s_dependencyPresent = IeksDepPresent();

}  // namespace
