// Reading the messenger's records, shared by its source files (not part of its interface).
#pragma once

#include "model/data.h"

#include <QDateTime>
#include <QString>

class QTcpSocket;

namespace peeritems {

inline const char* const kCategory = "Peer Messenger";

// The user of that name, made when missing.
inline ItemPtr UserItem(const QString& user)
{
    return d.GetType("user")->GetItem(Value(user));
}

inline QString TypeOf(ItemPtr item)
{
    return item["peer_connection_type"].AsString();
}

inline QString UserOf(ItemPtr item)
{
    return item["user"].AsString();
}

inline QTcpSocket* SocketOf(ItemPtr record)
{
    return ItemObject<QTcpSocket>(record);
}

// Renews the idle stamp of a messaging connection's record (null when it has none), so the
// sweep does not end a connection that is still busy.
inline void TouchActivity(ItemPtr peerSocket, const QDateTime& now)
{
    if (ItemPtr stamp = peerSocket ? peerSocket["last_activity_time"] : ItemPtr())
        if (QDateTime* when = ItemObject<QDateTime>(stamp))
            *when = now;
}

} // namespace peeritems
