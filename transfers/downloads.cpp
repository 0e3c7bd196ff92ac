// The download side of the transfer engine: entries, their status machine, the requests that ask
// a peer to queue our downloads, the peer's notifications about them, completion and removal.
#include "transfers/transferqueuemanager.h"

#include "model/helpers.h"
#include "model/log.h"
#include "model/settings.h"
#include "model/stream.h"
#include "peer/peermessenger.h"
#include "server/server.h"
#include "transfers/downloadpaths.h"
#include "transfers/transferthreads.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>

namespace {

const QString kCategory = QStringLiteral("Transfer Queue");

QString TimeText(qint64 secondsFromNow = 0)
{
    // Every status change stamps the time: the common case takes no date arithmetic.
    if (secondsFromNow == 0)
        return TransferQueueManager::NowText();
    return StoredTimeText(TransferQueueManager::Now().addSecs(secondsFromNow));
}

ItemPtr UserItem(const QString& user) { return d.GetType("user")->HasItem(Value(user)); }

QString StatusOf(ItemPtr entry) { return entry["download_entry_status"].AsString(); }

bool IsActive(ItemPtr entry)
{
    ItemPtr status = entry["download_entry_status"];
    return status && status.IsConnected("is_active");
}

bool IsOnline(ItemPtr user) { return user && user.IsConnected("is_online"); }

// What code 43 carries: the stored bytes, exactly as the peer gave them; a file the peer listed
// without a folder is asked for by its bare name.
std::string RemotePath(ItemPtr entry)
{
    const std::string folder = entry["remote_folder"].AsStdString();
    const std::string name = entry["file_name"].AsStdString();
    return folder.empty() ? name : folder + "\\" + name;
}

void SetUserTime(ItemPtr user, const char* type, const QString& when)
{
    if (user)
        user += d.GetType(type)->GetItem(Value(when));
}

void RemoveCell(ItemPtr entry, const char* type)
{
    if (ItemPtr cell = entry[type])
        cell.Remove();
}

// Ends a running download's worker and lets go of its socket and file. The stop flag goes up
// before the wait: a worker that is still receiving would otherwise keep the window frozen until
// the peer has sent the whole file.
void ReleaseTransfer(ItemPtr entry)
{
    if (auto* thread = TransferQueueManager::TakeCell<DownloadThread>(entry, "download_thread")) {
        thread->SignalExit();
        thread->wait();
        thread->deleteLater();
    }
    if (auto* file = TransferQueueManager::TakeCell<QFile>(entry, "download_file")) {
        file->close();
        delete file;
    }
    if (auto* socket = TransferQueueManager::TakeCell<QTcpSocket>(entry, "download_socket")) {
        socket->disconnect();
        socket->close();
        socket->deleteLater();
    }
}

}  // namespace

ItemPtr TransferQueueManager::GetDownloadEntry(QString user, std::string fileName, std::string folder)
{
    ItemPtr userItem = UserItem(user);
    ItemPtr nameItem = d.GetType("file_name")->HasItem(Value(fileName));
    ItemPtr folderItem = d.GetType("remote_folder")->HasItem(Value(folder));
    if (!userItem || !nameItem || !folderItem)
        return ItemPtr();
    return nameItem.GetItems("download_entry").Connected(folderItem).Connected(userItem);
}

ItemPtr TransferQueueManager::AddDownload(QString user, std::string fileName, std::string folder, qint64 size,
                                          int subfolderSaveLevel)
{
    // Such an entry could never be asked for, stored as a local file, or shown with a sane size.
    if (user.isEmpty() || fileName.empty() || size < 0) {
        Log(kCategory, 1,
            QStringLiteral("Refused download of \"%1\" from user \"%2\" with size %3: empty user or file name, "
                           "or negative size")
                .arg(ToQString(fileName), user, QString::number(size)));
        return ItemPtr();
    }
    if (ItemPtr existing = GetDownloadEntry(user, fileName, folder))
        return existing;

    ItemPtr entry = d.GetType("download_entry")->NewItem();
    ItemPtr userItem = d.GetType("user")->GetItem(Value(user));
    entry += userItem;
    entry += d.GetType("file_name")->GetItem(Value(fileName));
    entry += d.GetType("remote_folder")->GetItem(Value(folder));
    entry += d.GetType("file_size")->GetItem(Value(static_cast<long long>(size)));
    entry += d.GetType("subfolder_save_level")->GetItem(Value(subfolderSaveLevel));
    const long long order = GetSetting("transfer_order_counter").toLongLong();
    entry += d.GetType("download_order")->GetItem(Value(order));
    SetSetting("transfer_order_counter", Value(order + 1));

    if (gp_server)
        gp_server->TrackUser(user);
    if (DoesDownloadItemCompleteFilenameExist(entry)) {
        SetDownloadEntryStatus(entry, "complete");
        return entry;
    }
    SetDownloadEntryStatus(entry, "queued");
    if (IsOnline(userItem) && peerMessenger)
        peerMessenger->QueueDownload(user, RemotePath(entry));
    SetUserTime(userItem, "next_place_in_line_request_time", TimeText(10));
    return entry;
}

