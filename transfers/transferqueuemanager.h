// The transfer engine: download and upload queues, their negotiation with peers, and the worker
// threads that move the file data.
#pragma once

#include "model/data.h"
#include "model/datasaver.h"
#include "model/records.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

class QTcpSocket;
class QThread;

class TransferQueueManager : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // Needs the server connection, the peer messenger, the shared-files index, the timers and the
    // save file to exist; runs before the save file is loaded.
    TransferQueueManager();
    // Stops every transfer thread and waits for it.
    ~TransferQueueManager() override;

    // ---------------------------------------------------------------- records, wiring, start and end
    // Re-queues unfinished downloads and tracks their users.
    void DataLoaded() override;
    int ActiveDownloadCount();
    int ActiveUploadCount();
    void StartTimerTest();
    // The object whose address an item holds as its value (a per-transfer cell, a socket, a file,
    // a thread); null when there is no item or its value is 0.
    template <typename T>
    static T* Cell(ItemPtr i_item)
    {
        return ItemObject<T>(i_item);
    }
    template <typename T>
    static T* Cell(ItemPtr i_entry, const char* i_type)
    {
        return i_entry ? Cell<T>(i_entry[i_type]) : nullptr;
    }
    // Drops the entry's cell of that type and hands back the object it held, which the caller
    // now ends; null when there was none.
    template <typename T>
    static T* TakeCell(ItemPtr i_entry, const char* i_type)
    {
        ItemPtr cell = i_entry[i_type];
        if (!cell)
            return nullptr;
        T* object = Cell<T>(cell);
        cell.Remove();
        return object;
    }
    // The cells a running transfer's progress reports and the speed limit write: made when its
    // worker starts, dropped (their handlers free the objects) when it ends.
    static void AddSpeedCells(ItemPtr i_entry);
    static void RemoveSpeedCells(ItemPtr i_entry);
    // Ends what running transfers still hold (workers already stopped): their sockets, files
    // and counters are freed only through their cells, and at exit nothing else would.
    void ReleaseRunningTransfers();

    // ---------------------------------------------------------------- worker threads and speed limit
    int GetUploadSpeed();
    void DetermineUploadSpeedLimit();
    void EnableUploadSpeedLimit(bool i_enabled);
    void SetUploadSpeedLimit(int i_limit);
    void SetUploadSlots(int i_slots);
    // Used by the upload threads, each under the speed-limit mutex.
    int PerUploadSpeedLimit();
    // Takes what the pool holds towards the bytes sent; returns what it could not cover.
    qint64 DrawUploadCredit(qint64 i_unpaid);
    void AddUploadCredit(qint64 i_credit);

    // ---------------------------------------------------------------- download queue and life cycle
    // The entry of that key, new or existing; null when the entry is refused (empty user or file
    // name, negative size), so every caller checks the result before linking anything to it.
    ItemPtr AddDownload(QString user, std::string fileName, std::string folder, qint64 size, int subfolderSaveLevel);
    ItemPtr GetDownloadEntry(QString user, std::string fileName, std::string folder);
    // The download a peer's notice names; logged and null when there is none.
    ItemPtr NoticedDownload(const QString& i_user, const std::string& i_file, ItemPtr i_userItem);
    void SetDownloadEntryStatus(ItemPtr entry, QString status);
    void RequeueDownload(ItemPtr entry);
    void RequeueUserDownloads(ItemPtr user);
    void QueueDownloadIfUserOnline(ItemPtr entry);
    void RequestDownloadPlaceInLine(ItemPtr entry);
    bool IsActivelyDownloadingFromUser(QString user);
    void RemoveDownload(ItemPtr entry);
    // Path handler: a user came online.
    void OnUserOnline(ItemPtr user);

    // ---------------------------------------------------------------- download folders and paths
    QString GetDownloadTargetFolder(ItemPtr entry, bool complete);
    QString GetDownloadTargetPath(ItemPtr entry, bool complete);
    QString GetDownloadRelativeDownloadFolder(ItemPtr entry);
    bool DoesDownloadItemCompleteFilenameExist(ItemPtr entry);
    void RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr entry);
    // The partial file the entry writes into, as a local path: the one it claimed before, or a
    // free name in its downloading folder that it claims now. Empty when no name is free.
    QString ClaimPartialFile(ItemPtr entry);

    // ---------------------------------------------------------------- upload queue, acceptance, ordering
    void AddUpload(QString user, QString file);
    bool CanAcceptUserInitiatedUploadsFrom(QString user);
    bool UploadEntrySortCompare(ItemPtr a, ItemPtr b);
    int GetUserGroupDownloadPriority(QString user);
    void OrderNewUpload(ItemPtr entry);
    void StartNewUploads();
    int QueuedUploadCount();
    bool IsFreeToUpload();

    // ---------------------------------------------------------------- upload life cycle
    void SetUploadEntryStatus(ItemPtr entry, QString status);
    void RemoveUpload(ItemPtr entry);
    void UnshareUser(QString user);
    void ReshareUser(QString user);

    // ---------------------------------------------------------------- half-minute sweep
    // The time by which handshakes and request intervals are aged; tests put their own clock in.
    static QDateTime Now();
    // Now() as a stored time text.
    static QString NowText();
    static void SetClock(std::function<QDateTime()> i_clock);

signals:
    void DownloadProgressed(ItemPtr i_download);
    void UploadProgressed(ItemPtr i_upload);
    void TransfersLoaded();
    void CompleteDownloadAdded(ItemPtr i_download);

