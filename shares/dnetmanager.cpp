// The parent, the candidates and the children of the distributed search network, and the state
// reports to the server. The frames and messages are in dnetmessages.cpp.
#include "shares/dnetmanager.h"

#include "model/log.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "shares/dnetstate.h"

#include <QTcpSocket>

#include <algorithm>
#include <vector>

DNetManager* dnetManager = nullptr;

using namespace dnetstate;

namespace dnetstate {

ItemPtr Slot(const char* key) { return d.GetType("dnet_global")->GetItem(Value(key)); }
ItemPtr SlotValue(const char* key) { return Slot(key)["dnet_value"]; }
bool IsSlotSet(const char* key) { return Slot(key).IsConnected("dnet_value"); }
void SetSlot(const char* key, const Value& value) { Slot(key) += d.GetType("dnet_value")->GetItem(value); }
void ClearSlot(const char* key) { Slot(key).Disconnect("dnet_value"); }

QTcpSocket* SocketOf(ItemPtr item)
{
    return ItemObject<QTcpSocket>(item);
}
ItemPtr CandidateOf(QTcpSocket* socket) { return d.GetType("dnet_parent_candidate")->HasItem(Value(socket)); }
ItemPtr ChildOf(QTcpSocket* socket) { return d.GetType("dnet_child")->HasItem(Value(socket)); }

void CutSignals(QTcpSocket* socket)
{
    QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    QObject::disconnect(socket, &QTcpSocket::errorOccurred, nullptr, nullptr);
    QObject::disconnect(socket, &QTcpSocket::disconnected, nullptr, nullptr);
}

void CloseSocket(QTcpSocket* socket)
{
    CutSignals(socket);
    socket->close();
    socket->deleteLater();
}

void DNetLog(int level, const QString& text) { Log(QStringLiteral("Distributed Network"), level, text); }

} // namespace dnetstate

DNetManager::DNetManager()
{
    dnetManager = this;
    connect(gp_server, &Server::DNetParentMinSpeed, this, &DNetManager::OnDNetParentMinSpeed);
    connect(gp_server, &Server::DNetParentSpeedConnectionRatio, this, &DNetManager::OnDNetParentSpeedConnectionRatio);
    connect(gp_server, &Server::DNetPossibleParents, this, &DNetManager::OnDNetPossibleParents);
    connect(gp_server, &Server::DNetMessage, this, &DNetManager::OnDNetMessage);
    connect(gp_server, &Server::DNetDeliveryReport, this, &DNetManager::OnDNetDeliveryReport);
    connect(gp_server, &Server::DNetReset, this, &DNetManager::OnDNetReset);
    connect(peerMessenger, &PeerMessenger::DNetConnectionAccepted, this, &DNetManager::OnDNetConnectionAccepted);
    connect(peerMessenger, &PeerMessenger::DNetConnectionRequested, this, &DNetManager::OnDNetConnectionRequested);
    connect(gp_server, &Server::Connected, this, &DNetManager::OnConnected);

    Type* attempted = d.NewType("attempted_dnet_connection", PrimacyLeaf, true, true);
    Type* global = d.NewType("dnet_global", PrimacyRoot, false, true);
    Type* value = d.NewType("dnet_value", PrimacyLeaf, false, true);
    Type* child = d.NewType("dnet_child", PrimacyRoot, false, true);
    Type* childDepth = d.NewType("dnet_child_depth", PrimacyLeaf, false, true);
    Type* candidate = d.NewType("dnet_parent_candidate", PrimacyRoot, false, true);
    Type* candidateLevel = d.NewType("dnet_candidate_level", PrimacyLeaf, false, true);
    Type* candidateLeader = d.NewType("dnet_candidate_leader", PrimacyLeaf, false, true);
    Type* user = d.GetType("user");
    user->RelateToType(attempted, Many, One, false);
    global->RelateToType(value, Many, One, false);
    child->RelateToType(user, One, One, false);
    child->RelateToType(childDepth, Many, One, false);
    candidate->RelateToType(user, Many, One, false);
    candidate->RelateToType(candidateLevel, Many, One, false);
    candidate->RelateToType(candidateLeader, Many, One, false);

    auto* root = new PathNode(d.GetType("global")->GetItem(Value("upload_speed")));
    new PathNode(root, "global_value", PathConnectedTrigger);
    auto* handler = new EventHandler<DNetManager, ItemPtr>(this, &DNetManager::OnReceivedOwnUploadSpeed);
    AddDataHandler(handler);
    d.AddPathEventHandler(root, handler);
}