void TransferQueueManager::SetDownloadEntryStatus(ItemPtr entry, QString status)
{
    if (!entry)
        return;
    const bool wasActive = IsActive(entry);
    entry += d.GetType("download_entry_status")->GetItem(Value(status));
    entry += d.GetType("last_status_change_time")->GetItem(Value(TimeText()));
    if (!wasActive || IsActive(entry))
        return;
    ReleaseTransfer(entry);
    RemoveCell(entry, "write_position");
    RemoveCell(entry, "last_receipt_time");
    RemoveCell(entry, "bytes_per_second");
    // Made with the others when the download started; kept, they would wait for a collection.
    RemoveCell(entry, "last_speed_measurement_time");
    RemoveCell(entry, "bytes_since_last_receipt");
    SetUserTime(entry["user"], "last_queue_request_time", TimeText());
}

void TransferQueueManager::RequeueDownload(ItemPtr entry)
{
    Requeue(entry, true);
}

bool TransferQueueManager::Requeue(ItemPtr entry, bool askNow)
{
    if (!entry || StatusOf(entry) == QLatin1String("complete") || IsActive(entry))
        return false;
    entry.Disconnect("awaiting_retry");
    if (DoesDownloadItemCompleteFilenameExist(entry)) {
        SetDownloadEntryStatus(entry, "complete");
        return false;
    }
    ItemPtr user = entry["user"];
    if (askNow && peerMessenger)
        peerMessenger->QueueDownload(user.AsString(), RemotePath(entry));
    SetDownloadEntryStatus(entry, "queued");
    Log(kCategory, 2, QStringLiteral("Queueing %1").arg(entry["file_name"].AsString()), user);
    return true;
}

void TransferQueueManager::RequeueUserDownloads(ItemPtr user)
{
    if (!user)
        return;
    const ItemSet entries = user.GetItems("download_entry");
    if (entries.empty())
        return;
    Log(kCategory, 1, QStringLiteral("Requeueing downloads from user %1").arg(user.AsString()), user);
    // Without a messaging connection each request would wait in the messenger's queue, whose
    // bound per user drops the oldest: the head of a long queue would never be asked for. The
    // requests are then made from the entries themselves once a connection stands.
    const QString name = user.AsString();
    const bool askNow = !peerMessenger || peerMessenger->HasMessagingConnection(name);
    bool toAsk = false;
    for (const ItemPtr& entry : entries.SortNumericBy("download_order", true)) {
        const QString status = StatusOf(entry);
        if (status != QLatin1String("complete") && status != QLatin1String("denied") &&
            !entry.IsConnected("awaiting_retry"))
            toAsk |= Requeue(entry, askNow);
    }
    if (toAsk && !askNow) {
        m_requeuesAwaitingConnection.insert(name);
        peerMessenger->ConnectToUser(name, "P");
    }
    SetUserTime(user, "last_queue_request_time", TimeText());
    SetUserTime(user, "next_place_in_line_request_time", TimeText(30));
}

void TransferQueueManager::OnMessagingConnectionReady(QString i_user)
{
    if (!m_requeuesAwaitingConnection.erase(i_user) || !peerMessenger)
        return;
    // Whatever is still queued, in queue order; entries that went or changed since are not asked for.
    for (const ItemPtr& entry : UserItem(i_user).GetItems("download_entry").SortNumericBy("download_order", true))
        if (StatusOf(entry) == QLatin1String("queued"))
            peerMessenger->QueueDownload(i_user, RemotePath(entry));
}

void TransferQueueManager::OnUserOnline(ItemPtr user)
{
    Log(kCategory, 1, QStringLiteral("User %1 went online").arg(user.AsString()), user);
    RequeueUserDownloads(user);
    StartNewUploads();
}

bool TransferQueueManager::IsActivelyDownloadingFromUser(QString user)
{
    for (const ItemPtr& entry : UserItem(user).GetItems("download_entry"))
        if (StatusOf(entry) == QLatin1String("downloading"))
            return true;
    return false;
}

