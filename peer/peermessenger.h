// Direct connections between this client and other clients: the two listeners, the framed and
// optionally obfuscated wire, forming connections (dialled and relayed through the server), the
// queue of messages waiting for a connection, failures, time-outs and disposal.
#pragma once

#include "model/data.h"
#include "model/datasaver.h"
#include "model/records.h"
#include "model/stream.h"

#include <QAbstractSocket>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

class QTcpSocket;

class PeerMessenger : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // Receive state of one socket.
    struct SocketBufferInfo
    {
        bool m_lengthRead = false;
        uint32_t m_messageLength = 0;
        bool m_expectTransferTicket = false;
        bool m_handedOff = false;
        QString m_user;
        MemStream m_buffer;
        bool m_obfuscated = false;
        uint32_t m_obfuscationKey = 0;
        // Since when the socket has waited for its init message or its transfer ticket; such
        // sockets are dropped when the peer stays silent.
        QDateTime m_waitingSince;
    };

    // Largest frame body a peer may send.
    static constexpr uint32_t kMaxFrameLength = 10485760;
    // A peer that lets this many of our bytes pile up unread gets no further replies built for
    // its requests (share list, folder contents, user info) until it has read them.
    static constexpr qint64 kMaxReplyBacklog = 4 * 1024 * 1024;

    // Needs the server connection, the timers and the save file to exist.
    PeerMessenger();
    ~PeerMessenger() override;

    // Declares the peer side's item types and relations (sockets, relayed connection requests,
    // user addresses, searches and their results, queued messages, connection attempts).
    // The constructor calls it; it throws TypeAlreadyExistsException when called twice.
    static void CreateData();

    void DataLoaded() override;

    // The one clock of the messenger: every stored time and every age is read from it.
    static QDateTime Now();
    // Now() as a stored time text.
    static QString NowText();
    // Replaces the clock (an empty function restores the system clock).
    static void SetClock(std::function<QDateTime()> clock);

    // The port a listener is bound to, 0 when it is not listening.
    quint16 ListeningPort(bool obfuscated) const;
    // Receive states held, and the capacity of one socket's body buffer (0 without state).
    size_t ReceiveStateCount() const { return m_socketBuffers.size(); }
    size_t ReceiveBufferCapacity(QTcpSocket* socket) const;

    // The obfuscation of one frame: the key at its head, the rest XORed (see the .cpp).
    static uint32_t NewFrameKey();
    // XORs n bytes of the sequence that starts with io_key already rotated for the bytes
    // before; io_key is left as it stands after the last rotation.
    static void XorSequence(char* p, size_t n, uint32_t& io_key, size_t firstIndex);

    // ----------------------------------------------------------------- wire
    // Sends the message (its bytes from the start up to the write position) as one frame.
    // False when the socket refused the write.
    bool SendMessage(QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscate);
    // One complete frame of a socket; false makes the receive path dispose of the socket.
    bool HandleMessage(QTcpSocket* ip_socket, MemStream i_message);
    // A frame on an established messaging connection. i_peerSocket is the connection's
    // record (null when it has none) and i_user the peer's name.
    bool HandlePeerMessage(QTcpSocket* ip_socket, MemStream& i_message, ItemPtr i_peerSocket, const QString& i_user);
    static QString MessageCodeToString(int i_code);

    // ----------------------------------------------------------------- forming connections
    void ConnectToUser(QString i_user, const char* i_type);
    void RequestFileConnectionToUser(QString i_user);
    void RequestDNetConnection(QString i_user);
    int GetUserPort(ItemPtr i_user, bool& o_obfuscated);
    void OnUserAddress(ItemPtr i_user);
    void OnPeerConnectionRequest(ItemPtr i_request);
    void OnPeerSocketItemAdded(ItemPtr i_item);
    void OnPeerSocketItemRemoved(ItemPtr i_item);

    // ----------------------------------------------------------------- requests and queue
    // Sends on the user's newest messaging connection, or queues the message and asks for one.
    void SendMessage(QString i_user, MemStream& i_message);
    void SendUnsentMessages(QString i_user);
    // Whether a message to the user would go out now rather than wait in the queue.
    bool HasMessagingConnection(QString i_user);
    void GetUserSharedFiles(QString i_user);
    void GetUserInfo(QString i_user);
    uint RequestUpload(QString i_user, QString i_file, qint64 i_size);
    void AcceptTransferRequest(QString i_user, uint i_req, bool i_includeSize, qint64 i_size);
    void DenyTransferRequest(QString i_user, uint i_req, QString i_reason);
    void QueueDownload(QString i_user, std::string i_file);
    void SendUploadPlaceInLine(QString i_user, QString i_file, int i_place);
    void DenyUpload(QString i_user, QString i_file, QString i_reason);
    void QueueUpload(QString i_user, QString i_file, qint64 i_size);

    // ----------------------------------------------------------------- failures and disposal
    void DisposeOfSocket(QTcpSocket* ip_socket);
    void DisposeOfSocketInner(QTcpSocket* ip_socket);
    void DisposeOfPeerConnectionRequest(ItemPtr i_attempt);
    void InspectPeerConnectionRequest(ItemPtr i_attempt);


