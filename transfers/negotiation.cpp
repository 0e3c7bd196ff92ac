// Both ends agree on a transfer: the uploader's request (peer message 40), the downloader's
// answer (41), and the file connection on which they meet through the transfer ticket.

#include "transfers/transferqueuemanager.h"

#include "model/helpers.h"
#include "model/log.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "server/server.h"
#include "transfers/transferthreads.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QtEndian>

namespace {

const char* const kCategory = "Transfer Queue";

ItemPtr UserItem(const QString& user)
{
    return d.GetType("user")->GetItem(Value(user));
}

template <typename T>
ItemPtr NewCell(const char* type, T* object)
{
    return d.GetType(type)->GetItem(Value(object));
}

void Discard(QTcpSocket* socket)
{
    socket->close();
    socket->deleteLater();
}

}  // namespace

void TransferQueueManager::AddSpeedCells(ItemPtr i_entry)
{
    const QDateTime now = QDateTime::currentDateTime();
    // Read back against the engine's clock when finished uploads are cleared.
    i_entry += NewCell("last_receipt_time", new QDateTime(Now()));
    i_entry += NewCell("last_speed_measurement_time", new QDateTime(now));
    i_entry += NewCell("bytes_per_second", new int(0));
    i_entry += NewCell("bytes_since_last_receipt", new qint64(0));
}

void TransferQueueManager::RemoveSpeedCells(ItemPtr i_entry)
{
    for (const char* type : {"last_receipt_time", "last_speed_measurement_time", "bytes_per_second",
                             "bytes_since_last_receipt"})
        if (ItemPtr cell = i_entry[type])
            cell.Remove();
}

void TransferQueueManager::OnFileTransferRequest(QString i_user, int i_direction, uint i_req, std::string i_file,
                                                 qint64 i_fileSize)
{
    const std::string name = GetFileName(i_file);
    const std::string folder = GetRemoteFolder(i_file);
    const QString file = ToQString(i_file);
    if (i_direction != 1) {
        peerMessenger->DenyTransferRequest(i_user, i_req, "Queued");
        OnQueueUploadRequested(i_user, file);
        return;
    }
    ItemPtr user = UserItem(i_user);
    Log(kCategory, 1, QString("Received upload request from %1 for file %2, req %3").arg(i_user, file).arg(i_req), user);

    // A negative size can never be met by a partial file: nothing to agree on.
    if (i_fileSize < 0) {
        Log(kCategory, 2, "Denied, Cancelled (negative file size)", user);
        peerMessenger->DenyTransferRequest(i_user, i_req, "Cancelled");
        return;
    }

    ItemPtr entry = GetDownloadEntry(i_user, name, folder);
    if (!entry) {
        if (!CanAcceptUserInitiatedUploadsFrom(i_user)) {
            Log(kCategory, 2, "Denied, Cancelled", user);
            peerMessenger->DenyTransferRequest(i_user, i_req, "Cancelled");
            return;
        }
        entry = d.GetType("download_entry")->NewItem();
        entry += user;
        entry += d.GetType("file_name")->GetItem(Value(name));
        entry += d.GetType("remote_folder")->GetItem(Value(folder));
        entry += d.GetType("file_size")->GetItem(Value(static_cast<long long>(i_fileSize)));
        entry += d.GetType("subfolder_save_level")->GetItem(Value(0));
        const long long counter = GetSetting("transfer_order_counter").toLongLong();
        entry += d.GetType("download_order")->GetItem(Value(counter));
        SetSetting("transfer_order_counter", Value(counter + 1));
        gp_server->TrackUser(i_user);
        SetDownloadEntryStatus(entry, "queued");
    }

    const QString status = entry["download_entry_status"].AsString();
    if (status == "complete") {
        Log(kCategory, 2, "Denied, Complete", user);
        peerMessenger->DenyTransferRequest(i_user, i_req, "Complete");
        return;
    }

    // The entry answers to this request id only, and no other download of the user does.
    ItemPtr req = d.GetType("remote_transfer_req")->GetItem(Value(i_req));
    for (ItemPtr other : req.GetItems("download_entry"))
        if (other["user"] == user)
            other.Disconnect(req);
    entry += req;
    if (status == "downloading") {
        Log(kCategory, 2, "Transfer is already downloading, cancelling...", user);
        SetDownloadEntryStatus(entry, "aborted");
    }
    // The peer's file changed since the entry was made: the bytes held belong to the old one.
    if (entry["file_size"].AsInt64() != i_fileSize)
        StartDownloadOver(entry, i_fileSize);
    peerMessenger->AcceptTransferRequest(i_user, i_req, false, 0);
    Log(kCategory, 2, "Accepted", user);
}

