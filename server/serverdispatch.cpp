#include "server/server.h"

#include "model/data.h"
#include "model/settings.h"

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
    body.Read(users);
    Type* userType = d.GetType("user");
    // Users missing from the list keep the flag: this message only ever adds privileges.
    for (const QString& name : users)
        userType->GetItem(Value(name)).NewItem("is_privileged");
}
