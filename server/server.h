// The one connection to the central server: connect, login, framing, keep-alive, reconnect,
// every request the client sends and the dispatch of every message it receives.
#pragma once

#include "model/datasaver.h"
#include "model/records.h"
#include "model/stream.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <ctime>
#include <list>
#include <utility>

class QTcpSocket;

// An IPv4 address (host order, as on the wire) and a port.
typedef std::pair<unsigned int, int> TCPAddress;
typedef std::list<std::pair<QString, TCPAddress>> DNetParentList;

class Server : public QObject, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    enum ConnectionState : int32_t { StateDisconnected = 0, StateConnecting = 1, StateLoggedIn = 2 };

    // Frames announcing more than this are refused: no server message comes near it, and the
    // length is the only thing between a corrupt stream and a huge allocation.
    static constexpr uint32_t kMaxFrameLength = 16u * 1024u * 1024u;

    static const char* const kDefaultHost;
    static const int kDefaultPort = 2242;
    static const char* const kDefaultUsername;
    static const char* const kDefaultPassword;

    Server();
    ~Server() override;

    void CreateData();
    void Connect();
    void Disconnect();
    bool IsConnected() const { return m_state == StateLoggedIn; }
    bool IsAbruptlyDisconnected() const { return m_reconnect; }
    int GetConnectionState() const { return m_state; }
    QTcpSocket* GetSocket() const { return mp_socket; }
    // The frame being received: bytes so far, and the capacity of the buffer holding them.
    size_t PendingFrameBytes() const { return m_body.GetWriteIndex(); }
    size_t ReceiveBufferSize() const { return m_body.GetBufferSize(); }

    // True when the frame was handed to the socket; unforced messages are dropped unless logged in.
    bool SendMessage(MemStream& message, bool forced);
    void HandleMessage(int code, MemStream& body);
    void OnConnectedToServer();
    void OnDisconnected();
    void DataLoaded() override;

    // Requests. All go out only while logged in; their effects on the graph happen regardless.
    void SetWaitPort(int port, int obfuscatedPort);
    void GetUserAddress(const QString& user);
    void AddUser(const QString& user);
    void TrackUser(const QString& user);
    void UntrackUser(const QString& user);
    void GetUserStatus(const QString& user);
    // False when the line did not go out (not logged in).
    bool SendRoomChat(const QString& room, const QString& text);
    void EnterRoom(const QString& room, bool isPrivate);
    void LeaveRoom(const QString& room);
    unsigned int SendIndirectConnectionRequest(const QString& user, const QString& type);
    // True when the message went out; only then is PrivateChatSent emitted.
    bool SendPrivateChat(const QString& user, const QString& text);
    unsigned int FileSearch(const QString& text, bool wishList);
    void SetAvailabilityStatus(bool available);
    void SendFilesFolders(int folders, int files);
    void GetUserStats(const QString& user);
    unsigned int SearchUserList(const QString& text);
    void GetRoomList();
    void SendDNetHasParent(bool hasParent);
    void GetOwnPrivilegesStatus();
    void SendDNetCanParent(bool canParent);
    unsigned int SearchRoom(const QString& room, const QString& text);
    void SendUploadSpeed(int speed);
    void SendDNetLevel(int level);
    void SendDNetGroupLeader(const QString& leader);
    void SendChildDepth(bool flag);
    void AddPrivateRoomMember(const QString& room, const QString& user);
    void RemovePrivateRoomMember(const QString& room, const QString& user);
    void GiveUpPrivateRoomMembership(const QString& room);
    void GiveUpPrivateRoom(const QString& room);
    void EnablePrivateRoomAdd(bool enabled);
    void AddPrivateRoomOperator(const QString& room, const QString& user);
    void RemovePrivateRoomOperator(const QString& room, const QString& user);
    void GetSearchCorrelations(const QString& text);
    void SendCantConnectToPeer(unsigned int token, const QString& user);

public slots:
    void OnConnected();
    void OnSocketReadyToRead();
    void OnSocketError(QAbstractSocket::SocketError i_error);
    void OnSocketClosed();
    void AttemptReconnect();
    void EveryFiveMinutes();
    void RenewPortMapping();