void TransferQueueManager::OnFileTransferResponse(QString i_user, uint i_req, bool i_accepted, bool, qint64,
                                                  QString i_denialReason)
{
    ItemPtr user = UserItem(i_user);
    Log(kCategory, 1,
        QString("Received file transfer response from user %1 for req %2, transfer %3")
            .arg(i_user)
            .arg(i_req)
            .arg(i_accepted ? "accepted" : "not accepted"),
        user);
    ItemPtr req = d.GetType("transfer_req")->HasItem(Value(i_req));
    if (!req) {
        Log(kCategory, 2, "req not found", user);
        return;
    }
    if (req.IsConnected("download_entry")) {
        Log(kCategory, 2, "Found download, not processing", user);
        return;
    }
    ItemPtr entry = req["upload_entry"];
    if (!entry) {
        Log(kCategory, 2, "Neither upload or download attached to req, weird", user);
        return;
    }
    Log(kCategory, 2, "Found upload", user);
    if (entry["user"] != user) {
        Log(kCategory, 2,
            QString("Upload user %1 not the same as user who opened the connection, not doing anything")
                .arg(entry["user"].AsString()),
            user);
        return;
    }
    if (!i_accepted) {
        Log(kCategory, 2, QString("Upload was not accepted, marking denied. Reason: %1").arg(i_denialReason), user);
        entry += d.GetType("denial_reason")->GetItem(Value(i_denialReason));
        SetUploadEntryStatus(entry, "denied");
        StartNewUploads();
        return;
    }
    const QString status = entry["upload_entry_status"].AsString();
    if (status != "requesting") {
        Log(kCategory, 2,
            QString("Upload no longer in requesting phase, instead status is %1. Not processing.").arg(status), user);
        return;
    }

    if (!StillShared(entry)) {
        StartNewUploads();
        return;
    }

    // The file as the index knows it: a backslash in a local name is part of the name.
    ItemPtr shared = entry["shared_file"];
    auto* file = new QFile(shared["shared_file_folder"].AsString() + "/" + shared["shared_file_name"].AsString());
    const qint64 announced = shared["shared_file_size"].AsInt64();
    const bool opened = file->open(QIODevice::ReadOnly);
    if (!opened || file->size() != announced) {
        if (opened) {
            // Rewritten since the scan: the peer was told another size than the file now has.
            // The index learns the new size, so the peer's next request is told the truth.
            Log(kCategory, 2,
                QString("File size is %1, not the %2 bytes announced, marking local error and sending denial "
                        "message")
                    .arg(file->size())
                    .arg(announced),
                user);
            shared += d.GetType("shared_file_size")->GetItem(Value(static_cast<long long>(file->size())));
        } else {
            Log(kCategory, 2,
                "File could not be opened, marking local error and sending denial message. Shouldn't we have done "
                "this before we requested the transfer?",
                user);
        }
        delete file;
        peerMessenger->DenyUpload(i_user, entry["filename_as_requested"].AsString(), "File read error.");
        SetUploadEntryStatus(entry, "local error");
        StartNewUploads();
        return;
    }
    Log(kCategory, 2, "Requesting file connection to user", user);
    peerMessenger->RequestFileConnectionToUser(i_user);
    entry += NewCell("upload_file", file);
    SetUploadEntryStatus(entry, "connecting");
}

void TransferQueueManager::OnFileConnectionAccepted(QString i_user, QTcpSocket* ip_socket)
{
    ItemPtr user = d.GetType("user")->HasItem(Value(i_user));
    ItemPtr connecting = d.GetType("upload_entry_status")->HasItem(Value("connecting"));
    ItemPtr entry = user && connecting ? d.GetItem(user, connecting, "upload_entry") : ItemPtr();
    if (!entry) {
        ip_socket->deleteLater();
        return;
    }
    entry += NewCell("upload_socket", ip_socket);
    SetUploadEntryStatus(entry, "uploading");
    AddSpeedCells(entry);
    entry += NewCell("read_position", new qint64(0));

    const uint ticket = entry["transfer_req"].AsUInt();
    auto* file = Cell<QFile>(entry, "upload_file");
    // The thread never sends more or other bytes than the transfer request announced.
    const qint64 announced = entry["shared_file"]["shared_file_size"].AsInt64();
    auto* thread = new UploadThread(ip_socket, file, static_cast<int>(ticket), announced);
    entry += NewCell("upload_thread", thread);
    HandOver(ip_socket, thread);
    connect(thread, &UploadThread::UploadError, this, &TransferQueueManager::OnUploadError);
    connect(thread, &UploadThread::UploadProgress, this, &TransferQueueManager::OnUploadProgress);
    connect(thread, &UploadThread::UploadComplete, this, &TransferQueueManager::OnUploadComplete);
    thread->start(QThread::InheritPriority);
}

