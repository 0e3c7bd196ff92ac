// Forming connections (dialled, relayed, dialled back, completed by an indirect init); sending by
// user name: the unsent-message queue, the newest-connection rule, the request builders; and how
// attempts and connections end: failures, the server's report, the sweep.
#include "common/peerfixture.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
// A socket that takes writes without a connection and refuses the one it is told to.
class FailingSocket : public QTcpSocket
{
public:
    explicit FailingSocket(int failAt) : m_failAt(failAt) { QIODevice::open(QIODevice::ReadWrite); }
    QByteArray written;

protected:
    qint64 writeData(const char* data, qint64 n) override
    {
        if (++m_writes == m_failAt)
            return -1;
        written.append(data, static_cast<int>(n));
        return n;
    }

private:
    int m_failAt;
    int m_writes = 0;
};
} // namespace

class TestPeerQueue : public QObject
{
    Q_OBJECT

    PeerFixture m_env;
    FakeServer& Server() { return m_env.env.fake; }

    QList<FakeServer::Frame> ServerFrames() { return m_env.ServerFrames(); }
    QList<quint32> ServerCodes()
    {
        QList<quint32> codes;
        for (const FakeServer::Frame& f : ServerFrames())
            codes << f.code;
        return codes;
    }
    bool Messaging(FakePeer& peer, const QString& user) { return m_env.Messaging(peer, user); }
    static ItemPtr Attempt(const QString& user)
    {
        return d.GetType("user")->GetItem(Value(user))["connect_to_peer_request"];
    }
    static size_t Queued(const QString& user)
    {
        return d.GetType("user")->GetItem(Value(user)).GetItems("unsent_message").size();
    }

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanup()
    {
        m_env.Clear();
        ServerFrames();
    }

    void queuedUntilConnectedThenSentInOrder()
    {
        peerMessenger->GetUserSharedFiles("quinn");
        peerMessenger->GetUserInfo("quinn");
        peerMessenger->QueueDownload("quinn", "music\\a.mp3");
        QCOMPARE(ServerCodes(), QList<quint32>({18, 3}));
        QCOMPARE(Queued("quinn"), size_t(3));

        FakePeer peer;
        QVERIFY(peer.Listen());
        QVERIFY(Deliver(Server(), 3,
                        FakePeer::Str("quinn") + FakePeer::U32(0x7f000001) + FakePeer::U32(peer.Port()) +
                            FakePeer::U32(0) + FakeServer::U16(0)));
        QVERIFY(peer.WaitForFrames(4));
        QCOMPARE(peer.Frames()[1].body, Hex("04000000"));
        QCOMPARE(peer.Frames()[2].body, Hex("0f000000"));
        QCOMPARE(peer.Frames()[3].body, Hex("2b000000 0b000000") + "music\\a.mp3");
        QCOMPARE(Queued("quinn"), size_t(0));
    }

    // Whichever of the two the set holds first, the one opened later is used.
    void newestConnectionWins_data()
    {
        QTest::addColumn<bool>("firstIsNewer");
        QTest::newRow("first newer") << true;
        QTest::newRow("second newer") << false;
    }
    void newestConnectionWins()
    {
        QFETCH(bool, firstIsNewer);
        const QString user = firstIsNewer ? "eve" : "fay";
        FakePeer first, second;
        const QDateTime start = m_env.now;
        m_env.now = start.addSecs(firstIsNewer ? 5 : 0);
        QVERIFY(Messaging(first, user));
        m_env.now = start.addSecs(firstIsNewer ? 0 : 5);
        QVERIFY(Messaging(second, user));
        m_env.now = start.addSecs(5);
        peerMessenger->GetUserInfo(user);
        FakePeer& newer = firstIsNewer ? first : second;
        FakePeer& older = firstIsNewer ? second : first;
        QVERIFY(newer.WaitForFrames(1));
        QTest::qWait(20);
        QCOMPARE(older.Frames().size(), 0);
    }

