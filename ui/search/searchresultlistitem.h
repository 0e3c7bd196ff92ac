// A row of a search result tree: user rows on the tree, folder and file rows below them.
#pragma once

#include <QTreeWidgetItem>

class SearchResultListItem : public QTreeWidgetItem
{
public:
    explicit SearchResultListItem(QTreeWidget* parent) : QTreeWidgetItem(parent, 0) {}
    explicit SearchResultListItem(QTreeWidgetItem* parent) : QTreeWidgetItem(parent, 0) {}

    // Free slots first, then short queues, then speed; file names last, reversed, so that a
    // descending sort lists equal users' files by name.
    bool operator<(const QTreeWidgetItem& other) const override;
};
