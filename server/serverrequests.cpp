#include "server/server.h"

#include "model/data.h"
#include "model/settings.h"

namespace {

ItemPtr UserItem(const QString& name)
{
    return d.GetType("user")->GetItem(Value(name));
}

uint8_t Flag(bool on)
{
    return on ? 1 : 0;
}

} // namespace

ItemPtr Server::NewSearchRequest(unsigned int token, const QString& text)
{
    ItemPtr request = d.GetType("search_request")->NewItem(Value(token));
    request += d.GetType("search_request_text")->GetItem(Value(text));
    return request;
}

void Server::SetWaitPort(int port, int obfuscatedPort)
{
    SendRequest(2, static_cast<uint32_t>(port), uint32_t(1), static_cast<uint32_t>(obfuscatedPort));
}

void Server::GetUserAddress(const QString& user)
{
    ItemPtr item = UserItem(user);
    // One question at a time per user; the reply clears the mark, a login asks again.
    if (item.IsConnected("user_address_request"))
        return;
    SendRequest(3, user);
    item += d.GetType("user_address_request")->NewItem();
}

void Server::AddUser(const QString& user)
{
    SendRequest(5, user);
}

void Server::TrackUser(const QString& user)
{
    ItemPtr item = UserItem(user);
    if (item.IsConnected("is_tracked"))
        return;
    item.NewItem("is_tracked");
    AddUser(user);
}

void Server::UntrackUser(const QString& user)
{
    ItemPtr item = UserItem(user);
    if (!item.IsConnected("is_tracked"))
        return;
    item.Disconnect("is_tracked");
    SendRequest(6, user);
}

void Server::GetUserStatus(const QString& user)
{
    SendRequest(7, user);
}

bool Server::SendRoomChat(const QString& room, const QString& text)
{
    return SendRequest(13, room, text);
}

void Server::EnterRoom(const QString& room, bool isPrivate)
{
    SendRequest(14, room, uint32_t(isPrivate ? 1 : 0));
}

void Server::LeaveRoom(const QString& room)
{
    if (d.GetType("room")->GetItem(Value(room)).IsConnected("in_room"))
        SendRequest(15, room);
}

unsigned int Server::SendIndirectConnectionRequest(const QString& user, const QString& type)
{
    const uint32_t token = m_relayToken++;
    SendRequest(18, token, user, type);
    return token;
}

bool Server::SendPrivateChat(const QString& user, const QString& text)
{
    // The protocol carries one line per message.
    QString line = text;
    line.replace(QChar(10), QChar(' '));
    line.replace(QChar(13), QChar(' '));
    // Listeners record the message as sent: a dropped one must not reach them.
    if (!SendRequest(22, user, line))
        return false;
    emit PrivateChatSent(user, line);
    return true;
}

unsigned int Server::FileSearch(const QString& text, bool wishList)
{
    const uint32_t token = m_searchToken++;
    SendRequest(wishList ? 103 : 26, token, text);
    ItemPtr request = NewSearchRequest(token, text);
    if (wishList)
        request.NewItem("wishlist_search");
    emit SearchRequested(token, text, wishList);
    return token;
}

void Server::SetAvailabilityStatus(bool available)
{
    SetSetting("availability_status", Value(available ? "available" : "away"));
    SendRequest(28, uint32_t(available ? 2 : 1));
}

void Server::SendFilesFolders(int folders, int files)
{
    SendRequest(35, static_cast<uint32_t>(folders), static_cast<uint32_t>(files));
}

void Server::GetUserStats(const QString& user)
{
    SendRequest(36, user);
}

unsigned int Server::SearchUserList(const QString& text)
{
    const uint32_t token = m_searchToken++;
    NewSearchRequest(token, text);
    ItemSet listed = g("in_user_list").GetItems("user");
    for (const ItemPtr& user : listed)
        if (user.IsConnected("is_online"))
            SendRequest(42, user.AsString(), token, text);
    return token;
}

void Server::GetRoomList()
{
    SendRequest(64);
    SetSetting("accept_room_list", Value("yes"));
}

void Server::SendDNetHasParent(bool hasParent)
{
    // The server asks the other way round: whether a parent is still wanted.
    SendRequest(71, Flag(!hasParent));
}

void Server::GetOwnPrivilegesStatus()
{
    SendRequest(92);
}

void Server::SendDNetCanParent(bool canParent)
{
    SendRequest(100, Flag(canParent));
}

unsigned int Server::SearchRoom(const QString& room, const QString& text)
{
    const uint32_t token = m_searchToken++;
    NewSearchRequest(token, text);
    SendRequest(120, room, token, text);
    return token;
}

void Server::SendUploadSpeed(int speed)
{
    SendRequest(121, static_cast<uint32_t>(speed));
}

void Server::SendDNetLevel(int level)
{
    SendRequest(126, static_cast<uint32_t>(level));
}

void Server::SendDNetGroupLeader(const QString& leader)
{
    SendRequest(127, leader);
}

void Server::SendChildDepth(bool flag)
{
    SendRequest(129, Flag(flag));
}

void Server::AddPrivateRoomMember(const QString& room, const QString& user)
{
    SendRequest(134, room, user);
}

void Server::RemovePrivateRoomMember(const QString& room, const QString& user)
{
    SendRequest(135, room, user);
}

void Server::GiveUpPrivateRoomMembership(const QString& room)
{
    SendRequest(136, room);
}

void Server::GiveUpPrivateRoom(const QString& room)
{
    SendRequest(137, room);
}

void Server::EnablePrivateRoomAdd(bool enabled)
{
    SendRequest(141, Flag(enabled));
}

void Server::AddPrivateRoomOperator(const QString& room, const QString& user)
{
    SendRequest(143, room, user);
}

void Server::RemovePrivateRoomOperator(const QString& room, const QString& user)
{
    SendRequest(144, room, user);
}

void Server::GetSearchCorrelations(const QString& text)
{
    SendRequest(153, text);
}

void Server::SendCantConnectToPeer(unsigned int token, const QString& user)
{
    SendRequest(1001, static_cast<uint32_t>(token), user);
}
