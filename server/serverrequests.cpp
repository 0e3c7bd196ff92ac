#include "server/server.h"

#include "model/data.h"
#include "model/settings.h"

namespace {

ItemPtr UserItem(const QString& name)
{
    return d.GetType("user")->GetItem(Value(name));
}

// The most common request shapes: a code alone, or a code followed by one or two texts.
MemStream Request(uint32_t code)
{
    MemStream m;
    m.Write(code);
    return m;
}

MemStream Request(uint32_t code, const QString& a)
{
    MemStream m = Request(code);
    m.Write(a);
    return m;
}

MemStream Request(uint32_t code, const QString& a, const QString& b)
{
    MemStream m = Request(code, a);
    m.Write(b);
    return m;
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
    MemStream m = Request(2);
    m.Write(static_cast<uint32_t>(port));
    m.Write(uint32_t(1));
    m.Write(static_cast<uint32_t>(obfuscatedPort));
    SendMessage(m, false);
}

void Server::GetUserAddress(const QString& user)
{
    ItemPtr item = UserItem(user);
    // One question at a time per user; the reply clears the mark, a login asks again.
    if (item.IsConnected("user_address_request"))
        return;
    MemStream m = Request(3, user);
    SendMessage(m, false);
    item += d.GetType("user_address_request")->NewItem();
}

void Server::AddUser(const QString& user)
{
    MemStream m = Request(5, user);
    SendMessage(m, false);
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
    MemStream m = Request(6, user);
    SendMessage(m, false);
}

void Server::GetUserStatus(const QString& user)
{
    MemStream m = Request(7, user);
    SendMessage(m, false);
}

void Server::SendRoomChat(const QString& room, const QString& text)
{
    MemStream m = Request(13, room, text);
    SendMessage(m, false);
}

void Server::EnterRoom(const QString& room, bool isPrivate)
{
    MemStream m = Request(14, room);
    m.Write(uint32_t(isPrivate ? 1 : 0));
    SendMessage(m, false);
}

void Server::LeaveRoom(const QString& room)
{
    if (!d.GetType("room")->GetItem(Value(room)).IsConnected("in_room"))
        return;
    MemStream m = Request(15, room);
    SendMessage(m, false);
}

unsigned int Server::SendIndirectConnectionRequest(const QString& user, const QString& type)
{
    const uint32_t token = m_relayToken++;
    MemStream m = Request(18);
    m.Write(token);
    m.Write(user);
    m.Write(type);
    SendMessage(m, false);
    return token;
}

void Server::SendPrivateChat(const QString& user, const QString& text)
{
    // The protocol carries one line per message.
    QString line = text;
    line.replace(QChar(10), QChar(' '));
    line.replace(QChar(13), QChar(' '));
    MemStream m = Request(22, user, line);
    SendMessage(m, false);
    emit PrivateChatSent(user, line);
}

unsigned int Server::FileSearch(const QString& text, bool wishList)
{
    const uint32_t token = m_searchToken++;
    MemStream m = Request(wishList ? 103 : 26);
    m.Write(token);
    m.Write(text);
    SendMessage(m, false);
    ItemPtr request = NewSearchRequest(token, text);
    if (wishList)
        request.NewItem("wishlist_search");
    emit SearchRequested(token, text, wishList);
    return token;
}

void Server::SetAvailabilityStatus(bool available)
{
    SetSetting("availability_status", Value(available ? "available" : "away"));
    MemStream m = Request(28);
    m.Write(uint32_t(available ? 2 : 1));
    SendMessage(m, false);
}

void Server::SendFilesFolders(int folders, int files)
{
    MemStream m = Request(35);
    m.Write(static_cast<uint32_t>(folders));
    m.Write(static_cast<uint32_t>(files));
    SendMessage(m, false);
}

void Server::GetUserStats(const QString& user)
{
    MemStream m = Request(36, user);
    SendMessage(m, false);
}

unsigned int Server::SearchUserList(const QString& text)
{
    const uint32_t token = m_searchToken++;
    NewSearchRequest(token, text);
    ItemSet listed = g("in_user_list").GetItems("user");
    for (const ItemPtr& user : listed) {
        if (!user.IsConnected("is_online"))
            continue;
        MemStream m = Request(42, user.AsString());
        m.Write(token);
        m.Write(text);
        SendMessage(m, false);
    }
    return token;
}

void Server::GetRoomList()
{
    MemStream m = Request(64);
    SendMessage(m, false);
    SetSetting("accept_room_list", Value("yes"));
}

void Server::SendDNetHasParent(bool hasParent)
{
    MemStream m = Request(71);
    m.Write(uint8_t(hasParent ? 0 : 1));
    SendMessage(m, false);
}

void Server::GetOwnPrivilegesStatus()
{
    MemStream m = Request(92);
    SendMessage(m, false);
}

void Server::SendDNetCanParent(bool canParent)
{
    MemStream m = Request(100);
    m.Write(uint8_t(canParent ? 1 : 0));
    SendMessage(m, false);
}

unsigned int Server::SearchRoom(const QString& room, const QString& text)
{
    const uint32_t token = m_searchToken++;
    NewSearchRequest(token, text);
    MemStream m = Request(120, room);
    m.Write(token);
    m.Write(text);
    SendMessage(m, false);
    return token;
}

void Server::SendUploadSpeed(int speed)
{
    MemStream m = Request(121);
    m.Write(static_cast<uint32_t>(speed));
    SendMessage(m, false);
}

void Server::SendDNetLevel(int level)
{
    MemStream m = Request(126);
    m.Write(static_cast<uint32_t>(level));
    SendMessage(m, false);
}

void Server::SendDNetGroupLeader(const QString& leader)
{
    MemStream m = Request(127, leader);
    SendMessage(m, false);
}

void Server::SendChildDepth(bool flag)
{
    MemStream m = Request(129);
    m.Write(uint8_t(flag ? 1 : 0));
    SendMessage(m, false);
}

void Server::AddPrivateRoomMember(const QString& room, const QString& user)
{
    MemStream m = Request(134, room, user);
    SendMessage(m, false);
}

void Server::RemovePrivateRoomMember(const QString& room, const QString& user)
{
    MemStream m = Request(135, room, user);
    SendMessage(m, false);
}

void Server::GiveUpPrivateRoomMembership(const QString& room)
{
    MemStream m = Request(136, room);
    SendMessage(m, false);
}

void Server::GiveUpPrivateRoom(const QString& room)
{
    MemStream m = Request(137, room);
    SendMessage(m, false);
}

void Server::EnablePrivateRoomAdd(bool enabled)
{
    MemStream m = Request(141);
    m.Write(uint8_t(enabled ? 1 : 0));
    SendMessage(m, false);
}

void Server::AddPrivateRoomOperator(const QString& room, const QString& user)
{
    MemStream m = Request(143, room, user);
    SendMessage(m, false);
}

void Server::RemovePrivateRoomOperator(const QString& room, const QString& user)
{
    MemStream m = Request(144, room, user);
    SendMessage(m, false);
}

void Server::GetSearchCorrelations(const QString& text)
{
    MemStream m = Request(153, text);
    SendMessage(m, false);
}

void Server::SendCantConnectToPeer(unsigned int token, const QString& user)
{
    MemStream m = Request(1001);
    m.Write(static_cast<uint32_t>(token));
    m.Write(user);
    SendMessage(m, false);
}
