// Sending peer messages by user name, the queue of messages that wait for a connection, and the
// requests this side originates.
#include "peer/peermessenger.h"

#include "model/helpers.h"
#include "model/log.h"
#include "model/settings.h"
#include "peer/peeritems.h"

#include <QTcpSocket>
#include <QtEndian>

using namespace peeritems;

namespace {
// The queue holds messages for users we cannot reach yet, and anyone can name any user in a
// search: past these bounds the oldest messages go. A user's share of the queue is generous,
// as a folder download queues one request per file; what is dropped is asked again later.
const size_t kMaxUnsentPerUser = 1000;
const size_t kMaxUnsentTotal = 10000;
const size_t kMaxUnsentBytes = 64 * 1024 * 1024;

// The user's messaging connections that can still take a message: one the sweep has begun to
// close only sends what it already holds.
ItemSet WritableConnections(ItemPtr user)
{
    ItemSet open;
    for (ItemPtr record : user.GetItems("peer_socket"))
        if (QTcpSocket* socket = SocketOf(record))
            if (socket->isWritable())
                open.insert(record);
    return open;
}
} // namespace

void PeerMessenger::SendMessage(QString i_user, MemStream& i_message)
{
    if (g_peerMessengerDeleted)
        return;
    ItemPtr user = UserItem(i_user);
    const ItemSet sockets = WritableConnections(user);

    int32_t code = 0;
    if (i_message.GetWriteIndex() >= 4)
        code = qFromLittleEndian<qint32>(i_message.GetBuffer());
    Log(kCategory, 1, QString("Send %1 message to user %2").arg(MessageCodeToString(code), i_user));

    if (sockets.empty()) {
        Log(kCategory, 2, "Did not find messaging connection to user, queueing unsent message");
        MakeRoomInQueue(user, i_message.GetWriteIndex());
        auto* queued = new MemStream(i_message);
        ItemPtr item = d.GetType("unsent_message")->GetItem(Value(queued));
        item += user;
        const int32_t order = m_unsentMessageCounter++;
        m_unsentMessages[order] = {item.get(), i_message.GetWriteIndex(), user.get()};
        m_unsentOrdersByUser[user.get()].insert(order);
        m_unsentBytes += i_message.GetWriteIndex();
        item += d.GetType("send_order")->GetItem(Value(order));
        item += d.GetType("send_time")->GetItem(Value(NowText()));
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
            const QDateTime opened = StoredTimeFromText(socket["connection_open_time"].AsString());
            if (!chosen) {
                chosen = socket;
                chosenTime = opened;
                Log(kCategory, 3, QString("First connection opened %1").arg(StoredTimeText(opened)));
            } else if (opened > chosenTime) {
                chosen = socket;
                chosenTime = opened;
                Log(kCategory, 3, QString("Found connection opened %1, exchanging").arg(StoredTimeText(opened)));
            }
        }
    }
    SendMessage(SocketOf(chosen), i_message, chosen.IsConnected("is_obfuscated"));
}

void PeerMessenger::SendUnsentMessages(QString i_user)
{
    if (g_peerMessengerDeleted)
        return;
    ItemPtr user = UserItem(i_user);
    const ItemSet sockets = WritableConnections(user);
    if (sockets.empty())
        return;
    emit MessagingConnectionReady(i_user);
    ItemPtr record = *sockets.begin();
    QTcpSocket* socket = SocketOf(record);
    const bool obfuscated = record.IsConnected("is_obfuscated");
    const ItemSet queued = user.GetItems("unsent_message");
    if (queued.empty())
        return;
    Log(kCategory, 1, QString("Sending %1 pending peer messages to user %2").arg(queued.size()).arg(i_user));
    for (ItemPtr item : queued.SortNumericBy("send_order", true)) {
        if (!SendMessage(socket, *ItemObject<MemStream>(item), obfuscated))
            return;
        DropUnsentMessage(item);
    }
}

bool PeerMessenger::HasMessagingConnection(QString i_user)
{
    return !g_peerMessengerDeleted && !WritableConnections(UserItem(i_user)).empty();
}

