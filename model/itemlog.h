// The log of one item (a user): every Log call made with a user item leaves an entry on that
// user, which the item log window shows. Entries live only for the run.
#pragma once

#include "model/data.h"

#include <QString>

// Entries a user keeps; the oldest goes when a new one would pass this.
constexpr int kMaxItemLogEntries = 500;

// Declares "item_log" and its neighbours "log_order", "log_time", "log_area", "log_level" and
// "log_text". Needs the "user" type; declaring twice does nothing.
void DeclareItemLogTypes();

// Leaves an entry on the item when it is a user and the types are declared; else nothing.
void RecordItemLog(const QString& area, int level, const QString& text, ItemPtr item);
