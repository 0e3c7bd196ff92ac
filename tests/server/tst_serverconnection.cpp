// The central-server connection against a fake server on 127.0.0.1: login, what follows a login,
// refusal, drops and reconnects, keep-alive, and the cutting of the received stream into frames.
#include "common/deliver.h"
#include "common/serverfixture.h"
#include "model/data.h"
#include "model/settings.h"
#include "server/portforwarder.h"
#include "server/server.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

namespace {

QStringList g_ioWarnings;
QtMessageHandler g_previousHandler = nullptr;

// Reading from a closed socket makes Qt warn about the device; no such warning may appear.
void RecordIoWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.contains(QLatin1String("QIODevice")))
        g_ioWarnings << message;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

ItemPtr User(const char* name) { return d.GetType("user")->GetItem(Value(name)); }
ItemSet OnlineUsers() { return g("is_online").GetItems("user"); }

// Waits until the port forwarder's worker has handled everything queued before this call.
QList<int> MappedPortsAfterQueue()
{
    const int sentinel = 65001 + RecordingGateway::MappedPorts().size();
    portForwarder->AddPortMapping(gp_server->GetSocket(), sentinel);
    if (!QTest::qWaitFor([&] { return RecordingGateway::MappedPorts().contains(sentinel); }, 5000))
        return {-1};
    QList<int> ports;
    for (int port : RecordingGateway::MappedPorts())
        if (port <= 65000)
            ports << port;
    return ports;
}

} // namespace

class TestServerConnection : public QObject
{
    Q_OBJECT

