// Connection requests relayed by the server, and the distributed network's messages.
#include "server/server.h"

#include "model/data.h"
#include "server/serveritems.h"

using namespace serveritems;

void Server::HandleIndirectConnectionRequest(MemStream& body)
{
    QString user, type;
    uint32_t address = 0;
    int32_t port = 0;
    uint32_t token = 0;
    uint8_t privileged = 0;
    int32_t obfuscationType = 0;
    int32_t obfuscatedPort = 0;
    body.Read(user);
    body.Read(type);
    body.Read(address);
    body.Read(port);
    body.Read(token);
    body.Read(privileged);
    body.Read(obfuscationType);
    if (obfuscationType == 1)
        body.Read(obfuscatedPort);

    ItemPtr request = d.GetType("peer_connection_request")->NewItem();
    request.Connect(d.GetType("peer_connection_request_id")->GetItem(Value(static_cast<unsigned int>(token))));
    request.Connect(d.GetType("peer_connection_type")->GetItem(Value(type)));
    ItemPtr requester = User(user);
    request.Connect(requester);
    // The peer side acts once the request and the address are complete; the address goes in last.
    SetAddress(requester, address, port, obfuscatedPort);
    if (privileged != 0)
        SetFlag(requester, "is_privileged");
}

void Server::HandleDNetPossibleParents(MemStream& body)
{
    DNetParentList parents;
    ReadSignedCountedEntries(body, [&](int64_t k) {
        QString user;
        uint32_t address = 0;
        int32_t port = 0;
        if (!body.Read(user) || !body.Read(address) || !body.Read(port))
            return false;
        if (k < static_cast<int64_t>(kMaxStreamCount))
            parents.emplace_back(user, TCPAddress(address, port));
        return true;
    });
    emit DNetPossibleParents(parents);
}
