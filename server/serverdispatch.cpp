#include "server/server.h"

#include "model/data.h"
#include "model/settings.h"
#include "server/serveritems.h"

#include <QTcpSocket>

#include <set>

// Fields are read without checking: a short message is still handled, with whatever could not be
// read left at its initial value.
void Server::HandleMessage(int code, MemStream& body)
{
    if (m_state == StateDisconnected)
        return;

    switch (code) {
    case 1:
        // The login reply means something only while it is awaited.
        if (m_state == StateConnecting)
            HandleLogin(body);
        break;
    case 69:
        HandlePrivilegedUsers(body);
        break;
    case 92:
        HandleOwnPrivilegesStatus(body);
        break;
    case 3:
        HandleUserAddress(body);
        break;
    case 5:
        HandleAddUser(body);
        break;
    case 7:
        HandleUserStatus(body);
        break;
    case 36:
        HandleUserStats(body);
        break;
    case 64:
        HandleRoomList(body);
        break;
    case 14:
        HandleEnterRoom(body);
        break;
    case 15:
        HandleLeaveRoom(body);
        break;
    case 16:
        HandleUserJoinedRoom(body);
        break;
    case 17:
        HandleUserLeftRoom(body);
        break;
    case 13:
        HandleRoomChat(body);
        break;
    case 133:
        HandleRoomRoleList(body, "room_members");
        break;
    case 148:
        HandleRoomRoleList(body, "room_operators");
        break;
    case 134:
        HandleRoomRoleChange(body, "room_members", true);
        break;
    case 135:
        HandleRoomRoleChange(body, "room_members", false);
        break;
    case 143:
        HandleRoomRoleChange(body, "room_operators", true);
        break;
    case 144:
        HandleRoomRoleChange(body, "room_operators", false);
        break;
    case 139:
        HandleAddedToPrivateRoom(body);
        break;
    case 140:
        HandleRemovedFromPrivateRoom(body);
        break;
    case 145:
        HandleOperatorRights(body, true);
        break;
    case 146:
        HandleOperatorRights(body, false);
        break;
    case 141:
        HandlePrivateRoomAddEnabled(body);
        break;
    case 22:
        HandlePrivateChat(body);
        break;
    case 26:
        HandleFileSearch(body);
        break;
    case 104:
        EmitValue<uint32_t>(body, &Server::WishListWait);
        break;
    case 153:
        HandleSearchCorrelations(body);
        break;
    case 18:
        HandleIndirectConnectionRequest(body);
        break;
    case 1001:
        EmitValue<uint32_t>(body, &Server::IndirectPeerConnectionFailure);
        break;
    case 83:
        EmitValue<int32_t>(body, &Server::DNetParentMinSpeed);
        break;
    case 84:
        EmitValue<int32_t>(body, &Server::DNetParentSpeedConnectionRatio);
        break;
    case 102:
        HandleDNetPossibleParents(body);
        break;
    case 93:
        // The distributed-network manager reads the message from where the code ends.
        emit DNetMessage(body);
        break;
    case 128:
        EmitValue<int32_t>(body, &Server::DNetDeliveryReport);
        break;
    case 130:
        emit DNetReset();
        break;
    default:
        // Unknown codes are dropped without a trace.
        break;
    }
}

void Server::HandleLogin(MemStream& body)
{
    uint8_t success = 0;
    body.Read(success);
    if (success != 0) {
        QString greeting;
        uint32_t ownAddress = 0;
        QString unused;
        body.Read(greeting);
        body.Read(ownAddress);
        body.Read(unused);
        m_state = StateLoggedIn;
        emit Connected();
        OnConnectedToServer();
        return;
    }

    QString reason;
    body.Read(reason);
    // The socket is closed before anyone hears of the refusal, so a listener that opens a
    // dialog cannot see more of this connection's bytes; its close event finds the state
    // disconnected and starts nothing.
    m_state = StateDisconnected;
    ++m_connectionSerial;
    mp_socket->close();
    emit ConnectionFailed(reason);
}

void Server::HandleOwnPrivilegesStatus(MemStream& body)
{
    int32_t seconds = 0;
    body.Read(seconds);
    SetSetting("privileges_time_left", Value(static_cast<int>(seconds)));
    emit ReceivedOwnPrivilegesStatus(seconds);
}

void Server::HandlePrivilegedUsers(MemStream& body)
{
    std::set<QString> users;
    serveritems::ReadWhole(body, users);
    Type* userType = d.GetType("user");
    // Users missing from the list keep the flag: this message only ever adds privileges.
    for (const QString& name : users)
        userType->GetItem(Value(name)).NewItem("is_privileged");
}
