// Connection requests relayed by the server, and the distributed network's messages.
#include "common/deliver.h"
#include "common/serverfixture.h"
#include "model/data.h"
#include "server/server.h"

#include <QObject>
#include <QTest>

namespace {

QByteArray Parents(qint32 count, int complete)
{
    QByteArray out = F::I32(count);
    for (int k = 0; k < complete; ++k)
        out += F::Str(QString("p%1").arg(k)) + F::U32(0xC0000200 + static_cast<quint32>(k)) + F::I32(2234 + k);
    return out;
}

}  // namespace

class TestServerDNet : public QObject
{
    Q_OBJECT

    ServerFixture m_fixture;

private slots:
    void initTestCase() { QVERIFY(m_fixture.SetUpLoggedIn()); }

    void indirectConnectionRequest()
    {
        F& fake = m_fixture.fake;
        QVERIFY(Deliver(fake, 18,
                        F::Str("req") + F::Str("P") + F::U32(0xC0000201) + F::I32(2234) + F::U32(77) + F::U8(1) +
                            F::I32(1) + F::I32(50001)));
        ItemPtr user = Find("user", "req");
        ItemSet requests = user.GetItems("peer_connection_request");
        QCOMPARE(requests.size(), size_t(1));
        ItemPtr request = requests;
        QCOMPARE(ValueOf(request, "peer_connection_request_id"), QString("77"));
        QCOMPARE(ValueOf(request, "peer_connection_type"), QString("P"));
        QCOMPARE(ValueOf(user, "user_address"), QString("3221225985"));
        QCOMPARE(ValueOf(user, "user_port"), QString("2234"));
        QCOMPARE(ValueOf(user, "user_obfuscated_port"), QString("50001"));
        QVERIFY(user.IsConnected("is_privileged"));

        // Same token again, no obfuscation: what follows the type is not read; privileges stay.
        QVERIFY(Deliver(fake, 18,
                        F::Str("req") + F::Str("F") + F::U32(1) + F::I32(2) + F::U32(77) + F::U8(0) + F::I32(0) +
                            F::I32(50002)));
        requests = user.GetItems("peer_connection_request");
        QCOMPARE(requests.size(), size_t(2));
        QCOMPARE(Find("peer_connection_request_id", "77").GetItems("peer_connection_request"), requests);
        QCOMPARE(ValueOf(user, "user_address"), QString("1"));
        QCOMPARE(ValueOf(user, "user_obfuscated_port"), QString("0"));
        QVERIFY(user.IsConnected("is_privileged"));

        // Cut short after the user: a request all the same, with zero values.
        QVERIFY(Deliver(fake, 18, F::Str("brief")));
        ItemPtr brief = Find("user", "brief");
        QCOMPARE(brief.GetItems("peer_connection_request").size(), size_t(1));
        ItemPtr briefRequest = brief.GetItems("peer_connection_request");
        QCOMPARE(ValueOf(briefRequest, "peer_connection_request_id"), QString("0"));
        QCOMPARE(ValueOf(briefRequest, "peer_connection_type"), QString(""));
        QCOMPARE(ValueOf(brief, "user_port"), QString("0"));
        QVERIFY(!brief.IsConnected("is_privileged"));
    }

    void values()
    {
        F& fake = m_fixture.fake;
        QObject context;
        QStringList seen;
        connect(gp_server, &Server::IndirectPeerConnectionFailure, &context,
                [&](uint token) { seen << QString("fail %1").arg(token); });
        connect(gp_server, &Server::DNetParentMinSpeed, &context, [&](int v) { seen << QString("speed %1").arg(v); });
        connect(gp_server, &Server::DNetParentSpeedConnectionRatio, &context,
                [&](int v) { seen << QString("ratio %1").arg(v); });
        connect(gp_server, &Server::DNetDeliveryReport, &context, [&](int v) {
            if (!IsDeliveryMarker(v))
                seen << QString("report %1").arg(v);
        });
        connect(gp_server, &Server::DNetReset, &context, [&] { seen << "reset"; });
        QVERIFY(Deliver(fake, 1001, F::U32(0xFFFFFFFE)));
        QVERIFY(Deliver(fake, 83, F::I32(-3)));
        QVERIFY(Deliver(fake, 84, F::I32(10)));
        QVERIFY(Deliver(fake, 128, F::I32(42)));
        QVERIFY(Deliver(fake, 130));
        QVERIFY(Deliver(fake, 83));
        QCOMPARE(seen, (QStringList{"fail 4294967294", "speed -3", "ratio 10", "report 42", "reset", "speed 0"}));
    }

    void possibleParents()
    {
        F& fake = m_fixture.fake;
        QObject context;
        QList<DNetParentList> lists;
        connect(gp_server, &Server::DNetPossibleParents, &context, [&](DNetParentList& list) { lists << list; });

        QVERIFY(Deliver(fake, 102, Parents(0, 0)));
        QVERIFY(Deliver(fake, 102, Parents(3, 2) + F::Str("p2")));
        QVERIFY(Deliver(fake, 102));
        QVERIFY(Deliver(fake, 102, Parents(131073, 1)));
        QVERIFY(Deliver(fake, 102, Parents(-1, 2)));
        QCOMPARE(lists.size(), 5);
        QCOMPARE(lists[0].size(), size_t(0));
        QCOMPARE(lists[1].size(), size_t(2));
        QCOMPARE(lists[1].front().first, QString("p0"));
        QCOMPARE(lists[1].front().second, TCPAddress(0xC0000200, 2234));
        QCOMPARE(lists[1].back().first, QString("p1"));
        QCOMPARE(lists[1].back().second, TCPAddress(0xC0000201, 2235));
        QCOMPARE(lists[2].size(), size_t(0));
        QCOMPARE(lists[3].size(), size_t(0));
        QCOMPARE(lists[4].size(), size_t(2));
    }

    void possibleParentsNegativeCountIsBounded()
    {
        // The frame bounds a negative count; no more entries are kept than an honest count allows.
        QObject context;
        size_t size = 0;
        connect(gp_server, &Server::DNetPossibleParents, &context, [&](DNetParentList& list) { size = list.size(); });
        const QByteArray entry = F::Str(QString()) + F::U32(1) + F::I32(2);
        MemStream body;
        body.Write(int32_t(-1));
        for (int k = 0; k < 140000; ++k)
            body.WriteBuffer(entry.constData(), static_cast<size_t>(entry.size()));
        gp_server->HandleMessage(102, body);
        QCOMPARE(size, size_t(131072));
        QCOMPARE(body.GetPendingReadLength(), size_t(0));
    }

    void dnetMessage()
    {
        F& fake = m_fixture.fake;
        QObject context;
        QList<QByteArray> bodies;
        connect(gp_server, &Server::DNetMessage, &context, [&](MemStream& message) {
            QCOMPARE(message.GetReadIndex(), size_t(4));
            bodies << QByteArray(message.GetReadBuffer(), static_cast<int>(message.GetPendingReadLength()));
        });
        QVERIFY(Deliver(fake, 93, QByteArray::fromHex("0503000000616263")));
        QVERIFY(Deliver(fake, 93));
        QCOMPARE(bodies, (QList<QByteArray>{QByteArray::fromHex("0503000000616263"), QByteArray()}));
    }
};

QTEST_MAIN(TestServerDNet)
#include "tst_serverdnet.moc"
