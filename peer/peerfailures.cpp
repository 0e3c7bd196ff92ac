// How connections and attempts end: socket errors, the server's report of a failed relayed
// request, the disposal of sockets and their records, and the half-minute sweep.
#include "peer/peermessenger.h"

#include "model/helpers.h"
#include "model/log.h"
#include "peer/peeritems.h"
#include "server/server.h"

#include <QTcpSocket>

#include <vector>

using namespace peeritems;

namespace {
const qint64 kUnsentMessageLimit = 300000;
const qint64 kConnectLimit = 60000;
const qint64 kIdleLimit = 120000;

qint64 AgeOf(ItemPtr timeItem, const QDateTime& now)
{
    return StoredTimeFromText(timeItem.AsString()).msecsTo(now);
}
} // namespace

void PeerMessenger::OnConnectToPeerSocketError(QAbstractSocket::SocketError i_error)
{
    Q_UNUSED(i_error);
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        return;
    socket->disconnect();
    socket->close();
    socket->deleteLater();
    if (g_peerMessengerDeleted)
        return;
    ItemPtr record = d.GetType("connect_to_peer_request_socket")->HasItem(Value(socket));
    if (!record)
        return;
    Log(kCategory, 1, QString("Direct connection of type %1 to user %2 failed").arg(TypeOf(record), UserOf(record)));
    EndTry(record, false);
}

void PeerMessenger::OnIndirectPeerConnectionFailure(uint i_req)
{
    if (g_peerMessengerDeleted)
        return;
    ItemPtr indirect = d.GetType("indirect_connect_to_peer_request")->HasItem(Value(i_req));
    if (!indirect)
        return;
    Log(kCategory, 1, QString("Indirect connection of type %1 to user %2 failed").arg(TypeOf(indirect), UserOf(indirect)));
    EndTry(indirect, false);
}

void PeerMessenger::EndTry(ItemPtr i_record, bool i_connected)
{
    ItemPtr attempt = i_record["connect_to_peer_request"];
    i_record.Remove();
    if (!attempt)
        return;
    if (i_connected)
        DisposeOfPeerConnectionRequest(attempt);
    else
        InspectPeerConnectionRequest(attempt);
}

void PeerMessenger::DropUnsentMessage(ItemPtr i_item)
{
    auto* message = ItemObject<MemStream>(i_item);
    i_item.Remove();
    delete message;
}

void PeerMessenger::InspectPeerConnectionRequest(ItemPtr i_attempt)
{
    const QString type = TypeOf(i_attempt);
    const QString user = UserOf(i_attempt);
    Log(kCategory, 1, QString("Inspecting peer connection request of type %1 to user %2 for possible removal.").arg(type, user));
    if (i_attempt.IsConnected("connect_to_peer_request_socket")) {
        Log(kCategory, 2, "Socket found. Not removing request.");
        return;
    }
    if (i_attempt.IsConnected("indirect_connect_to_peer_request")) {
        Log(kCategory, 2, "Indirect request found. Not removing request.");
        return;
    }
    Log(kCategory, 2, "Neither socket nor indirect request found. Removing.");
    emit ConnectionToUserFailed(user, type);
    i_attempt.Remove();
}

void PeerMessenger::DisposeOfPeerConnectionRequest(ItemPtr i_attempt)
{
    Log(kCategory, 1,
        QString("Disposing of peer connection request of type %1 to user %2").arg(TypeOf(i_attempt), UserOf(i_attempt)));
    i_attempt.Remove();
}

void PeerMessenger::DisposeOfSocket(QTcpSocket* ip_socket)
{
    if (g_peerMessengerDeleted || !ip_socket)
        return;
    DisposeOfSocketInner(ip_socket);
    const Value key(ip_socket);
    for (const char* kind :
         {"peer_connection_request_socket", "uninitialized_socket", "peer_socket", "connect_to_peer_request_socket"})
        if (ItemPtr record = d.GetType(kind)->HasItem(key))
            record.Remove();
}

