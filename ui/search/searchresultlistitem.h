// A row of a search result tree: user rows on the tree, folder and file rows below them.
#pragma once

#include <QTreeWidgetItem>

class SearchResultListItem : public QTreeWidgetItem
{
public:
    explicit SearchResultListItem(QTreeWidget* parent) : QTreeWidgetItem(parent, 0) {}
    explicit SearchResultListItem(QTreeWidgetItem* parent) : QTreeWidgetItem(parent, 0) {}
};