    ServerFixture m_env;

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.SetUp());
        g_previousHandler = qInstallMessageHandler(RecordIoWarnings);
    }

    void cleanup()
    {
        QVERIFY(m_env.Reset());
        QVERIFY2(g_ioWarnings.isEmpty(), qPrintable(g_ioWarnings.join('\n')));
    }

    void firstLogin()
    {
        m_env.SetLogin("alice", "secret");
        SetSetting("use_upnp", Value("yes"));
        SetSetting("listening_port", Value(2234));
        SetSetting("obfuscated_listening_port", Value(2237));
        d.GetType("room")->GetItem(Value("lobby")).NewItem("room_autojoin");
        SetSetting("availability_status", Value("away"));
        User("bob").NewItem("is_tracked");
        User("carol") += d.GetType("user_address_request")->NewItem();

        QSignalSpy connecting(gp_server, &Server::Connecting);
        QSignalSpy connected(gp_server, &Server::Connected);
        gp_server->Connect();
        QCOMPARE(connecting.count(), 1);
        QVERIFY(LogText("server").contains(QString("Attempting connection on port %1").arg(m_env.fake.Port())));

        QVERIFY(m_env.fake.WaitForFrames(1));
        QCOMPARE(m_env.fake.Frames()[0].raw,
                 Hex("43000000 01000000 05000000 616c696365 06000000 736563726574 9d000000 20000000") +
                     QByteArray("c4e31313222cf05fcdd1fc068af5570e") + Hex("64000000"));
        QCOMPARE(gp_server->GetConnectionState(), int(Server::StateConnecting));
        m_env.fake.ClearFrames();

        m_env.fake.SendRaw(F::LoginAccepted());
        QTRY_COMPARE(connected.count(), 1);

        // Auto-join room, away status, tracked user, pending address request, in that order.
        QVERIFY(m_env.fake.WaitForFrames(4));
        QCOMPARE(m_env.fake.RawBytes(), Hex("11000000 0e000000 05000000 6c6f626279 00000000"
                                            "08000000 1c000000 01000000"
                                            "0b000000 05000000 03000000 626f62"
                                            "0d000000 03000000 05000000 6361726f6c"));
        QCOMPARE(GetSetting("accept_room_list"), QString("yes"));
        QCOMPARE(RecordingGateway::DiscoveryCount(), 1);
        QCOMPARE(MappedPortsAfterQueue(), QList<int>({2234, 2237}));
    }

    void dropAfterLoginReconnectsAtNextTick()
    {
        // Continues from the first login: auto-join and port mapping belong to that one only.
        SetSetting("obfuscated_listening_port", Value(0));
        QVERIFY(m_env.LogIn());
        QCOMPARE(MappedPortsAfterQueue(), QList<int>({2234, 2237}));
        User("bob").NewItem("is_online");
        User("dave").NewItem("is_online");

        QSignalSpy disconnected(gp_server, &Server::Disconnected);
        QSignalSpy failed(gp_server, &Server::ConnectionFailed);
        m_env.fake.DropClient();
        QTRY_COMPARE(disconnected.count(), 1);
        QCOMPARE(failed.count(), 0);
        QVERIFY(gp_server->IsAbruptlyDisconnected());
        QVERIFY(OnlineUsers().empty());

        const int connections = m_env.fake.ConnectionCount();
        gp_server->AttemptReconnect();
        QVERIFY(m_env.fake.WaitForFrames(1));
        QCOMPARE(m_env.fake.ConnectionCount(), connections + 1);
        QCOMPARE(m_env.fake.Frames()[0].code, 1u);
        QVERIFY(!gp_server->IsAbruptlyDisconnected());
        m_env.fake.ClearFrames();

        QSignalSpy connected(gp_server, &Server::Connected);
        m_env.fake.SendRaw(F::LoginAccepted());
        QTRY_COMPARE(connected.count(), 1);
        QVERIFY(m_env.fake.WaitForFrames(3));
        QCOMPARE(m_env.fake.Codes(), QList<quint32>({28, 5, 3}));
        QCOMPARE(MappedPortsAfterQueue(), QList<int>({2234, 2237}));

        SetSetting("use_upnp", Value("no"));
    }

    void closingSocketIsAbortedBeforeReconnect()
    {
        m_env.SetLogin("alice", "secret");
        QVERIFY(m_env.LogIn());
        // Bytes still unwritten keep the socket closing after the disconnect.
        gp_server->GetSocket()->write(QByteArray(1 << 20, '\0'));
        gp_server->Disconnect();
        QCOMPARE(gp_server->GetSocket()->state(), QAbstractSocket::ClosingState);
        QVERIFY(m_env.LogIn());
    }

    void onlyLoginLeavesBeforeTheReply()
    {
        gp_server->EveryFiveMinutes();
        gp_server->GetUserStats("zed");

        gp_server->Connect();
        QVERIFY(m_env.fake.WaitForFrames(1));
        gp_server->EveryFiveMinutes();
        gp_server->GetUserStats("zed");
        QCOMPARE(gp_server->FileSearch("while connecting", false), 1u);

        m_env.fake.SendRaw(F::LoginAccepted());
        QTRY_VERIFY(gp_server->IsConnected());
        gp_server->EveryFiveMinutes();
        QVERIFY(m_env.fake.WaitForFrames(5));
        // Login, then what every login sends (away, bob, carol), then the keep-alive.
        QCOMPARE(m_env.fake.Codes(), QList<quint32>({1, 28, 5, 3, 32}));
        QCOMPARE(m_env.fake.Frames().last().raw, Hex("04000000 20000000"));

        m_env.fake.ClearFrames();
        gp_server->Disconnect();
        gp_server->EveryFiveMinutes();
        QVERIFY(m_env.fake.Frames().isEmpty());
    }

    void refusedLogin()
    {
        QSignalSpy failed(gp_server, &Server::ConnectionFailed);
        QSignalSpy privileges(gp_server, &Server::ReceivedOwnPrivilegesStatus);
        QSignalSpy connecting(gp_server, &Server::Connecting);
        gp_server->Connect();
        QVERIFY(m_env.fake.WaitForFrames(1));

        // A frame behind the refusal, in the same write, belongs to a closed connection.
        m_env.fake.SendRaw(F::LoginRefused("Invalid password") + F::MakeFrame(92, F::I32(77)));
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed[0][0].toString(), QString("Invalid password"));
        QCOMPARE(gp_server->GetSocket()->state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY(!m_env.fake.HasClient());
        QCOMPARE(privileges.count(), 0);
        QVERIFY(!gp_server->IsAbruptlyDisconnected());
        gp_server->AttemptReconnect();
        QCOMPARE(connecting.count(), 1);
    }

    void framesAreCutFromTheStream()
    {
        QVERIFY(m_env.LogIn());
        QSignalSpy privileges(gp_server, &Server::ReceivedOwnPrivilegesStatus);
        QSignalSpy connected(gp_server, &Server::Connected);

        // Two frames in one write, with an unknown code and a late login reply between them.
        m_env.fake.SendRaw(F::MakeFrame(92, F::I32(5)) + F::MakeFrame(5000, Hex("0102030405060708")) +
                           F::LoginAccepted() + F::MakeFrame(92, F::I32(-7)));
        QTRY_COMPARE(privileges.count(), 2);
        QVERIFY(privileges[0][0].toInt() == 5 && privileges[1][0].toInt() == -7 && connected.isEmpty());
        QCOMPARE(GetSetting("privileges_time_left"), QString("-7"));

        // A length prefix in two pieces, then the body in two more.
        const QByteArray frame = F::MakeFrame(92, F::I32(0));
        QTcpSocket* socket = gp_server->GetSocket();
        m_env.fake.SendRaw(frame.left(2));
        QTRY_COMPARE(socket->bytesAvailable(), qint64(2));
        m_env.fake.SendRaw(frame.mid(2, 2));
        QTRY_COMPARE(socket->bytesAvailable(), qint64(0));
        m_env.fake.SendRaw(frame.mid(4, 3));
        QTRY_COMPARE(gp_server->PendingFrameBytes(), size_t(3));
        QCOMPARE(privileges.count(), 2);
        m_env.fake.SendRaw(frame.mid(7));
        QTRY_COMPARE(privileges.count(), 3);
        QCOMPARE(GetSetting("privileges_time_left"), QString("0"));

        // Privileged users: flags are set, never cleared; a set cut short counts as absent.
        User("frank").NewItem("is_privileged");
        QVERIFY(Deliver(m_env.fake, 69, F::U32(2) + F::Str("gina") + F::Str("hugo")));
        QVERIFY(Deliver(m_env.fake, 69, Hex("03000000 04000000 6976616e 04000000 6a696c6c")));
        for (const char* name : {"frank", "gina", "hugo", "ivan", "jill"})
            QCOMPARE(User(name).IsConnected("is_privileged"), QByteArray("frank gina hugo").contains(name));
    }

    void frameLengthOutOfBounds_data()
    {
        QTest::addColumn<bool>("loggedIn");
        QTest::addColumn<QByteArray>("prefix");
        QTest::newRow("3 while logged in") << true << Hex("03000000");
        QTest::newRow("16 MiB + 1 while logged in") << true << Hex("01000001");
        QTest::newRow("3 before the login reply") << false << Hex("03000000");
        QTest::newRow("16 MiB + 1 before the login reply") << false << Hex("01000001");
    }

    void frameLengthOutOfBounds()
    {
        QFETCH(bool, loggedIn);
        QFETCH(QByteArray, prefix);
        if (loggedIn) {
            QVERIFY(m_env.LogIn());
        } else {
            gp_server->Connect();
            QVERIFY(m_env.fake.WaitForFrames(1));
        }
        QSignalSpy disconnected(gp_server, &Server::Disconnected);
        QSignalSpy failed(gp_server, &Server::ConnectionFailed);
        QSignalSpy privileges(gp_server, &Server::ReceivedOwnPrivilegesStatus);

        m_env.fake.SendRaw(prefix + Hex("5c000000 01000000"));
        QTRY_COMPARE(gp_server->GetConnectionState(), int(Server::StateDisconnected));
        QTRY_VERIFY(!m_env.fake.HasClient());
        if (loggedIn) {
            QCOMPARE(disconnected.count(), 1);
            QCOMPARE(failed.count(), 0);
            QVERIFY(gp_server->IsAbruptlyDisconnected());
        } else {
            QCOMPARE(disconnected.count(), 0);
            QCOMPARE(failed.count(), 1);
            QCOMPARE(failed[0][0].toString(), QString("socket error"));
        }
        QCOMPARE(privileges.count(), 0);
        QVERIFY(LogText("server").contains("closing the connection"));
    }

    void bodyGrowsWithArrivingBytes()
    {
        QVERIFY(m_env.LogIn());
        QSignalSpy privileges(gp_server, &Server::ReceivedOwnPrivilegesStatus);
        // A frame that announces the largest allowed body but sends only a few bytes of it.
        m_env.fake.SendRaw(Hex("00000001") + F::U32(92) + QByteArray(96, 'x'));
        QTRY_COMPARE(gp_server->PendingFrameBytes(), size_t(100));
        QVERIFY(gp_server->ReceiveBufferSize() < 4096);

        // Each arriving piece grows it by what came.
        m_env.fake.SendRaw(QByteArray(200000, 'y'));
        QTRY_COMPARE(gp_server->PendingFrameBytes(), size_t(200100));
        QVERIFY(gp_server->ReceiveBufferSize() < 1024 * 1024);
        QCOMPARE(privileges.count(), 0);
    }

    void partialFrameDroppedWhenConnectionEnds()
    {
        QVERIFY(m_env.LogIn());
        QSignalSpy privileges(gp_server, &Server::ReceivedOwnPrivilegesStatus);
        QSignalSpy disconnected(gp_server, &Server::Disconnected);
        // Half of a code 92 frame, then the server goes away.
        m_env.fake.SendRaw(Hex("08000000 5c000000"));
        QTRY_COMPARE(gp_server->PendingFrameBytes(), size_t(4));
        m_env.fake.DropClient();
        QTRY_COMPARE(disconnected.count(), 1);
        QCOMPARE(gp_server->PendingFrameBytes(), size_t(0));

        // The next connection's frames are read from their own first byte.
        gp_server->AttemptReconnect();
        QVERIFY(m_env.fake.WaitForFrames(1));
        m_env.fake.SendRaw(F::LoginAccepted() + F::MakeFrame(92, F::I32(42)));
        QTRY_COMPARE(privileges.count(), 1);
        QCOMPARE(privileges[0][0].toInt(), 42);
    }

    void randomStreams()
    {
        QRandomGenerator random(20240611);
        auto noise = [&](int size) {
            QVector<quint32> words(size / 4 + 1);
            random.fillRange(words.data(), words.size());
            return QByteArray(reinterpret_cast<const char*>(words.constData()), size);
        };
        QSignalSpy privileges(gp_server, &Server::ReceivedOwnPrivilegesStatus);
        m_env.SetLogin("alice", "secret");

        // Well-framed messages of random codes and bodies, cut at random points: all are read.
        QVERIFY(m_env.LogIn());
        QByteArray stream;
        const quint32 codes[] = {1, 69, 92, 5000, 0, 0xffffffffu};
        for (int k = 0; k < 300; ++k)
            stream += F::MakeFrame(codes[random.bounded(6)], noise(random.bounded(64)));
        stream += F::MakeFrame(92, F::I32(123456));
        for (int at = 0; at < stream.size();) {
            const int piece = 1 + random.bounded(40);
            m_env.fake.SendRaw(stream.mid(at, piece));
            at += piece;
        }
        QTRY_VERIFY(!privileges.isEmpty() && privileges.last()[0].toInt() == 123456);
        QVERIFY(gp_server->IsConnected());
        QVERIFY(gp_server->ReceiveBufferSize() <= 4 * 1024 * 1024);

        // Bytes with no framing at all end the connection at the first impossible length, and
        // never make the client hold more than the cap.
        for (int round = 0; round < 20; ++round) {
            if (!gp_server->IsConnected())
                QVERIFY(m_env.LogIn());
            m_env.fake.SendRaw(noise(4096));
            QTRY_VERIFY(!gp_server->IsConnected() || gp_server->GetSocket()->bytesAvailable() == 0);
            QVERIFY(gp_server->ReceiveBufferSize() <= 2 * Server::kMaxFrameLength);
            QVERIFY(m_env.Reset());
        }
    }
};

QTEST_MAIN(TestServerConnection)
#include "tst_serverconnection.moc"
