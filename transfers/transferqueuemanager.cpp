// The transfer engine's records, settings, wiring to the peer messenger and the timers, the
// re-queueing after load, the counts and the shut-down of the worker threads.
#include "transfers/transferqueuemanager.h"

#include "model/log.h"
#include "model/settings.h"
#include "model/timermanager.h"
#include "peer/peermessenger.h"
#include "server/server.h"
#include "transfers/transferthreads.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTcpSocket>

#include <initializer_list>
#include <set>
#include <vector>

TransferQueueManager* transferQueueManager = nullptr;

namespace {

Type* Declare(const char* name, Primacy primacy, bool null = false)
{
    return d.NewType(name, primacy, null, true);
}

// Entries hold one neighbour of each related type. Per-transfer items (sockets, threads, order
// numbers, request ids, counters) belong to one entry; names, folders, statuses and the like are
// shared by every entry that has the same one.
void RelateEntry(Type* entry, std::initializer_list<const char*> others, const std::set<std::string>& ownItems)
{
    for (const char* name : others)
        entry->RelateToType(d.GetType(name), ownItems.count(name) ? One : Many, One, false);
}

void WriteDefault(const char* key, const Value& value)
{
    if (!HasSetting(key))
        SetSetting(key, value);
}

ItemSet ActiveEntries(const char* entryType, const char* statusType)
{
    return g("is_active").GetItems(statusType).GetItems(entryType);
}

} // namespace

