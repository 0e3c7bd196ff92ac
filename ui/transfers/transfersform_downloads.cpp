// The downloads tree: one row per user, per remote folder of that user and per file, each file
// row mirroring its download entry; completion alerts, removal and opening of finished files.
#include "ui/transfers/transfersform.h"

#include "app/eventtoolbar.h"
#include "app/usermenuoptions.h"
#include "model/helpers.h"
#include "model/settings.h"
#include "transfers/transferqueuemanager.h"
#include "ui/transfers/downloadmenuoptions.h"
#include "ui_transfersform.h"

#include <QKeyEvent>

namespace {

qint64 BytesWritten(ItemPtr entry)
{
    const qint64* written = TransferQueueManager::Cell<qint64>(entry, "write_position");
    return written ? *written : 0;
}

qint64 FileSize(ItemPtr entry)
{
    return entry["file_size"].AsInt64();
}

QString StatusOf(ItemPtr entry)
{
    return entry["download_entry_status"].AsString();
}

}  // namespace

TransfersForm::TreeKind& TransfersForm::StaticDownloads()
{
    static TreeKind kind{nullptr,
                         "download_entry",
                         "download_list_user_node",
                         "download_list_folder_node",
                         "download_list_node",
                         "remote_folder",
                         nullptr,
                         nullptr,
                         "download_entry_status",
                         "downloading",
                         &TransfersForm::GetDownloadEntriesAggregateStatus,
                         &TransfersForm::GetDownloadsProgressStats,
                         &BytesWritten,
                         &FileSize};
    return kind;
}

TransfersForm::TreeKind& TransfersForm::Downloads()
{
    TreeKind& kind = StaticDownloads();
    kind.tree = ui->downloadsList;
    kind.expandUsers = &m_expandDownloadUsers;
    kind.expandFolders = &m_expandDownloadFolders;
    return kind;
}

void TransfersForm::OnDownloadEntryAdded(ItemPtr i_entry)
{
    // The path fires again when one of its steps is made anew: one row per entry.
    if (!m_transfersLoaded || i_entry["download_list_node"])
        return;
    TreeKind& kind = Downloads();
    QTreeWidgetItem* row = AddEntryRow(kind, i_entry, i_entry["remote_folder"]);
    ChangeRow(row, [&] {
        row->setText(2, i_entry["file_name"].AsString());
        row->setText(7, CommafyNumber(FileSize(i_entry)));
        if (ItemPtr status = i_entry["download_entry_status"]) {
            ConnectionInfo info(i_entry, status);
            OnDownloadEntryStatusChange(info);
        }
    });
}

void TransfersForm::OnDownloadEntryStatusChange(ConnectionInfo& i_info)
{
    ItemPtr entry = i_info.item;
    QTreeWidgetItem* row = RowOf(entry["download_list_node"]);
    if (!row)
        return;
    const QString status = i_info.other.AsString();
    ChangeRow(row, [&] {
        SetItemColorByStatus(row, status);
        if (status == "complete") {
            ++m_pendingCompletions[entry.get()];
            emit DownloadComplete(entry);
            row->setText(4, QString());
        }
        row->setText(8, QString());
        row->setText(3, StatusText(entry, status));
    });
    UpdateGroupStatus(Downloads(), row);
    if (!m_addingSavedDownloads)
        UpdateActiveTransferCounts();
}

QString TransfersForm::GetDownloadEntriesAggregateStatus(ItemSet& i_entries)
{
    return AggregateStatus(i_entries, "download_entry_status", "downloading");
}

void TransfersForm::GetDownloadsProgressStats(ItemSet& i_entries, qint64& o_done, qint64& o_remaining, qint64& o_total)
{
    ProgressStats(StaticDownloads(), i_entries, o_done, o_remaining, o_total);
}

void TransfersForm::OnDownloadProgress(ItemPtr i_entry)
{
    NoteProgress(m_progressedDownloads, i_entry);
}

void TransfersForm::OnDownloadPlaceInLine(ItemPtr i_entry)
{
    if (QTreeWidgetItem* row = RowOf(i_entry["download_list_node"]))
        row->setText(8, i_entry["place_in_line"].AsString());
}

void TransfersForm::OnDownloadEntryRemoved(ItemPtr i_entry)
{
    // A completion still on its way must not reach an entry that is gone.
    m_pendingCompletions.erase(i_entry.get());
    m_progressedDownloads.erase(i_entry.get());
    DropAlertsOf(i_entry);
    RemoveEntryRow(Downloads(), i_entry);
}

void TransfersForm::DropAlertsOf(ItemPtr i_entry)
{
    // An alert waits for downloads that exist: left behind, a folder or user alert would fire for
    // later, unrelated downloads, and the menu would no longer offer it.
    Data::Scope scope(&d);
    if (ItemPtr alert = i_entry["complete_download_alert"])
        alert.Remove();
    ItemPtr user = i_entry["user"];
    if (!user || !user.IsConnected("complete_download_alert"))
        return;
    // The entry is still linked while it goes; any other one linked means the group lives on.
    Type* entryType = d.GetType("download_entry");
    const auto anyOther = [&](ItemPtr of, ItemPtr alsoLinkedTo) {
        if (const NeighbourSet* entries = of->Links(entryType))
            for (const ItemPtr& entry : *entries)
                if (entry != i_entry && (!alsoLinkedTo || entry.IsConnected(alsoLinkedTo)))
                    return true;
        return false;
    };
    ItemSet alerts = user.GetItems("complete_download_alert");
    if (!anyOther(user, ItemPtr())) {
        alerts.Remove();
        return;
    }
    ItemPtr folder = i_entry["remote_folder"];
    if (folder && !anyOther(folder, user))
        alerts.Connected(folder).Remove();
}