    void requestBuilders()
    {
        FakePeer peer;
        QVERIFY(Messaging(peer, "gus"));
        d.GetType("global")->GetItem(Value("transfer_req_counter")).Disconnect("global_value");
        QCOMPARE(peerMessenger->RequestUpload("gus", "f", 5), 0u);
        QCOMPARE(GetSetting("transfer_req_counter"), QString("1"));
        QCOMPARE(peerMessenger->RequestUpload("gus", "f", 5), 1u);
        peerMessenger->AcceptTransferRequest("gus", 7, false, 10);
        peerMessenger->AcceptTransferRequest("gus", 7, true, 10);
        peerMessenger->DenyTransferRequest("gus", 7, "Queued");
        peerMessenger->SendUploadPlaceInLine("gus", "f", 3);
        peerMessenger->DenyUpload("gus", "f", "");
        peerMessenger->QueueUpload("gus", "f", 5);
        const QList<QByteArray> expected = {
            Hex("28000000 01000000 00000000 01000000 66 0500000000000000"),
            Hex("28000000 01000000 01000000 01000000 66 0500000000000000"),
            Hex("29000000 07000000 01"),
            Hex("29000000 07000000 01 0a00000000000000"),
            Hex("29000000 07000000 00 06000000") + "Queued",
            Hex("2c000000 01000000 66 03000000"),
            Hex("32000000 01000000 66 00000000"),
            Hex("3c000000 01000000 66 0500000000000000"),
        };
        QVERIFY(peer.WaitForFrames(expected.size()));
        for (int k = 0; k < expected.size(); ++k)
            QCOMPARE(peer.Frames()[k].body, expected[k]);
    }

    void flushStopsAtFailedWrite()
    {
        peerMessenger->GetUserSharedFiles("ivy");
        peerMessenger->GetUserInfo("ivy");
        peerMessenger->QueueUpload("ivy", "f", 5);
        ServerFrames();
        const ItemSet queued = d.GetType("user")->GetItem(Value("ivy")).GetItems("unsent_message");
        const std::list<ItemPtr> ordered = queued.SortNumericBy("send_order", true);
        auto* socket = new FailingSocket(2);
        ItemPtr record = d.GetType("peer_socket")->NewItem(Value(static_cast<QTcpSocket*>(socket)));
        record += d.GetType("user")->GetItem(Value("ivy"));
        peerMessenger->SendUnsentMessages("ivy");
        QCOMPARE(socket->written, Hex("04000000 04000000"));
        const std::list<ItemPtr> left =
            d.GetType("user")->GetItem(Value("ivy")).GetItems("unsent_message").SortNumericBy("send_order", true);
        QCOMPARE(left, std::list<ItemPtr>(std::next(ordered.begin()), ordered.end()));
        record.Remove();
        delete socket;
    }

