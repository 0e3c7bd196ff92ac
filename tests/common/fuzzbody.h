// Random message bodies for the tests that feed readers random, truncated and mangled input.
#pragma once

#include "common/fakeserver.h"
#include "model/stream.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>

#include <functional>

namespace fuzz {

inline QByteArray Noise(QRandomGenerator& random, int size)
{
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random.bounded(256));
    return bytes;
}

// A body built from the pieces messages are made of, so that the handlers get past their first
// fields: small and boundary counts, short texts, single bytes, runs and raw noise, and, when
// given, pieces of the caller's own kind.
inline QByteArray StructuredBody(QRandomGenerator& random, const std::function<QByteArray()>& own = {})
{
    static const QList<quint32> counts = {0, 1, 2, 3, 0xFFFFFFFF, 0x80000000, 131072, 131073, 0x7FFFFFFF};
    QByteArray body;
    for (int pieces = random.bounded(own ? 14 : 12); pieces > 0; --pieces) {
        switch (random.bounded(own ? 7 : 6)) {
        case 0: body += FakeServer::U32(counts[random.bounded(counts.size())]); break;
        case 1: body += FakeServer::Str(QString::fromLatin1(Noise(random, random.bounded(6)))); break;
        case 2: body += FakeServer::U8(static_cast<quint8>(random.bounded(3))); break;
        case 3: body += QByteArray(20, static_cast<char>(random.bounded(256))); break;
        case 4: body += FakeServer::U32(random.generate()); break;
        case 5: body += Noise(random, random.bounded(8)); break;
        default: body += own();
        }
    }
    return body;
}

inline MemStream Stream(const QByteArray& bytes)
{
    MemStream body;
    body.WriteBuffer(bytes.constData(), static_cast<size_t>(bytes.size()));
    return body;
}

} // namespace fuzz
