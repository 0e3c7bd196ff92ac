#include "model/valueindex.h"

Item* ValueIndex::Find(std::string_view key, uint64_t h) const
{
    if (m_slots.empty())
        return nullptr;
    const size_t mask = m_slots.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        const Slot& s = m_slots[i];
        if (!s.item)
            return nullptr;
        if (s.hash == h && std::string_view(m_keyOf(s.item)) == key)
            return s.item;
    }
}

void ValueIndex::Insert(Item* item, uint64_t h)
{
    // Kept at most 7/8 full so probe runs stay short and an empty slot always ends them.
    if ((m_size + 1) * 8 > m_slots.size() * 7)
        Grow();
    Place(Slot{h, item});
    ++m_size;
}

void ValueIndex::Erase(Item* item)
{
    if (m_slots.empty())
        return;
    const uint64_t h = Hash(m_keyOf(item));
    const size_t mask = m_slots.size() - 1;
    size_t i = h & mask;
    while (m_slots[i].item != item) {
        if (!m_slots[i].item)
            return;
        i = (i + 1) & mask;
    }
    // Backward shift: move later members of the run into the hole, so lookups never need
    // tombstones and the table never fills with them.
    size_t hole = i;
    for (size_t j = (i + 1) & mask; m_slots[j].item; j = (j + 1) & mask) {
        const size_t home = m_slots[j].hash & mask;
        const bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
        if (movable) {
            m_slots[hole] = m_slots[j];
            hole = j;
        }
    }
    m_slots[hole] = Slot{0, nullptr};
    --m_size;
}

void ValueIndex::Grow()
{
    Rehash(m_slots.empty() ? 16 : m_slots.size() * 2);
}

void ValueIndex::Reserve(size_t n)
{
    size_t size = m_slots.empty() ? 16 : m_slots.size();
    while (n * 8 > size * 7)
        size *= 2;
    // Straight to the final size: each doubling on the way would fill a table of its own.
    if (size != m_slots.size())
        Rehash(size);
}

void ValueIndex::Rehash(size_t size)
{
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(size, Slot{0, nullptr});
    for (const Slot& s : old)
        if (s.item)
            Place(s);
}

void ValueIndex::InsertMany(const std::vector<Item*>& items)
{
    Reserve(m_size + items.size());
    const size_t mask = m_slots.size() - 1;
    std::vector<Slot> pending;
    pending.reserve(items.size());
    for (Item* item : items)
        pending.push_back(Slot{Hash(m_keyOf(item)), item});
    // Ordered by the slot each starts from, 11 bits of it at a time.
    const int kBits = 11;
    const size_t kDigits = size_t(1) << kBits;
    std::vector<Slot> spare(pending.size());
    std::vector<size_t> count(kDigits);
    for (int shift = 0; (mask >> shift) != 0; shift += kBits) {
        std::fill(count.begin(), count.end(), 0);
        for (const Slot& s : pending)
            ++count[((s.hash & mask) >> shift) & (kDigits - 1)];
        size_t sum = 0;
        for (size_t& c : count) {
            const size_t n = c;
            c = sum;
            sum += n;
        }
        for (const Slot& s : pending)
            spare[count[((s.hash & mask) >> shift) & (kDigits - 1)]++] = s;
        pending.swap(spare);
    }
    for (const Slot& s : pending)
        Place(s);
    m_size += items.size();
}

void ValueIndex::Place(const Slot& s)
{
    const size_t mask = m_slots.size() - 1;
    size_t i = s.hash & mask;
    while (m_slots[i].item)
        i = (i + 1) & mask;
    m_slots[i] = s;
}