void PeerMessenger::DisposeOfSocketInner(QTcpSocket* ip_socket)
{
    ip_socket->disconnect(this);
    ip_socket->close();
    ip_socket->deleteLater();
    Log(kCategory, 1, "Disposing of socket");
    const Value key(ip_socket);
    if (ItemPtr record = d.GetType("peer_connection_request_socket")->HasItem(key)) {
        Log(kCategory, 2, "Identified as peer connection request socket");
        ItemPtr request = record["peer_connection_request"];
        if (!request) {
            Log(kCategory, 2, "Request not found");
        } else {
            Log(kCategory, 2, "Request found, removing");
            gp_server->SendCantConnectToPeer(request["peer_connection_request_id"].AsUInt(), UserOf(request));
            request.Remove();
            record.Remove();
        }
    } else {
        ItemPtr other = d.GetType("uninitialized_socket")->HasItem(key);
        if (other) {
            Log(kCategory, 2, "Identified as uninitialized socket");
        } else if ((other = d.GetType("peer_socket")->HasItem(key))) {
            Log(kCategory, 2, "Identified as peer socket");
        } else {
            Log(kCategory, 2, "Socket not identified");
        }
        if (other)
            other.Remove();
    }
    // Whatever the socket was (a file socket waiting for its ticket has no record), its receive
    // state goes with it: the map is keyed by address, and a later socket may get the same one.
    EraseReceiveState(ip_socket);
}

void PeerMessenger::AbortAndDispose(QTcpSocket* socket)
{
    // A socket still connecting, or whose peer does not read, may never report its close.
    socket->disconnect(this);
    socket->abort();
    DisposeOfSocket(socket);
}

void PeerMessenger::EveryHalfMinute()
{
    if (g_peerMessengerDeleted)
        return;
    const QDateTime now = Now();
    // Items removed during the walks stay valid until it ends.
    Data::Scope scope(&d);

    for (ItemPtr item : d.GetType("unsent_message")->GetItems()) {
        if (AgeOf(item["send_time"], now) < kUnsentMessageLimit)
            continue;
        DropUnsentMessage(item);
    }

    for (ItemPtr item : d.GetType("indirect_connect_to_peer_request")->GetItems()) {
        if (AgeOf(item["send_time"], now) < kConnectLimit)
            continue;
        Log(kCategory, 1,
            QString("Indirect connection request of type %1 to %2 expired, removing.").arg(TypeOf(item), UserOf(item)));
        EndTry(item, false);
    }

    for (ItemPtr item : d.GetType("connect_to_peer_request_socket")->GetItems()) {
        if (AgeOf(item["socket_creation_time"], now) < kConnectLimit)
            continue;
        ItemPtr attempt = item["connect_to_peer_request"];
        Log(kCategory, 1,
            QString("Direct connection attempt of type %1 to %2 timed out, closing.").arg(TypeOf(item), UserOf(item)));
        QTcpSocket* socket = SocketOf(item);
        item.Remove();
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        if (attempt)
            InspectPeerConnectionRequest(attempt);
    }

    for (ItemPtr item : d.GetType("peer_connection_request_socket")->GetItems()) {
        if (AgeOf(item["socket_creation_time"], now) < kConnectLimit)
            continue;
        ItemPtr request = item["peer_connection_request"];
        Log(kCategory, 1,
            QString("Indirect connection attempt of type %1 to %2 timed out, closing.").arg(TypeOf(request), UserOf(request)));
        AbortAndDispose(SocketOf(item));
    }

    for (ItemPtr item : d.GetType("peer_socket")->GetItems()) {
        ItemPtr stamp = item["last_activity_time"];
        const auto* lastActivity = ItemObject<const QDateTime>(stamp);
        if (!lastActivity || lastActivity->msecsTo(now) < kIdleLimit)
            continue;
        Log(kCategory, 1, QString("Peer connection to user %1 expired, closing.").arg(UserOf(item)));
        QTcpSocket* socket = SocketOf(item);
        // A peer that only downloads (a large share list) sends nothing while it does: closing
        // lets what is still unsent go out first, and the socket reports its end once it has.
        // One that has not taken it all by the next sweep is not reading at all.
        if (!socket->isOpen())
            AbortAndDispose(socket);
        else
            socket->close();
    }

    // Accepted sockets that never send their init message, and file sockets whose ticket never
    // comes, hold a descriptor and a buffer each until the peer lets go: they go like the other
    // unanswered sockets. Nothing was asked of the server for them, so nothing is reported.
    std::vector<QTcpSocket*> silent;
    for (const auto& entry : m_socketBuffers) {
        const SocketBufferInfo& info = entry.second;
        const bool waiting = info.m_expectTransferTicket ||
                             d.GetType("uninitialized_socket")->HasItem(Value(entry.first));
        if (waiting && info.m_waitingSince.isValid() && info.m_waitingSince.msecsTo(now) >= kConnectLimit)
            silent.push_back(entry.first);
    }
    for (QTcpSocket* socket : silent) {
        Log(kCategory, 1, "Peer connection sent nothing in time, closing.");
        AbortAndDispose(socket);
    }
}
