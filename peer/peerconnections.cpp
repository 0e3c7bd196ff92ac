// Forming connections: a direct dial and a request relayed through the server, both at once;
// answering another user's relayed request; the init message that opens every connection; and
// what becomes of a connection once it stands.
#include "peer/peermessenger.h"

#include "model/helpers.h"
#include "model/log.h"
#include "model/settings.h"
#include "peer/peeritems.h"
#include "server/server.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QTcpSocket>

using namespace peeritems;

namespace {
QString Prefix(bool obfuscated)
{
    return obfuscated ? QStringLiteral("obfuscated ") : QString();
}

void Dial(QTcpSocket* socket, ItemPtr user, int port)
{
    socket->connectToHost(QHostAddress(user["user_address"].AsUInt()), static_cast<quint16>(port & 0xffff),
                          QIODevice::ReadWrite);
}
} // namespace

void PeerMessenger::RequestFileConnectionToUser(QString i_user)
{
    ConnectToUser(i_user, "F");
}

void PeerMessenger::RequestDNetConnection(QString i_user)
{
    ConnectToUser(i_user, "D");
}

void PeerMessenger::ConnectToUser(QString i_user, const char* i_type)
{
    if (g_peerMessengerDeleted)
        return;
    Log(kCategory, 1, QString("Attempting peer connection of type %1 to user %2").arg(i_type, i_user));
    ItemPtr user = UserItem(i_user);
    ItemPtr type = d.GetType("peer_connection_type")->GetItem(Value(i_type));
    if (d.GetItem(user, type, "connect_to_peer_request")) {
        Log(kCategory, 2, "Connection attempt to same user of same type already in progress, not re-attempting.");
        return;
    }
    ItemPtr attempt = d.GetType("connect_to_peer_request")->NewItem();
    attempt += user;
    attempt += type;

    Log(kCategory, 2, "Also sending indirect connection request.");
    const uint token = gp_server->SendIndirectConnectionRequest(i_user, QString::fromLatin1(i_type));
    ItemPtr indirect = d.GetType("indirect_connect_to_peer_request")->GetItem(Value(token));
    attempt += indirect;
    indirect += d.GetType("send_time")->GetItem(Value(StoredTimeText(Now())));
    indirect += user;
    indirect += type;

    if (user["user_address"]) {
        StartDirectSocket(attempt, user, type);
        attempt += d.GetType("connect_to_peer_request_status")->GetItem(Value("connecting"));
    } else {
        Log(kCategory, 2, "User address not found, requesting address");
        gp_server->GetUserAddress(i_user);
        attempt += d.GetType("connect_to_peer_request_status")->GetItem(Value("getting_address"));
    }
}

void PeerMessenger::StartDirectSocket(ItemPtr attempt, ItemPtr user, ItemPtr type)
{
    auto* socket = new QTcpSocket();
    bool obfuscated = false;
    const int port = GetUserPort(user, obfuscated);
    connect(socket, &QTcpSocket::connected, this, &PeerMessenger::OnConnectToPeerSocketConnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &PeerMessenger::OnConnectToPeerSocketError);
    ItemPtr record = d.GetType("connect_to_peer_request_socket")->GetItem(Value(socket));
    record += d.GetType("socket_creation_time")->GetItem(Value(StoredTimeText(Now())));
    record += user;
    record += type;
    if (obfuscated)
        record.NewItem("is_obfuscated");
    attempt += record;
    // Last: a refused dial may report at once, and then finds its record.
    Dial(socket, user, port);
}

void PeerMessenger::OnUserAddress(ItemPtr i_user)
{
    if (g_peerMessengerDeleted || !i_user.IsConnected("connect_to_peer_request"))
        return;
    ItemSet waiting;
    for (ItemPtr attempt : i_user.GetItems("connect_to_peer_request"))
        if (attempt["connect_to_peer_request_status"].AsStdString() == "getting_address")
            waiting.insert(attempt);
    Log(kCategory, 1, QString("User %1 address arrived").arg(i_user.AsString()));
    for (ItemPtr attempt : waiting) {
        ItemPtr type = attempt["peer_connection_type"];
        Log(kCategory, 2, QString("Attempting direct connection of type %1").arg(type.AsString()));
        StartDirectSocket(attempt, i_user, type);
        attempt += d.GetType("connect_to_peer_request_status")->GetItem(Value("connecting"));
    }
}

