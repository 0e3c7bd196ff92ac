// Item graph under load: 1,000,000 items of one value type, each linked to one of 1,000 hubs; then
// the collection of a share-shaped graph (100,000 files, their sizes and words) that keeps everything.
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

    // A share-shaped graph: 100,000 files under 1,000 folders, each file linked to its size and
    // to 19 of 18,000 words; collections that find everything reachable, as after a rescan.
    Type* folder = d.NewType("share_folder", PrimacyRoot, false, true);
    Type* file = d.NewType("share_file", PrimacyReachable, true, true);
    Type* size = d.NewType("share_size", PrimacyLeaf, false, true);
    Type* word = d.NewType("share_word", PrimacyLeaf, false, true);
    folder->RelateToType(file, One, Many, false);
    file->RelateToType(size, Many, One, false);
    file->RelateToType(word, Many, Many, false);
    std::vector<ItemPtr> words;
    for (int w = 0; w < 18000; ++w)
        words.push_back(word->GetItem(Value("w" + std::to_string(w))));
    for (int f = 0; f < 100000; ++f) {
        ItemPtr p = file->NewItem();
        folder->GetItem(Value(f / 100)) += p;
        p += size->GetItem(Value(f % 5000));
        for (int k = 0; k < 19; ++k)
            p += words[static_cast<size_t>((f / 100 * 7 + k * 997 + (k > 9 ? f : 0)) % 18000)];
    }
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        t0 = std::chrono::steady_clock::now();
        const int none = d.RemoveDisconnectedItems();
        best = std::min(best, Seconds(t0));
        if (none != 0)
            std::printf("collection of the share graph removed %d\n", none);
    }
    std::printf("collection of a share-shaped graph, nothing to remove: %.1f ms (best of 5)\n", best * 1e3);
    return 0;
}
