// The client's place in the distributed search network: the parent it reads searches from, the
// candidates it may adopt as parent, the children it relays searches to, and what the server is
// told about all of them.
#pragma once

#include "model/data.h"
#include "model/stream.h"
#include "server/server.h"

#include <QAbstractSocket>
#include <QObject>
#include <QString>

#include <list>
#include <utility>

class QTcpSocket;

class DNetManager : public QObject, public DataHandler
{
    Q_OBJECT

public:
    // A "D" frame may announce at most this many body bytes, like every other peer frame.
    static constexpr qint32 kMaxFrameLength = 10485760;
    // A child that lets this many relayed bytes pile up unsent is not reading: it is dropped.
    static constexpr qint64 kMaxChildBacklog = 4 * 1024 * 1024;

    // Needs the server connection and the peer messenger.
    DNetManager();
    ~DNetManager() override;

    void DetermineCanParent();
    void DetermineChildDepth();
    void OnReceivedOwnUploadSpeed(ItemPtr i_setting);

    // One message from the parent, a candidate (with its socket) or the server (no socket).
    void HandleMessage(QTcpSocket* ip_socket, MemStream& i_message);
    // One message from a child.
    void HandleChildMessage(QTcpSocket* ip_socket, MemStream& i_message);
    // Writes the whole message, framed, to every child.
    void SendMessageToChildren(MemStream& i_message);

    bool HasParent() const;
    bool CanParent() const { return m_canParent; }

signals:
    void DNetSearchRequest(QString i_user, quint32 i_req, QString i_searchText);

public slots:
    void OnDNetParentMinSpeed(int i_speed);
    void OnDNetParentSpeedConnectionRatio(int i_ratio);
    void OnDNetPossibleParents(std::list<std::pair<QString, TCPAddress>>& i_parentList);
    void OnDNetMessage(MemStream& i_message);
    void OnDNetDeliveryReport(int i_req);
    void OnDNetReset();
    void OnDNetConnectionAccepted(QString i_user, QTcpSocket* ip_socket);
    void OnDNetConnectionRequested(QString i_user, QTcpSocket* ip_socket);
    void OnConnected();

    void OnSocketReadyToRead();
    void OnSocketError(QAbstractSocket::SocketError i_error);
    void OnSocketClosed();
    void OnChildSocketReadyToRead();
    void OnChildSocketError(QAbstractSocket::SocketError i_error);
    void OnChildSocketClosed();

private:
    typedef void (DNetManager::*FrameHandler)(QTcpSocket*, MemStream&);

    void ReadFrames(QTcpSocket* ip_socket, FrameHandler i_handler);
    void ReadBufferedFramesLater(QTcpSocket* ip_socket, FrameHandler i_handler);
    void ParentSocketClosed(QTcpSocket* ip_socket);
    void ChildSocketClosed(QTcpSocket* ip_socket);
    void AdoptParent(QTcpSocket* ip_socket, ItemPtr i_candidate);
    // Sends the bytes, framed, to every child.
    void RelayToChildren(const char* ip_bytes, size_t i_length);
    // Writes one framed message; false when the socket has fallen too far behind.
    bool WriteFrame(QTcpSocket* ip_socket, const char* ip_bytes, size_t i_length);
    void SendLevelToChildren(int i_level);

    MemStream m_message;
    int m_parentMinSpeed = -1;
    int m_parentSpeedConnectionRatio = -1;
    bool m_canParent = false;
};

extern DNetManager* dnetManager;