TransferQueueManager::TransferQueueManager()
{
    transferQueueManager = this;

    for (const char* name : {"download_entry", "file_name", "remote_folder", "download_folder", "transfer_req",
                             "remote_transfer_req", "download_socket", "download_file", "write_position",
                             "download_entry_status", "download_order", "upload_socket", "upload_file",
                             "read_position", "upload_entry_status", "upload_order", "is_active",
                             "last_receipt_time", "last_speed_measurement_time", "bytes_per_second",
                             "bytes_since_last_receipt", "place_in_line", "last_queue_request_time",
                             "next_place_in_line_request_time", "download_thread", "subfolder_save_level",
                             "last_status_change_time"}) {
        static const std::set<std::string> roots = {"download_socket", "download_file", "download_entry_status",
                                                    "upload_socket", "upload_file", "upload_entry_status",
                                                    "download_thread", "download_entry"};
        static const std::set<std::string> reachable = {"remote_folder", "download_folder"};
        const Primacy primacy = roots.count(name) ? PrimacyRoot : reachable.count(name) ? PrimacyReachable : PrimacyLeaf;
        Declare(name, primacy, std::string(name) == "download_entry" || std::string(name) == "is_active");
    }

    const std::set<std::string> ownItems = {"transfer_req", "download_socket", "download_thread", "download_file",
                                            "download_order", "last_receipt_time", "last_speed_measurement_time",
                                            "bytes_per_second", "bytes_since_last_receipt", "upload_socket",
                                            "upload_file", "upload_order", "upload_thread"};
    Type* download = d.GetType("download_entry");
    RelateEntry(download,
                {"user", "file_name", "remote_folder", "file_size", "download_folder", "transfer_req",
                 "remote_transfer_req", "download_socket", "download_thread", "download_file", "write_position",
                 "download_entry_status", "download_order", "last_receipt_time", "last_speed_measurement_time",
                 "bytes_per_second", "bytes_since_last_receipt", "place_in_line", "subfolder_save_level",
                 "last_status_change_time"},
                ownItems);
    RelateEntry(d.GetType("download_entry_status"), {"is_active"}, ownItems);
    RelateEntry(d.GetType("user"), {"last_queue_request_time", "next_place_in_line_request_time"}, ownItems);

    AddHandler(d.GetType("write_position")->itemRemoved, this, &TransferQueueManager::OnWritePositionRemoved);
    AddHandler(d.GetType("last_receipt_time")->itemRemoved, this, &TransferQueueManager::OnLastReceiptTimeRemoved);
    AddHandler(d.GetType("last_speed_measurement_time")->itemRemoved, this,
               &TransferQueueManager::OnLastSpeedMeasurementTimeRemoved);
    AddHandler(d.GetType("bytes_per_second")->itemRemoved, this, &TransferQueueManager::OnBytesPerSecondRemoved);
    AddHandler(d.GetType("bytes_since_last_receipt")->itemRemoved, this,
               &TransferQueueManager::OnBytesSinceLastReceiptRemoved);

    dataSaver->AddSavedType("download_entry");
    for (const char* name : {"user", "file_name", "remote_folder", "file_size", "download_folder",
                             "download_entry_status", "download_order", "subfolder_save_level"})
        dataSaver->AddSavedByConnectionType(name, "download_entry");
    // Which local files an entry wrote itself: the partial file it resumes, and the name its
    // finished file took in the complete folder. Saved, so that a restart knows them too.
    for (const char* name : {"download_partial_name", "download_final_name"}) {
        Declare(name, PrimacyLeaf)->RelateToType(download, One, Many, false);
        dataSaver->AddSavedByConnectionType(name, "download_entry");
    }
    // A download that can only fail the same way again waits for the user's retry.
    Declare("awaiting_retry", PrimacyLeaf, true)->RelateToType(download, One, Many, false);

    Type* upload = Declare("upload_entry", PrimacyRoot, true);
    Declare("filename_as_requested", PrimacyLeaf);
    Declare("upload_start_time", PrimacyLeaf);
    Declare("bytes_uploaded", PrimacyLeaf);
    Declare("upload_thread", PrimacyRoot);
    Declare("effective_upload_order", PrimacyLeaf);
    AddHandler(d.GetType("bytes_uploaded")->itemRemoved, this, &TransferQueueManager::OnBytesUploadedRemoved);

    RelateEntry(upload,
                {"user", "shared_file", "upload_socket", "upload_file", "read_position", "upload_entry_status",
                 "upload_order", "transfer_req"},
                ownItems);
    RelateEntry(d.GetType("upload_entry_status"), {"is_active"}, ownItems);
    RelateEntry(upload,
                {"filename_as_requested", "upload_start_time", "bytes_uploaded", "last_status_change_time",
                 "last_receipt_time", "last_speed_measurement_time", "bytes_per_second", "bytes_since_last_receipt",
                 "upload_thread", "effective_upload_order"},
                ownItems);

    auto* online = new PathNode(&d, "user");
    new PathNode(online, "is_online", PathConnectedTrigger);
    auto* onlineHandler = new EventHandler<TransferQueueManager, ItemPtr>(this, &TransferQueueManager::OnUserOnline);
    AddDataHandler(onlineHandler);
    d.AddPathEventHandler(online, onlineHandler);

    connect(peerMessenger, &PeerMessenger::FileTransferRequested, this, &TransferQueueManager::OnFileTransferRequest);

    WriteDefault("download_folder", QDir::homePath() + "/Tavrinel Downloads");

    connect(peerMessenger, &PeerMessenger::FileConnectionRequested, this, &TransferQueueManager::OnFileConnection);
    connect(peerMessenger, &PeerMessenger::QueueUploadRequested, this, &TransferQueueManager::OnQueueUploadRequested);
    connect(peerMessenger, &PeerMessenger::QueueDownloadRequested, this,
            &TransferQueueManager::OnQueueDownloadRequested);
    connect(peerMessenger, &PeerMessenger::FileConnectionAccepted, this,
            &TransferQueueManager::OnFileConnectionAccepted);
    connect(peerMessenger, &PeerMessenger::FileTransferResponse, this, &TransferQueueManager::OnFileTransferResponse);
    connect(peerMessenger, &PeerMessenger::UploadFailed, this, &TransferQueueManager::OnUploadFailedNotification);
    connect(peerMessenger, &PeerMessenger::UploadDenied, this, &TransferQueueManager::OnUploadDeniedNotification);
    connect(peerMessenger, &PeerMessenger::UploadPlaceInLineRequested, this,
            &TransferQueueManager::OnUploadPlaceInLineRequested);

    WriteDefault("transfer_order_counter", "1");
    SetSetting("transfer_req_counter", "1");

    d.GetType("download_entry_status")->GetItem("downloading").NewItem("is_active");
    for (const char* status : {"connecting", "uploading", "requesting", "waiting for offset"})
        d.GetType("upload_entry_status")->GetItem(status).NewItem("is_active");

    dataSaver->AddDataLoadedEventHandler(this);

    connect(timerManager->everyFiveMinutes(), &QTimer::timeout, this, &TransferQueueManager::PeriodicCheck);
    connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &TransferQueueManager::EveryHalfMinute);

    m_uploadCreditPool = 0;
    if (!HasSetting("upload_speed_limit")) {
        SetSetting("upload_speed_limit", "0");
        SetSetting("upload_speed_limit_enabled", "no");
        m_uploadSpeedLimit = 0;
        m_perUploadSpeedLimit = 0;
    }

    connect(peerMessenger, &PeerMessenger::DownloadPlaceInLine, this, &TransferQueueManager::OnDownloadPlaceInLine);
    connect(peerMessenger, &PeerMessenger::MessagingConnectionReady, this,
            &TransferQueueManager::OnMessagingConnectionReady);

    Type* denialReason = Declare("denial_reason", PrimacyLeaf);
    denialReason->RelateToType(download, One, Many, false);
    denialReason->RelateToType(upload, One, Many, false);

    SetSetting("upload_slots", "1");

    Type* complete = Declare("complete_download", PrimacyRoot, true);
    Declare("complete_download_folder", PrimacyReachable);
    Declare("complete_download_relative_folder", PrimacyReachable);
    Declare("complete_download_filename", PrimacyLeaf);
    Declare("complete_download_file_size", PrimacyLeaf);
    Declare("complete_download_completion_time", PrimacyLeaf);
    RelateEntry(complete,
                {"user", "complete_download_folder", "complete_download_relative_folder",
                 "complete_download_filename", "complete_download_completion_time", "complete_download_file_size",
                 "search_request_text"},
                ownItems);
    dataSaver->AddSavedType("complete_download");
    for (const char* name : {"user", "complete_download_folder", "complete_download_relative_folder",
                             "complete_download_filename", "complete_download_file_size",
                             "complete_download_completion_time"})
        dataSaver->AddSavedByConnectionType(name, "complete_download");

    Declare("empty_share_check_status", PrimacyLeaf);
    Declare("sent_empty_share_warning_message", PrimacyLeaf);
    RelateEntry(d.GetType("user"), {"empty_share_check_status", "sent_empty_share_warning_message"}, ownItems);

    connect(peerMessenger, &PeerMessenger::UserShare, this, &TransferQueueManager::OnUserShare);

    SetSetting("check_for_empty_shares", "no");
    SetSetting("empty_share_message", "It looks like you're not sharing any files. Please share something before "
                                      "downloading anything from my own shares. Thanks.");
    SetSetting("max_queued_uploads_per_user", "200");
}