void PeerMessenger::OnPeerConnectionRequest(ItemPtr i_request)
{
    if (g_peerMessengerDeleted || i_request.IsConnected("peer_connection_request_socket"))
        return;
    // The request is complete once the server has linked it to its user, which happens before
    // the same message stores that user's new address: dialling now could use an old one.
    m_requestsToDial.insert(i_request.get());
    if (m_dialScheduled)
        return;
    m_dialScheduled = true;
    QMetaObject::invokeMethod(this, &PeerMessenger::DialPendingRequests, Qt::QueuedConnection);
}

void PeerMessenger::OnPeerConnectionRequestRemoved(ItemPtr i_request)
{
    m_requestsToDial.erase(i_request.get());
}

void PeerMessenger::DialPendingRequests()
{
    m_dialScheduled = false;
    if (g_peerMessengerDeleted)
        return;
    std::set<Item*> requests;
    requests.swap(m_requestsToDial);
    for (Item* item : requests) {
        ItemPtr request(item);
        ItemPtr user = request["user"];
        if (request.IsConnected("peer_connection_request_socket") || !user || !user["user_address"])
            continue;
        auto* socket = new QTcpSocket();
        bool obfuscated = false;
        const int port = GetUserPort(user, obfuscated);
        if (obfuscated)
            request.NewItem("is_obfuscated");
        connect(socket, &QTcpSocket::connected, this, &PeerMessenger::OnIndirectResponseSocketConnected);
        connect(socket, &QTcpSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
        connect(socket, &QTcpSocket::disconnected, this, &PeerMessenger::OnSocketClosed);
        ItemPtr record = d.GetType("peer_connection_request_socket")->NewItem(Value(socket));
        request += record;
        record += d.GetType("socket_creation_time")->GetItem(Value(StoredTimeText(Now())));
        Log(kCategory, 1,
            QString("Indirect %1peer connection requested from user %2").arg(Prefix(obfuscated), user.AsString()));
        Dial(socket, user, port);
    }
}

void PeerMessenger::StartMessaging(QTcpSocket* socket, ItemPtr user, bool obfuscated)
{
    ItemPtr record = d.GetType("peer_socket")->NewItem(Value(socket));
    record += user;
    record += d.GetType("connection_open_time")->GetItem(Value(StoredTimeText(Now())));
    if (obfuscated)
        record.NewItem("is_obfuscated");
    SendUnsentMessages(user.AsString());
}

void PeerMessenger::AwaitTicket(QTcpSocket* socket, bool obfuscated, const QString& user)
{
    SocketBufferInfo& info = ReceiveState(socket, obfuscated);
    info.m_expectTransferTicket = true;
    info.m_user = user;
    info.m_waitingSince = Now();
}

void PeerMessenger::HandOff(QTcpSocket* socket, bool obfuscated)
{
    socket->disconnect();
    // The new owner may move it to a thread of its own, which a child of the listener cannot go to.
    socket->setParent(nullptr);
    ReceiveState(socket, obfuscated).m_handedOff = true;
}

void PeerMessenger::OnConnectToPeerSocketConnected()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (g_peerMessengerDeleted || !socket)
        return;
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    ItemPtr record = d.GetType("connect_to_peer_request_socket")->HasItem(Value(socket));
    if (!record) {
        socket->disconnect(this);
        socket->close();
        socket->deleteLater();
        return;
    }
    const bool obfuscated = record.IsConnected("is_obfuscated");
    const QString type = TypeOf(record);
    const QString userName = UserOf(record);
    ItemPtr user = record["user"];
    Log(kCategory, 1,
        QString("Direct %1connection of type %2 to user %3 successful").arg(Prefix(obfuscated), type, userName));

    MemStream init;
    init.Write(static_cast<uint8_t>(1));
    init.Write(GetSetting("username"));
    init.Write(type);
    init.Write(static_cast<uint32_t>(0));
    SendMessage(socket, init, obfuscated);

    disconnect(socket, &QTcpSocket::errorOccurred, nullptr, nullptr);
    EndTry(record, true);

    if (type == "P") {
        WatchSocket(socket);
        StartMessaging(socket, user, obfuscated);
    } else if (type == "F") {
        socket->disconnect(this);
        emit FileConnectionAccepted(userName, socket);
    } else if (type == "D") {
        socket->disconnect(this);
        emit DNetConnectionAccepted(userName, socket);
    }
}

