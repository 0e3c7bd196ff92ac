// The uploads tree: built like the downloads tree, with the shared folder of each file as its
// folder row and no place in line, alerts, double click or Delete key.
#include "ui/transfers/transfersform.h"

#include "model/helpers.h"
#include "transfers/transferqueuemanager.h"
#include "ui_transfersform.h"

namespace {

qint64 BytesRead(ItemPtr entry)
{
    const qint64* read = TransferQueueManager::Cell<qint64>(entry, "read_position");
    return read ? *read : 0;
}

qint64 SharedFileSize(ItemPtr entry)
{
    return entry["shared_file"]["shared_file_size"].AsInt64();
}

}  // namespace

TransfersForm::TreeKind& TransfersForm::StaticUploads()
{
    static TreeKind kind{nullptr,
                         "upload_entry",
                         "upload_list_user_node",
                         "upload_list_folder_node",
                         "upload_list_node",
                         "shared_file_folder",
                         nullptr,
                         nullptr,
                         "upload_entry_status",
                         "uploading",
                         &TransfersForm::GetUploadEntriesAggregateStatus,
                         &TransfersForm::GetUploadsProgressStats,
                         &BytesRead,
                         &SharedFileSize};
    return kind;
}

TransfersForm::TreeKind& TransfersForm::Uploads()
{
    TreeKind& kind = StaticUploads();
    kind.tree = ui->uploadsList;
    kind.expandUsers = &m_expandUploadUsers;
    kind.expandFolders = &m_expandUploadFolders;
    return kind;
}

void TransfersForm::OnUploadEntryAdded(ItemPtr i_entry)
{
    if (i_entry["upload_list_node"])
        return;
    ItemPtr file = i_entry["shared_file"];
    QTreeWidgetItem* row = AddEntryRow(Uploads(), i_entry, file["shared_file_folder"]);
    ChangeRow(row, [&] {
        row->setText(2, QString::fromStdString(GetFileName(file["shared_file_name"].AsStdString())));
        row->setText(7, CommafyNumber(SharedFileSize(i_entry)));
    });
}

void TransfersForm::OnUploadEntryStatusChange(ConnectionInfo& i_info)
{
    ItemPtr entry = i_info.item;
    QTreeWidgetItem* row = RowOf(entry["upload_list_node"]);
    if (!row)
        return;
    const QString status = i_info.other.AsString();
    ChangeRow(row, [&] {
        if (status == "complete")
            row->setText(4, QString());
        SetItemColorByStatus(row, status);
        row->setText(3, StatusText(entry, status));
    });
    UpdateGroupStatus(Uploads(), row);
    UpdateActiveTransferCounts();
}

QString TransfersForm::GetUploadEntriesAggregateStatus(ItemSet& i_entries)
{
    return AggregateStatus(i_entries, "upload_entry_status", "uploading");
}

void TransfersForm::GetUploadsProgressStats(ItemSet& i_entries, qint64& o_done, qint64& o_remaining, qint64& o_total)
{
    ProgressStats(StaticUploads(), i_entries, o_done, o_remaining, o_total);
}

void TransfersForm::OnUploadProgress(ItemPtr i_entry)
{
    NoteProgress(m_progressedUploads, i_entry);
}

void TransfersForm::OnUploadEntryRemoved(ItemPtr i_entry)
{
    m_progressedUploads.erase(i_entry.get());
    RemoveEntryRow(Uploads(), i_entry);
}

ItemSet TransfersForm::GetNodeUploadEntryItems(QTreeWidgetItem* ip_row)
{
    return NodeEntries(Uploads(), ip_row);
}

QTreeWidgetItem* TransfersForm::GetUploadNodeUserNode(QTreeWidgetItem* ip_row)
{
    return UserRowOf(ip_row);
}

void TransfersForm::OnUploadsContextMenuRequested(QPoint i_pos)
{
    ShowUserMenu(ui->uploadsList, i_pos, false);
}