TransferQueueManager::~TransferQueueManager()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);

    // Every thread is told first, so they all wind down together instead of one after another.
    std::vector<QThread*> threads;
    for (Item* item : d.GetType("upload_thread")->ItemsUnordered())
        if (auto* thread = Cell<UploadThread>(item)) {
            thread->SignalExit();
            threads.push_back(thread);
        }
    for (Item* item : d.GetType("download_thread")->ItemsUnordered())
        if (auto* thread = Cell<DownloadThread>(item)) {
            thread->SignalExit();
            threads.push_back(thread);
        }
    for (QThread* thread : threads)
        thread->wait();
    // Freed while the cells' removal handlers still listen.
    ReleaseRunningTransfers();

    RemoveDataHandlers();
    if (transferQueueManager == this)
        transferQueueManager = nullptr;
}

void TransferQueueManager::DataLoaded()
{
    Data::Scope scope(&d);
    const ItemSet entries = g("download_entry");
    ItemPtr queued = d.GetType("download_entry_status")->GetItem("queued");
    for (ItemPtr entry : entries) {
        ItemPtr status = entry["download_entry_status"];
        if (!status || status.AsStdString() != "complete")
            entry += queued;
    }
    AdoptUnclaimedPartialFiles();
    if (gp_server)
        for (ItemPtr user : entries.GetItems("user"))
            gp_server->TrackUser(user.AsString());
    emit TransfersLoaded();
    DetermineUploadSpeedLimit();
}

