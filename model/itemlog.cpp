#include "model/itemlog.h"

#include "model/helpers.h"

#include <QDateTime>

namespace {

const char* const kAttributes[] = {"log_order", "log_time", "log_area", "log_level", "log_text"};

// Entries are numbered in the order they were made; the window sorts by this.
unsigned long long g_nextOrder = 1;

void DropOldest(ItemPtr user, Type* itemLog)
{
    const NeighbourSet* entries = user->Links(itemLog);
    if (!entries || entries->size() < static_cast<size_t>(kMaxItemLogEntries))
        return;
    ItemPtr oldest;
    unsigned long long oldestOrder = 0;
    for (const ItemPtr& entry : *entries) {
        const unsigned long long order = entry["log_order"].AsUInt64();
        if (!oldest || order < oldestOrder) {
            oldest = entry;
            oldestOrder = order;
        }
    }
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
    ItemPtr entry = itemLog->NewItem();
    entry += d.GetType("log_order")->GetItem(Value(g_nextOrder++));
    entry += d.GetType("log_time")->GetItem(Value(StoredTimeText(QDateTime::currentDateTime())));
    entry += d.GetType("log_area")->GetItem(Value(area));
    entry += d.GetType("log_level")->GetItem(Value(level));
    entry += d.GetType("log_text")->GetItem(Value(text));
    // Last, so that whoever watches the user's entries finds this one whole.
    entry += item;
}
