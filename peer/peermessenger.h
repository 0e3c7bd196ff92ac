// Direct connections between this client and other clients.
#pragma once

#include "model/data.h"
#include "model/datasaver.h"
#include "model/records.h"
#include "model/stream.h"

#include <QObject>
#include <QString>

#include <string>

class MemStream;
class QTcpSocket;

class PeerMessenger : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // Needs the server connection, the timers and the save file to exist.
    PeerMessenger();
    ~PeerMessenger() override;

    // Declares the peer side's item types and relations (sockets, relayed connection requests,
    // user addresses, searches and their results, queued messages, connection attempts).
    // The constructor calls it; it throws TypeAlreadyExistsException when called twice.
    static void CreateData();

    void DataLoaded() override;

    // Asks the user for the list of its shared files; the answer arrives as UserShare.
    void GetUserSharedFiles(const QString& user);

    // Sends a message body (its code first) on the user's messaging connection, or keeps it until
    // one stands.
    void SendMessage(QString user, MemStream& message);
    // The requests of transfer negotiation.
    void QueueDownload(QString user, std::string file);
    void QueueUpload(QString user, QString file, qint64 size);
    // Returns the request id, which the answer and the file connection's ticket carry.
    uint RequestUpload(QString user, QString file, qint64 size);
    void AcceptTransferRequest(QString user, uint req, bool includeSize, qint64 size);
    void DenyTransferRequest(QString user, uint req, QString reason);
    void DenyUpload(QString user, QString file, QString reason);
    void SendUploadPlaceInLine(QString user, QString file, int place);
    // Forms a file connection to the user; FileConnectionAccepted reports it.
    void RequestFileConnectionToUser(QString user);

    // Acts on one message that arrived on an established messaging connection; false when the
    // connection is to be dropped.
    bool HandlePeerMessage(QTcpSocket* ip_socket, MemStream& i_message, ItemPtr i_peerSocket, const QString& i_user);
    // The name of a peer message code for the log.
    static QString MessageCodeToString(int i_code);

signals:
    void SearchResults(ItemPtr i_searchResults);
    void FileConnectionRequested(QString i_user, QTcpSocket* ip_socket, uint i_requestID);
    void UserShare(QString i_userName, FileInfoMap& i_share, AttributeTranslationTable& i_translationTable);
    void FileTransferRequested(QString i_user, int i_direction, uint i_req, std::string i_file, qint64 i_fileSize);
    void QueueUploadRequested(QString i_user, QString i_file);
    void FileConnectionAccepted(QString i_user, QTcpSocket* ip_socket);
    void FileTransferResponse(QString i_user, uint i_req, bool i_accepted, bool i_receivedFileSize, qint64 i_fileSize,
                              QString i_denialReason);
    void DNetConnectionRequested(QString i_user, QTcpSocket* ip_socket);
    void DNetConnectionAccepted(QString i_user, QTcpSocket* ip_socket);
    void UploadFailed(QString i_user, std::string i_file);
    void UploadDenied(QString i_user, std::string i_file, QString i_reason);
    void SharedFilesInFolderRequested(QString i_user, quint32 i_req, QString i_folder);
    void DownloadPlaceInLine(QString i_user, std::string i_file, int i_place);
    void ConnectionToUserFailed(QString i_user, QString i_type);
    void UploadPlaceInLineRequested(QString i_user, QString i_fileName);
    void QueueDownloadRequested(QString i_user, std::string i_fileName, qint64 i_fileSize);
    void UserInfoRequested(QString i_user);
    void UserInfoReceived(QString i_user, QString i_description, bool i_hasPicture, char* ip_pictureBuffer,
                          int i_pictureBufferLength, int i_uploadSlots, int i_queuedUPloads, bool i_freeUploadSlots);

public slots:
    void OnConnectedToServer();
    void OnIndirectPeerConnectionFailure(uint i_req);
    void EveryHalfMinute();
};

extern PeerMessenger* peerMessenger;
extern bool g_peerMessengerDeleted;
