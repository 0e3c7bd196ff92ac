// largestnew.h, and the blocks asked of malloc, calloc and realloc counted as well: images, byte
// arrays and the image libraries take their memory there rather than from operator new.
// Include it instead of largestnew.h, from exactly one source file of a test executable.
#pragma once

#include "common/largestnew.h"

// AddressSanitizer brings its own allocator, which these would fight; such builds count only
// what operator new is asked for.
#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
}

inline void NoteLargestBlock(size_t size)
{
    size_t seen = g_largestNew.load(std::memory_order_relaxed);
    while (size > seen && !g_largestNew.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
}

extern "C" void* malloc(size_t size) noexcept
{
    NoteLargestBlock(size);
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size) noexcept
{
    if (size != 0 && count > size_t(-1) / size)
        return nullptr;
    NoteLargestBlock(count * size);
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* p, size_t size) noexcept
{
    NoteLargestBlock(size);
    return __libc_realloc(p, size);
}
#endif