DNetManager::~DNetManager()
{
    if (dnetManager == this)
        dnetManager = nullptr;
}

bool DNetManager::HasParent() const { return IsSlotSet("dnet_parent_user"); }

// ---------------------------------------------------------------- reports to the server

void DNetManager::DetermineCanParent()
{
    if (m_parentMinSpeed == -1 || m_parentSpeedConnectionRatio == -1)
        return;
    if (!HasSetting("upload_speed"))
        return;
    // The server's figures and ours can be large enough to overflow 32 bits once scaled.
    const qint64 speed = GetSettingInt("upload_speed");
    DNetLog(1, "Determining whether we can accept child connections.");
    bool status = false;
    if (speed >= static_cast<qint64>(m_parentMinSpeed) * 1024) {
        qint64 capacity = 0;
        if (m_parentSpeedConnectionRatio > 0)
            capacity = speed * 10 / 1024 / m_parentSpeedConnectionRatio;
        else
            DNetLog(2, QString("Parent speed connection ratio %1 is not positive, no capacity for children")
                           .arg(m_parentSpeedConnectionRatio));
        const qint64 count = static_cast<qint64>(d.GetType("dnet_child")->ItemCount());
        DNetLog(2, QString("Currently have %1 child connections, max capacity %2").arg(count).arg(capacity));
        status = capacity > count;
    } else {
        DNetLog(2, "Below minimum parent speed, so no.");
    }
    if (status != m_canParent) {
        m_canParent = status;
        DNetLog(2, "Status changed, sending notification.");
        gp_server->SendDNetCanParent(status);
    } else {
        DNetLog(2, "No status change, not notifying.");
    }
}

void DNetManager::OnReceivedOwnUploadSpeed(ItemPtr) { DetermineCanParent(); }

void DNetManager::OnDNetParentMinSpeed(int i_speed)
{
    DNetLog(1, QString("Received parent min speed %1, currently not processing").arg(i_speed));
    m_parentMinSpeed = i_speed;
    DetermineCanParent();
}

void DNetManager::OnDNetParentSpeedConnectionRatio(int i_ratio)
{
    DNetLog(1, QString("Received parent speed connection ratio %1, currently not processing").arg(i_ratio));
    m_parentSpeedConnectionRatio = i_ratio;
    DetermineCanParent();
}

void DNetManager::OnConnected()
{
    gp_server->SendDNetHasParent(HasParent());
    // Whatever the server knew of us went with the old connection: a true status goes out again.
    m_canParent = false;
    if (IsSlotSet("dnet_group_leader"))
        gp_server->SendDNetGroupLeader(SlotValue("dnet_group_leader").AsString());
    if (IsSlotSet("dnet_level"))
        gp_server->SendDNetLevel(SlotValue("dnet_level").AsInt());
    DetermineCanParent();
}

void DNetManager::OnDNetDeliveryReport(int i_req)
{
    DNetLog(1, QString("Received DNet delivery report request, req %1").arg(i_req));
}

void DNetManager::OnDNetReset() { DNetLog(1, "Received DNet reset request"); }

void DNetManager::DetermineChildDepth()
{
    const unsigned long long old = SlotValue("dnet_child_depth").AsUInt64();
    // Depths are the children's word: kept unsigned and widened, so none can wrap below ours.
    unsigned long long depth = 0;
    for (ItemPtr reported : d.GetType("dnet_child")->GetItems().GetItems("dnet_child_depth"))
        depth = std::max(depth, reported.AsUInt64() + 1);
    if (depth == old)
        return;
    DNetLog(1, QString("New child depth is %1").arg(depth));
    if (depth == 0)
        ClearSlot("dnet_child_depth");
    else
        SetSlot("dnet_child_depth", Value(depth));
    gp_server->SendChildDepth(depth != 0);
}

