// The developer's browser of the item graph: its types with their item counts, the items of one
// type, and a tree of one item's connections opened level by level. It follows the graph live.
#pragma once

#include "model/data.h"

#include <QDialog>

#include <map>
#include <set>
#include <string>

class QListWidgetItem;
class QTreeWidgetItem;
class Ui_DataDialog;

class DataDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    DataDialog(Data* data, QWidget* parent = nullptr);
    ~DataDialog() override;

public slots:
    void OnTypeItemSelectionChanged();
    void OnItemClicked(QListWidgetItem* ip_item);
    void OnDataSubItemExpanded(QTreeWidgetItem* ip_item);

private:
    void OnItemAdded(ItemPtr i_item);
    void OnItemRemoved(ItemPtr i_item);
    // Adds a child of the node for each neighbour of the item outside the excluded types.
    void AddItemSubnodes(ItemPtr i_item, QTreeWidgetItem* ip_node, std::set<Type*> i_excluded);

    // The type's row, made in its sorted place for a type declared after the list was built.
    QTreeWidgetItem* TypeRow(Type* ip_type);
    // Counts and removed rows follow a moment after a change: a collection removes thousands of
    // items, and every change of a row of the type list lays out the whole list again.
    void CountChanged(Type* ip_type);
    void ShowChangedCounts();
    void DropRemovedRows();
    void ClearItemList();
    void ClearItemTree();
    // Forgets the node and every node below it in both tree maps.
    void ForgetSubtree(QTreeWidgetItem* ip_node);

    Ui_DataDialog* mp_ui;
    Data* mp_data;
    std::map<std::string, QTreeWidgetItem*> m_typeNodes;
    std::map<QTreeWidgetItem*, std::string> m_typeNodeNames;
    Type* mp_selectedType = nullptr;
    ItemPtr m_clickedItem;
    std::map<ItemPtr, QListWidgetItem*> m_listItems;
    std::map<QListWidgetItem*, ItemPtr> m_listItemItems;
    std::map<ItemPtr, std::set<QTreeWidgetItem*>> m_treeNodes;
    std::map<QTreeWidgetItem*, ItemPtr> m_treeNodeItems;
    std::set<std::string> m_changedCounts;
    // Rows of removed items, no longer in the list maps, deleted with the counts' refresh.
    std::set<QListWidgetItem*> m_removedRows;
};
