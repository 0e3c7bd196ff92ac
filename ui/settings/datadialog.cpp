#include "ui/settings/datadialog.h"

#include "ui_datadialog.h"

#include <algorithm>
#include <vector>

#include <QCollator>
#include <QHeaderView>
#include <QTimer>

namespace {

QString TypeKind(const Type* type)
{
    return type->IsNull() ? "null   " : "value   ";
}

QString CountText(const Type* type)
{
    return QString::number(static_cast<qulonglong>(type->ItemCount()));
}

QString NodeText(ItemPtr item)
{
    const QString type = QString::fromStdString(item.GetType()->Name());
    if (item.GetType()->IsNull())
        return "[" + type + ", null]";
    return "[" + type + "] " + item.AsString();
}

const char* const kPlaceholder = "~~unloaded~~";

// A row made inside the list would look itself up in the whole list when it is given its text.
QListWidgetItem* NewRow(const QString& text, QListWidget* list)
{
    auto* row = new QListWidgetItem(text);
    list->addItem(row);
    return row;
}

}  // namespace

DataDialog::DataDialog(Data* data, QWidget* parent)
    : QDialog(parent)
    , mp_ui(new Ui_DataDialog)
    , mp_data(data)
{
    mp_ui->setupUi(this);
    connect(mp_ui->typeList, &QTreeWidget::itemSelectionChanged, this, &DataDialog::OnTypeItemSelectionChanged);
    connect(mp_ui->itemList, &QListWidget::itemClicked, this, &DataDialog::OnItemClicked);
    connect(mp_ui->itemDataTree, &QTreeWidget::itemExpanded, this, &DataDialog::OnDataSubItemExpanded);

    mp_ui->typeSplitter->setSizes({300, width() - 300});
    mp_ui->typeSplitter->setStretchFactor(0, 0);
    mp_ui->typeSplitter->setStretchFactor(1, 1);
    QTreeWidget* types = mp_ui->typeList;
    types->setColumnCount(3);
    types->setHeaderLabels({"Type", "", "#"});
    for (int column = 0; column < 3; ++column)
        types->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);

    std::map<std::string, Type*> all;
    mp_data->GetTypes(all);
    for (const auto& entry : all) {
        auto* row = new QTreeWidgetItem(types, {QString::fromStdString(entry.first), TypeKind(entry.second),
                                                CountText(entry.second)});
        m_typeNodes[entry.first] = row;
        m_typeNodeNames[row] = entry.first;
    }
    types->sortItems(0, Qt::AscendingOrder);
    mp_ui->itemList->sortItems(Qt::AscendingOrder);
    mp_ui->itemList->setSortingEnabled(true);

    setAttribute(Qt::WA_DeleteOnClose);
    AddHandler(mp_data->itemAdded, this, &DataDialog::OnItemAdded);
    AddHandler(mp_data->itemRemoved, this, &DataDialog::OnItemRemoved);
}

DataDialog::~DataDialog()
{
    // Nothing of the graph may reach this window while its widgets go.
    RemoveDataHandlers();
    delete mp_ui;
}

QTreeWidgetItem* DataDialog::TypeRow(Type* ip_type)
{
    const auto found = m_typeNodes.lower_bound(ip_type->Name());
    if (found != m_typeNodes.end() && found->first == ip_type->Name())
        return found->second;
    // The list is in name order, so the new row goes before the row of the next name.
    QTreeWidget* types = mp_ui->typeList;
    const int index = found == m_typeNodes.end() ? types->topLevelItemCount()
                                                  : types->indexOfTopLevelItem(found->second);
    auto* row = new QTreeWidgetItem({QString::fromStdString(ip_type->Name()), TypeKind(ip_type), CountText(ip_type)});
    types->insertTopLevelItem(index, row);
    m_typeNodes.emplace_hint(found, ip_type->Name(), row);
    m_typeNodeNames[row] = ip_type->Name();
    return row;
}

void DataDialog::CountChanged(Type* ip_type)
{
    TypeRow(ip_type);
    if (m_changedCounts.empty() && m_removedRows.empty())
        QTimer::singleShot(0, this, &DataDialog::ShowChangedCounts);
    m_changedCounts.insert(ip_type->Name());
}

void DataDialog::DropRemovedRows()
{
    QListWidget* list = mp_ui->itemList;
    if (m_removedRows.size() * 64 < static_cast<size_t>(list->count())) {
        for (QListWidgetItem* row : m_removedRows)
            delete row;
    } else {
        // Taken from the end and put back without sorting, every step is constant time; the
        // rows that stay keep their order.
        std::vector<QListWidgetItem*> kept;
        kept.reserve(list->count());
        list->setUpdatesEnabled(false);
        list->setSortingEnabled(false);
        while (list->count() > 0) {
            QListWidgetItem* row = list->takeItem(list->count() - 1);
            if (m_removedRows.count(row))
                delete row;
            else
                kept.push_back(row);
        }
        for (auto row = kept.rbegin(); row != kept.rend(); ++row)
            list->addItem(*row);
        list->setSortingEnabled(true);
        list->setUpdatesEnabled(true);
    }
    m_removedRows.clear();
}

void DataDialog::ShowChangedCounts()
{
    DropRemovedRows();
    for (const std::string& name : m_changedCounts)
        if (Type* type = mp_data->HasType(name))
            TypeRow(type)->setText(2, CountText(type));
    m_changedCounts.clear();
}

void DataDialog::ClearItemList()
{
    m_removedRows.clear();
    m_listItems.clear();
    m_listItemItems.clear();
    mp_ui->itemList->clear();
}

void DataDialog::ClearItemTree()
{
    m_treeNodes.clear();
    m_treeNodeItems.clear();
    mp_ui->itemDataTree->clear();
    m_clickedItem = ItemPtr();
}

