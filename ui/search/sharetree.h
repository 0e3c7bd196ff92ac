// The folder tree of a share (a browsed user's or the local one offered for upload): building
// its rows, narrowing it with the result filter, and opening it level by level. Rows are tied
// to their "user_share_folder" items through "user_share_folder_node" items.
#pragma once

#include "model/data.h"

#include <QString>
#include <QWidget>

#include <initializer_list>

class FilterParser;
class QTreeWidget;
class QTreeWidgetItem;

// The folder of a folder row, or null for a row without data.
ItemPtr FolderOfRow(QTreeWidgetItem* row);
// The file of a file row, or null for a row without data.
ItemPtr FileOfRow(QTreeWidgetItem* row);

// The folders one level below the folder in its share.
ItemSet SubFolders(ItemPtr folder);

// Appends a row per folder of the share to the tree, sub-folders under their parent folder's
// row, siblings in byte order of their paths. Returns the level of the deepest row (0 when
// every row is top-level).
int BuildShareFolderTree(QTreeWidget* tree, ItemPtr share);
// The same with painting held off while the rows go in, and every row opened when the user
// asked for new shares to open ("expand_new_shares").
int ShowShareFolderTree(QTreeWidget* tree, ItemPtr share);

// The columns of a share's folder tree and of its file list, the list sorted by name.
void SetUpShareColumns(QTreeWidget* tree, QTreeWidget* list);

// Shows or hides a share form's tree, file list and filter together: nothing of them shows until
// there is a share to browse.
template <class FormUi>
void ShowShareViews(FormUi* ui, bool shown)
{
    for (QWidget* widget : std::initializer_list<QWidget*>{ui->folderTree, ui->fileList, ui->filterEdit,
                                                           ui->filterHelpButton})
        widget->setVisible(shown);
}

// Shows or hides the row and the rows below it by the filter; true when the row stays shown.
// The words the folder's name already holds are not asked again of what lies below it.
bool FilterFolderNode(QTreeWidgetItem* row, FilterParser& filter);

// Empties a file list together with the "user_share_file_node" items of its rows, which would
// otherwise point at deleted rows.
void ClearShareFileList(QTreeWidget* list);

// Lists, in place of what the list held, the files of the folder row that the filter lets
// through; the words the row's path already holds are not asked of the file names.
void ListFolderFiles(QTreeWidget* list, QTreeWidgetItem* folderRow, const QString& filterText);

// Filters the whole folder tree; the file list follows: emptied when its folder is hidden now,
// listed anew otherwise.
void FilterShareTree(QTreeWidget* tree, QTreeWidget* list, const QString& filterText);

// True when the row or a row above it is hidden.
bool IsRowOrAncestorHidden(QTreeWidgetItem* row);

// The tree actions: one more level open ("Expand Level [n]" on the toolbar), all closed, all open.
void ExpandTreeLevel(QTreeWidget* tree, int& io_expandLevel, int maxLevel);
void CollapseTree(QTreeWidget* tree, int& o_expandLevel);
void ExpandTree(QTreeWidget* tree, int& o_expandLevel);
