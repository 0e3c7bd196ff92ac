#include "model/itemlog.h"

#include "model/helpers.h"


#include <algorithm>
#include <deque>
#include <unordered_map>

namespace {

const char* const kAttributes[] = {"log_order", "log_time", "log_area", "log_level", "log_text"};

// Entries are numbered in the order they were made; the window sorts by this.
unsigned long long g_nextOrder = 1;

// The numbers of a full log's entries, oldest first, by user: a full log drops its oldest entry
// on every new line, and finding it among all of them each time made a burst of lines about one
// user cost as many lookups per line as the log keeps. Kept in step with the graph here, and
// rebuilt from it whenever the count of entries tells that something else changed them.
std::unordered_map<const Item*, std::deque<unsigned long long>> g_orders;
// Users whose numbers are kept at once; one more evicts one.
const size_t kUsersWithOrders = 64;

unsigned long long OrderOf(const ItemPtr& entry)
{
    return entry["log_order"].AsUInt64();
}

ItemPtr ScanOldest(const NeighbourSet& entries)
{
    ItemPtr oldest;
    unsigned long long oldestOrder = 0;
    for (const ItemPtr& entry : entries) {
        const unsigned long long order = OrderOf(entry);
        if (!oldest || order < oldestOrder) {
            oldest = entry;
            oldestOrder = order;
        }
    }
    return oldest;
}

std::deque<unsigned long long>& OrdersOf(ItemPtr user, const NeighbourSet& entries)
{
    auto kept = g_orders.find(user.get());
    if (kept != g_orders.end() && kept->second.size() == entries.size())
        return kept->second;
    if (kept == g_orders.end() && g_orders.size() >= kUsersWithOrders)
        g_orders.erase(g_orders.begin());
    std::deque<unsigned long long>& orders = g_orders[user.get()];
    orders.clear();
    for (const ItemPtr& entry : entries)
        orders.push_back(OrderOf(entry));
    std::sort(orders.begin(), orders.end());
    return orders;
}

// The entry with the lowest number, as a scan of all of them would find it.
ItemPtr TakeOldest(ItemPtr user, const NeighbourSet& entries)
{
    std::deque<unsigned long long>& orders = OrdersOf(user, entries);
    if (!orders.empty()) {
        // A user made anew at a freed user's address does not hold the numbers kept for it.
        ItemPtr entry = d.GetType("log_order")->HasItem(Value(orders.front()))["item_log"];
        if (entry && entry.IsConnected(user)) {
            orders.pop_front();
            return entry;
        }
    }
    g_orders.erase(user.get());
    return ScanOldest(entries);
}

// The entry of this number is about to join the user's entries.
void NoteRecorded(ItemPtr user, unsigned long long order)
{
    auto kept = g_orders.find(user.get());
    if (kept == g_orders.end())
        return;
    const NeighbourSet* entries = user->Links(d.GetType("item_log"));
    if (entries && kept->second.size() == entries->size())
        kept->second.push_back(order);
    else
        g_orders.erase(kept);
}

void DropOldest(ItemPtr user, Type* itemLog)
{
    const NeighbourSet* entries = user->Links(itemLog);
    if (!entries || entries->size() < static_cast<size_t>(kMaxItemLogEntries))
        return;
    ItemPtr oldest = TakeOldest(user, *entries);
    Data::Scope scope(&d);
    // Its number belongs to it alone; the shared time, area, level and text items are left to
    // the collection.
    if (ItemPtr order = oldest["log_order"])
        order.Remove();
    oldest.Remove();
}

}  // namespace

void DeclareItemLogTypes()
{
    if (d.HasType("item_log"))
        return;
    // Kept while their user is: a user's entries go with it at the next collection.
    Type* itemLog = d.NewType("item_log", PrimacyReachable, true, true);
    itemLog->RelateToType(d.GetType("user"), Many, One, false);
    for (const char* name : kAttributes)
        itemLog->RelateToType(d.NewType(name, PrimacyLeaf, false, true), Many, One, false);
}

void RecordItemLog(const QString& area, int level, const QString& text, ItemPtr item)
{
    if (!item)
        return;
    Type* itemLog = d.HasType("item_log");
    // A user on its way out could not hold the entry.
    if (!itemLog || item->GetType() != d.HasType("user") || item->IsRemoved())
        return;
    DropOldest(item, itemLog);
    const unsigned long long order = g_nextOrder++;
    ItemPtr entry = itemLog->NewItem();
    entry += d.GetType("log_order")->GetItem(Value(order));
    entry += d.GetType("log_time")->GetItem(Value(CurrentTimeText()));
    entry += d.GetType("log_area")->GetItem(Value(area));
    entry += d.GetType("log_level")->GetItem(Value(level));
    entry += d.GetType("log_text")->GetItem(Value(text));
    NoteRecorded(item, order);
    // Last, so that whoever watches the user's entries finds this one whole.
    entry += item;
}
