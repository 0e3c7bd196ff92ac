// A search reply as a fake peer sends it (message 9), for the tests of the search page.
#pragma once

#include "common/fakepeer.h"

#include <QList>
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
