// Writers over the item graph shared by the handlers of received server messages, and the
// read rules they have in common.
#pragma once

#include "model/data.h"
#include "model/stream.h"

#include <QString>

#include <cstdint>

namespace serveritems {

// The item of that name, created when missing.
ItemPtr User(const QString& name);
ItemPtr Room(const QString& name);

// Links the item to the item of that value; where the item may hold one value of the type the
// earlier one is let go, so the new value replaces it.
void SetValue(ItemPtr item, const char* typeName, const Value& value);
// Gives a user where it can be reached: address, port and obfuscated port (0 for none), in
// that order, so whoever waits for the last finds all three.
void SetAddress(ItemPtr user, uint32_t address, int32_t port, int32_t obfuscatedPort);
void SetFlag(ItemPtr item, const char* flagType);
void ClearFlag(ItemPtr item, const char* flagType);
// Unlinks two items, doing nothing when they are not linked.
void Unlink(ItemPtr a, ItemPtr b);

// A list or set that cannot be read counts as absent: empty, not the part that came before the
// failure.
template <typename C>
bool ReadWhole(InputStream& stream, C& container)
{
    if (stream.Read(container))
        return true;
    container.clear();
    return false;
}

// A counted loop with a signed count: a count above the stream limit gives no entries, a negative
// one reads entries until one fails (the frame bounds how many that can be). readEntry(k) reads
// the k-th entry and returns false when it could not; it keeps the entry only while k is below
// kMaxStreamCount, so a negative count cannot make us hold more than an honest count could.
template <typename ReadEntry>
void ReadSignedCountedEntries(InputStream& stream, ReadEntry readEntry)
{
    int32_t n = 0;
    if (!stream.Read(n) || n > static_cast<int32_t>(kMaxStreamCount))
        return;
    for (int64_t k = 0; n < 0 || k < n; ++k)
        if (!readEntry(k))
            return;
}

}  // namespace serveritems
