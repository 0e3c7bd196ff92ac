// Replaces operator new with one that remembers the largest single block asked for since the
// last reset of g_largestNew: what a count or a length taken on trust would show up in.
// Include it from exactly one source file of a test executable.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

inline std::atomic<size_t> g_largestNew{0};

void* operator new(size_t size)
{
    size_t seen = g_largestNew.load(std::memory_order_relaxed);
    while (size > seen && !g_largestNew.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