ItemSet TransfersForm::GetNodeDownloadEntryItems(QTreeWidgetItem* ip_row)
{
    return NodeEntries(Downloads(), ip_row);
}

QTreeWidgetItem* TransfersForm::GetDownloadNodeUserNode(QTreeWidgetItem* ip_row)
{
    return UserRowOf(ip_row);
}

void TransfersForm::OnDownloadComplete(ItemPtr i_entry)
{
    // The entry travelled through the event queue: it counts only while it is still pending,
    // since "Clear Complete", the Delete key or a removal may have taken it in the meantime.
    auto pending = m_pendingCompletions.find(i_entry.get());
    if (pending == m_pendingCompletions.end())
        return;
    if (--pending->second == 0)
        m_pendingCompletions.erase(pending);

    Data::Scope scope(&d);
    const char* const icon = ":/icons/download_icon";
    QTreeWidgetItem* fileRow = RowOf(i_entry["download_list_node"]);
    QTreeWidgetItem* folderRow = fileRow ? fileRow->parent() : nullptr;
    QTreeWidgetItem* userRow = UserRowOf(fileRow);
    ItemPtr user = i_entry["user"];
    ItemPtr folder = i_entry["remote_folder"];

    if (ItemPtr alert = i_entry["complete_download_alert"]) {
        const QString name = i_entry["file_name"].AsString();
        if (eventToolBar)
            eventToolBar->AddEvent(name, icon, ui->downloadsList, QString("Download of file %1 complete").arg(name));
        if (fileRow)
            fileRow->setIcon(2, QIcon());
        alert.Remove();
    }

    const ItemSet userEntries = user.GetItems("download_entry");
    const auto allComplete = [](const ItemSet& entries) {
        for (const ItemPtr& entry : entries)
            if (StatusOf(entry) != "complete")
                return false;
        return true;
    };
    if (folder && allComplete(folder.GetItems("download_entry").Connected(user)))
        if (ItemPtr alert = d.GetItem(user, folder, "complete_download_alert")) {
            const QString name = QString::fromStdString(GetFileName(folder.AsStdString()));
            if (eventToolBar)
                eventToolBar->AddEvent(name, icon, ui->downloadsList,
                                       QString("Download of folder %1 complete").arg(name));
            if (folderRow)
                folderRow->setIcon(1, QIcon());
            alert.Remove();
        }

    if (allComplete(userEntries)) {
        ItemSet alerts = user.GetItems("complete_download_alert").NotConnected("remote_folder");
        if (!alerts.empty()) {
            if (eventToolBar)
                eventToolBar->AddEvent(user.AsString(), icon, ui->downloadsList,
                                       QString("All download from user %1 complete").arg(user.AsString()));
            if (userRow)
                userRow->setIcon(0, QIcon());
            alerts.Remove();
        }
    }

    if (IsSettingOn("clear_complete_downloads"))
        transferQueueManager->RemoveDownload(i_entry);
}

void TransfersForm::DeleteSelectedDownloads()
{
    const QList<QTreeWidgetItem*> selected = ui->downloadsList->selectedItems();
    if (selected.isEmpty())
        return;
    QTreeWidgetItem* row = selected.first();
    Data::Scope scope(&d);
    if (ItemPtr node = NodeOf(row, "download_list_node")) {
        transferQueueManager->RemoveDownload(node["download_entry"]);
        return;
    }
    // Each removal deletes a row (and the emptied group rows); the rows are looked up again
    // after every one. A removal that takes nothing away ends the loop.
    const auto emptyFolder = [this](QTreeWidgetItem* folderRow) {
        for (int left = folderRow->childCount(); NodeOf(folderRow, "download_list_folder_node");) {
            transferQueueManager->RemoveDownload(NodeOf(folderRow->child(0), "download_list_node")["download_entry"]);
            if (!NodeOf(folderRow, "download_list_folder_node"))
                return true;
            if (folderRow->childCount() >= left)
                return false;
            left = folderRow->childCount();
        }
        return true;
    };
    if (NodeOf(row, "download_list_folder_node")) {
        emptyFolder(row);
        return;
    }
    while (NodeOf(row, "download_list_user_node") && row->childCount() > 0)
        if (!emptyFolder(row->child(0)))
            return;
}

void TransfersForm::OnKeyPressedInDownloadList(QKeyEvent* ip_event)
{
    if (ip_event->key() == Qt::Key_Delete)
        DeleteSelectedDownloads();
}

void TransfersForm::OnDownloadListItemDoubleClicked(QTreeWidgetItem* ip_row, int)
{
    ItemPtr entry = NodeOf(ip_row, "download_list_node")["download_entry"];
    if (!entry)
        return;
    DownloadMenuOptions::OpenLocal(transferQueueManager->GetDownloadTargetPath(entry, true));
}

void TransfersForm::OnDownloadsContextMenuRequested(QPoint i_pos)
{
    ShowUserMenu(ui->downloadsList, i_pos, true);
}
