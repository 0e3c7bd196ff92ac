// What the server tells about one other user: address, existence, status and statistics.
#include "common/deliver.h"
#include "common/serverfixture.h"
#include "model/data.h"
#include "server/server.h"

#include <QObject>
#include <QTest>

namespace {

ItemPtr User(const QString& name)
{
    return Find("user", name);
}

}  // namespace

class TestServerUsers : public QObject
{
    Q_OBJECT

    ServerFixture m_fixture;

private slots:
    void initTestCase() { QVERIFY(m_fixture.SetUpLoggedIn()); }

    void userAddress()
    {
        F& fake = m_fixture.fake;
        gp_server->GetUserAddress("bob");
        QVERIFY(User("bob").IsConnected("user_address_request"));

        // 192.0.2.1 is above the signed range: stored as unsigned decimal.
        QVERIFY(Deliver(fake, 3, F::Str("bob") + F::U32(0xC0000201) + F::I32(2234) + F::I32(1) + F::U16(50000)));
        QCOMPARE(ValueOf(User("bob"), "user_address"), QString("3221225985"));
        QCOMPARE(ValueOf(User("bob"), "user_port"), QString("2234"));
        QCOMPARE(ValueOf(User("bob"), "user_obfuscated_port"), QString("50000"));
        QVERIFY(!User("bob").IsConnected("user_address_request"));

        // Without obfuscation the port behind the type is read but not taken; the latest address wins.
        QVERIFY(Deliver(fake, 3, F::Str("bob") + F::U32(0x0A000001) + F::I32(-5) + F::I32(0) + F::U16(40000)));
        QCOMPARE(ValueOf(User("bob"), "user_address"), QString("167772161"));
        QCOMPARE(ValueOf(User("bob"), "user_port"), QString("-5"));
        QCOMPARE(ValueOf(User("bob"), "user_obfuscated_port"), QString("0"));
        QCOMPARE(User("bob").GetItems("user_address").size(), size_t(1));

        // A user never seen is created; missing obfuscation fields give port 0.
        QVERIFY(!User("carol"));
        QVERIFY(Deliver(fake, 3, F::Str("carol") + F::U32(1) + F::I32(2)));
        QCOMPARE(ValueOf(User("carol"), "user_address"), QString("1"));
        QCOMPARE(ValueOf(User("carol"), "user_port"), QString("2"));
        QCOMPARE(ValueOf(User("carol"), "user_obfuscated_port"), QString("0"));
    }

    void addUser()
    {
        F& fake = m_fixture.fake;
        QObject context;
        QList<QPair<QString, bool>> responses;
        connect(gp_server, &Server::AddUserResponse, &context,
                [&](QString user, bool added) { responses << qMakePair(user, added); });

        QVERIFY(Deliver(fake, 5, F::Str("ghost") + F::U8(0)));
        QCOMPARE(responses.size(), 1);
        QCOMPARE(responses.last(), qMakePair(QString("ghost"), false));
        QVERIFY(!User("ghost"));

        // Short of the exists byte: the user does not exist.
        QVERIFY(Deliver(fake, 5, F::Str("shade")));
        QCOMPARE(responses.last(), qMakePair(QString("shade"), false));
        QVERIFY(!User("shade"));

        ItemPtr erin = d.GetType("user")->GetItem(Value("erin"));
        erin.NewItem("is_away");
        QVERIFY(Deliver(fake, 5, F::Str("erin") + F::U8(1) + F::I32(2) + Stats(1, 2, 3, 4) + F::Str("DE")));
        QCOMPARE(responses.last(), qMakePair(QString("erin"), true));
        QVERIFY(erin.IsConnected("is_online"));
        QVERIFY(erin.IsConnected("is_away"));
        QCOMPARE(ValueOf(erin, "country_code"), QString("DE"));

        // Offline: no country code is read, the old one stays.
        QVERIFY(Deliver(fake, 5, F::Str("erin") + F::U8(1) + F::I32(0) + Stats(1, 2, 3, 4) + F::Str("FR")));
        QVERIFY(!erin.IsConnected("is_online"));
        QCOMPARE(ValueOf(erin, "country_code"), QString("DE"));

        QVERIFY(Deliver(fake, 5, F::Str("erin") + F::U8(1) + F::I32(1) + Stats(1, 2, 3, 4) + F::Str("FR")));
        QVERIFY(erin.IsConnected("is_online"));
        QCOMPARE(ValueOf(erin, "country_code"), QString("FR"));
        QCOMPARE(responses.size(), 5);
    }

    void userStatus()
    {
        F& fake = m_fixture.fake;
        QVERIFY(Deliver(fake, 7, F::Str("fay") + F::I32(1) + F::U8(0)));
        ItemPtr fay = User("fay");
        QVERIFY(fay.IsConnected("is_online"));
        QVERIFY(fay.IsConnected("is_away"));
        QVERIFY(!fay.IsConnected("is_privileged"));

        QVERIFY(Deliver(fake, 7, F::Str("fay") + F::I32(2) + F::U8(1)));
        QVERIFY(fay.IsConnected("is_online"));
        QVERIFY(!fay.IsConnected("is_away"));
        QVERIFY(fay.IsConnected("is_privileged"));

        // Privileges are never taken away by this message.
        QVERIFY(Deliver(fake, 7, F::Str("fay") + F::I32(0) + F::U8(0)));
        QVERIFY(!fay.IsConnected("is_online"));
        QVERIFY(!fay.IsConnected("is_away"));
        QVERIFY(fay.IsConnected("is_privileged"));

        QVERIFY(Deliver(fake, 7, F::Str("fay") + F::I32(1)));
        QVERIFY(fay.IsConnected("is_away"));
        // Without a status the user is offline and not away.
        QVERIFY(Deliver(fake, 7, F::Str("fay")));
        QVERIFY(!fay.IsConnected("is_online"));
        QVERIFY(!fay.IsConnected("is_away"));
        QVERIFY(fay.IsConnected("is_privileged"));
    }

    void userStats()
    {
        F& fake = m_fixture.fake;
        QObject context;
        QStringList users;
        QList<UserStats> stats;
        connect(gp_server, &Server::ReceivedUserStats, &context, [&](QString user, UserStats record) {
            users << user;
            stats << record;
        });
        QVERIFY(Deliver(fake, 36, F::Str("gus") + F::U32(1000) + F::U32(7) + F::U32(1) + F::U32(42) + F::U32(3)));
        QCOMPARE(users, QStringList{"gus"});
        QCOMPARE(stats.last().averageSpeed, 1000);
        QCOMPARE(stats.last().downloadCount, (quint64(1) << 32) + 7);
        QCOMPARE(stats.last().sharedFiles, 42);
        QCOMPARE(stats.last().sharedFolders, 3u);
        QVERIFY(!User("gus"));

        // A record cut short is reported as zeros.
        QVERIFY(Deliver(fake, 36, F::Str("gus") + F::U32(1000) + F::U32(7)));
        QCOMPARE(users.size(), 2);
        QCOMPARE(stats.last().averageSpeed, 0);
        QCOMPARE(stats.last().downloadCount, quint64(0));
        QVERIFY(!User("gus"));
    }

    void ignoredWhileDisconnected()
    {
        m_fixture.Reset();
        MemStream body;
        body.Write(QString("hal"));
        body.Write(int32_t(2));
        gp_server->HandleMessage(7, body);
        QVERIFY(!User("hal"));
    }
};

QTEST_MAIN(TestServerUsers)
#include "tst_serverusers.moc"