void TransferQueueManager::RequestDownloadPlaceInLine(ItemPtr entry)
{
    if (!entry)
        return;
    ItemPtr user = entry["user"];
    MemStream message;
    message.Write(static_cast<uint32_t>(51));
    message.Write(ToQString(RemotePath(entry)));
    Log(kCategory, 1,
        QStringLiteral("Requesting place in line for download of %1 from %2")
            .arg(entry["file_name"].AsString(), user.AsString()),
        user);
    if (peerMessenger)
        peerMessenger->SendMessage(user.AsString(), message);
}

void TransferQueueManager::OnDownloadPlaceInLine(QString i_user, std::string i_file, int i_place)
{
    if (ItemPtr entry = GetDownloadEntry(i_user, GetFileName(i_file), GetRemoteFolder(i_file)))
        entry += d.GetType("place_in_line")->GetItem(Value(i_place));
}

void TransferQueueManager::OnQueueDownloadRequested(QString i_user, std::string i_fileName, qint64 i_fileSize)
{
    if (!CanAcceptUserInitiatedUploadsFrom(i_user))
        return;
    if (!AddDownload(i_user, GetFileName(i_fileName), GetRemoteFolder(i_fileName), i_fileSize, 0))
        Log(kCategory, 1, QStringLiteral("Offer of %1 from %2 not taken").arg(ToQString(i_fileName), i_user),
            UserItem(i_user));
}

ItemPtr TransferQueueManager::NoticedDownload(const QString& i_user, const std::string& i_file, ItemPtr i_userItem)
{
    ItemPtr entry = GetDownloadEntry(i_user, GetFileName(i_file), GetRemoteFolder(i_file));
    if (!entry)
        Log(kCategory, 2, QStringLiteral("Download not found."), i_userItem);
    return entry;
}

void TransferQueueManager::OnUploadDeniedNotification(QString i_user, std::string i_file, QString i_reason)
{
    ItemPtr user = UserItem(i_user);
    Log(kCategory, 1,
        QStringLiteral("Received peer notification from %1 that upload of %2 was denied, reason: %3")
            .arg(i_user, ToQString(i_file), i_reason),
        user);
    ItemPtr entry = NoticedDownload(i_user, i_file, user);
    if (!entry)
        return;
    Log(kCategory, 2, QStringLiteral("Download found, marking as denied."), user);
    entry += d.GetType("denial_reason")->GetItem(Value(i_reason));
    SetDownloadEntryStatus(entry, "denied");
}

void TransferQueueManager::OnUploadFailedNotification(QString i_user, std::string i_file)
{
    ItemPtr user = UserItem(i_user);
    Log(kCategory, 1,
        QStringLiteral("Received peer notification from %1 that upload of %2 failed").arg(i_user, ToQString(i_file)),
        user);
    ItemPtr entry = NoticedDownload(i_user, i_file, user);
    if (!entry)
        return;
    Log(kCategory, 2, QStringLiteral("Download found!"), user);
    QueueDownloadIfUserOnline(entry);
    SetUserTime(user, "last_queue_request_time", TimeText());
}

void TransferQueueManager::QueueDownloadIfUserOnline(ItemPtr entry)
{
    if (!entry)
        return;
    ItemPtr user = entry["user"];
    const std::string path = RemotePath(entry);
    const QString status = StatusOf(entry);
    if (status == QLatin1String("local error")) {
        Log(kCategory, 1, QStringLiteral("Download status %1, not re-queueing %2").arg(status, ToQString(path)),
            user);
    } else if (IsOnline(user)) {
        Log(kCategory, 1,
            QStringLiteral("User %1 appears to still be online, re-queueing %2").arg(user.AsString(), ToQString(path)),
            user);
        if (peerMessenger)
            peerMessenger->QueueDownload(user.AsString(), path);
    } else {
        Log(kCategory, 1, QStringLiteral("User %1 offline, not re-queueing %2").arg(user.AsString(), ToQString(path)),
            user);
    }
}

void TransferQueueManager::OnDownloadError(QString i_reason)
{
    ItemPtr entry = EntryOfSendingThread("download_thread", "download_entry");
    if (!entry)
        return;
    ItemPtr user = entry["user"];
    Log(kCategory, 1,
        QStringLiteral("Error downloading %1 from %2. %3").arg(entry["file_name"].AsString(), user.AsString(), i_reason),
        user);
    SetDownloadEntryStatus(entry, "aborted");
}

