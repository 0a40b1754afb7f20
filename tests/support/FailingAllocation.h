// A test program that lists FailingAllocation.cpp among its sources has the C++ allocation
// functions replaced: every allocation passes until a test asks for failures.
#pragma once

#include <cstddef>

// From now on the nth allocation fails (n > 0); 0 lets every allocation pass again.
void FailAllocation(long n);
// From now on every allocation of at least size bytes fails; SIZE_MAX lets them pass again.
void FailAllocationsFrom(size_t size);
// Whether an allocation was failed since the last call that asked for failures.
bool AllocationFailed();
