#include "ui/search/sharetree.h"

#include "app/actionsettoolbar.h"
#include "model/helpers.h"
#include "model/settings.h"
#include "shares/sharedfoldersmanager.h"
#include "ui/search/filterparser.h"

#include <QHeaderView>
#include <QTreeWidget>

#include <map>
#include <string>

namespace {

// The item a row's node leads to, through the node type and the neighbour type.
ItemPtr RowData(QTreeWidgetItem* row, const char* nodeType, const char* dataType)
{
    if (!row)
        return ItemPtr();
    ItemPtr node = d.GetType(nodeType)->HasItem(Value(row));
    return node ? node.HasItem(dataType) : ItemPtr();
}

}  // namespace

ItemPtr FolderOfRow(QTreeWidgetItem* row)
{
    return RowData(row, "user_share_folder_node", "user_share_folder");
}

ItemPtr FileOfRow(QTreeWidgetItem* row)
{
    return RowData(row, "user_share_file_node", "user_share_file");
}

ItemSet SubFolders(ItemPtr folder)
{
    return folder.GetItems("user_share_folder_child").GetItems("user_share_folder_parent").GetItems("user_share_folder");
}

int BuildShareFolderTree(QTreeWidget* tree, ItemPtr share)
{
    // std::string orders by unsigned bytes, a prefix before the longer text: a parent's path
    // always comes before the paths below it, so its row exists when they need it.
    std::map<std::string, ItemPtr> folders;
    for (ItemPtr folder : share.GetItems("user_share_folder")) {
        ItemPtr name = folder.HasItem("user_share_folder_name");
        folders.emplace(name ? name.AsStdString() : std::string(), folder);
    }

    Type* nodeType = d.GetType("user_share_folder_node");
    std::map<std::string, QTreeWidgetItem*> rows;
    int maxLevel = 0;
    for (const auto& [path, folder] : folders) {
        const std::string parentPath = GetParentFolder(path);
        QTreeWidgetItem* parentRow = nullptr;
        if (parentPath != path) {
            auto found = rows.find(parentPath);
            if (found != rows.end())
                parentRow = found->second;
        }
        QTreeWidgetItem* row;
        if (parentRow) {
            row = new QTreeWidgetItem(parentRow);
            int level = 0;
            for (QTreeWidgetItem* up = parentRow; up; up = up->parent())
                ++level;
            maxLevel = std::max(maxLevel, level);
        } else {
            row = new QTreeWidgetItem(tree);
        }
        row->setText(0, ToQString(GetFileName(path)));
        rows[path] = row;
        nodeType->GetItem(Value(row)) += folder;
    }
    return maxLevel;
}

bool FilterFolderNode(QTreeWidgetItem* row, FilterParser& filter)
{
    FilterParser rest;
    const int match = filter.IsMatching(row->text(0), &rest);
    bool hide;
    if (!rest.HasAttributes() && match == 0) {
        hide = rest.MinFilesInFolder() != 0;
    } else if (match == 2) {
        // Everything below a rejected name goes with it; the sub-rows are not worth a visit.
        row->setHidden(true);
        return false;
    } else {
        hide = true;
    }

    if (hide) {
        ItemPtr folder = FolderOfRow(row);
        const ItemSet files = folder ? folder.GetItems("user_share_file") : ItemSet();
        if (!files.empty()) {
            const int needed = rest.MinFilesInFolder() > 0 ? rest.MinFilesInFolder() : 1;
            int count = 0;
            for (ItemPtr file : files) {
                ItemPtr name = file.HasItem("user_share_file_name");
                if (rest.IsMatching(name ? ToQString(name.AsStdString()) : QString(), nullptr, file) == 0 &&
                    ++count >= needed) {
                    hide = false;
                    break;
                }
            }
        }
    }

    for (int k = 0; k < row->childCount(); ++k)
        if (FilterFolderNode(row->child(k), rest))
            hide = false;

    if (row->treeWidget())
        row->setHidden(hide);
    return !hide;
}

