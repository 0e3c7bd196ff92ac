// The peer messenger's part in the server connection: its item types, its port defaults and the
// ports it announces after each login.
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

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.SetUp(false, false));
        new PeerMessenger();
        QVERIFY(peerMessenger);
        m_env.SetLogin("alice", "secret");
    }

    void portDefaults()
    {
        SetSetting("listening_port", Value(5000));
        dataSaver->EmitDataLoaded();
        QCOMPARE(GetSetting("obfuscated_listening_port"), QString("5001"));
        SetSetting("listening_port", Value(0));
        SetSetting("obfuscated_listening_port", Value(7000));
        peerMessenger->DataLoaded();
        QCOMPARE(GetSetting("listening_port"), QString("2235"));
        QCOMPARE(GetSetting("obfuscated_listening_port"), QString("2236"));
    }

    void portsAnnouncedAfterEachLogin()
    {
        QVERIFY(m_env.LogIn(true));
        QVERIFY(m_env.Sync());
        QCOMPARE(m_env.fake.Frames().size(), 2);
        QCOMPARE(m_env.fake.Frames()[1].raw, QByteArray::fromHex("10000000 02000000 bb080000 01000000 bc080000"));
        QVERIFY(m_env.Reset());
        QVERIFY(m_env.LogIn(true));
        QVERIFY(m_env.Sync());
        QCOMPARE(m_env.fake.Codes(), QList<quint32>({1, 2}));
    }
};

QTEST_MAIN(TestPeerMessengerBase)
#include "tst_peermessengerbase.moc"
