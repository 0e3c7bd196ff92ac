// The neighbours of one item among the items of one type: a compact ordered set.
// Included by model/data.h once ItemPtr and ItemSet are complete; include that header instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <vector>

// Items in identity order, as an ordered set of handles would hold them, at about one pointer
// per item. Most items have one neighbour of a type, kept in place without an allocation;
// a few hundred sit in one sorted array; more (a word shared by every file) are split into
// sorted runs, so that a link or an unlink moves at most one run.
//
// Handles are read through const iterators only. Inserting, erasing and Reserve invalidate
// them, and so does moving the set: an item's sets lie in one block that moves whenever the item
// gains or loses a type of neighbours (see Item::Links). A lone item is held in place, so the
// first AsItemSet() call on a set of one item moves it too.
class NeighbourSet
{
    struct More;
    // A sorted array; with cap 0 it holds at most one item, in place.
    struct Run
    {
        Run() : data(nullptr) {}
        union {
            ItemPtr* data;
            ItemPtr one;
            More* more;  // only the set's own run, with cap kMore
        };
        uint32_t size = 0;
        uint32_t cap = 0;
    };

public:
    class const_iterator
    {
    public:
        typedef std::bidirectional_iterator_tag iterator_category;
        typedef ItemPtr value_type;
        typedef std::ptrdiff_t difference_type;
        typedef const ItemPtr* pointer;
        typedef const ItemPtr& reference;

        const_iterator() = default;
        reference operator*() const { return *mp_at; }
        pointer operator->() const { return mp_at; }
        const_iterator& operator++()
        {
            ++mp_at;
            // Only a large set has several runs, and each of them lies in an array.
            if (mp_run + 1 != mp_last && mp_at == mp_run->data + mp_run->size) {
                ++mp_run;
                mp_at = mp_run->data;
            }
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator old(*this);
            ++*this;
            return old;
        }
        const_iterator& operator--()
        {
            if (mp_run != mp_first && mp_at == mp_run->data) {
                --mp_run;
                mp_at = mp_run->data + mp_run->size;
            }
            --mp_at;
            return *this;
        }
        const_iterator operator--(int)
        {
            const_iterator old(*this);
            --*this;
            return old;
        }
        bool operator==(const const_iterator& o) const { return mp_at == o.mp_at; }
        bool operator!=(const const_iterator& o) const { return mp_at != o.mp_at; }

    private:
        friend class NeighbourSet;
        const_iterator(const Run* first, const Run* last, const Run* run, const ItemPtr* at)
            : mp_first(first), mp_last(last), mp_run(run), mp_at(at)
        {
        }
        const Run* mp_first = nullptr;
        const Run* mp_last = nullptr;  // one past the last run
        const Run* mp_run = nullptr;
        const ItemPtr* mp_at = nullptr;
    };
    typedef const_iterator iterator;
    typedef std::reverse_iterator<const_iterator> const_reverse_iterator;
    typedef ItemPtr value_type;

    NeighbourSet() = default;
    NeighbourSet(const NeighbourSet&) = delete;
    NeighbourSet& operator=(const NeighbourSet&) = delete;
    NeighbourSet(NeighbourSet&& o) noexcept;
    NeighbourSet& operator=(NeighbourSet&& o) noexcept;
    ~NeighbourSet() { Clear(); }

    size_t size() const { return IsMore() ? m_run.more->size : m_run.size; }
    bool empty() const { return size() == 0; }
    const_iterator begin() const;
    const_iterator end() const;
    const_reverse_iterator rbegin() const { return const_reverse_iterator(end()); }
    const_reverse_iterator rend() const { return const_reverse_iterator(begin()); }
    const ItemPtr& front() const { return *begin(); }
    const ItemPtr& back() const { return *--end(); }

    size_t count(const Item* item) const { return Contains(item) ? 1 : 0; }
    bool Contains(const Item* item) const;
    const_iterator find(const Item* item) const;

    // Room for this many items in all, for a set about to grow to that size; a large set ignores it.
    void Reserve(size_t count);

    // False when the item is there already, or not there.
    bool Insert(Item* item);
    bool Erase(Item* item);

    ItemSet ToItemSet() const;
    // The same items as an ordered set of handles, kept up to date from now on while this set
    // lives: for callers that hold the neighbours as such a set.
    const ItemSet& AsItemSet() const;

    bool operator==(const NeighbourSet& o) const;
    bool operator!=(const NeighbourSet& o) const { return !(*this == o); }

private:
    static constexpr uint32_t kRunMax = 512;
    // The cap of the set's own run when the set lives in a More block.
    static constexpr uint32_t kMore = UINT32_MAX;

    // A large set's runs, or a small set that keeps a handle-set copy beside it.
    struct More
    {
        Run small;              // the items while runs is empty
        std::vector<Run> runs;  // empty while the set is small
        size_t size = 0;
        std::unique_ptr<ItemSet> copy;
    };

    bool IsMore() const { return m_run.cap == kMore; }
    bool IsLarge() const { return IsMore() && !m_run.more->runs.empty(); }
    const Run& Small() const { return IsMore() ? m_run.more->small : m_run; }
    Run& Small() { return IsMore() ? m_run.more->small : m_run; }
    const Run* FirstRun() const { return IsLarge() ? m_run.more->runs.data() : &Small(); }
    const Run* LastRun() const
    {
        return IsLarge() ? m_run.more->runs.data() + m_run.more->runs.size() : &Small() + 1;
    }
    static const ItemPtr* Items(const Run& r);
    static ItemPtr* Items(Run& r);
    // The run that holds the item, or would.
    size_t RunFor(const Item* item) const;
    static bool InsertInto(Run& r, Item* item);
    static bool EraseFrom(Run& r, Item* item);
    static void Reserve(Run& r, uint32_t cap);
    static void Free(Run& r);
    void SplitIfFull(size_t run);
    More& MakeMore();
    void BecomeLarge();
    void BecomeSmall();
    void Clear();

    // Small without a copy: the items, in place while there is at most one (cap 0). Otherwise
    // (cap kMore) the More block that holds them: sixteen bytes either way.
    Run m_run;
};
