// Sends server messages from the fake server and waits until the client has handled them.
#pragma once

#include "common/fakeserver.h"
#include "model/data.h"
#include "server/server.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTest>
#include <QVector>

using F = FakeServer;

// Hex digits, blanks allowed between them for readability.
inline QByteArray Hex(const char* hex) { return QByteArray::fromHex(QByteArray(hex).replace(' ', "")); }

// A counted list of texts, and of signed numbers.
template <typename T, typename Write>
QByteArray Counted(const QVector<T>& values, Write write)
{
    QByteArray out = F::U32(static_cast<quint32>(values.size()));
    for (const T& v : values)
        out += write(v);
    return out;
}
inline QByteArray Strs(const QStringList& texts) { return Counted(texts.toVector(), F::Str); }
inline QByteArray Ints(const QVector<qint32>& values) { return Counted(values, F::I32); }

// A user statistics record: average speed, the u64 download count, shared files and folders.
inline QByteArray Stats(quint32 speed, quint32 files, quint32 countLow = 0, quint32 folders = 0)
{
    return F::U32(speed) + F::U32(countLow) + F::U32(0) + F::U32(files) + F::U32(folders);
}

// Messages are handled in the order they arrive, so once a delivery report with a marker of its
// own has come through, everything sent before it has been handled too. The markers are
// negative so that a test of the delivery report itself can tell them from its own values.
inline bool Deliver(FakeServer& fake, quint32 code, const QByteArray& fields = QByteArray())
{
    static qint32 s_marker = -1000000;
    const qint32 marker = --s_marker;
    bool seen = false;
    const QMetaObject::Connection c =
        QObject::connect(gp_server, &Server::DNetDeliveryReport, [&](int value) { seen = seen || value == marker; });
    fake.Send(code, fields);
    fake.Send(128, FakeServer::I32(marker));
    const bool ok = QTest::qWaitFor([&] { return seen; }, 5000);
    QObject::disconnect(c);
    return ok;
}

inline bool IsDeliveryMarker(int value) { return value <= -1000000; }

// The item of a type and value, null when missing (never created here).
inline ItemPtr Find(const char* typeName, const QString& value) { return d.GetType(typeName)->HasItem(Value(value)); }

// The text of an item's one neighbour of a type, or "-" when it has none.
inline QString ValueOf(ItemPtr item, const char* typeName)
{
    ItemPtr n = item ? item[typeName] : ItemPtr();
    return !item ? QStringLiteral("<no item>") : n ? n.AsString() : QStringLiteral("-");
}

// Everything the client has sent since the fake's frames were last cleared, raw and in order;
// the frames are cleared. A keep-alive sent behind them marks the end, so nothing that is
// still on its way can be missed.
inline QByteArray SentSoFar(FakeServer& fake)
{
    gp_server->EveryFiveMinutes();
    if (!QTest::qWaitFor([&] { return !fake.Frames().isEmpty() && fake.Frames().last().code == 32; }, 5000))
        return "no keep-alive";
    QByteArray all;
    const QList<FakeServer::Frame> frames = fake.TakeFrames();
    for (int k = 0; k + 1 < frames.size(); ++k)
        all += frames[k].raw;
    return all;
}