signals:
    void Connecting();
    void ConnectionFailed(QString i_reason);
    void Connected();
    void Disconnected();
    void SearchRequested(uint i_req, QString i_search, bool i_wishListSearch);
    void RoomChat(QString i_room, QString i_user, QString i_chat);
    void PrivateChat(QString i_user, QString i_chat, time_t i_time, bool i_spontaneous);
    void PrivateChatSent(QString i_user, QString i_chat);
    void IndirectPeerConnectionFailure(uint i_req);
    void DNetParentMinSpeed(int i_speed);
    void DNetParentSpeedConnectionRatio(int i_ratio);
    void DNetPossibleParents(DNetParentList& i_parentList);
    void DNetMessage(MemStream& i_message);
    void DNetDeliveryReport(int i_req);
    void DNetReset();
    void ReceivedUserStats(QString i_user, UserStats i_stats);
    void WishListWait(uint i_waitPeriod);
    void AddUserResponse(QString i_user, bool i_added);
    void ReceivedOwnPrivilegesStatus(int i_seconds);
    void SearchCorrelations(QString i_search);
    void PrivateRoomAddEnabled(bool i_enabled);
    void DirectFileSearch(QString i_user, quint32 i_req, QString i_search);

private:
    // Builds a request of a code and its fields, in order, and sends it unforced.
    template <typename... Fields>
    bool SendRequest(uint32_t code, const Fields&... fields)
    {
        MemStream m;
        m.Write(code);
        (m.Write(fields), ...);
        return SendMessage(m, false);
    }
    // Reads one number of type T and emits it through the signal: the messages whose only
    // content is one value.
    template <typename T, typename Arg>
    void EmitValue(MemStream& body, void (Server::*signal)(Arg))
    {
        T value = 0;
        body.Read(value);
        emit(this->*signal)(value);
    }

    void ConnectionLost();
    void DropConnection(const QString& reason);
    void ResetReceiveState();
    void MapPorts();
    ItemPtr NewSearchRequest(unsigned int token, const QString& text);

    // Handlers of received messages, one per code.
    void HandleLogin(MemStream& body);
    void HandleOwnPrivilegesStatus(MemStream& body);
    void HandlePrivilegedUsers(MemStream& body);
    // User status and statistics.
    void HandleUserAddress(MemStream& body);
    void HandleAddUser(MemStream& body);
    void HandleUserStatus(MemStream& body);
    void HandleUserStats(MemStream& body);
    // Rooms.
    void HandleRoomList(MemStream& body);
    void HandleEnterRoom(MemStream& body);
    void HandleLeaveRoom(MemStream& body);
    void HandleUserJoinedRoom(MemStream& body);
    void HandleUserLeftRoom(MemStream& body);
    void HandleRoomChat(MemStream& body);
    void HandleRoomRoleList(MemStream& body, const char* listType);
    void HandleRoomRoleChange(MemStream& body, const char* listType, bool add);
    void HandleAddedToPrivateRoom(MemStream& body);
    void HandleRemovedFromPrivateRoom(MemStream& body);
    void HandleOperatorRights(MemStream& body, bool granted);
    void HandlePrivateRoomAddEnabled(MemStream& body);
    // Private chat, searches and correlations.
    void HandlePrivateChat(MemStream& body);
    void HandleFileSearch(MemStream& body);
    void HandleSearchCorrelations(MemStream& body);
    // Relayed connections and the distributed network.
    void HandleIndirectConnectionRequest(MemStream& body);
    void HandleDNetPossibleParents(MemStream& body);

    int32_t m_state = StateDisconnected;
    QTcpSocket* mp_socket = nullptr;
    bool m_lengthKnown = false;
    uint32_t m_bodyLength = 0;
    uint32_t m_searchToken = 1;
    MemStream m_body;
    uint32_t m_relayToken = 1;
    bool m_firstLogin = true;
    bool m_requestedClose = false;
    bool m_reconnect = false;
    // Bumped whenever a connection ends or starts, so a receive loop can tell that the socket it
    // was draining is no longer the one it started with.
    uint64_t m_connectionSerial = 0;
    QByteArray m_readChunk;
};

extern Server* gp_server;