void PeerMessenger::OnIndirectResponseSocketConnected()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (g_peerMessengerDeleted || !socket)
        return;
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    ItemPtr record = d.GetType("peer_connection_request_socket")->HasItem(Value(socket));
    ItemPtr request = record ? record["peer_connection_request"] : ItemPtr();
    if (!request) {
        // Its request is gone (the sweep gave up on it): nobody waits for this connection.
        DisposeOfSocket(socket);
        return;
    }
    const bool obfuscated = request.IsConnected("is_obfuscated");
    const QString type = TypeOf(request);
    const QString userName = UserOf(request);
    ItemPtr user = request["user"];

    MemStream init;
    init.Write(static_cast<uint8_t>(0));
    init.Write(static_cast<uint32_t>(request["peer_connection_request_id"].AsUInt()));
    SendMessage(socket, init, obfuscated);

    record.Remove();
    Log(kCategory, 1,
        QString("Response %1connection to indirect request from %2, type %3 opened").arg(Prefix(obfuscated), userName, type));
    request.Remove();

    if (type == "P") {
        connect(socket, &QTcpSocket::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
        StartMessaging(socket, user, obfuscated);
    } else if (type == "F") {
        connect(socket, &QTcpSocket::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
        AwaitTicket(socket, obfuscated, userName);
    } else if (type == "D") {
        // The distributed network manager owns it from here: a later error or close of this
        // socket must not reach the messenger, which would dispose of a socket it no longer owns.
        socket->disconnect(this);
        EraseReceiveState(socket);
        emit DNetConnectionRequested(userName, socket);
    }
}

bool PeerMessenger::HandleInitMessage(QTcpSocket* socket, MemStream& message, ItemPtr record)
{
    const bool obfuscated = record.IsConnected("is_obfuscated");
    const QString prefix = Prefix(obfuscated);
    record.Remove();

    auto fail = [&] {
        Log(kCategory, 1, QString("Failure initializing %1peer connection, disposing of socket").arg(prefix));
        return false;
    };

    uint8_t direction = 0;
    if (!message.Read(direction)) {
        Log(kCategory, 1, QString("Failed to read direction from new %1peer connection").arg(prefix));
        return fail();
    }

    if (direction == 0) {
        uint32_t req = 0;
        if (!message.Read(req)) {
            Log(kCategory, 1, QString("Failed to read req from %1indirect peer connection").arg(prefix));
            return fail();
        }
        ItemPtr indirect = d.GetType("indirect_connect_to_peer_request")->HasItem(Value(static_cast<unsigned>(req)));
        if (!indirect) {
            Log(kCategory, 1, QString("Req sent on %1indirect peer connection not found").arg(prefix));
            return fail();
        }
        ItemPtr user = indirect["user"];
        const QString userName = user.AsString();
        const QString type = TypeOf(indirect);
        EndTry(indirect, true);
        Log(kCategory, 1,
            QString("Found req, accepted %1indirect connection to user %2, connection type %3").arg(prefix, userName, type));
        if (type == "P") {
            StartMessaging(socket, user, obfuscated);
        } else if (type == "F" || type == "D") {
            HandOff(socket, obfuscated);
            if (type == "F")
                emit FileConnectionAccepted(userName, socket);
            else
                emit DNetConnectionAccepted(userName, socket);
        } else {
            return fail();
        }
        return true;
    }

    QString userName, type;
    uint32_t token = 0;
    if (!message.Read(userName) || !message.Read(type) || !message.Read(token))
        return fail();
    if (type == "P") {
        Log(kCategory, 1, QString("Accepted %1messaging connection to user %2").arg(prefix, userName));
        StartMessaging(socket, UserItem(userName), obfuscated);
    } else if (type == "F") {
        Log(kCategory, 1, QString("Accepted %1file connection to user %2").arg(prefix, userName));
        AwaitTicket(socket, obfuscated, userName);
    } else if (type == "D") {
        Log(kCategory, 1, QString("Accepted %1DNet connection to user %2").arg(prefix, userName));
        HandOff(socket, obfuscated);
        emit DNetConnectionRequested(userName, socket);
    }
    Log(kCategory, 1, QString("Peer %1connection of type %2 opened from user %3").arg(prefix, type, userName));
    if (type == "P" || type == "F" || type == "D")
        return true;
    return fail();
}
