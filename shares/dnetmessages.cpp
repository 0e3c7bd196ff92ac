// The frames of the distributed search network, the messages read from the parent, the
// candidates, the server and the children, and the relaying of messages down to the children.
#include "shares/dnetmanager.h"

#include "model/log.h"
#include "shares/dnetstate.h"

#include <QPointer>
#include <QTcpSocket>
#include <QtEndian>

#include <vector>

using namespace dnetstate;

namespace {

enum : uint8_t { kSearchRequest = 3, kLevel = 4, kGroupLeader = 5, kChildDepth = 7 };
const uint32_t kSearchInnerCode = 49;
const uint32_t kNoLevel = 0xFFFFFFFFu;

enum class Source { Server, Parent, Candidate };

// Ends a connection we no longer trust. Its disconnected() signal still runs the usual clean-up;
// abort rather than close, so that nothing queued for it keeps it half-open.
void Drop(QTcpSocket* socket)
{
    if (socket)
        socket->abort();
}

} // namespace

void DNetManager::OnSocketReadyToRead()
{
    if (auto* socket = qobject_cast<QTcpSocket*>(sender()))
        ReadFrames(socket, &DNetManager::HandleMessage);
}

void DNetManager::OnChildSocketReadyToRead()
{
    if (auto* socket = qobject_cast<QTcpSocket*>(sender()))
        ReadFrames(socket, &DNetManager::HandleChildMessage);
}

void DNetManager::ReadBufferedFramesLater(QTcpSocket* ip_socket, FrameHandler i_handler)
{
    // What came in with the init message is already buffered, and readyRead only tells of new
    // bytes: without this, a level or a depth sent right behind the init could sit unread.
    QPointer<QTcpSocket> socket(ip_socket);
    QMetaObject::invokeMethod(
        this,
        [this, socket, i_handler] {
            if (socket)
                ReadFrames(socket, i_handler);
        },
        Qt::QueuedConnection);
}

void DNetManager::ReadFrames(QTcpSocket* ip_socket, FrameHandler i_handler)
{
    for (;;) {
        const qint64 available = ip_socket->bytesAvailable();
        if (available < 4)
            return;
        uchar header[4];
        if (ip_socket->peek(reinterpret_cast<char*>(header), 4) != 4)
            return;
        // Checked before waiting for the body: a huge or negative length would otherwise have
        // the socket buffer without end, or throw the stream out of step.
        const qint32 length = qFromLittleEndian<qint32>(header);
        if (length < 0 || length > kMaxFrameLength) {
            DNetLog(1, QString("Refusing a frame of %1 bytes, closing connection").arg(static_cast<quint32>(length)));
            Drop(ip_socket);
            return;
        }
        if (available - 4 < length)
            return;
        ip_socket->read(reinterpret_cast<char*>(header), 4);
        m_message.Clear();
        m_message.EnsureBufferCapacity(length);
        if (length > 0) {
            if (ip_socket->read(m_message.GetWriteBuffer(), length) != length)
                return;
            m_message.AdvanceWriteIndex(length);
        }
        (this->*i_handler)(ip_socket, m_message);
    }
}

void DNetManager::OnDNetMessage(MemStream& i_message) { HandleMessage(nullptr, i_message); }

