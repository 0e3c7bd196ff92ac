// The requests the client sends to the central server: their bytes, their tokens and what they
// record in the item graph.
#include "common/deliver.h"
#include "common/serverfixture.h"
#include "model/data.h"
#include "model/settings.h"
#include "server/server.h"

#include <QSignalSpy>
#include <QtTest>

#include <functional>

namespace {

ItemPtr User(const char* name) { return d.GetType("user")->GetItem(Value(name)); }

} // namespace

class TestServerRequests : public QObject
{
    Q_OBJECT

    ServerFixture m_env;

    // Everything the client sent since the last call, back to back.
    QByteArray Sent() { return SentSoFar(m_env.fake); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.SetUp(false));
        m_env.SetLogin("alice", "secret");
    }

    void cleanup() { QVERIFY(m_env.Reset()); }

    void searchTokens()
    {
        User("ann") += d.GetType("in_user_list")->NewItem();
        User("ann").NewItem("is_online");
        User("bea") += d.GetType("in_user_list")->NewItem();
        User("bea").NewItem("is_online");
        User("cid") += d.GetType("in_user_list")->NewItem();
        User("dan").NewItem("is_online");

        QVERIFY(m_env.LogIn());
        QCOMPARE(gp_server->FileSearch("abc", false), 1u);
        QCOMPARE(gp_server->FileSearch("abc", true), 2u);
        QCOMPARE(gp_server->SearchRoom("den", "x"), 3u);
        QCOMPARE(Sent(), Hex("0f000000 1a000000 01000000 03000000 616263"
                             "0f000000 67000000 02000000 03000000 616263"
                             "14000000 78000000 03000000 64656e 03000000 01000000 78"));

        // One message per online user of the user list, all with the one token.
        QCOMPARE(gp_server->SearchUserList("y"), 4u);
        m_env.Sync();
        QSet<QByteArray> userList;
        for (const F::Frame& f : m_env.fake.TakeFrames())
            userList << f.raw;
        QCOMPARE(userList, QSet<QByteArray>({Hex("14000000 2a000000 03000000 616e6e 04000000 01000000 79"),
                                             Hex("14000000 2a000000 03000000 626561 04000000 01000000 79")}));

        // The relay tokens are a counter of their own.
        QCOMPARE(gp_server->SendIndirectConnectionRequest("ann", "P"), 1u);
        QCOMPARE(gp_server->SendIndirectConnectionRequest("bea", "F"), 2u);
        QCOMPARE(Sent(), Hex("14000000 12000000 01000000 03000000 616e6e 01000000 50"
                             "14000000 12000000 02000000 03000000 626561 01000000 46"));
    }

    void requestLayouts()
    {
        QVERIFY(m_env.LogIn());
        QSignalSpy chatSent(gp_server, &Server::PrivateChatSent);

        const QList<QPair<std::function<void()>, QByteArray>> cases = {
            {[] { gp_server->SetWaitPort(2234, 2235); }, Hex("10000000 02000000 ba080000 01000000 bb080000")},
            {[] { gp_server->EnterRoom("den", true); }, Hex("0f000000 0e000000 03000000 64656e 01000000")},
            {[] { gp_server->SendPrivateChat("ann", "a\nb\r\nc"); },
             Hex("15000000 16000000 03000000 616e6e 06000000 612062202063")},
            {[] { gp_server->SendDNetHasParent(true); }, Hex("05000000 47000000 00")},
            {[] { gp_server->AddPrivateRoomMember("den", "ann"); },
             Hex("12000000 86000000 03000000 64656e 03000000 616e6e")},
            {[] { gp_server->AddPrivateRoomOperator("den", "ann"); },
             Hex("12000000 8f000000 03000000 64656e 03000000 616e6e")},
            {[] { gp_server->SendCantConnectToPeer(7, "ann"); }, Hex("0f000000 e9030000 07000000 03000000 616e6e")},
        };
        for (int k = 0; k < cases.size(); ++k) {
            cases[k].first();
            QVERIFY2(Sent() == cases[k].second, qPrintable(QString("case %1").arg(k)));
        }
        QCOMPARE(chatSent.count(), 1);
        QCOMPARE(chatSent[0], QVariantList({QString("ann"), QString("a b  c")}));
    }

    // A private message reports whether it went out; only one that did counts as sent.
    void privateChatReportsSending()
    {
        QSignalSpy chatSent(gp_server, &Server::PrivateChatSent);
        QVERIFY(!gp_server->SendPrivateChat("ann", "hi"));
        QCOMPARE(chatSent.count(), 0);

        gp_server->Connect();
        QVERIFY(m_env.fake.WaitForFrames(1));  // the login
        QVERIFY(!gp_server->SendPrivateChat("ann", "hi"));  // connecting, not logged in
        QCOMPARE(chatSent.count(), 0);

        m_env.fake.SendRaw(FakeServer::LoginAccepted());
        QVERIFY(QTest::qWaitFor([] { return gp_server->IsConnected(); }));
        QVERIFY(m_env.Sync());
        m_env.fake.ClearFrames();
        QVERIFY(gp_server->SendPrivateChat("ann", "hi"));
        QCOMPARE(chatSent.count(), 1);
        QCOMPARE(Sent(), Hex("11000000 16000000 03000000 616e6e 02000000 6869"));
    }
};

QTEST_MAIN(TestServerRequests)
#include "tst_serverrequests.moc"