int TransferQueueManager::CountActive(const char* entryType, const char* statusType)
{
    return static_cast<int>(ActiveEntries(entryType, statusType).size());
}

int TransferQueueManager::ActiveDownloadCount()
{
    return CountActive("download_entry", "download_entry_status");
}

int TransferQueueManager::ActiveUploadCount()
{
    return CountActive("upload_entry", "upload_entry_status");
}

int TransferQueueManager::QueuedUploadCount()
{
    // Asked at every queue request: the neighbours are counted where they are, never copied.
    ItemPtr queued = d.GetType("upload_entry_status")->HasItem("queued");
    const ItemSet* entries = queued ? queued->Neighbours(d.GetType("upload_entry")) : nullptr;
    return entries ? static_cast<int>(entries->size()) : 0;
}

bool TransferQueueManager::IsFreeToUpload()
{
    return GetSetting("upload_slots").toUInt() > static_cast<unsigned int>(ActiveUploadCount());
}

void TransferQueueManager::PeriodicCheck()
{
}

void TransferQueueManager::StartTimerTest()
{
    connect(&m_timer, &QTimer::timeout, this, &TransferQueueManager::TimerTest, Qt::UniqueConnection);
    m_timer.setSingleShot(false);
    m_timer.start(1000);
    m_timerTestClock.start();
}

void TransferQueueManager::TimerTest()
{
    Log("Timer Test", 1,
        QString("Timeout: %1 milliseconds behind schedule").arg(m_timerTestClock.elapsed() - 1000));
    m_timerTestClock.restart();
}

// A cell's value is the address of the object it owns; removing the item frees the object.
void TransferQueueManager::OnWritePositionRemoved(ItemPtr i_item) { delete Cell<qint64>(i_item); }
void TransferQueueManager::OnBytesPerSecondRemoved(ItemPtr i_item) { delete Cell<int>(i_item); }
void TransferQueueManager::OnBytesSinceLastReceiptRemoved(ItemPtr i_item) { delete Cell<qint64>(i_item); }
void TransferQueueManager::OnBytesUploadedRemoved(ItemPtr i_item) { delete Cell<qint64>(i_item); }
void TransferQueueManager::OnLastReceiptTimeRemoved(ItemPtr i_item) { delete Cell<QDateTime>(i_item); }
void TransferQueueManager::OnLastSpeedMeasurementTimeRemoved(ItemPtr i_item) { delete Cell<QDateTime>(i_item); }

void TransferQueueManager::ReleaseRunningTransfers()
{
    // The workers have ended and handed their sockets back, so everything is deleted at once:
    // no event loop may be left to run a deferred deletion.
    const struct {
        const char* entryType;
        const char* threadType;
        const char* fileType;
        const char* socketType;
        const char* positionType;
        // The read position has no removal handler of its own; the write position's handler frees it.
        bool positionFreedHere;
    } kinds[] = {{"upload_entry", "upload_thread", "upload_file", "upload_socket", "read_position", true},
                 {"download_entry", "download_thread", "download_file", "download_socket", "write_position", false}};
    for (const auto& kind : kinds)
        for (ItemPtr entry : g(kind.entryType)) {
            delete TakeCell<QThread>(entry, kind.threadType);
            if (auto* file = TakeCell<QFile>(entry, kind.fileType)) {
                file->close();
                delete file;
            }
            delete TakeCell<QTcpSocket>(entry, kind.socketType);
            if (ItemPtr position = entry[kind.positionType]) {
                if (kind.positionFreedHere)
                    delete Cell<qint64>(position);
                position.Remove();
            }
            RemoveSpeedCells(entry);
        }
}
