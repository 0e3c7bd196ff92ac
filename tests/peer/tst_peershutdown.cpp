// The messenger's end: the connections that die with its listeners report their close while it
// is being destroyed, and that report must change nothing.
#include "common/peerfixture.h"

#include <QPointer>
#include <QtTest>

class TestPeerShutdown : public QObject
{
    Q_OBJECT

    PeerFixture m_env;

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }

    // From the start of the destructor on, a late call changes neither the records nor what the
    // server is told: tried here on a live messenger with the flag raised.
    void nothingTouchedOnceDeleted()
    {
        FakePeer peer;
        QVERIFY(peer.ConnectTo(m_env.port));
        peer.SendDirectInit("yan", "P");
        QTRY_VERIFY(PeerFixture::PeerSocketOf("yan"));
        peerMessenger->ConnectToUser("yul", "P");
        QVERIFY(m_env.env.Sync());
        const quint32 token = qFromLittleEndian<quint32>(m_env.env.fake.Frames()[0].fields.constData());
        m_env.env.fake.ClearFrames();
        const QDateTime before = m_env.now;

        g_peerMessengerDeleted = true;
        m_env.Sweep(600);
        peerMessenger->OnIndirectPeerConnectionFailure(token);
        peerMessenger->DisposeOfSocket(PeerFixture::PeerSocketOf("yan"));
        peerMessenger->ConnectToUser("ava", "P");
        peerMessenger->GetUserInfo("ava");
        peerMessenger->GetUserInfo("yan");
        g_peerMessengerDeleted = false;

        QVERIFY(PeerFixture::PeerSocketOf("yan"));
        QVERIFY(d.GetType("indirect_connect_to_peer_request")->HasItem(Value(token)));
        QVERIFY(d.GetType("user")->GetItem(Value("yul"))["connect_to_peer_request"]);
        QCOMPARE(PeerFixture::Count("unsent_message"), size_t(0));
        QVERIFY(m_env.env.Sync());
        QCOMPARE(m_env.env.fake.Frames().size(), 0);
        QTest::qWait(20);
        QCOMPARE(peer.Frames().size(), 0);
        m_env.now = before;
        m_env.Clear();
        QVERIFY(m_env.env.Sync());
        m_env.env.fake.ClearFrames();
    }

    // The end frees what the messenger still holds: the open sockets, accepted and dialled, the
    // queued messages and the activity stamps, with their records. The closes that follow report
    // nothing and change nothing.
    void closesDuringDestructionChangeNothing()
    {
        FakePeer messaging, silent;
        QVERIFY(messaging.ConnectTo(m_env.port));
        messaging.SendDirectInit("zed", "P");
        QTRY_VERIFY(PeerFixture::PeerSocketOf("zed"));
        QVERIFY(silent.ConnectTo(m_env.port));
        QTRY_COMPARE(PeerFixture::Count("uninitialized_socket"), size_t(1));
        BlackHole hole;
        QVERIFY(hole.Open());
        PeerFixture::StoreAddress("dia", hole.Port());
        peerMessenger->GetUserInfo("dia");
        QCOMPARE(PeerFixture::Count("connect_to_peer_request_socket"), size_t(1));
        QCOMPARE(PeerFixture::Count("unsent_message"), size_t(1));
        QList<QPointer<QTcpSocket>> sockets;
        for (const char* kind : {"peer_socket", "uninitialized_socket", "connect_to_peer_request_socket"})
            sockets << reinterpret_cast<QTcpSocket*>(static_cast<uintptr_t>((*d.GetType(kind)->GetItems().begin()).AsUInt64()));
        QVERIFY(m_env.env.Sync());
        m_env.env.fake.ClearFrames();

        const int logged = PeerFixture::Log().size();
        delete peerMessenger;
        QVERIFY(g_peerMessengerDeleted);
        for (const QPointer<QTcpSocket>& socket : sockets)
            QVERIFY(socket.isNull());
        QVERIFY(messaging.WaitForDisconnect());
        QVERIFY(silent.WaitForDisconnect());
        for (const char* kind : {"peer_socket", "uninitialized_socket", "connect_to_peer_request_socket", "unsent_message",
                                 "last_activity_time"})
            QCOMPARE(PeerFixture::Count(kind), size_t(0));
        QVERIFY(!PeerFixture::Log().mid(logged).contains("Disposing of socket"));
        QVERIFY(m_env.env.Sync());
        QCOMPARE(m_env.env.fake.Frames().size(), 0);
        d.GetType("connect_to_peer_request")->GetItems().Remove();
        d.GetType("indirect_connect_to_peer_request")->GetItems().Remove();
    }
};

QTEST_MAIN(TestPeerShutdown)
#include "tst_peershutdown.moc"
