// Rooms: the room list, entering and leaving, who is inside, private-room roles and room chat.
#include "server/server.h"

#include "model/data.h"
#include "model/settings.h"
#include "server/serveritems.h"

#include <algorithm>
#include <list>
#include <set>
#include <string>
#include <vector>

using namespace serveritems;

namespace {

// Gives the room its user count.
void SetUserCount(ItemPtr room, int32_t count)
{
    SetValue(room, "user_count", Value(static_cast<int>(count)));
}

// Clears a flag on every room that has it and whose name is not among the kept ones.
void ClearFlagExcept(const char* flagType, const std::set<std::string>& keep1, const std::set<std::string>& keep2)
{
    ItemSet rooms = g(flagType).GetItems("room");
    for (const ItemPtr& room : rooms) {
        const std::string& name = room->GetValue().str();
        if (!keep1.count(name) && !keep2.count(name))
            ClearFlag(room, flagType);
    }
}

// Replaces the users of a room's member or operator list.
void ReplaceListUsers(ItemPtr list, const std::set<QString>& users)
{
    list.Disconnect("user");
    for (const QString& name : users)
        list.Connect(User(name));
}

// The room a message names first, created when missing.
ItemPtr ReadRoom(MemStream& body)
{
    QString name;
    body.Read(name);
    return Room(name);
}

}  // namespace

void Server::HandleRoomList(MemStream& body)
{
    // Only the first list after a request or a login may bring rooms we have not seen; later
    // ones (the server sends them unasked) only refresh counts.
    const bool acceptAll = GetSetting("accept_room_list") == "yes";
    SetSetting("accept_room_list", Value("no"));

    std::vector<QString> publicNames, ownedNames, memberNames;
    std::vector<int32_t> publicCounts, ownedCounts, memberCounts;
    std::set<QString> operated;
    ReadWhole(body, publicNames);
    ReadWhole(body, publicCounts);
    ReadWhole(body, ownedNames);
    ReadWhole(body, ownedCounts);
    ReadWhole(body, memberNames);
    ReadWhole(body, memberCounts);
    ReadWhole(body, operated);

    // A public room's only news is its count: a name without one is passed over.
    Type* roomType = d.GetType("room");
    const size_t publicPairs = std::min(publicNames.size(), publicCounts.size());
    for (size_t k = 0; k < publicPairs; ++k) {
        ItemPtr room = acceptAll ? roomType->GetItem(Value(publicNames[k])) : roomType->HasItem(Value(publicNames[k]));
        if (room)
            SetUserCount(room, publicCounts[k]);
    }

    // The roles come from the name lists; a count list shorter than its names leaves the
    // counts of the names past its end as they were.
    std::set<std::string> owned;
    for (size_t k = 0; k < ownedNames.size(); ++k) {
        ItemPtr room = Room(ownedNames[k]);
        if (k < ownedCounts.size())
            SetUserCount(room, ownedCounts[k]);
        SetFlag(room, "is_owner");
        SetFlag(room, "is_private");
        SetFlag(room, "is_member");
        owned.insert(room.GetValue().str());
    }
    ClearFlagExcept("is_owner", owned, std::set<std::string>());

    std::set<std::string> member;
    for (size_t k = 0; k < memberNames.size(); ++k) {
        ItemPtr room = Room(memberNames[k]);
        if (k < memberCounts.size())
            SetUserCount(room, memberCounts[k]);
        if (operated.count(memberNames[k]))
            SetFlag(room, "is_operator");
        SetFlag(room, "is_private");
        SetFlag(room, "is_member");
        member.insert(room.GetValue().str());
    }
    ClearFlagExcept("is_member", member, owned);
}