void ClearShareFileList(QTreeWidget* list)
{
    Type* nodes = d.GetType("user_share_file_node");
    for (int k = 0; k < list->topLevelItemCount(); ++k)
        if (ItemPtr node = nodes->HasItem(Value(list->topLevelItem(k))))
            node.Remove();
    list->clear();
}

void ListFolderFiles(QTreeWidget* list, QTreeWidgetItem* folderRow, const QString& filterText)
{
    ClearShareFileList(list);
    ItemPtr folder = FolderOfRow(folderRow);
    if (!folder)
        return;
    const ItemSet files = folder.GetItems("user_share_file");

    FilterParser filter;
    filter.Parse(filterText);
    for (QTreeWidgetItem* row = folderRow; row; row = row->parent()) {
        FilterParser rest;
        filter.IsMatching(row->text(0), &rest);
        filter = rest;
    }

    Type* nodes = d.GetType("user_share_file_node");
    list->setUpdatesEnabled(false);
    list->setSortingEnabled(false);
    for (ItemPtr file : files) {
        ItemPtr name = file.HasItem("user_share_file_name");
        const QString text = name ? ToQString(name.AsStdString()) : QString();
        if (filter.IsMatching(text, nullptr, file) != 0)
            continue;
        ItemPtr size = file.HasItem("file_size");
        auto* row = new QTreeWidgetItem(list);
        row->setText(0, text);
        row->setText(1, CommafyNumber(size ? size.AsInt64() : 0));
        if (sharedFoldersManager)
            row->setText(2, sharedFoldersManager->GetFileItemDisplayString(file));
        nodes->GetItem(Value(row)) += file;
    }
    list->setSortingEnabled(true);
    list->setUpdatesEnabled(true);
}

void FilterShareTree(QTreeWidget* tree, QTreeWidget* list, const QString& filterText)
{
    FilterParser filter;
    filter.Parse(filterText);
    tree->setUpdatesEnabled(false);
    for (int k = 0; k < tree->topLevelItemCount(); ++k)
        FilterFolderNode(tree->topLevelItem(k), filter);
    tree->setUpdatesEnabled(true);

    QTreeWidgetItem* current = tree->currentItem();
    if (!current)
        return;
    if (IsRowOrAncestorHidden(current))
        ClearShareFileList(list);
    else
        ListFolderFiles(list, current, filterText);
}

bool IsRowOrAncestorHidden(QTreeWidgetItem* row)
{
    for (; row; row = row->parent())
        if (row->isHidden())
            return true;
    return false;
}

void ExpandTreeLevel(QTreeWidget* tree, int& io_expandLevel, int maxLevel)
{
    if (io_expandLevel == maxLevel)
        return;
    const int level = io_expandLevel++;
    tree->expandToDepth(level);
    if (actionBar)
        actionBar->SetWidgetActionText(tree, "expand_level", QString("Expand Level [%1]").arg(io_expandLevel));
}

void CollapseTree(QTreeWidget* tree, int& o_expandLevel)
{
    tree->collapseAll();
    o_expandLevel = 0;
    if (actionBar)
        actionBar->SetWidgetActionText(tree, "expand_level", "Expand Level");
}

void ExpandTree(QTreeWidget* tree, int& o_expandLevel)
{
    tree->expandAll();
    o_expandLevel = 0;
    if (actionBar)
        actionBar->SetWidgetActionText(tree, "expand_level", "Expand Level");
}

int ShowShareFolderTree(QTreeWidget* tree, ItemPtr share)
{
    tree->setUpdatesEnabled(false);
    const int maxLevel = BuildShareFolderTree(tree, share);
    if (GetSetting("expand_new_shares") == "yes")
        tree->expandAll();
    tree->setUpdatesEnabled(true);
    return maxLevel;
}

void SetUpShareColumns(QTreeWidget* tree, QTreeWidget* list)
{
    tree->setHeaderLabels({"Folder"});
    list->setSortingEnabled(true);
    list->sortByColumn(0, Qt::AscendingOrder);
    list->setHeaderLabels({"File", "Size", "Attributes"});
    list->setColumnWidth(0, 200);
    list->setColumnWidth(1, 70);
    list->header()->setStretchLastSection(true);
}
