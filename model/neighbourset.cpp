#include "model/data.h"
#include "model/smallblocks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

bool Less(const Item* a, const Item* b) { return std::less<const Item*>()(a, b); }

// The first position whose item is not below the item.
const ItemPtr* LowerBound(const ItemPtr* first, const ItemPtr* last, const Item* item)
{
    // Links mostly go to the newest item, at the highest address: the end is tried first.
    if (first == last || Less(last[-1].get(), item))
        return last;
    return std::lower_bound(first, last, item, [](const ItemPtr& p, const Item* v) { return Less(p.get(), v); });
}

} // namespace

NeighbourSet::NeighbourSet(NeighbourSet&& o) noexcept : m_run(o.m_run)
{
    o.m_run = Run();
}

NeighbourSet& NeighbourSet::operator=(NeighbourSet&& o) noexcept
{
    if (this != &o) {
        Clear();
        m_run = o.m_run;
        o.m_run = Run();
    }
    return *this;
}

const ItemPtr* NeighbourSet::Items(const Run& r) { return r.cap ? r.data : &r.one; }
ItemPtr* NeighbourSet::Items(Run& r) { return r.cap ? r.data : &r.one; }

NeighbourSet::const_iterator NeighbourSet::begin() const
{
    const Run* first = FirstRun();
    return const_iterator(first, LastRun(), first, Items(*first));
}

NeighbourSet::const_iterator NeighbourSet::end() const
{
    const Run* first = FirstRun();
    const Run* last = LastRun();
    return const_iterator(first, last, last - 1, Items(last[-1]) + last[-1].size);
}

size_t NeighbourSet::RunFor(const Item* item) const
{
    const std::vector<Run>& runs = m_run.more->runs;
    // The first run whose last item is not below the item; the last run for one above them all.
    const Run& tail = runs.back();
    if (Less(tail.data[tail.size - 1].get(), item))
        return runs.size() - 1;
    auto it = std::lower_bound(runs.begin(), runs.end(), item,
                               [](const Run& r, const Item* v) { return Less(r.data[r.size - 1].get(), v); });
    return static_cast<size_t>(it - runs.begin());
}

bool NeighbourSet::Contains(const Item* item) const
{
    if (empty())
        return false;
    const Run& r = IsLarge() ? m_run.more->runs[RunFor(item)] : Small();
    const ItemPtr* first = Items(r);
    const ItemPtr* at = LowerBound(first, first + r.size, item);
    return at != first + r.size && at->get() == item;
}

NeighbourSet::const_iterator NeighbourSet::find(const Item* item) const
{
    if (empty())
        return end();
    const Run* runs = FirstRun();
    const Run* r = IsLarge() ? runs + RunFor(item) : runs;
    const ItemPtr* first = Items(*r);
    const ItemPtr* at = LowerBound(first, first + r->size, item);
    if (at == first + r->size || at->get() != item)
        return end();
    return const_iterator(runs, LastRun(), r, at);
}

void NeighbourSet::Reserve(Run& r, uint32_t cap)
{
    ItemPtr* data = static_cast<ItemPtr*>(smallblocks::Get(sizeof(ItemPtr) * cap));
    if (r.size)
        std::memcpy(static_cast<void*>(data), Items(r), sizeof(ItemPtr) * r.size);
    if (r.cap)
        smallblocks::Put(r.data, sizeof(ItemPtr) * r.cap);
    r.data = data;
    r.cap = cap;
}

void NeighbourSet::Reserve(size_t count)
{
    // Past a run's length the set is split anyway: nothing to gain.
    if (IsMore() || count < 2 || count >= kRunMax || count <= m_run.cap)
        return;
    Reserve(m_run, static_cast<uint32_t>(count));
}

void NeighbourSet::Free(Run& r)
{
    if (r.cap)
        smallblocks::Put(r.data, sizeof(ItemPtr) * r.cap);
    r = Run();
}

bool NeighbourSet::InsertInto(Run& r, Item* item)
{
    ItemPtr* first = Items(r);
    ItemPtr* at = const_cast<ItemPtr*>(LowerBound(first, first + r.size, item));
    if (at != first + r.size && at->get() == item)
        return false;
    if (r.cap == 0 && r.size == 0) {
        r.one = ItemPtr(item);
        r.size = 1;
        return true;
    }
    if (r.size == r.cap || r.cap == 0) {
        // Tight growth: most sets stay at a handful of items for their whole life.
        const uint32_t cap = r.size < 4 ? 4 : std::min<uint32_t>(r.size + r.size / 2, kRunMax);
        const size_t pos = static_cast<size_t>(at - first);
        Reserve(r, cap);
        first = r.data;
        at = first + pos;
    }
    std::memmove(static_cast<void*>(at + 1), at, sizeof(ItemPtr) * static_cast<size_t>(first + r.size - at));
    *at = ItemPtr(item);
    ++r.size;
    return true;
}

