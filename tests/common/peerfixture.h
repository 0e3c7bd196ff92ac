// What a peer messenger needs around it in a test: the server fixture (fake central server,
// diagnostics), the messenger listening on two free ports of 127.0.0.1, and a test clock.
#pragma once

#include "common/deliver.h"
#include "common/fakepeer.h"
#include "common/serverfixture.h"
#include "model/settings.h"
#include "peer/peermessenger.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

class PeerFixture
{
public:
    // Logged in as "me" unless told otherwise; the clock stands at a whole second of a fixed day.
    bool SetUp(bool logIn = true)
    {
        if (!env.SetUp(true, false))
            return false;
        if (!peerMessenger)
            new PeerMessenger();
        port = FakePeer::FreePortPair();
        SetSetting("listening_port", Value(static_cast<int>(port)));
        SetSetting("obfuscated_listening_port", Value(static_cast<int>(port) + 1));
        peerMessenger->DataLoaded();
        // A December date: its month has another name in German, French and Russian than in
        // English, so a time kept in the desktop's language would not read back there.
        now = QDateTime(QDate(2026, 12, 5), QTime(19, 31, 47));
        PeerMessenger::SetClock([this] { return now; });
        env.SetLogin(QStringLiteral("me"), QStringLiteral("secret"));
        return port && (!logIn || env.LogIn());
    }

    // A fake peer with a messaging connection to the client as the user, on the port of its kind.
    bool Messaging(FakePeer& peer, const QString& user)
    {
        if (!peer.ConnectTo(peer.IsObfuscated() ? port + 1 : port))
            return false;
        const size_t before = d.GetType("user")->GetItem(Value(user)).GetItems("peer_socket").size();
        peer.SendDirectInit(user, "P");
        return QTest::qWaitFor(
            [&] { return d.GetType("user")->GetItem(Value(user)).GetItems("peer_socket").size() > before; }, 5000);
    }
    // What the client sent the server since the last call.
    QList<FakeServer::Frame> ServerFrames() { return env.Sync() ? env.fake.TakeFrames() : QList<FakeServer::Frame>(); }
    // The server relays another user's request (code 18) to dial it at 127.0.0.1.
    bool RelayedRequest(const QString& user, const QString& type, quint16 port, quint32 token, quint16 obfuscatedPort = 0)
    {
        return Deliver(env.fake, 18, FakePeer::Str(user) + FakePeer::Str(type) + FakePeer::U32(0x7f000001) +
                                         FakePeer::U32(port) + FakePeer::U32(token) + FakePeer::U8(0) +
                                         FakePeer::U32(obfuscatedPort ? 1 : 0) +
                                         (obfuscatedPort ? FakePeer::U32(obfuscatedPort) : QByteArray()));
    }
    // A port on 127.0.0.1 where nothing listens.
    static quint16 ClosedPort()
    {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost, 0);
        return s.serverPort();
    }

    // The rows of a case run once on each port.
    static void PlainAndObfuscated()
    {
        QTest::addColumn<bool>("obfuscated");
        QTest::newRow("plain") << false;
        QTest::newRow("obfuscated") << true;
    }

    // Moves the test clock on and runs the half-minute sweep.
    void Sweep(int seconds)
    {
        now = now.addSecs(seconds);
        peerMessenger->EveryHalfMinute();
    }

    // The socket of a user's messaging connection (the first when there are several).
    static QTcpSocket* PeerSocketOf(const QString& user)
    {
        ItemPtr u = d.GetType("user")->HasItem(Value(user));
        ItemPtr record = u ? u["peer_socket"] : ItemPtr();
        return record ? reinterpret_cast<QTcpSocket*>(static_cast<uintptr_t>(record.AsUInt64())) : nullptr;
    }
    static size_t Count(const char* type) { return d.GetType(type)->GetItems().size(); }
    // A user's address as the server would store it.
    static void StoreAddress(const QString& user, quint16 port, quint16 obfuscatedPort = 0)
    {
        ItemPtr u = d.GetType("user")->GetItem(Value(user));
        u += d.GetType("user_address")->GetItem(Value(0x7f000001u));
        u += d.GetType("user_port")->GetItem(Value(static_cast<int>(port)));
        u += d.GetType("user_obfuscated_port")->GetItem(Value(static_cast<int>(obfuscatedPort)));
    }
    // A connection on 127.0.0.1 through the listener: the client's end without a parent, as the
    // peer messenger hands sockets over, and the far end (a child of parent), which plays the
    // other client.
    static QPair<QTcpSocket*, QTcpSocket*> Link(QTcpServer& listener, QObject* parent)
    {
        auto* far = new QTcpSocket(parent);
        far->connectToHost(QHostAddress::LocalHost, listener.serverPort());
        if (!listener.waitForNewConnection(5000) || !far->waitForConnected(5000))
            return {};
        QTcpSocket* mine = listener.nextPendingConnection();
        mine->setParent(nullptr);
        return {mine, far};
    }
    // The messenger's log so far.
    static QString Log() { return LogText(QStringLiteral("Peer Messenger")); }

    // Ends every socket, attempt and queued message the messenger holds, so that nothing of one
    // case leaks into the next or outlives the process.
    static void Clear()
    {
        for (const char* kind : {"peer_connection_request_socket", "uninitialized_socket", "peer_socket",
                                 "connect_to_peer_request_socket"})
            for (ItemPtr record : d.GetType(kind)->GetItems())
                peerMessenger->DisposeOfSocket(reinterpret_cast<QTcpSocket*>(static_cast<uintptr_t>(record.AsUInt64())));
        for (ItemPtr item : d.GetType("unsent_message")->GetItems()) {
            delete reinterpret_cast<MemStream*>(static_cast<uintptr_t>(item.AsUInt64()));
            item.Remove();
        }
        for (const char* kind : {"connect_to_peer_request", "indirect_connect_to_peer_request", "peer_connection_request"})
            d.GetType(kind)->GetItems().Remove();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    ServerFixture env;
    quint16 port = 0;
    QDateTime now;
};
