// Replies about one other user: address, existence, status and statistics.
#include "server/server.h"

#include "model/data.h"
#include "server/serveritems.h"

using namespace serveritems;

void Server::HandleUserAddress(MemStream& body)
{
    QString user;
    uint32_t address = 0;
    int32_t port = 0;
    int32_t obfuscationType = 0;
    uint16_t obfuscatedPort = 0;
    body.Read(user);
    body.Read(address);
    body.Read(port);
    body.Read(obfuscationType);
    body.Read(obfuscatedPort);

    ItemPtr item = User(user);
    SetAddress(item, address, port, obfuscationType == 1 ? obfuscatedPort : 0);
    // The marker goes last: whoever waits for it finds all three values in place.
    item.Disconnect("user_address_request");
}

void Server::HandleAddUser(MemStream& body)
{
    QString user;
    uint8_t exists = 0;
    body.Read(user);
    body.Read(exists);
    emit AddUserResponse(user, exists != 0);
    if (exists == 0)
        return;

    int32_t status = 0;
    UserStats stats;
    body.Read(status);
    body.Read(stats);
    ItemPtr item = User(user);
    if (status <= 0) {
        ClearFlag(item, "is_online");
        return;
    }
    QString country;
    body.Read(country);
    SetFlag(item, "is_online");
    SetValue(item, "country_code", Value(country));
}

void Server::HandleUserStatus(MemStream& body)
{
    QString user;
    int32_t status = 0;
    uint8_t privileged = 0;
    body.Read(user);
    body.Read(status);
    body.Read(privileged);

    ItemPtr item = User(user);
    if (status <= 0)
        ClearFlag(item, "is_online");
    else
        SetFlag(item, "is_online");
    if (status == 1)
        SetFlag(item, "is_away");
    else
        ClearFlag(item, "is_away");
    // Privileges are only ever granted here; losing them is learnt elsewhere.
    if (privileged != 0)
        SetFlag(item, "is_privileged");
}

void Server::HandleUserStats(MemStream& body)
{
    QString user;
    UserStats stats;
    body.Read(user);
    if (!body.Read(stats))
        stats = UserStats();
    emit ReceivedUserStats(user, stats);
}