signals:
    // A messaging connection to the user stands; emitted before the queued messages go out, so
    // that requests made from the records they concern can go ahead of them.
    void MessagingConnectionReady(QString i_user);
    void SearchResults(ItemPtr i_searchResults);
    void FileConnectionRequested(QString i_user, QTcpSocket* ip_socket, uint i_requestID);
    void UserShare(QString i_userName, FileInfoMap& i_share, AttributeTranslationTable& i_translationTable);
    // A share list from the user was refused (too large, too many records, damaged data):
    // whoever waits for it must stop waiting.
    void UserShareFailed(QString i_user);
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
    void OnNewConnection();
    void OnNewObfuscatedConnection();
    void OnConnectedToServer();
    void OnSocketReadyToRead();
    void OnSocketClosed();
    void OnSocketError(QAbstractSocket::SocketError i_error);
    void OnIndirectResponseSocketConnected();
    void OnConnectToPeerSocketConnected();
    void OnConnectToPeerSocketError(QAbstractSocket::SocketError i_error);
    void OnIndirectPeerConnectionFailure(uint i_req);
    void EveryHalfMinute();

private:
    void AcceptConnection(QTcpServer& listener, bool obfuscated);
    void FreeAtShutDown();
    // The reads, errors and end of a socket the messenger reads frames from.
    void WatchSocket(QTcpSocket* socket);
    // The receive state of a socket, made when missing; obfuscated only counts when it is made.
    SocketBufferInfo& ReceiveState(QTcpSocket* socket, bool obfuscated);
    void EraseReceiveState(QTcpSocket* socket);
    bool HandleInitMessage(QTcpSocket* socket, MemStream& message, ItemPtr record);
    // Records a messaging connection, then sends what waited for one.
    void StartMessaging(QTcpSocket* socket, ItemPtr user, bool obfuscated);
    // A file connection: its first four bytes are the ticket that names the transfer.
    void AwaitTicket(QTcpSocket* socket, bool obfuscated, const QString& user);
    // Gives up the socket after the frame being handled: its new owner reads what follows.
    void HandOff(QTcpSocket* socket, bool obfuscated);
    void StartDirectSocket(ItemPtr attempt, ItemPtr user, ItemPtr type);
    void DialPendingRequests();
    void OnPeerConnectionRequestRemoved(ItemPtr i_request);
    // Ends a socket the sweep gives up on: no later signal of it reaches the messenger.
    void AbortAndDispose(QTcpSocket* socket);
    // A request: its code, then its fields in the order given, sent as SendMessage sends.
    template <typename... Fields>
    void SendRequest(QString i_user, uint32_t i_code, const Fields&... i_fields)
    {
        MemStream m;
        m.Write(i_code);
        (m.Write(i_fields), ...);
        SendMessage(i_user, m);
    }
    // Removes the record of one way of reaching a peer (a dial or a relayed request) and hands
    // its attempt on: to disposal once connected, else to inspection, which drops the attempt
    // when no way is left.
    void EndTry(ItemPtr i_record, bool i_connected);
    void DropUnsentMessage(ItemPtr i_item);
    // Drops the oldest queued messages until one more of that size fits the queue's bounds.
    void MakeRoomInQueue(ItemPtr i_user, size_t i_bytes);
    void OnUnsentMessageRemoved(ItemPtr i_item);
    // Whether a request of the user must go unanswered because they do not read our replies.
    bool ReplyBacklogFull(const QString& i_user, uint32_t i_code);
    // The share list the user was asked for will not come: whoever waits for it stops.
    void ShareListFailed(const QString& i_user);

    QTcpServer m_listener;
    QTcpServer m_obfuscatedListener;
    std::map<QTcpSocket*, SocketBufferInfo> m_socketBuffers;
    int32_t m_unsentMessageCounter = 0;
    // Relayed requests whose dial waits until the server message that made them is stored.
    std::set<Item*> m_requestsToDial;
    bool m_dialScheduled = false;
    // Body bytes that do not fit the buffer yet pass through here, so a buffer grows only with
    // what has arrived.
    QByteArray m_readChunk;
    // The queued messages by their send order, and the send orders of each user's: the oldest
    // of all or of one user is found without a walk over the queue.
    struct UnsentMessage
    {
        Item* item;
        size_t bytes;
        Item* user;
    };
    std::map<int32_t, UnsentMessage> m_unsentMessages;
    std::map<Item*, std::set<int32_t>> m_unsentOrdersByUser;
    size_t m_unsentBytes = 0;
    // Users whose share list we asked for and have not received.
    std::set<QString> m_shareListsAwaited;
};

extern PeerMessenger* peerMessenger;
extern bool g_peerMessengerDeleted;

// Marks a function as running, for code that must know whether it is called from within it.
class InFunction
{
public:
    explicit InFunction(const char* name);
    ~InFunction();
    void Dispose();

private:
    QString m_functionName;
    bool m_disposed = false;
};

bool IsInFunction(const char* name);