bool NeighbourSet::EraseFrom(Run& r, Item* item)
{
    ItemPtr* first = Items(r);
    ItemPtr* at = const_cast<ItemPtr*>(LowerBound(first, first + r.size, item));
    if (at == first + r.size || at->get() != item)
        return false;
    std::memmove(static_cast<void*>(at), at + 1, sizeof(ItemPtr) * static_cast<size_t>(first + r.size - at - 1));
    --r.size;
    if (r.size <= 1 && r.cap) {
        // Back in place: a lone neighbour needs no array.
        const ItemPtr last = r.size ? r.data[0] : ItemPtr();
        smallblocks::Put(r.data, sizeof(ItemPtr) * r.cap);
        r = Run();
        if (last) {
            r.one = last;
            r.size = 1;
        }
    }
    return true;
}

bool NeighbourSet::Insert(Item* item)
{
    if (!IsMore()) {
        if (!InsertInto(m_run, item))
            return false;
        if (m_run.size == kRunMax)
            BecomeLarge();
        return true;
    }
    More& more = *m_run.more;
    if (!more.runs.empty()) {
        const size_t k = RunFor(item);
        if (!InsertInto(more.runs[k], item))
            return false;
        ++more.size;
        SplitIfFull(k);
    } else {
        if (!InsertInto(more.small, item))
            return false;
        ++more.size;
        if (more.small.size == kRunMax)
            BecomeLarge();
    }
    if (more.copy)
        more.copy->insert(ItemPtr(item));
    return true;
}

bool NeighbourSet::Erase(Item* item)
{
    if (!IsMore())
        return EraseFrom(m_run, item);
    More& more = *m_run.more;
    if (!more.runs.empty()) {
        std::vector<Run>& runs = more.runs;
        const size_t k = RunFor(item);
        if (!EraseFrom(runs[k], item))
            return false;
        if (runs[k].size <= 1) {
            // A run of one item would be held in place; merged into its neighbour run instead.
            Run lone = runs[k];
            runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(k));
            if (lone.size) {
                Item* rest = lone.one.get();
                const size_t j = RunFor(rest);
                InsertInto(runs[j], rest);
                SplitIfFull(j);
            }
        }
        --more.size;
        if (more.copy)
            more.copy->erase(ItemPtr(item));
        if (runs.size() == 1 && more.size < kRunMax / 2)
            BecomeSmall();
        return true;
    }
    if (!EraseFrom(more.small, item))
        return false;
    --more.size;
    if (more.copy)
        more.copy->erase(ItemPtr(item));
    return true;
}

void NeighbourSet::SplitIfFull(size_t k)
{
    std::vector<Run>& runs = m_run.more->runs;
    if (runs[k].size < kRunMax)
        return;
    // In halves, so that the next links to either part move half a run.
    Run upper;
    Reserve(upper, kRunMax);
    upper.size = kRunMax / 2;
    std::memcpy(static_cast<void*>(upper.data), runs[k].data + kRunMax / 2, sizeof(ItemPtr) * (kRunMax / 2));
    runs[k].size = kRunMax / 2;
    // Sets mostly grow at their end: the lower half gets no room, which it would keep empty for
    // good.
    Reserve(runs[k], kRunMax / 2);
    runs.insert(runs.begin() + static_cast<std::ptrdiff_t>(k) + 1, upper);
}

NeighbourSet::More& NeighbourSet::MakeMore()
{
    if (!IsMore()) {
        More* more = new More;
        more->small = m_run;
        more->size = m_run.size;
        m_run = Run();
        m_run.more = more;
        m_run.cap = kMore;
    }
    return *m_run.more;
}

void NeighbourSet::BecomeLarge()
{
    More& more = MakeMore();
    more.runs.push_back(more.small);
    more.size = more.small.size;
    more.small = Run();
    SplitIfFull(0);
}

void NeighbourSet::BecomeSmall()
{
    More* more = m_run.more;
    more->small = more->runs.front();
    more->runs.clear();
    more->runs.shrink_to_fit();
    if (!more->copy) {
        m_run = more->small;
        delete more;
    }
}

void NeighbourSet::Clear()
{
    if (IsMore()) {
        More* more = m_run.more;
        for (Run& r : more->runs)
            Free(r);
        Free(more->small);
        delete more;
        m_run = Run();
    } else {
        Free(m_run);
    }
}

ItemSet NeighbourSet::ToItemSet() const
{
    ItemSet out;
    for (const ItemPtr& p : *this)
        out.insert(out.end(), p);
    return out;
}

const ItemSet& NeighbourSet::AsItemSet() const
{
    More& more = const_cast<NeighbourSet*>(this)->MakeMore();
    if (!more.copy)
        more.copy.reset(new ItemSet(ToItemSet()));
    return *more.copy;
}

bool NeighbourSet::operator==(const NeighbourSet& o) const
{
    return size() == o.size() && std::equal(begin(), end(), o.begin());
}