void DataDialog::OnTypeItemSelectionChanged()
{
    const QList<QTreeWidgetItem*> selected = mp_ui->typeList->selectedItems();
    if (selected.isEmpty())
        return;
    mp_selectedType = nullptr;
    ClearItemList();
    ClearItemTree();

    const auto name = m_typeNodeNames.find(selected.first());
    if (name == m_typeNodeNames.end())
        return;
    Type* type = mp_data->GetType(name->second);
    if (type->IsNull())
        return;
    mp_selectedType = type;

    // A type may hold a great many items. The list compares two rows through a collator it
    // makes for each comparison, so the rows are put in order here, by one collator's keys, and
    // go in with the list's sorting off; later rows find their place among them.
    Data::Scope scope(mp_data);
    struct Row
    {
        QCollatorSortKey key;
        QString text;
        Item* item;
    };
    const QCollator collator;
    std::vector<Row> rows;
    for (Item* item : type->ItemsUnordered()) {
        const QString text = ItemPtr(item).AsString();
        rows.push_back({collator.sortKey(text), text, item});
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.key.compare(b.key) < 0; });
    QListWidget* list = mp_ui->itemList;
    list->setUpdatesEnabled(false);
    list->setSortingEnabled(false);
    for (const Row& r : rows) {
        auto* row = NewRow(r.text, list);
        m_listItems[r.item] = row;
        m_listItemItems[row] = r.item;
    }
    list->setSortingEnabled(true);
    list->setUpdatesEnabled(true);
}

void DataDialog::OnItemClicked(QListWidgetItem* ip_item)
{
    const auto found = m_listItemItems.find(ip_item);
    if (found == m_listItemItems.end())
        return;
    ClearItemTree();
    Data::Scope scope(mp_data);
    m_clickedItem = found->second;
    auto* root = new QTreeWidgetItem(mp_ui->itemDataTree, {m_clickedItem.AsString()});
    AddItemSubnodes(m_clickedItem, root, {m_clickedItem.GetType()});
    m_treeNodes[m_clickedItem].insert(root);
    m_treeNodeItems[root] = m_clickedItem;
}

void DataDialog::AddItemSubnodes(ItemPtr i_item, QTreeWidgetItem* ip_node, std::set<Type*> i_excluded)
{
    std::map<Type*, ItemSet> neighbours;
    i_item->GetConnectedItems(neighbours);
    for (const auto& group : neighbours) {
        if (i_excluded.count(group.first))
            continue;
        for (ItemPtr neighbour : group.second) {
            auto* node = new QTreeWidgetItem(ip_node, {NodeText(neighbour)});
            // Only an item with connections can be opened; its level is built when it is.
            if (!neighbour.IsDisconnectedFromAll())
                new QTreeWidgetItem(node, {kPlaceholder});
            m_treeNodes[neighbour].insert(node);
            m_treeNodeItems[node] = neighbour;
        }
        mp_ui->itemDataTree->expandItem(ip_node);
    }
}

void DataDialog::OnDataSubItemExpanded(QTreeWidgetItem* ip_item)
{
    if (ip_item->childCount() != 1 || m_treeNodeItems.count(ip_item->child(0)))
        return;
    const auto shown = m_treeNodeItems.find(ip_item);
    if (shown == m_treeNodeItems.end())
        return;
    delete ip_item->takeChild(0);
    Data::Scope scope(mp_data);
    const ItemPtr item = shown->second;
    AddItemSubnodes(item, ip_item, {item.GetType()});
    mp_ui->itemDataTree->setCurrentItem(ip_item);
}

void DataDialog::OnItemAdded(ItemPtr i_item)
{
    Type* type = i_item.GetType();
    CountChanged(type);
    if (type != mp_selectedType)
        return;
    auto* row = NewRow(i_item.AsString(), mp_ui->itemList);
    m_listItems[i_item] = row;
    m_listItemItems[row] = i_item;
}

void DataDialog::ForgetSubtree(QTreeWidgetItem* ip_node)
{
    for (int k = 0; k < ip_node->childCount(); ++k)
        ForgetSubtree(ip_node->child(k));
    const auto shown = m_treeNodeItems.find(ip_node);
    if (shown == m_treeNodeItems.end())
        return;  // a placeholder
    const auto nodes = m_treeNodes.find(shown->second);
    if (nodes != m_treeNodes.end()) {
        nodes->second.erase(ip_node);
        if (nodes->second.empty())
            m_treeNodes.erase(nodes);
    }
    m_treeNodeItems.erase(shown);
}

void DataDialog::OnItemRemoved(ItemPtr i_item)
{
    Type* type = i_item.GetType();
    CountChanged(type);
    if (type == mp_selectedType) {
        const auto row = m_listItems.find(i_item);
        if (row != m_listItems.end()) {
            // Deleting a row looks it up in the whole list: a collection's rows go in one pass,
            // with the counts' refresh that CountChanged has scheduled.
            m_listItemItems.erase(row->second);
            m_removedRows.insert(row->second);
            m_listItems.erase(row);
        }
    }

    if (i_item == m_clickedItem) {
        ClearItemTree();
        return;
    }
    const auto shown = m_treeNodes.find(i_item);
    if (shown == m_treeNodes.end())
        return;
    // One node may lie below another that shows the same item, and goes with it: each node is
    // looked up again before it is deleted, so none is deleted twice.
    const std::set<QTreeWidgetItem*> nodes = shown->second;
    for (QTreeWidgetItem* node : nodes) {
        if (!m_treeNodeItems.count(node))
            continue;
        ForgetSubtree(node);
        delete node;
    }
}