void TransferQueueManager::OnDownloadComplete()
{
    ItemPtr entry = EntryOfSendingThread("download_thread", "download_entry");
    if (!entry)
        return;
    if (auto* thread = Cell<DownloadThread>(entry, "download_thread"))
        thread->wait();

    const QString folderText = GetDownloadTargetFolder(entry, true);
    const QString folder = DownloadLocalPath(folderText);
    const QString source = DownloadLocalPath(GetDownloadTargetPath(entry, false));
    // The peer's name, not a free name an earlier completion of this entry may have taken.
    if (ItemPtr earlierName = entry["download_final_name"])
        entry.Disconnect(earlierName);
    const QString target = DownloadLocalPath(GetDownloadTargetPath(entry, true));
    QString name = QFileInfo(target).fileName();
    QDir().mkpath(folder);
    bool moved = !source.isEmpty() && !target.isEmpty() && QFile::rename(source, target);
    // A finished file of that name is already there (another peer's copy, or the user's own):
    // both are kept, the new one under the first free numbered name.
    if (!moved && !target.isEmpty() && (QFileInfo::exists(target) || QFileInfo(target).isSymLink())) {
        const QString freeName = FreeFileName(folder, name);
        if (!freeName.isEmpty() && QFile::rename(source, folder + QLatin1Char('/') + freeName)) {
            moved = true;
            name = freeName;
        }
    }
    ItemPtr user = entry["user"];
    if (!moved) {
        Log(kCategory, 1,
            QStringLiteral("Could not move finished download %1 into %2, marking local error").arg(source, folder),
            user);
        SetDownloadEntryStatus(entry, "local error");
        return;
    }

    entry += d.GetType("download_final_name")->GetItem(Value(name));
    DropPartialFile(entry, false);
    SetDownloadEntryStatus(entry, "complete");
    RemoveDownloadDownloadingFolderIfAppropriate(entry);

    ItemPtr folderItem = d.GetType("complete_download_folder")->GetItem(Value(folderText));
    ItemPtr nameItem = d.GetType("complete_download_filename")->GetItem(Value(name));
    if (!folderItem.GetItems("complete_download").Connected(nameItem).empty())
        return;
    ItemPtr record = d.GetType("complete_download")->NewItem();
    record += user;
    record += folderItem;
    record += d.GetType("complete_download_relative_folder")->GetItem(Value(GetDownloadRelativeDownloadFolder(entry)));
    record += nameItem;
    record += d.GetType("complete_download_file_size")->GetItem(Value(entry["file_size"].AsStdString()));
    record += d.GetType("complete_download_completion_time")->GetItem(Value(TimeText()));
    if (ItemPtr searchText = entry["search_request_text"])
        record += searchText;
    emit CompleteDownloadAdded(record);
}

void TransferQueueManager::RemoveDownload(ItemPtr entry)
{
    if (!entry)
        return;
    ReleaseTransfer(entry);
    RemoveCell(entry, "write_position");
    RemoveSpeedCells(entry);
    entry.Remove();
}

void TransferQueueManager::OnUserShare(QString i_user, FileInfoMap& i_share, AttributeTranslationTable&)
{
    ItemPtr user = UserItem(i_user);
    if (!user || user["empty_share_check_status"].AsStdString() != "requested")
        return;
    Type* status = d.GetType("empty_share_check_status");
    if (!i_share.empty()) {
        user += status->GetItem(Value("not_empty"));
        return;
    }
    user += status->GetItem(Value("empty"));
    if (!IsSettingOn("check_for_empty_shares") || user.IsConnected("in_user_list"))
        return;
    const QString message = GetSetting("empty_share_message");
    if (message.isEmpty())
        return;
    // Only a warning that went out is recorded: the user's chat tab shows it as said.
    if (!gp_server || !gp_server->SendPrivateChat(i_user, message))
        return;
    Log(QStringLiteral("Shared"), 1, QStringLiteral("Sent empty share warning message to user %1").arg(i_user));
    user += d.GetType("sent_empty_share_warning_message")->GetItem(Value(message));
}

bool TransferQueueManager::CanAcceptUserInitiatedUploadsFrom(QString user)
{
    ItemPtr listed = UserItem(user)["in_user_list"];
    if (!listed)
        return false;
    if (IsSettingOn("accept_userlist_uploads"))
        return true;
    for (const ItemPtr& group : listed.GetItems("user_list_group"))
        if (group.IsConnected("accept_uploads"))
            return true;
    return false;
}
