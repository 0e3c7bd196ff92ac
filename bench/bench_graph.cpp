// Item graph under load: 1,000,000 items of one value type, each linked to one of 1,000 hubs.
#include "bench/benchutil.h"

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <random>
#include <string>

using benchutil::CurrentKiB;

namespace {

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main()
{
    const int items = 1000000;
    const int hubs = 1000;
    Type* kept = d.NewType("hub_kept", PrimacyRoot, false, true);
    Type* lost = d.NewType("hub_lost", PrimacyReachable, false, true);
    Type* leaf = d.NewType("leaf", PrimacyReachable, false, true);
    kept->RelateToType(leaf, One, Many, false);
    lost->RelateToType(leaf, One, Many, false);

    std::vector<ItemPtr> hubItems;
    for (int h = 0; h < hubs; ++h)
        hubItems.push_back(h % 2 == 0 ? kept->GetItem(Value(h)) : lost->GetItem(Value(h)));

    const long before = CurrentKiB();
    auto t0 = std::chrono::steady_clock::now();
    for (int k = 0; k < items; ++k) {
        ItemPtr p = leaf->NewItem(Value(k));
        p += hubItems[k % hubs];
    }
    const double create = Seconds(t0);
    const long after = CurrentKiB();

    t0 = std::chrono::steady_clock::now();
    long found = 0;
    for (int k = 0; k < items; ++k)
        found += leaf->HasItem(Value(k)) ? 1 : 0;
    const double lookup = Seconds(t0);

    // The same lookups in a shuffled order, closer to what arriving messages ask for.
    std::vector<int> order(items);
    for (int k = 0; k < items; ++k)
        order[k] = k;
    std::mt19937 rng(7);
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<Value> keys;
    keys.reserve(items);
    for (int k : order)
        keys.emplace_back(k);
    t0 = std::chrono::steady_clock::now();
    long foundShuffled = 0;
    for (const Value& v : keys)
        foundShuffled += leaf->HasItem(v) ? 1 : 0;
    const double lookupShuffled = Seconds(t0);

    t0 = std::chrono::steady_clock::now();
    const int removed = d.RemoveDisconnectedItems();
    const double gc = Seconds(t0);

    std::printf("create+connect %d items: %.3f s (%.0f ns/item)\n", items, create, create * 1e9 / items);
    std::printf("lookup by value: %.3f s (%.0f ns/item), found %ld\n", lookup, lookup * 1e9 / items, found);
    std::printf("lookup in shuffled order: %.3f s (%.0f ns/item), found %ld\n", lookupShuffled,
                lookupShuffled * 1e9 / items, foundShuffled);
    std::printf("collection: %.3f s, removed %d (left %zu leaves)\n", gc, removed, leaf->ItemCount());
    std::printf("resident memory: %.0f bytes/item\n", (after - before) * 1024.0 / items);
    return 0;
}
