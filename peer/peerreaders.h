// Readers of the compressed peer message bodies: other users' share lists and search replies.
#pragma once

#include "model/data.h"
#include "model/records.h"
#include "model/stream.h"

#include <QString>

// Folders and files one share list may hold. The inflate cap bounds the bytes, but a file
// record of a handful of bytes takes ten times that in memory once read.
constexpr size_t kMaxShareListRecords = 5000000;

// The longest folder path a share list may name, the system's own limit for a path. Nested
// folders repeat their parents' names in every path, so a deep tree costs the square of its
// depth in bytes; nothing that long can be a folder anywhere.
constexpr size_t kMaxSharePathBytes = 4096;

enum class ShareListResult {
    Read,
    Malformed,
    TooManyRecords  // refused before reading past the bound
};

// The file map, then the table. A map that does not read fails the whole; a table that does not
// read is emptied and the list still counts. A folder whose path is longer than
// kMaxSharePathBytes is read past and left out with its files; their number goes to
// o_longPaths when given.
ShareListResult ReadShareList(InputStream& stream, FileInfoMap& share, AttributeTranslationTable& table,
                              size_t maxRecords = kMaxShareListRecords, size_t* o_longPaths = nullptr);

enum class SearchReplyResult {
    Stored,   // results stored in o_results
    Dropped,  // nothing kept; the connection stays
    Refused   // malformed or naming another user: the connection goes
};

// Reads the inflated body of a search reply that arrived on the connection of connectionUser
// and stores the files that match the search it answers and were not listed by that user
// before, under a new `search_results` item.
SearchReplyResult StoreSearchReply(const QString& connectionUser, InputStream& stream, ItemPtr& o_results);
