// Replaces the allocation functions of the C library for this test program
// (the C library supports such a replacement: every allocation in the
// process, its own included, then comes here) and counts the usable size
// of every block handed out and taken back.
#include "heapcounter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>

extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* block);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {
std::atomic<long long> liveBytes{0};

void Counted(void* block)
{
    if (block) liveBytes.fetch_add(static_cast<long long>(malloc_usable_size(block)), std::memory_order_relaxed);
}

void Released(void* block)
{
    if (block) liveBytes.fetch_sub(static_cast<long long>(malloc_usable_size(block)), std::memory_order_relaxed);
}
}

extern "C" {
void* malloc(size_t size)
{
    void* block = __libc_malloc(size);
    Counted(block);
    return block;
}

void free(void* block)
{
    Released(block);
    __libc_free(block);
}

void* calloc(size_t count, size_t size)
{
    void* block = __libc_calloc(count, size);
    Counted(block);
    return block;
}

void* realloc(void* old, size_t size)
{
    Released(old);
    void* block = __libc_realloc(old, size);
    // A failed realloc leaves the old block where it was.
    Counted(block ? block : (size ? old : nullptr));
    return block;
}

void* memalign(size_t alignment, size_t size)
{
    void* block = __libc_memalign(alignment, size);
    Counted(block);
    return block;
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

void* valloc(size_t size) { return memalign(4096, size); }

void* pvalloc(size_t size) { return memalign(4096, (size + 4095) / 4096 * 4096); }

int posix_memalign(void** result, size_t alignment, size_t size)
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* block = memalign(alignment, size);
    if (!block) return ENOMEM;
    *result = block;
    return 0;
}
}

bool HeapCounted() { return true; }

size_t LiveHeapBytes() { return static_cast<size_t>(liveBytes.load()); }
