// The peer wire: frames and their obfuscation, the init message of accepted connections, and
// the hand-off of file and distributed-network connections. Fake peers dial the client.
#include "common/peerfixture.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
QByteArray Frame(const QByteArray& body) { return FakePeer::PlainFrame(body); }
} // namespace

class TestPeerWire : public QObject
{
    Q_OBJECT

    PeerFixture m_env;

    bool Messaging(FakePeer& peer, const QString& user) { return m_env.Messaging(peer, user); }

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp(false)); }
    void cleanup() { m_env.Clear(); }

    // Hand-computed: key 12345678, rotated once for the length (2468acf0) and again for the body
    // (48d159e0), bytes taken least significant first; then in two runs, the second starting
    // inside a word.
    void obfuscationOfOneFrame()
    {
        QCOMPARE(FakePeer::ObfuscatedFrame("ABCD", 0x12345678), Hex("78563412 f4ac6824 a11b920c"));
        QByteArray bytes = Hex("04000000 41424344 45");
        uint32_t key = 0x12345678;
        PeerMessenger::XorSequence(bytes.data(), 3, key, 0);
        PeerMessenger::XorSequence(bytes.data() + 3, 6, key, 3);
        QCOMPARE(bytes, FakePeer::Xor(Hex("04000000 41424344 45"), 0x12345678));
    }

    void directInitMakesMessagingConnection_data() { PeerFixture::PlainAndObfuscated(); }
    void directInitMakesMessagingConnection()
    {
        QFETCH(bool, obfuscated);
        FakePeer peer(obfuscated);
        const QString user = obfuscated ? "bob-o" : "bob";
        QVERIFY(Messaging(peer, user));
        QCOMPARE(d.GetType("peer_socket")->HasItem(Value(PeerFixture::PeerSocketOf(user))).IsConnected("is_obfuscated"),
                 obfuscated);
        peerMessenger->GetUserInfo(user);
        peerMessenger->GetUserInfo(user);
        QVERIFY(peer.WaitForFrames(2));
        const QList<FakePeer::Frame> frames = peer.TakeFrames();
        for (const FakePeer::Frame& f : frames)
            QCOMPARE(f.body, Hex("0f000000"));
        if (obfuscated) {
            QVERIFY(frames[0].key != frames[1].key);
            QVERIFY(frames[0].raw != frames[1].raw);
        } else {
            QCOMPARE(frames[0].raw, Hex("04000000 0f000000"));
        }
    }

    // The limit holds; below it a header alone allocates nothing of its size.
    void frameLengthLimit()
    {
        FakePeer peer;
        QVERIFY(Messaging(peer, "big"));
        QTcpSocket* socket = PeerFixture::PeerSocketOf("big");
        peer.SendRaw(FakePeer::U32(10485760) + FakePeer::U32(1) + QByteArray(996, 'x'));
        QTRY_VERIFY(peerMessenger->ReceiveBufferCapacity(socket) >= 1000);
        QVERIFY(peerMessenger->ReceiveBufferCapacity(socket) < 65536);
        peer.SendRaw(QByteArray(10485760 - 1000, 'y'));
        QTRY_VERIFY(PeerFixture::Log().contains("Received PM_SAY message from user big"));
        QVERIFY(PeerFixture::PeerSocketOf("big"));

        peer.SendRaw(FakePeer::U32(10485761));
        QVERIFY(peer.WaitForDisconnect());
        QVERIFY(!PeerFixture::PeerSocketOf("big"));
    }

    void framesSplitAndJoined_data() { PeerFixture::PlainAndObfuscated(); }
    void framesSplitAndJoined()
    {
        QFETCH(bool, obfuscated);
        FakePeer peer(obfuscated);
        const QString user = obfuscated ? "split-o" : "split";
        QVERIFY(peer.ConnectTo(obfuscated ? m_env.port + 1 : m_env.port));
        // The init frame byte by byte, each byte its own arrival.
        const QByteArray init = obfuscated ? FakePeer::ObfuscatedFrame(FakePeer::DirectInit(user, "P"), 0x9abcdef1)
                                           : Frame(FakePeer::DirectInit(user, "P"));
        for (char c : init) {
            peer.SendRaw(QByteArray(1, c));
            QTest::qWait(2);
        }
        QTRY_VERIFY(PeerFixture::PeerSocketOf(user));
        // Three frames in one write, then one whose body is empty.
        QByteArray three;
        for (quint32 code : {1u, 8u, 10u})
            three += obfuscated ? FakePeer::ObfuscatedFrame(FakePeer::U32(code), code * 0x01010101u)
                                : Frame(FakePeer::U32(code));
        peer.SendRaw(three);
        const QString tail = " message from user " + user;
        QTRY_VERIFY(PeerFixture::Log().contains("PM_INVITE_USER_TO_ROOM" + tail));
        const QString log = PeerFixture::Log();
        QVERIFY(log.indexOf("PM_SAY" + tail) < log.indexOf("PM_FILE_SEARCH_REQUEST" + tail));
        QVERIFY(log.indexOf("PM_FILE_SEARCH_REQUEST" + tail) < log.indexOf("PM_INVITE_USER_TO_ROOM" + tail));
        // An empty body has no code; it is read once more bytes arrive behind its header.
        peer.SendRaw((obfuscated ? FakePeer::ObfuscatedFrame(QByteArray(), 5) : Frame(QByteArray())) + "z");
        QVERIFY(peer.WaitForDisconnect());
        QVERIFY(PeerFixture::Log().contains("Could not read message code on connection to user " + user));
    }

    // File and distributed-network connections leave the framed protocol after their init (a file
    // one after its ticket, read raw also on the obfuscated port); the bytes behind stay in the
    // socket, which is free to go to another thread.
    void connectionHandedOn_data()
    {
        QTest::addColumn<bool>("obfuscated");
        QTest::addColumn<QString>("type");
        QTest::newRow("F") << false << "F";
        QTest::newRow("F, obfuscated") << true << "F";
        QTest::newRow("D") << false << "D";
    }
    void connectionHandedOn()
    {
        QFETCH(bool, obfuscated);
        QFETCH(QString, type);
        FakePeer peer(obfuscated);
        QVERIFY(peer.ConnectTo(obfuscated ? m_env.port + 1 : m_env.port));
        QString got;
        QPointer<QTcpSocket> socket;
        auto c1 = connect(peerMessenger, &PeerMessenger::FileConnectionRequested, this,
                          [&](QString u, QTcpSocket* s, uint t) { got = u + " F " + QString::number(t, 16), socket = s; });
        auto c2 = connect(peerMessenger, &PeerMessenger::DNetConnectionRequested, this,
                          [&](QString u, QTcpSocket* s) { got = u + " D", socket = s; });
        const QByteArray init = FakePeer::DirectInit("fred", type);
        const QByteArray ticket = type == "F" ? Hex("efbeadde") : QByteArray();
        peer.SendRaw((obfuscated ? FakePeer::ObfuscatedFrame(init, 0x11111111) : Frame(init)) + ticket + "tail");
        QTRY_VERIFY(socket);
        disconnect(c1), disconnect(c2);
        QCOMPARE(got, type == "F" ? QString("fred F deadbeef") : QString("fred D"));
        QVERIFY(!socket->parent());
        QCOMPARE(peerMessenger->ReceiveBufferCapacity(socket), size_t(0));
        QTRY_COMPARE(socket->bytesAvailable(), qint64(4));
        QCOMPARE(socket->readAll(), QByteArray("tail"));
        delete socket.data();
    }

    void badInitClosesSocket_data()
    {
        QTest::addColumn<QByteArray>("init");
        QTest::addColumn<QString>("line");
        QTest::newRow("unknown type") << FakePeer::DirectInit("xena", "X") << "Peer connection of type X opened from user xena";
        QTest::newRow("unknown token") << FakePeer::IndirectInit(424242) << "Req sent on indirect peer connection not found";
        QTest::newRow("no token") << FakePeer::DirectInit("yul", "P").chopped(4) << "Failure initializing peer connection";
        QTest::newRow("empty") << QByteArray() << "Failed to read direction from new peer connection";
    }
    void badInitClosesSocket()
    {
        QFETCH(QByteArray, init);
        QFETCH(QString, line);
        FakePeer peer;
        QVERIFY(peer.ConnectTo(m_env.port));
        const size_t states = peerMessenger->ReceiveStateCount();
        peer.SendRaw(Frame(init) + "z");
        QVERIFY(peer.WaitForDisconnect());
        QVERIFY(PeerFixture::Log().contains(line));
        QTRY_COMPARE(peerMessenger->ReceiveStateCount(), states - 1);
        QCOMPARE(PeerFixture::Count("uninitialized_socket"), size_t(0));
        QCOMPARE(PeerFixture::Count("peer_socket"), size_t(0));
    }

    // Receive state is keyed by the socket's address: whatever ends a socket ends its state, so
    // a later socket at the same address starts with none (no ticket wait, no user name).
    void receiveStateGoesWithTheSocket()
    {
        const size_t before = peerMessenger->ReceiveStateCount();
        FakePeer waiting;
        QVERIFY(waiting.ConnectTo(m_env.port));
        QTRY_COMPARE(peerMessenger->ReceiveStateCount(), before + 1);
        waiting.SendDirectInit("walt", "F");
        QTRY_VERIFY(PeerFixture::Log().contains("Accepted file connection to user walt"));
        waiting.Close();
        QTRY_COMPARE(peerMessenger->ReceiveStateCount(), before);

        FakePeer destroyed;
        QVERIFY(destroyed.ConnectTo(m_env.port));
        QTRY_COMPARE(PeerFixture::Count("uninitialized_socket"), size_t(1));
        ItemPtr record = *d.GetType("uninitialized_socket")->GetItems().begin();
        auto* socket = reinterpret_cast<QTcpSocket*>(static_cast<uintptr_t>(record.AsUInt64()));
        QCOMPARE(peerMessenger->ReceiveStateCount(), before + 1);
        // Nothing but its destruction tells the messenger.
        disconnect(socket, &QTcpSocket::disconnected, nullptr, nullptr);
        disconnect(socket, &QTcpSocket::errorOccurred, nullptr, nullptr);
        record.Remove();
        delete socket;
        QCOMPARE(peerMessenger->ReceiveStateCount(), before);
    }
};

QTEST_MAIN(TestPeerWire)
#include "tst_peerwire.moc"
