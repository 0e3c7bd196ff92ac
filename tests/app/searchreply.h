// A fake peer that answers searches: its messaging connection to the client, and its search
// replies (message 9), for the tests of the search page.
#pragma once

#include "common/fakepeer.h"
#include "model/data.h"
#include "peer/peermessenger.h"

#include <QList>
#include <QSignalSpy>
#include <QStringList>

struct Reply
{
    QStringList paths;  // full paths as the peer writes them
    QList<qint64> sizes;
    bool free = false;
    quint32 speed = 0;
    quint32 queue = 0;
};

inline QByteArray ReplyBody(const QString& user, quint32 token, const Reply& r)
{
    using P = FakePeer;
    QByteArray files = P::U32(quint32(r.paths.size()));
    for (int k = 0; k < r.paths.size(); ++k)
        files += P::File(r.paths[k], r.sizes.value(k, 1));
    return P::Zip(P::Str(user) + P::U32(token) + files + P::U8(r.free ? 1 : 0) + P::U32(r.speed) + P::U32(r.queue) +
                  P::U32(0));
}

// Connects the peer to the client's listening port as the user, and marks the user online.
inline bool ConnectSearchPeer(FakePeer& peer, quint16 port, const QString& name)
{
    if (!peer.ConnectTo(port))
        return false;
    peer.SendDirectInit(name, "P");
    ItemPtr user = d.GetType("user")->GetItem(Value(name));
    if (!QTest::qWaitFor([&] { return user.IsConnected("peer_socket"); }))
        return false;
    user.NewItem("is_online");
    return true;
}

// Sends the reply and waits until the client has taken it in.
inline bool SendReply(FakePeer& peer, const QString& user, quint32 token, const Reply& reply)
{
    QSignalSpy spy(peerMessenger, &PeerMessenger::SearchResults);
    peer.SendMessage(9, ReplyBody(user, token, reply));
    return spy.wait(5000);
}