void Server::HandleEnterRoom(MemStream& body)
{
    QString roomName;
    std::vector<QString> users;
    std::list<int32_t> statuses;
    std::vector<UserStats> stats;
    std::list<int32_t> unused;
    std::vector<QString> countries;
    body.Read(roomName);
    ReadWhole(body, users);
    ReadWhole(body, statuses);
    ReadSignedCountedEntries(body, [&](int64_t k) {
        UserStats record;
        if (!body.Read(record))
            return false;
        // Records without a user to pair with are read past, not kept.
        if (k < static_cast<int64_t>(users.size()))
            stats.push_back(record);
        return true;
    });
    ReadWhole(body, unused);
    ReadWhole(body, countries);

    ItemPtr room = Room(roomName);
    QString owner;
    if (body.Read(owner)) {
        std::set<QString> operators;
        ReadWhole(body, operators);
        room.NewItem("room_owner").Connect(User(owner));
        ReplaceListUsers(room.NewItem("room_operators"), operators);
    }

    SetFlag(room, "in_room");
    room.Disconnect("user");
    for (const QString& name : users)
        room.Connect(User(name));

    // Each partner list is paired with the names only as far as it reaches.
    for (size_t k = 0; k < users.size(); ++k) {
        ItemPtr user = User(users[k]);
        if (k < stats.size()) {
            SetValue(user, "average_download_speed", Value(static_cast<int>(stats[k].averageSpeed)));
            SetValue(user, "shared_files_count", Value(static_cast<int>(stats[k].sharedFiles)));
        }
        if (k < countries.size())
            SetValue(user, "country_code", Value(countries[k]));
    }
}

void Server::HandleLeaveRoom(MemStream& body)
{
    QString roomName;
    body.Read(roomName);
    // Looked up, not created: leaving a room never seen must not add it to the room list.
    ItemPtr room = d.GetType("room")->HasItem(Value(roomName));
    if (!room || !room.IsConnected("in_room"))
        return;
    ClearFlag(room, "in_room");
    room.Disconnect("user");
}

void Server::HandleUserJoinedRoom(MemStream& body)
{
    QString roomName, userName, country;
    int32_t status = 0;
    UserStats stats;
    int32_t unused = 0;
    body.Read(roomName);
    body.Read(userName);
    body.Read(status);
    if (!body.Read(stats))
        stats = UserStats();
    body.Read(unused);
    body.Read(country);

    ItemPtr user = User(userName);
    Room(roomName).Connect(user);
    SetValue(user, "average_download_speed", Value(static_cast<int>(stats.averageSpeed)));
    SetValue(user, "shared_files_count", Value(static_cast<int>(stats.sharedFiles)));
    SetValue(user, "country_code", Value(country));
}

void Server::HandleUserLeftRoom(MemStream& body)
{
    ItemPtr room = ReadRoom(body);
    QString userName;
    body.Read(userName);
    Unlink(room, User(userName));
}

void Server::HandleRoomChat(MemStream& body)
{
    QString room, user, text;
    body.Read(room);
    body.Read(user);
    body.Read(text);
    ItemPtr speaker = d.GetType("user")->HasItem(Value(user));
    if (speaker && speaker.IsConnected("is_ignored"))
        return;
    emit RoomChat(room, user, text);
}

void Server::HandleRoomRoleList(MemStream& body, const char* listType)
{
    ItemPtr room = ReadRoom(body);
    std::set<QString> users;
    ReadWhole(body, users);
    ReplaceListUsers(room.NewItem(listType), users);
}

void Server::HandleRoomRoleChange(MemStream& body, const char* listType, bool add)
{
    ItemPtr list = ReadRoom(body).NewItem(listType);
    QString userName;
    body.Read(userName);
    ItemPtr user = User(userName);
    if (add)
        list.Connect(user);
    else
        Unlink(list, user);
}

void Server::HandleAddedToPrivateRoom(MemStream& body)
{
    ItemPtr room = ReadRoom(body);
    SetFlag(room, "is_private");
    SetFlag(room, "is_member");
    EnterRoom(room.AsString(), false);
}

void Server::HandleRemovedFromPrivateRoom(MemStream& body)
{
    ItemPtr room = ReadRoom(body);
    ClearFlag(room, "is_member");
    ClearFlag(room, "is_operator");
    ClearFlag(room, "is_owner");
}

void Server::HandleOperatorRights(MemStream& body, bool granted)
{
    ItemPtr room = ReadRoom(body);
    if (granted)
        SetFlag(room, "is_operator");
    else
        ClearFlag(room, "is_operator");
}

void Server::HandlePrivateRoomAddEnabled(MemStream& body)
{
    uint8_t enabled = 0;
    body.Read(enabled);
    SetSetting("accept_private_room_add", Value(enabled != 0 ? "yes" : "no"));
    emit PrivateRoomAddEnabled(enabled != 0);
}