void PeerMessenger::MakeRoomInQueue(ItemPtr i_user, size_t i_bytes)
{
    for (auto own = m_unsentOrdersByUser.find(i_user.get());
         own != m_unsentOrdersByUser.end() && own->second.size() >= kMaxUnsentPerUser;
         own = m_unsentOrdersByUser.find(i_user.get())) {
        ItemPtr oldest(m_unsentMessages.at(*own->second.begin()).item);
        Log(kCategory, 1,
            QString("Too many unsent messages to user %1, dropping the oldest").arg(i_user.AsString()));
        DropUnsentMessage(oldest);
    }
    while (!m_unsentMessages.empty() &&
           (m_unsentMessages.size() >= kMaxUnsentTotal || m_unsentBytes + i_bytes > kMaxUnsentBytes)) {
        ItemPtr oldest(m_unsentMessages.begin()->second.item);
        Log(kCategory, 1,
            QString("Unsent message queue full, dropping the oldest message, to user %1").arg(UserOf(oldest)));
        DropUnsentMessage(oldest);
    }
}

void PeerMessenger::OnUnsentMessageRemoved(ItemPtr i_item)
{
    const int32_t order = i_item["send_order"].AsInt();
    auto it = m_unsentMessages.find(order);
    if (it == m_unsentMessages.end() || it->second.item != i_item.get())
        return;
    m_unsentBytes -= it->second.bytes;
    auto own = m_unsentOrdersByUser.find(it->second.user);
    if (own != m_unsentOrdersByUser.end()) {
        own->second.erase(order);
        if (own->second.empty())
            m_unsentOrdersByUser.erase(own);
    }
    m_unsentMessages.erase(it);
}

bool PeerMessenger::ReplyBacklogFull(const QString& i_user, uint32_t i_code)
{
    qint64 unsent = 0;
    for (ItemPtr record : UserItem(i_user).GetItems("peer_socket"))
        if (QTcpSocket* socket = SocketOf(record))
            unsent += socket->bytesToWrite();
    if (unsent <= kMaxReplyBacklog)
        return false;
    Log(kCategory, 1,
        QString("Dropping %1 request from user %2: %3 bytes still unsent to them")
            .arg(MessageCodeToString(static_cast<int>(i_code)), i_user)
            .arg(unsent));
    return true;
}

void PeerMessenger::GetUserSharedFiles(QString i_user)
{
    m_shareListsAwaited.insert(i_user);
    SendRequest(i_user, 4);
}

void PeerMessenger::GetUserInfo(QString i_user)
{
    SendRequest(i_user, 15);
}

uint PeerMessenger::RequestUpload(QString i_user, QString i_file, qint64 i_size)
{
    const uint id = GetSetting("transfer_req_counter").toUInt();
    SetSetting("transfer_req_counter", Value(id + 1));
    SendRequest(i_user, 40, static_cast<uint32_t>(1), static_cast<uint32_t>(id), i_file, static_cast<int64_t>(i_size));
    return id;
}

void PeerMessenger::AcceptTransferRequest(QString i_user, uint i_req, bool i_includeSize, qint64 i_size)
{
    if (i_includeSize)
        SendRequest(i_user, 41, static_cast<uint32_t>(i_req), static_cast<uint8_t>(1), static_cast<int64_t>(i_size));
    else
        SendRequest(i_user, 41, static_cast<uint32_t>(i_req), static_cast<uint8_t>(1));
}

void PeerMessenger::DenyTransferRequest(QString i_user, uint i_req, QString i_reason)
{
    SendRequest(i_user, 41, static_cast<uint32_t>(i_req), static_cast<uint8_t>(0), i_reason);
}

void PeerMessenger::QueueDownload(QString i_user, std::string i_file)
{
    SendRequest(i_user, 43, i_file);
}

void PeerMessenger::SendUploadPlaceInLine(QString i_user, QString i_file, int i_place)
{
    SendRequest(i_user, 44, i_file, static_cast<uint32_t>(i_place));
}

void PeerMessenger::DenyUpload(QString i_user, QString i_file, QString i_reason)
{
    SendRequest(i_user, 50, i_file, i_reason);
}

void PeerMessenger::QueueUpload(QString i_user, QString i_file, qint64 i_size)
{
    SendRequest(i_user, 60, i_file, static_cast<int64_t>(i_size));
}
