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

    Item* Find(std::string_view key) const { return Find(key, Hash(key)); }
    // For a lookup that may insert next: the key's hash, computed once for both.
    Item* Find(std::string_view key, uint64_t hash) const;
    static uint64_t Hash(std::string_view key) { return std::hash<std::string_view>()(key); }
    // The caller guarantees no item with the same value is present.
    void Insert(Item* item) { Insert(item, Hash(m_keyOf(item))); }
    // hash is Hash of the item's value.
    void Insert(Item* item, uint64_t hash);
    void Erase(Item* item);
    size_t Size() const { return m_size; }
    // Room for n items in all, so that filling the index in one go grows it at most once.
    void Reserve(size_t n);
    // Inserts many items at once; the caller guarantees their values are distinct and none is
    // present. The table is written front to back instead of at scattered places.
    void InsertMany(const std::vector<Item*>& items);

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

    void Grow();
    // Moves every item into a table of the given size (a power of two).
    void Rehash(size_t size);
    // Puts a slot at its first free place from its home, the table having room.
    void Place(const Slot& s);

    KeyOf m_keyOf;
    std::vector<Slot> m_slots;  // power-of-two size, or empty
    size_t m_size = 0;
};
