// Reference counting for objects shared between threads: the last Release destroys.
#pragma once

#include <windows.h>

class IKSRefControl {
public:
    virtual LONG AddRef() = 0;
    virtual LONG Release() = 0;

protected:
    // Reference-counted objects are destroyed by their last Release, never through this interface.
    ~IKSRefControl() = default;
};
