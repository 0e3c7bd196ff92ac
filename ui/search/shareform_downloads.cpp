// Downloads from a browsed share: single files, the selected files, and whole folders with
// everything below them. The files of the chosen folder are saved at level 0, those of every
// folder below it at level 1.

#include "ui/search/shareform.h"

#include "transfers/transferqueuemanager.h"
#include "ui/search/sharetree.h"

#include "ui_shareform.h"

#include <QIcon>
#include <QMenu>

namespace {

void MarkQueued(QTreeWidgetItem* row)
{
    if (row)
        row->setIcon(0, QIcon(":/icons/download_icon"));
}

}  // namespace

bool ShareForm::QueueFile(ItemPtr file, int level)
{
    // A row whose share data is gone has no file: queueing it would ask for a nameless file.
    ItemPtr folder = file ? file.HasItem("user_share_folder") : ItemPtr();
    ItemPtr share = folder ? folder.HasItem("user_share") : ItemPtr();
    ItemPtr user = share ? share.HasItem("user") : ItemPtr();
    ItemPtr name = file ? file.HasItem("user_share_file_name") : ItemPtr();
    ItemPtr folderName = folder ? folder.HasItem("user_share_folder_name") : ItemPtr();
    ItemPtr size = file ? file.HasItem("file_size") : ItemPtr();
    if (!user || !name || !folderName || !size || !transferQueueManager)
        return false;
    // A refused download gets no mark: the icon would claim a download that does not exist.
    return static_cast<bool>(transferQueueManager->AddDownload(user.AsString(), name.AsStdString(),
                                                               folderName.AsStdString(), size.AsInt64(), level));
}

void ShareForm::DownloadFolder(ItemPtr folder, bool isSubfolder)
{
    if (!folder)
        return;
    // Only the rows of the listed folder have nodes.
    for (ItemPtr file : folder.GetItems("user_share_file"))
        if (QueueFile(file, isSubfolder ? 1 : 0))
            for (ItemPtr node : file.GetItems("user_share_file_node"))
                MarkQueued(ItemObject<QTreeWidgetItem>(node));
    for (ItemPtr subFolder : SubFolders(folder))
        if (subFolder != folder)
            DownloadFolder(subFolder, true);
}

void ShareForm::OnFolderDoubleClicked(QTreeWidgetItem* ip_item, int)
{
    if (ItemPtr folder = FolderOfRow(ip_item))
        DownloadFolder(folder, false);
}

void ShareForm::OnFileDoubleClicked(QTreeWidgetItem* ip_item, int)
{
    if (QueueFile(FileOfRow(ip_item), 0))
        MarkQueued(ip_item);
}

void ShareForm::OnFolderContextMenuRequested(QPoint i_point)
{
    QTreeWidget* tree = m_ui->folderTree;
    if (!tree->itemAt(i_point))
        return;
    QMenu menu(this);
    menu.addAction(QIcon(":/icons/transfer_icon"), "Download Folder", this, &ShareForm::OnDownloadFolder);
    menu.exec(tree->viewport()->mapToGlobal(i_point));
}

void ShareForm::OnFileContextMenuRequested(QPoint i_point)
{
    QMenu menu(this);
    menu.addAction(QIcon(":/icons/transfer_icon"), "Download File(s)", this, &ShareForm::OnDownloadFile);
    menu.exec(m_ui->fileList->viewport()->mapToGlobal(i_point));
}

void ShareForm::OnDownloadFolder()
{
    for (QTreeWidgetItem* row : m_ui->folderTree->selectedItems())
        if (ItemPtr folder = FolderOfRow(row))
            DownloadFolder(folder, false);
}

void ShareForm::OnDownloadFile()
{
    for (QTreeWidgetItem* row : m_ui->fileList->selectedItems())
        if (QueueFile(FileOfRow(row), 0))
            MarkQueued(row);
}
