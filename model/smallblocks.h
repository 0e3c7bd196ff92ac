// Small blocks of the item graph (items, their group blocks, neighbour arrays) carved from slabs,
// one free list per size: no per-block header or rounding, and blocks of one size side by side.
// The graph lives on one thread, so nothing here takes a lock. Slabs are kept for reuse.
// Under AddressSanitizer every block is a plain allocation of its own, so that a use after
// free or an overrun is still reported.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define TAVRINEL_SMALL_BLOCKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVRINEL_SMALL_BLOCKS 0
#endif
#endif
#ifndef TAVRINEL_SMALL_BLOCKS
#define TAVRINEL_SMALL_BLOCKS 1
#endif

// Slots of one size. Constant-initialised (all zero) and never destroyed, so that blocks can
// outlive every other static object.
struct SlabPool
{
    struct Slot
    {
        Slot* next;
    };

    // size is the pool's slot size: at least a pointer, a multiple of one.
    void* Get(size_t size, size_t slab);
    void Put(void* p)
    {
        Slot* s = static_cast<Slot*>(p);
        s->next = freed;
        freed = s;
    }

    Slot* freed;
    char* next;
    char* end;
};

namespace smallblocks {

// Blocks up to this size come from the pools; larger ones from operator new.
constexpr size_t kMax = 256;

void* Get(size_t bytes);
// bytes as given to Get.
void Put(void* p, size_t bytes);

} // namespace smallblocks