    // A dial-back that cannot connect is reported to the server with the request's token, once;
    // one still connecting when the sweep gives up on it is ended at once.
    void dialBackFailureReportedOnce_data()
    {
        QTest::addColumn<bool>("stuck");
        QTest::newRow("closed port") << false;
        QTest::newRow("still connecting") << true;
    }
    void dialBackFailureReportedOnce()
    {
        QFETCH(bool, stuck);
        BlackHole hole;
        QVERIFY(hole.Open());
        QVERIFY(m_env.RelayedRequest("hank", "P", stuck ? hole.Port() : PeerFixture::ClosedPort(), 4242));
        if (stuck) {
            QTRY_COMPARE(PeerFixture::Count("peer_connection_request_socket"), size_t(1));
            m_env.Sweep(60);
            QCOMPARE(PeerFixture::Count("peer_connection_request_socket"), size_t(0));
            QCOMPARE(PeerFixture::Count("peer_connection_request"), size_t(0));
        }
        QTRY_COMPARE(PeerFixture::Count("peer_connection_request"), size_t(0));
        QCOMPARE(PeerFixture::Count("peer_connection_request_socket"), size_t(0));
        m_env.Sweep(60);
        const QList<FakeServer::Frame> sent = ServerFrames();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].code, 1001u);
        QCOMPARE(sent[0].fields, FakePeer::U32(4242) + FakePeer::Str("hank"));
    }

    // Closed at 120 s without activity, not before. A peer that only downloads sends nothing
    // meanwhile: what is still unsent goes out whole before the close, and new messages wait for
    // another connection. One that has not taken it all by the next sweep is cut off.
    void idleConnectionClosed_data()
    {
        QTest::addColumn<int>("reading");
        QTest::newRow("peer reads") << 0;
        QTest::newRow("peer reads after the close") << 1;
        QTest::newRow("peer reads nothing") << 2;
    }
    void idleConnectionClosed()
    {
        QFETCH(int, reading);
        FakePeer peer;
        QVERIFY(Messaging(peer, "ida"));
        MemStream big;
        big.Write(uint32_t(5));
        QByteArray filler(32 * 1024 * 1024, 'x');
        for (int k = 0; k < filler.size(); k += 4096)
            filler[k] = char(k / 4096);
        big.WriteBuffer(filler.constData(), size_t(filler.size()));
        if (reading > 0)
            peer.SetReading(false);
        peerMessenger->SendMessage("ida", big);
        if (reading == 0)
            QVERIFY(peer.WaitForFrames(1, 30000));
        m_env.Sweep(119);
        QVERIFY(PeerFixture::PeerSocketOf("ida"));
        m_env.Sweep(1);
        if (reading == 0) {
            QVERIFY(!PeerFixture::PeerSocketOf("ida"));
            QVERIFY(peer.WaitForDisconnect());
            return;
        }
        QVERIFY(PeerFixture::PeerSocketOf("ida"));
        peerMessenger->GetUserInfo("ida");
        QCOMPARE(Queued("ida"), size_t(1));
        if (reading == 2) {
            m_env.Sweep(30);
            QVERIFY(!PeerFixture::PeerSocketOf("ida"));
            peer.SetReading(true);
            QVERIFY(peer.WaitForDisconnect());
            QCOMPARE(peer.Frames().size(), 0);
            return;
        }
        peer.SetReading(true);
        QVERIFY(peer.WaitForFrames(1, 60000));
        QCOMPARE(peer.Frames()[0].body.size(), filler.size() + 4);
        QVERIFY(peer.Frames()[0].body.mid(4) == filler);
        QVERIFY(peer.WaitForDisconnect());
        QTRY_VERIFY(!PeerFixture::PeerSocketOf("ida"));
    }

    // However many messages wait for users we cannot reach, the queue keeps the newest within
    // its bounds per user and in all.
    void unsentQueueBounded()
    {
        for (int k = 0; k < 1005; ++k)
            peerMessenger->SendUploadPlaceInLine("una", QString::number(k), k);
        QCOMPARE(Queued("una"), size_t(1000));
        QCOMPARE(PeerFixture::Log().count("Too many unsent messages to user una, dropping the oldest"), 5);
        // The five oldest went: the first one left is number 5.
        ItemSet left = d.GetType("user")->GetItem(Value("una")).GetItems("unsent_message");
        const auto* first = reinterpret_cast<MemStream*>(
            static_cast<uintptr_t>(left.SortNumericBy("send_order", true).front().AsUInt64()));
        QCOMPARE(QByteArray(first->GetBuffer() + 8, 1), QByteArray("5"));

        // Nine more users of a thousand each fill the queue; the next message pushes out una's oldest.
        for (int u = 0; u < 9; ++u)
            for (int k = 0; k < 1000; ++k)
                peerMessenger->SendUploadPlaceInLine(QString("many%1").arg(u), "f", k);
        QCOMPARE(PeerFixture::Count("unsent_message"), size_t(10000));
        peerMessenger->GetUserInfo("late");
        QCOMPARE(PeerFixture::Count("unsent_message"), size_t(10000));
        QCOMPARE(Queued("una"), size_t(999));
        QCOMPARE(Queued("late"), size_t(1));
        QVERIFY(PeerFixture::Log().contains("Unsent message queue full, dropping the oldest message, to user una"));

        // And by bytes: large messages push out as many as they need.
        m_env.Clear();
        MemStream large;
        large.Write(uint32_t(1));
        const QByteArray filler(20 * 1024 * 1024, 'x');
        large.WriteBuffer(filler.constData(), size_t(filler.size()));
        for (int k = 0; k < 4; ++k)
            peerMessenger->SendMessage(QString("big%1").arg(k), large);
        QCOMPARE(PeerFixture::Count("unsent_message"), size_t(3));
        QCOMPARE(Queued("big0"), size_t(0));
        // Sent or expired messages leave room again.
        m_env.Sweep(300);
        QCOMPARE(PeerFixture::Count("unsent_message"), size_t(0));
        for (int k = 0; k < 3; ++k)
            peerMessenger->SendMessage(QString("big%1").arg(k), large);
        QCOMPARE(PeerFixture::Count("unsent_message"), size_t(3));
    }

    // The message goes at 300 s; the attempt made for a later message of the same user goes on.
    void queuedMessageExpires()
    {
        peerMessenger->GetUserInfo("jo");
        m_env.Sweep(60);  // the first attempt has failed by now
        QVERIFY(!Attempt("jo"));
        m_env.now = m_env.now.addSecs(220);
        peerMessenger->GetUserSharedFiles("jo");
        QVERIFY(Attempt("jo"));
        m_env.Sweep(19);
        QCOMPARE(Queued("jo"), size_t(2));
        m_env.Sweep(1);
        QCOMPARE(Queued("jo"), size_t(1));
        QVERIFY(Attempt("jo"));
    }

    // The relayed half expires first, the direct half fails later: one report, after which a new
    // call starts afresh.
    void attemptFailsOnceWhenBothHalvesEnd()
    {
        QSignalSpy failed(peerMessenger, &PeerMessenger::ConnectionToUserFailed);
        peerMessenger->ConnectToUser("kim", "P");
        QCOMPARE(ServerCodes(), QList<quint32>({18, 3}));
        m_env.now = m_env.now.addSecs(50);
        PeerFixture::StoreAddress("kim", PeerFixture::ClosedPort());
        QVERIFY(Attempt("kim").IsConnected("connect_to_peer_request_socket"));
        m_env.Sweep(10);
        QCOMPARE(failed.size(), 0);
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed[0], QVariantList({"kim", "P"}));
        QVERIFY(!Attempt("kim"));
        m_env.Sweep(60);
        QCOMPARE(failed.size(), 1);

        peerMessenger->ConnectToUser("kim", "P");
        QCOMPARE(ServerCodes(), QList<quint32>({18}));
        QVERIFY(Attempt("kim"));
    }

    void serverReportWhileDirectConnecting()
    {
        BlackHole hole;
        QVERIFY(hole.Open());
        PeerFixture::StoreAddress("lou", hole.Port());
        QSignalSpy failed(peerMessenger, &PeerMessenger::ConnectionToUserFailed);
        peerMessenger->ConnectToUser("lou", "P");
        const QList<FakeServer::Frame> sent = ServerFrames();
        QCOMPARE(sent.size(), 1);
        const quint32 token = qFromLittleEndian<quint32>(sent[0].fields.constData());
        QVERIFY(Deliver(Server(), 1001, FakePeer::U32(token)));
        QVERIFY(Attempt("lou").IsConnected("connect_to_peer_request_socket"));
        QCOMPARE(Attempt("lou")["connect_to_peer_request_status"].AsString(), QString("connecting"));
        QCOMPARE(failed.size(), 0);
    }

    // Accepted sockets that never send their init, and file sockets that never send their
    // ticket, go after 60 s, without a word to the server.
    void silentSocketsDropped_data()
    {
        QTest::addColumn<bool>("fileInit");
        QTest::newRow("no init") << false;
        QTest::newRow("no ticket") << true;
    }
    void silentSocketsDropped()
    {
        QFETCH(bool, fileInit);
        const size_t states = peerMessenger->ReceiveStateCount();
        FakePeer peer;
        QVERIFY(peer.ConnectTo(m_env.port));
        QTRY_COMPARE(peerMessenger->ReceiveStateCount(), states + 1);
        if (fileInit) {
            peer.SendDirectInit("nell", "F");
            QTRY_VERIFY(PeerFixture::Log().contains("Accepted file connection to user nell"));
        }
        m_env.Sweep(59);
        QVERIFY(peer.IsConnected());
        m_env.Sweep(1);
        QCOMPARE(peerMessenger->ReceiveStateCount(), states);
        QCOMPARE(PeerFixture::Count("uninitialized_socket"), size_t(0));
        QVERIFY(peer.WaitForDisconnect());
        QCOMPARE(ServerFrames().size(), 0);
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

QTEST_MAIN(TestPeerQueue)
#include "tst_peerqueue.moc"