void TransferQueueManager::OnFileConnection(QString i_user, QTcpSocket* ip_socket, uint i_requestID)
{
    ItemPtr user = UserItem(i_user);
    Log(kCategory, 1, QString("File connection created by user %1 for req %2").arg(i_user).arg(i_requestID), user);
    ItemPtr req = d.GetType("remote_transfer_req")->HasItem(Value(i_requestID));
    ItemPtr entry = req ? d.GetItem(user, req, "download_entry") : ItemPtr();
    if (!entry) {
        Discard(ip_socket);
        Log(kCategory, 2, "Download not found, aborting", user);
        return;
    }
    // A ticket is good for one connection: anyone replaying it later finds no download.
    entry.Disconnect(req);
    if (entry["download_entry_status"].AsString() == "complete") {
        Discard(ip_socket);
        Log(kCategory, 2, "Download already complete, closing the connection", user);
        return;
    }

    // A second connection for a running download, or for another one writing the same file,
    // would append to the partial file twice over.
    const bool running =
        entry.IsConnected("download_thread") || entry["download_entry_status"].AsString() == "downloading";
    const QString path = running ? QString() : ClaimPartialFile(entry);
    if (running || (!path.isEmpty() && IsPathBeingDownloaded(path, entry))) {
        Discard(ip_socket);
        Log(kCategory, 2, "Download already running into the same file, closing the new connection", user);
        return;
    }

    auto* file = new QFile(path);
    if (path.isEmpty() || !QDir().mkpath(QFileInfo(path).path()) || !file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        SetDownloadEntryStatus(entry, "local error");
        delete file;
        Discard(ip_socket);
        Log(kCategory, 2, "Could not open file, aborting", user);
        return;
    }
    const qint64 offset = file->pos();
    const qint64 size = entry["file_size"].AsInt64();
    // The user's file stays as it is: the peer's copy is simply not the one we hold.
    if (offset > size) {
        file->close();
        delete file;
        Discard(ip_socket);
        SetDownloadEntryStatus(entry, "local error");
        // Asking again cannot help: the peer's file is smaller than what we hold.
        entry.NewItem("awaiting_retry");
        Log(kCategory, 2, "partial file larger than expected size", user);
        return;
    }

    char bytes[8];
    qToLittleEndian<qint64>(offset, bytes);
    ip_socket->write(bytes, 8);
    ip_socket->flush();

    entry += NewCell("download_socket", ip_socket);
    entry += NewCell("download_file", file);
    entry += NewCell("write_position", new qint64(offset));
    SetDownloadEntryStatus(entry, "downloading");
    AddSpeedCells(entry);

    auto* thread = new DownloadThread(ip_socket, file, size, offset);
    entry += NewCell("download_thread", thread);
    HandOver(ip_socket, thread);
    connect(thread, &DownloadThread::DownloadError, this, &TransferQueueManager::OnDownloadError);
    connect(thread, &DownloadThread::DownloadProgress, this, &TransferQueueManager::OnDownloadProgress);
    connect(thread, &DownloadThread::DownloadComplete, this, &TransferQueueManager::OnDownloadComplete);
    thread->start(QThread::InheritPriority);
    Log(kCategory, 2, "Downloading", user);
}

QString TransferQueueManager::LocalDownloadingPath(ItemPtr entry)
{
    QString path = GetDownloadTargetPath(entry, false);
    path.replace('\\', '/');
    return path;
}

bool TransferQueueManager::IsPathBeingDownloaded(const QString& path, ItemPtr except)
{
    ItemPtr downloading = d.GetType("download_entry_status")->HasItem(Value("downloading"));
    for (const ItemPtr& other : downloading.GetItems("download_entry"))
        if (other != except && LocalDownloadingPath(other) == path)
            return true;
    return false;
}

void TransferQueueManager::HandOver(QTcpSocket* ip_socket, QThread* ip_thread)
{
    ip_socket->disconnect();
    ip_socket->setParent(nullptr);
    ip_socket->moveToThread(ip_thread);
}
