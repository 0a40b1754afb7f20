// The lock between the download library's notification (on the library's thread) and the
// destruction of the application object it reaches.
#pragma once

#include "threading/CKSCriticalSection.h"

// Never destroyed: a library thread may still notify while the process's static objects go.
CKSCriticalSection& NotifyLock();