public slots:
    // ---------------------------------------------------------------- records, wiring, start and end
    void PeriodicCheck();
    void TimerTest();

    // ---------------------------------------------------------------- worker threads and speed limit
    void OnUploadProgress(qint64 i_offset, int i_bytesPerSecond);
    void OnDownloadProgress(qint64 i_offset, int i_bytesPerSecond);

    // ---------------------------------------------------------------- negotiation
    void OnFileTransferRequest(QString i_user, int i_direction, uint i_req, std::string i_file, qint64 i_fileSize);
    void OnFileConnection(QString i_user, QTcpSocket* ip_socket, uint i_requestID);
    void OnFileConnectionAccepted(QString i_user, QTcpSocket* ip_socket);
    void OnFileTransferResponse(QString i_user, uint i_req, bool i_accepted, bool i_receivedFileSize,
                                qint64 i_fileSize, QString i_denialReason);

    // ---------------------------------------------------------------- download queue and life cycle
    void OnQueueDownloadRequested(QString i_user, std::string i_fileName, qint64 i_fileSize);
    void OnUploadFailedNotification(QString i_user, std::string i_file);
    void OnUploadDeniedNotification(QString i_user, std::string i_file, QString i_reason);
    void OnDownloadPlaceInLine(QString i_user, std::string i_file, int i_place);
    void OnDownloadError(QString i_reason);
    void OnDownloadComplete();
    void OnUserShare(QString i_user, FileInfoMap& i_share, AttributeTranslationTable& i_translationTable);
    // Sends the queue requests of a re-queue that waited for this connection.
    void OnMessagingConnectionReady(QString i_user);

    // ---------------------------------------------------------------- upload queue, acceptance, ordering
    void OnQueueUploadRequested(QString i_user, QString i_file);
    void DetermineUploadsEffectiveOrder();

    // ---------------------------------------------------------------- upload life cycle
    void OnUploadError();
    void OnUploadComplete();
    void OnUploadPlaceInLineRequested(QString i_user, QString i_fileName);

    // ---------------------------------------------------------------- half-minute sweep
    void EveryHalfMinute();

private:
    // ---------------------------------------------------------------- records, wiring, start and end
    void OnWritePositionRemoved(ItemPtr i_item);
    void OnBytesPerSecondRemoved(ItemPtr i_item);
    void OnBytesSinceLastReceiptRemoved(ItemPtr i_item);
    void OnBytesUploadedRemoved(ItemPtr i_item);
    void OnLastReceiptTimeRemoved(ItemPtr i_item);
    void OnLastSpeedMeasurementTimeRemoved(ItemPtr i_item);
    int CountActive(const char* entryType, const char* statusType);

    // ---------------------------------------------------------------- worker threads and speed limit
    // The entry whose thread cell holds the sender's address; the sender itself is never touched.
    ItemPtr EntryOfSendingThread(const char* threadType, const char* entryType);
    // Stores the sending thread's progress report in its entry; null when the entry is gone.
    ItemPtr StoreProgress(const char* threadType, const char* entryType, const char* positionType, qint64 i_offset,
                          int i_bytesPerSecond);

    // ---------------------------------------------------------------- download queue and life cycle
    // Makes the entry "queued" again (or "complete" when its file is there already); the peer is
    // asked for it only with askNow. True when it is queued and so wants asking for.
    bool Requeue(ItemPtr entry, bool askNow);

    // ---------------------------------------------------------------- upload queue and negotiation
    struct UploadSortKey;
    typedef std::map<ItemPtr, std::pair<int, bool>> UserKeys;
    static UploadSortKey SortKeyOf(ItemPtr i_entry, UserKeys* io_users = nullptr);
    std::vector<ItemPtr> UploadsInEffectiveOrder();
    ItemPtr FindSharedFileFor(const QString& i_user, const QString& i_file);
    void RequeueExistingUpload(ItemPtr i_entry);
    ItemPtr NewUploadEntry(ItemPtr i_user, ItemPtr i_sharedFile, const QString& i_file);
    QString LocalDownloadingPath(ItemPtr i_entry);
    bool IsPathBeingDownloaded(const QString& i_path, ItemPtr i_except);
    // A size announced anew: the partial file of the old one is dropped, the download starts over.
    void StartDownloadOver(ItemPtr i_entry, qint64 i_size);

    // ---------------------------------------------------------------- partial and finished files
    bool IsPartialNameTaken(ItemPtr i_entry, const QString& i_folder, const QString& i_name);
    // Drops the entry's claim on its partial file and, with i_removeFile, the file itself.
    void DropPartialFile(ItemPtr i_entry, bool i_removeFile);
    // Entries saved before partial files were claimed get the one only they can mean.
    void AdoptUnclaimedPartialFiles();
    // Whether the sharing still allows the upload; if not, the peer is told and the entry goes.
    bool StillShared(ItemPtr i_entry);
    static void HandOver(QTcpSocket* ip_socket, QThread* ip_thread);

    QTimer m_timer;
    QElapsedTimer m_timerTestClock;
    qint64 m_uploadCreditPool = 0;
    int m_uploadSpeedLimit = 0;
    int m_perUploadSpeedLimit = 0;
    QMutex m_uploadSpeedMutex;
    ItemPtr m_lastUploadEntry;
    // Users whose re-queued downloads are asked for once a messaging connection to them stands:
    // the requests are made from the entries then, so nothing is held per entry meanwhile.
    std::set<QString> m_requeuesAwaitingConnection;
};

extern TransferQueueManager* transferQueueManager;
