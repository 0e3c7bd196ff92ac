// The listening ports: their defaults, the pending new port, what the server is told after each
// login, and a port that cannot be had.
#include "common/fakepeer.h"
#include "common/serverfixture.h"
#include "model/data.h"
#include "model/datasaver.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "server/server.h"

#include <QtTest>

class TestPeerMessengerBase : public QObject
{
    Q_OBJECT

    ServerFixture m_env;

    static QString PeerLog() { return LogText(QStringLiteral("Peer Messenger")); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.SetUp(true, false));
        new PeerMessenger();
        QVERIFY(peerMessenger);
        m_env.SetLogin("alice", "secret");
    }

    void portDefaults()
    {
        SetSetting("listening_port", Value(0));
        SetSetting("obfuscated_listening_port", Value(7000));
        peerMessenger->DataLoaded();
        QCOMPARE(GetSetting("listening_port"), QString("2235"));
        QCOMPARE(GetSetting("obfuscated_listening_port"), QString("2236"));
    }

    void seededPortListensOnItAndTheNext()
    {
        const quint16 port = FakePeer::FreePortPair();
        QVERIFY(port);
        SetSetting("listening_port", Value(static_cast<int>(port)));
        d.GetType("global")->GetItem(Value("obfuscated_listening_port")).Disconnect("global_value");
        dataSaver->EmitDataLoaded();
        QCOMPARE(GetSettingInt("obfuscated_listening_port"), port + 1);
        QCOMPARE(peerMessenger->ListeningPort(false), port);
        QCOMPARE(peerMessenger->ListeningPort(true), quint16(port + 1));
        for (quint16 p : {port, quint16(port + 1)}) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, p);
            QVERIFY(probe.waitForConnected(5000));
        }

        // Told to the server after every login: code 2, port, 1, obfuscated port.
        const QByteArray announce = FakeServer::U32(16) + FakeServer::U32(2) + FakeServer::U32(port) +
                                    FakeServer::U32(1) + FakeServer::U32(port + 1);
        for (int login = 0; login < 2; ++login) {
            QVERIFY(m_env.LogIn(true));
            QVERIFY(m_env.Sync());
            QCOMPARE(m_env.fake.Codes(), QList<quint32>({1, 2}));
            QCOMPARE(m_env.fake.Frames()[1].raw, announce);
            QVERIFY(m_env.Reset());
        }
    }

    void newListeningPortAppliedOnce()
    {
        const quint16 port = FakePeer::FreePortPair();
        SetSetting("listening_port", Value(5000));
        SetSetting("obfuscated_listening_port", Value(7000));
        SetSetting("new_listening_port", Value(static_cast<int>(port)));
        peerMessenger->DataLoaded();
        QCOMPARE(GetSettingInt("listening_port"), int(port));
        QCOMPARE(GetSettingInt("obfuscated_listening_port"), port + 1);
        QCOMPARE(peerMessenger->ListeningPort(false), port);
        QCOMPARE(peerMessenger->ListeningPort(true), quint16(port + 1));

        QVERIFY(!d.GetType("global")->HasItem(Value("new_listening_port")));
        QVERIFY(dataSaver->Save());
        QFile file(dataSaver->Path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("new_listening_port"));
    }

    // A port that cannot be bound is logged and still announced; port 65535 has no next port for
    // the obfuscated listener, which is then left out rather than bound to a port nobody is told.
    void unusablePortsAreLogged()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::Any, 0));
        SetSetting("listening_port", Value(static_cast<int>(taken.serverPort())));
        SetSetting("obfuscated_listening_port", Value(0));
        peerMessenger->DataLoaded();
        QVERIFY(PeerLog().contains(QString("Could not listen on port %1").arg(taken.serverPort())));
        QCOMPARE(peerMessenger->ListeningPort(false), quint16(0));

        SetSetting("listening_port", Value(65535));
        SetSetting("obfuscated_listening_port", Value(0));
        peerMessenger->DataLoaded();
        QCOMPARE(GetSetting("obfuscated_listening_port"), QString("65536"));
        QCOMPARE(peerMessenger->ListeningPort(true), quint16(0));
        QVERIFY(PeerLog().contains("Obfuscated listening port 65536 is out of range"));

        QVERIFY(m_env.LogIn(true));
        QVERIFY(m_env.Sync());
        QCOMPARE(m_env.fake.Frames()[1].raw, FakeServer::U32(16) + FakeServer::U32(2) + FakeServer::U32(65535) +
                                                 FakeServer::U32(1) + FakeServer::U32(65536));
        QVERIFY(m_env.Reset());
    }
};

QTEST_MAIN(TestPeerMessengerBase)
#include "tst_peermessengerbase.moc"
