// The bytes the program's allocations hold right now, counted exactly:
// every malloc, calloc, realloc, aligned allocation and free of the whole
// process (C++ new and Qt included) passes through this count. The
// allocator's own statistics drift by hundreds of bytes per run with its
// per-thread caches, which would hide a small leak or invent one.
#pragma once

#include <cstddef>

// False in builds whose sanitizers bring their own allocator: there is
// nothing to count then.
bool HeapCounted();
size_t LiveHeapBytes();