void DNetManager::HandleMessage(QTcpSocket* ip_socket, MemStream& i_message)
{
    // What the children get is the message from its code on: the whole frame body from a peer,
    // the server's body less its own code.
    const size_t start = i_message.GetReadIndex();
    uint8_t code = 0;
    if (!i_message.Read(code)) {
        DNetLog(1, "Error reading message code, closing parent/candidate connection");
        Drop(ip_socket);
        return;
    }
    Source source = Source::Server;
    ItemPtr candidate;
    if (ip_socket) {
        const bool fromParent = HasParent() && SocketOf(SlotValue("dnet_parent_socket")) == ip_socket;
        candidate = HasParent() ? ItemPtr() : CandidateOf(ip_socket);
        if (!fromParent && !candidate) {
            CloseSocket(ip_socket);
            return;
        }
        source = fromParent ? Source::Parent : Source::Candidate;
    }
    const char* what = source == Source::Parent ? "parent" : "candidate";

    switch (code) {
    case kLevel: {
        const int old = IsSlotSet("dnet_level") ? SlotValue("dnet_level").AsInt() : -1;
        uint32_t announced = 0;
        if (!i_message.Read(announced)) {
            Drop(ip_socket);
            return;
        }
        if (source == Source::Server)
            return;
        int level = -1;
        if (announced != kNoLevel) {
            // Ours is one more than the parent's; a level with no successor in range is nonsense.
            if (announced >= 0x7FFFFFFFu) {
                DNetLog(1, QString("Refusing level %1 from %2").arg(announced).arg(what));
                return;
            }
            level = static_cast<int>(announced) + 1;
        }
        if (source == Source::Candidate) {
            if (level != -1)
                candidate += d.GetType("dnet_candidate_level")->GetItem(Value(level));
            return;
        }
        if (level == old)
            return;
        DNetLog(1, QString("Received level from parent, updating to %1").arg(level));
        if (level == -1)
            ClearSlot("dnet_level");
        else
            SetSlot("dnet_level", Value(level));
        gp_server->SendDNetLevel(level);
        SendLevelToChildren(level);
        return;
    }
    case kGroupLeader: {
        QString leader;
        if (!i_message.Read(leader)) {
            Drop(ip_socket);
            return;
        }
        if (source == Source::Candidate) {
            candidate += d.GetType("dnet_candidate_leader")->GetItem(Value(leader));
            return;
        }
        if (source == Source::Server)
            return;
        const QString old = IsSlotSet("dnet_group_leader") ? SlotValue("dnet_group_leader").AsString() : QString();
        if (leader == old)
            return;
        DNetLog(1, QString("Received group leader from parent, updating to %1").arg(leader));
        SetSlot("dnet_group_leader", Value(leader));
        gp_server->SendDNetGroupLeader(leader);
        RelayToChildren(i_message.GetBuffer() + start, i_message.GetWriteIndex() - start);
        return;
    }
    case kSearchRequest: {
        uint32_t innerCode = 0;
        if (!i_message.Read(innerCode)) {
            Drop(ip_socket);
            return;
        }
        if (innerCode == kSearchInnerCode) {
            QString user, text;
            uint32_t token = 0;
            if (!i_message.Read(user) || !i_message.Read(token) || !i_message.Read(text)) {
                Drop(ip_socket);
                return;
            }
            // A child of ours as our parent would make a ring that searches circle for ever.
            if (source == Source::Candidate && candidate["user"].IsConnected("dnet_child")) {
                DNetLog(1, QString("Parent candidate %1 is one of our children, closing connection")
                               .arg(candidate["user"].AsString()));
                candidate.Remove();
                CloseSocket(ip_socket);
                return;
            }
            emit DNetSearchRequest(user, token, text);
            // The new parent's level and leader go to the children ahead of the search.
            if (source == Source::Candidate)
                AdoptParent(ip_socket, candidate);
        }
        RelayToChildren(i_message.GetBuffer() + start, i_message.GetWriteIndex() - start);
        return;
    }
    default:
        return;
    }
}

void DNetManager::HandleChildMessage(QTcpSocket* ip_socket, MemStream& i_message)
{
    uint8_t code = 0;
    if (!i_message.Read(code)) {
        DNetLog(1, "Error reading message code, closing child connection");
        Drop(ip_socket);
        return;
    }
    ItemPtr child = ChildOf(ip_socket);
    if (!child) {
        CloseSocket(ip_socket);
        return;
    }
    DNetLog(1, QString("Received message from child, code %1").arg(code));
    if (code != kChildDepth)
        return;
    uint32_t depth = 0;
    if (!i_message.Read(depth)) {
        Drop(ip_socket);
        return;
    }
    DNetLog(1, QString("Received child depth %1 from %2").arg(depth).arg(child["user"].AsString()));
    child += d.GetType("dnet_child_depth")->GetItem(Value(depth));
    DetermineChildDepth();
}

// ---------------------------------------------------------------- to the children

void DNetManager::SendMessageToChildren(MemStream& i_message)
{
    RelayToChildren(i_message.GetBuffer(), i_message.GetWriteIndex());
}

void DNetManager::SendLevelToChildren(int i_level)
{
    MemStream message;
    message.Write(kLevel);
    message.Write(static_cast<uint32_t>(i_level));
    SendMessageToChildren(message);
}

void DNetManager::RelayToChildren(const char* ip_bytes, size_t i_length)
{
    // Closing a child removes its item, so the sockets are gathered before anything is written.
    std::vector<QTcpSocket*> children;
    for (ItemPtr child : d.GetType("dnet_child")->GetItems())
        children.push_back(SocketOf(child));
    std::vector<QTcpSocket*> stalled;
    for (QTcpSocket* child : children)
        if (!WriteFrame(child, ip_bytes, i_length))
            stalled.push_back(child);
    for (QTcpSocket* child : stalled) {
        DNetLog(1, QString("Child %1 is not reading, %2 bytes unsent, closing child connection")
                       .arg(ChildOf(child)["user"].AsString())
                       .arg(child->bytesToWrite()));
        Drop(child);
    }
}

bool DNetManager::WriteFrame(QTcpSocket* ip_socket, const char* ip_bytes, size_t i_length)
{
    // Every search the network carries is relayed: a child that reads none of them would
    // otherwise keep them all in memory. Checked before writing, so that one large message
    // alone never costs a child its connection.
    if (ip_socket->bytesToWrite() > kMaxChildBacklog)
        return false;
    uchar header[4];
    qToLittleEndian(static_cast<quint32>(i_length), header);
    ip_socket->write(reinterpret_cast<const char*>(header), 4);
    ip_socket->write(ip_bytes, static_cast<qint64>(i_length));
    return true;
}