// ---------------------------------------------------------------- parent and candidates

void DNetManager::OnDNetPossibleParents(std::list<std::pair<QString, TCPAddress>>& i_parentList)
{
    if (HasParent()) {
        DNetLog(1, "Received possible parents list, but already have a parent. Not processing.");
        return;
    }
    DNetLog(1, QString("Received possible parents list, %1 entries").arg(i_parentList.size()));
    const QString self = GetSetting("username");
    for (const auto& entry : i_parentList) {
        const QString& name = entry.first;
        // Our own parent and child at once, we would relay every search back to ourselves.
        if (name == self) {
            DNetLog(2, QString("Own name %1 in possible parents list, skipping").arg(name));
            continue;
        }
        ItemPtr user = d.GetType("user")->GetItem(Value(name));
        if (user.IsConnected("attempted_dnet_connection")) {
            DNetLog(2, QString("Already attempted parent connection to %1, skipping").arg(name));
            continue;
        }
        DNetLog(2, QString("Attempting parent connection to %1").arg(name));
        user += d.GetType("user_address")->GetItem(Value(entry.second.first));
        user += d.GetType("user_port")->GetItem(Value(entry.second.second));
        user.NewItem("attempted_dnet_connection");
        peerMessenger->RequestDNetConnection(name);
    }
}

void DNetManager::OnDNetConnectionAccepted(QString i_user, QTcpSocket* ip_socket)
{
    DNetLog(1, QString("Parent connection to user %1 accepted").arg(i_user));
    if (HasParent()) {
        DNetLog(2, "Rejecting, already have parent");
        ip_socket->deleteLater();
        return;
    }
    DNetLog(2, "Adding as possible parent candidate");
    ItemPtr candidate = d.GetType("dnet_parent_candidate")->NewItem(Value(ip_socket));
    candidate += d.GetType("user")->GetItem(Value(i_user));
    connect(ip_socket, &QTcpSocket::readyRead, this, &DNetManager::OnSocketReadyToRead);
    connect(ip_socket, &QTcpSocket::errorOccurred, this, &DNetManager::OnSocketError);
    connect(ip_socket, &QTcpSocket::disconnected, this, &DNetManager::OnSocketClosed);
    ReadBufferedFramesLater(ip_socket, &DNetManager::HandleMessage);
}

void DNetManager::AdoptParent(QTcpSocket* ip_socket, ItemPtr i_candidate)
{
    const QString name = i_candidate["user"].AsString();
    SetSlot("dnet_parent_user", Value(name));
    SetSlot("dnet_parent_socket", Value(ip_socket));
    DNetLog(1, QString("Received first search request from parent candidate %1, adopting as parent.").arg(name));
    if (ItemPtr level = i_candidate["dnet_candidate_level"]) {
        DNetLog(2, QString("Level recorded as %1.").arg(level.AsString()));
        SetSlot("dnet_level", level.GetValue());
        gp_server->SendDNetLevel(level.AsInt());
        SendLevelToChildren(level.AsInt());
    }
    const QString leader = i_candidate["dnet_candidate_leader"].AsString();
    DNetLog(2, QString("Group leader recorded as %1.").arg(leader));
    SetSlot("dnet_group_leader", Value(leader));
    gp_server->SendDNetGroupLeader(leader);
    MemStream leaderMessage;
    leaderMessage.Write(static_cast<uint8_t>(5));
    leaderMessage.Write(leader);
    SendMessageToChildren(leaderMessage);

    ItemSet candidates = d.GetType("dnet_parent_candidate")->GetItems();
    std::vector<QTcpSocket*> others;
    for (ItemPtr c : candidates)
        if (SocketOf(c) != ip_socket)
            others.push_back(SocketOf(c));
    candidates.Remove();
    for (QTcpSocket* other : others)
        CloseSocket(other);
    gp_server->SendDNetHasParent(true);
}

