#include "model/smallblocks.h"

#include <new>

void* SlabPool::Get(size_t size, size_t slab)
{
    if (Slot* s = freed) {
        freed = s->next;
        return s;
    }
    if (static_cast<size_t>(end - next) < size) {
        next = static_cast<char*>(::operator new(slab));
        end = next + slab / size * size;
    }
    void* p = next;
    next += size;
    return p;
}

namespace smallblocks {

#if TAVRINEL_SMALL_BLOCKS
namespace {

// Below malloc's threshold for a mapping of its own, and small enough that the partly used slab
// of each size wastes little.
constexpr size_t kSlab = 16 * 1024 - 64;

SlabPool pools[kMax / sizeof(void*)];

size_t ClassOf(size_t bytes)
{
    return (bytes + sizeof(void*) - 1) / sizeof(void*) - 1;
}

} // namespace
#endif

void* Get(size_t bytes)
{
#if TAVRINEL_SMALL_BLOCKS
    if (bytes != 0 && bytes <= kMax) {
        const size_t k = ClassOf(bytes);
        return pools[k].Get((k + 1) * sizeof(void*), kSlab);
    }
#endif
    return ::operator new(bytes);
}

void Put(void* p, size_t bytes)
{
    if (!p)
        return;
#if TAVRINEL_SMALL_BLOCKS
    if (bytes != 0 && bytes <= kMax) {
        pools[ClassOf(bytes)].Put(p);
        return;
    }
#else
    (void)bytes;
#endif
    ::operator delete(p);
}

} // namespace smallblocks
