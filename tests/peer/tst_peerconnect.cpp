// Forming connections: the dialled and the relayed attempt of ConnectToUser, the answer to
// another user's relayed request, and the indirect init message that completes our request.
#include "common/peerfixture.h"

#include <QtTest>

class TestPeerConnect : public QObject
{
    Q_OBJECT

    PeerFixture m_env;
    FakeServer& Server() { return m_env.env.fake; }
    QList<FakeServer::Frame> ServerFrames() { return m_env.ServerFrames(); }

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanup()
    {
        m_env.Clear();
        ServerFrames();
    }

    void connectToUserWithoutAddress_data() { PeerFixture::PlainAndObfuscated(); }
    void connectToUserWithoutAddress()
    {
        QFETCH(bool, obfuscated);
        const QString user = obfuscated ? "bobo" : "bob";
        peerMessenger->ConnectToUser(user, "P");
        QList<FakeServer::Frame> sent = ServerFrames();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[0].code, 18u);
        const quint32 token = qFromLittleEndian<quint32>(sent[0].fields.constData());
        QCOMPARE(sent[0].fields, FakePeer::U32(token) + FakePeer::Str(user) + FakePeer::Str("P"));
        QVERIFY(d.GetType("indirect_connect_to_peer_request")->HasItem(Value(token)));
        QCOMPARE(sent[1].code, 3u);
        QCOMPARE(sent[1].fields, FakePeer::Str(user));

        peerMessenger->ConnectToUser(user, "P");
        QCOMPARE(ServerFrames().size(), 0);

        // The address reply: the obfuscated port wins when there is one.
        FakePeer peer(obfuscated);
        QVERIFY(peer.Listen());
        const QByteArray ports = obfuscated
                                     ? FakePeer::U32(PeerFixture::ClosedPort()) + FakePeer::U32(1) + FakeServer::U16(peer.Port())
                                     : FakePeer::U32(peer.Port()) + FakePeer::U32(0) + FakeServer::U16(0);
        QVERIFY(Deliver(Server(), 3, FakePeer::Str(user) + FakePeer::U32(0x7f000001) + ports));
        QVERIFY(peer.WaitForFrames(1));
        QCOMPARE(peer.Frames()[0].body, Hex("01 02000000 6d65 01000000 50 00000000"));
        QTRY_VERIFY(PeerFixture::PeerSocketOf(user));
        ItemPtr record = d.GetType("peer_socket")->HasItem(Value(PeerFixture::PeerSocketOf(user)));
        QCOMPARE(record.IsConnected("is_obfuscated"), obfuscated);
        QVERIFY(!d.GetType("user")->GetItem(Value(user)).IsConnected("connect_to_peer_request"));
    }

    // The relayed request's own message brings the address to dial; an address stored before
    // must not be used.
    void relayedRequestDialsBack_data() { PeerFixture::PlainAndObfuscated(); }
    void relayedRequestDialsBack()
    {
        QFETCH(bool, obfuscated);
        const QString user = obfuscated ? "carol-o" : "carol";
        PeerFixture::StoreAddress(user, PeerFixture::ClosedPort());
        FakePeer peer(obfuscated);
        QVERIFY(peer.Listen());
        QVERIFY(obfuscated ? m_env.RelayedRequest(user, "P", PeerFixture::ClosedPort(), 777, peer.Port())
                           : m_env.RelayedRequest(user, "P", peer.Port(), 777));
        QVERIFY(peer.WaitForFrames(1));
        QCOMPARE(peer.Frames()[0].body, Hex("00 09030000"));
        QTRY_VERIFY(PeerFixture::PeerSocketOf(user));
        QCOMPARE(PeerFixture::Count("peer_connection_request"), size_t(0));
        QCOMPARE(ServerFrames().size(), 0);
    }

    // A relayed "D" request: once handed on, the socket is its new owner's, even when it closes.
    void relayedDNetSocketHandedOn()
    {
        FakePeer peer;
        QVERIFY(peer.Listen());
        QPointer<QTcpSocket> socket;
        auto c = connect(peerMessenger, &PeerMessenger::DNetConnectionRequested, this,
                         [&](QString, QTcpSocket* s) { socket = s; });
        QVERIFY(m_env.RelayedRequest("erin", "D", peer.Port(), 778));
        QTRY_VERIFY(socket);
        disconnect(c);
        QVERIFY(peer.WaitForFrames(1));
        peer.Close();
        QTRY_COMPARE(socket->state(), QAbstractSocket::UnconnectedState);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(socket);
        delete socket.data();
    }

    // Our relayed request answered: the peer dials us and names the token.
    void indirectInitCompletesOurRequest()
    {
        peerMessenger->RequestFileConnectionToUser("dave");
        const QList<FakeServer::Frame> sent = ServerFrames();
        QCOMPARE(sent.size(), 2);
        const quint32 token = qFromLittleEndian<quint32>(sent[0].fields.constData());

        QStringList users;
        QPointer<QTcpSocket> socket;
        auto c = connect(peerMessenger, &PeerMessenger::FileConnectionAccepted, this, [&](QString u, QTcpSocket* s) {
            users << u;
            socket = s;
        });
        FakePeer peer;
        QVERIFY(peer.ConnectTo(m_env.port));
        peer.SendRaw(FakePeer::PlainFrame(FakePeer::IndirectInit(token)) + "rest");
        QTRY_COMPARE(users, QStringList{"dave"});
        disconnect(c);
        QVERIFY(!socket->parent());  // free to go to a transfer thread
        QVERIFY(!d.GetType("user")->GetItem(Value("dave")).IsConnected("connect_to_peer_request"));
        QVERIFY(!d.GetType("indirect_connect_to_peer_request")->HasItem(Value(token)));
        QTRY_COMPARE(socket->bytesAvailable(), qint64(4));
        delete socket.data();
    }
};

QTEST_MAIN(TestPeerConnect)
#include "tst_peerconnect.moc"