void DNetManager::OnSocketError(QAbstractSocket::SocketError) { OnSocketClosed(); }

void DNetManager::OnSocketClosed()
{
    if (auto* socket = qobject_cast<QTcpSocket*>(sender()))
        ParentSocketClosed(socket);
}

void DNetManager::ParentSocketClosed(QTcpSocket* ip_socket)
{
    if (HasParent() && SocketOf(SlotValue("dnet_parent_socket")) == ip_socket) {
        DNetLog(1, "Parent socket closed");
        ClearSlot("dnet_parent_user");
        ClearSlot("dnet_parent_socket");
        ClearSlot("dnet_group_leader");
        ClearSlot("dnet_level");
        gp_server->SendDNetHasParent(false);
        gp_server->SendDNetGroupLeader(QString());
        gp_server->SendDNetLevel(-1);
    } else if (ItemPtr candidate = CandidateOf(ip_socket)) {
        DNetLog(1, "Parent candidate socket closed");
        candidate.Remove();
    }
    ip_socket->deleteLater();
}

// ---------------------------------------------------------------- children

void DNetManager::OnDNetConnectionRequested(QString i_user, QTcpSocket* ip_socket)
{
    DNetLog(1, QString("Child connection accepted from %1").arg(i_user));
    // A connection under our own name (dialled in, or dialled back at the server's word) would
    // make us our own child, and our parent below us would send every search straight back.
    if (i_user == GetSetting("username")) {
        DNetLog(2, "Child connection names ourselves, closing connection.");
        CloseSocket(ip_socket);
        return;
    }
    if (HasParent() && SlotValue("dnet_parent_user").AsString() == i_user) {
        DNetLog(2, "Child is our parent, closing connection.");
        CloseSocket(ip_socket);
        return;
    }
    ItemPtr user = d.GetType("user")->GetItem(Value(i_user));
    if (ItemPtr old = user["dnet_child"]) {
        DNetLog(2, "Child connection already found, closing old connection.");
        QTcpSocket* oldSocket = SocketOf(old);
        old.Remove();
        CloseSocket(oldSocket);
    }
    ItemPtr child = d.GetType("dnet_child")->NewItem(Value(ip_socket));
    child += user;
    connect(ip_socket, &QTcpSocket::readyRead, this, &DNetManager::OnChildSocketReadyToRead);
    connect(ip_socket, &QTcpSocket::errorOccurred, this, &DNetManager::OnChildSocketError);
    connect(ip_socket, &QTcpSocket::disconnected, this, &DNetManager::OnChildSocketClosed);
    if (IsSlotSet("dnet_level")) {
        MemStream level;
        level.Write(static_cast<uint8_t>(4));
        level.Write(static_cast<uint32_t>(SlotValue("dnet_level").AsInt()));
        WriteFrame(ip_socket, level.GetBuffer(), level.GetWriteIndex());
    }
    if (IsSlotSet("dnet_group_leader")) {
        MemStream leader;
        leader.Write(static_cast<uint8_t>(5));
        leader.Write(SlotValue("dnet_group_leader").AsString());
        WriteFrame(ip_socket, leader.GetBuffer(), leader.GetWriteIndex());
    }
    ReadBufferedFramesLater(ip_socket, &DNetManager::HandleChildMessage);
}

void DNetManager::OnChildSocketError(QAbstractSocket::SocketError) { OnChildSocketClosed(); }

void DNetManager::OnChildSocketClosed()
{
    if (auto* socket = qobject_cast<QTcpSocket*>(sender()))
        ChildSocketClosed(socket);
}

void DNetManager::ChildSocketClosed(QTcpSocket* ip_socket)
{
    DNetLog(1, "Child socket closed");
    CutSignals(ip_socket);
    ip_socket->deleteLater();
    if (ItemPtr child = ChildOf(ip_socket))
        child.Remove();
    else
        DNetLog(2, "Child socket item not found, aborting");
}
