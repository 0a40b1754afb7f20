// Typed lookup of a function a loaded library exports.
#pragma once

#include <windows.h>

// The export name of module as a function pointer of type Fn; null when module is null or
// does not export it.
template <typename Fn>
Fn GetProcAs(HMODULE module, const char* name)
{
    if (module == nullptr)
        return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
