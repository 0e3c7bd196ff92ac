// Sending peer messages by user name, the queue of messages that wait for a connection, and the
// requests this side originates.
#include "peer/peermessenger.h"

#include "model/log.h"
#include "model/settings.h"

#include <QTcpSocket>
#include <QtEndian>

namespace {
const char* const kCategory = "Peer Messenger";

QTcpSocket* SocketOf(ItemPtr record)
{
    return reinterpret_cast<QTcpSocket*>(static_cast<uintptr_t>(record.AsUInt64()));
}

MemStream Request(uint32_t code)
{
    MemStream m;
    m.Write(code);
    return m;
}
} // namespace

void PeerMessenger::SendMessage(QString i_user, MemStream& i_message)
{
    if (g_peerMessengerDeleted)
        return;
    ItemPtr user = d.GetType("user")->GetItem(Value(i_user));
    const ItemSet sockets = user.GetItems("peer_socket");

    int32_t code = 0;
    if (i_message.GetWriteIndex() >= 4)
        code = qFromLittleEndian<qint32>(i_message.GetBuffer());
    Log(kCategory, 1, QString("Send %1 message to user %2").arg(MessageCodeToString(code), i_user));

    if (sockets.empty()) {
        Log(kCategory, 2, "Did not find messaging connection to user, queueing unsent message");
        auto* queued = new MemStream(i_message);
        ItemPtr item = d.GetType("unsent_message")->GetItem(Value(queued));
        item += user;
        item += d.GetType("send_order")->GetItem(Value(m_unsentMessageCounter++));
        item += d.GetType("send_time")->GetItem(Value(Now().toString(Qt::TextDate)));
        ConnectToUser(i_user, "P");
        return;
    }

    ItemPtr chosen;
    if (sockets.size() == 1) {
        Log(kCategory, 2, "Found one existing messaging connection to user");
        chosen = *sockets.begin();
    } else {
        Log(kCategory, 2, QString("Found %1 existing messaging connections to user, picking latest").arg(sockets.size()));
        QDateTime chosenTime;
        for (ItemPtr socket : sockets) {
            const QDateTime opened =
                QDateTime::fromString(socket["connection_open_time"].AsString(), Qt::TextDate);
            if (!chosen) {
                chosen = socket;
                chosenTime = opened;
                Log(kCategory, 3, QString("First connection opened %1").arg(opened.toString(Qt::TextDate)));
            } else if (opened > chosenTime) {
                chosen = socket;
                chosenTime = opened;
                Log(kCategory, 3, QString("Found connection opened %1, exchanging").arg(opened.toString(Qt::TextDate)));
            }
        }
    }
    SendMessage(SocketOf(chosen), i_message, chosen.IsConnected("is_obfuscated"));
}

void PeerMessenger::SendUnsentMessages(QString i_user)
{
    if (g_peerMessengerDeleted)
        return;
    ItemPtr user = d.GetType("user")->GetItem(Value(i_user));
    const ItemSet sockets = user.GetItems("peer_socket");
    if (sockets.empty())
        return;
    ItemPtr record = *sockets.begin();
    QTcpSocket* socket = SocketOf(record);
    const bool obfuscated = record.IsConnected("is_obfuscated");
    const ItemSet queued = user.GetItems("unsent_message");
    if (queued.empty())
        return;
    Log(kCategory, 1, QString("Sending %1 pending peer messages to user %2").arg(queued.size()).arg(i_user));
    for (ItemPtr item : queued.SortNumericBy("send_order", true)) {
        auto* message = reinterpret_cast<MemStream*>(static_cast<uintptr_t>(item.AsUInt64()));
        if (!SendMessage(socket, *message, obfuscated))
            return;
        item.Remove();
        delete message;
    }
}

void PeerMessenger::GetUserSharedFiles(QString i_user)
{
    MemStream m = Request(4);
    SendMessage(i_user, m);
}

void PeerMessenger::GetUserInfo(QString i_user)
{
    MemStream m = Request(15);
    SendMessage(i_user, m);
}

uint PeerMessenger::RequestUpload(QString i_user, QString i_file, qint64 i_size)
{
    MemStream m = Request(40);
    m.Write(static_cast<uint32_t>(1));
    const uint id = GetSetting("transfer_req_counter").toUInt();
    SetSetting("transfer_req_counter", Value(id + 1));
    m.Write(static_cast<uint32_t>(id));
    m.Write(i_file);
    m.Write(static_cast<int64_t>(i_size));
    SendMessage(i_user, m);
    return id;
}

void PeerMessenger::AcceptTransferRequest(QString i_user, uint i_req, bool i_includeSize, qint64 i_size)
{
    MemStream m = Request(41);
    m.Write(static_cast<uint32_t>(i_req));
    m.Write(static_cast<uint8_t>(1));
    if (i_includeSize)
        m.Write(static_cast<int64_t>(i_size));
    SendMessage(i_user, m);
}

void PeerMessenger::DenyTransferRequest(QString i_user, uint i_req, QString i_reason)
{
    MemStream m = Request(41);
    m.Write(static_cast<uint32_t>(i_req));
    m.Write(static_cast<uint8_t>(0));
    m.Write(i_reason);
    SendMessage(i_user, m);
}

void PeerMessenger::QueueDownload(QString i_user, std::string i_file)
{
    MemStream m = Request(43);
    m.Write(i_file);
    SendMessage(i_user, m);
}

void PeerMessenger::SendUploadPlaceInLine(QString i_user, QString i_file, int i_place)
{
    MemStream m = Request(44);
    m.Write(i_file);
    m.Write(static_cast<uint32_t>(i_place));
    SendMessage(i_user, m);
}

void PeerMessenger::DenyUpload(QString i_user, QString i_file, QString i_reason)
{
    MemStream m = Request(50);
    m.Write(i_file);
    m.Write(i_reason);
    SendMessage(i_user, m);
}

void PeerMessenger::QueueUpload(QString i_user, QString i_file, qint64 i_size)
{
    MemStream m = Request(60);
    m.Write(i_file);
    m.Write(static_cast<int64_t>(i_size));
    SendMessage(i_user, m);
}
