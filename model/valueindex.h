// The value index of an item type: value bytes to item, by open addressing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class Item;

// A slot keeps the full hash beside the item, so a probe touches the item (and its value
// bytes) only when the hashes agree: one cache line per lookup in the common case.
class ValueIndex
{
public:
    // Reads an item's value bytes; given by the owner so the index needs no Item layout.
    typedef const std::string& (*KeyOf)(const Item*);

    explicit ValueIndex(KeyOf keyOf) : m_keyOf(keyOf) {}

    Item* Find(std::string_view key) const;
    // The caller guarantees no item with the same value is present.
    void Insert(Item* item);
    void Erase(Item* item);
    size_t Size() const { return m_size; }
    // Room for n items in all, so that filling the index in one go grows it at most once.
    void Reserve(size_t n);
    // Asks for the slot where a lookup or insertion of the key starts: a loop over many keys
    // calls it some keys ahead and so overlaps its waits for memory.
    void Prefetch(std::string_view key) const
    {
        if (!m_slots.empty())
            __builtin_prefetch(&m_slots[Hash(key) & (m_slots.size() - 1)]);
    }

    template <typename F>
    void ForEach(F f) const
    {
        for (const Slot& s : m_slots)
            if (s.item)
                f(s.item);
    }

private:
    struct Slot
    {
        uint64_t hash;
        Item* item;
    };

    static uint64_t Hash(std::string_view key) { return std::hash<std::string_view>()(key); }
    void Grow();

    KeyOf m_keyOf;
    std::vector<Slot> m_slots;  // power-of-two size, or empty
    size_t m_size = 0;
};
