// The tracked-users page of the diagnostics window follows the tracked and online marks.
#include "common/deliver.h"
#include "common/serverfixture.h"
#include "model/data.h"
#include "model/diagnosticsform.h"
#include "server/server.h"

#include <QObject>
#include <QTest>
#include <QTreeWidget>

namespace {

// The rows as "name status", in row order.
QStringList Rows()
{
    QStringList rows;
    QTreeWidget* tree = diagnosticsForm->TrackedUsersTree();
    for (int k = 0; k < tree->topLevelItemCount(); ++k)
        rows << tree->topLevelItem(k)->text(0) + " " + tree->topLevelItem(k)->text(1);
    return rows;
}

QByteArray Status(const QString& user, qint32 status) { return F::Str(user) + F::I32(status) + F::U8(0); }

}  // namespace

class TestTrackedUsers : public QObject
{
    Q_OBJECT

    ServerFixture m_fixture;
    F& fake = m_fixture.fake;

private slots:
    void initTestCase()
    {
        QVERIFY(m_fixture.SetUp(true));
        diagnosticsForm->Init();
        m_fixture.SetLogin("me", "secret");
        QVERIFY(m_fixture.LogIn());
    }

    void onlineAndOffline()
    {
        gp_server->TrackUser("tom");
        QCOMPARE(Rows(), QStringList{"tom Offline"});
        QVERIFY(Find("user", "tom")["track_user_node"]);

        QVERIFY(Deliver(fake, 5, F::Str("tom") + F::U8(1) + F::I32(2) + QByteArray(20, '\0') + F::Str("DE")));
        QCOMPARE(Rows(), QStringList{"tom Online"});
        QVERIFY(Deliver(fake, 7, Status("tom", 0)));
        QCOMPARE(Rows(), QStringList{"tom Offline"});

        // Users never tracked touch no row; one tracked while online shows so at once.
        QVERIFY(Deliver(fake, 7, Status("uma", 2)));
        QCOMPARE(Rows(), QStringList{"tom Offline"});
        gp_server->TrackUser("uma");
        QCOMPARE(Rows(), (QStringList{"tom Offline", "uma Online"}));
    }

    void untrackedRowIsLeftAlone()
    {
        gp_server->UntrackUser("tom");
        QCOMPARE(Rows(), QStringList{"uma Online"});
        // The row's link goes with the row, so later changes cannot reach the deleted row.
        QVERIFY(!Find("user", "tom")["track_user_node"]);
        QVERIFY(Deliver(fake, 7, Status("tom", 2)));
        QVERIFY(Deliver(fake, 7, Status("tom", 0)));
        QCOMPARE(Rows(), QStringList{"uma Online"});

        QVERIFY(Deliver(fake, 7, Status("tom", 1)));
        gp_server->TrackUser("tom");
        QCOMPARE(Rows(), (QStringList{"uma Online", "tom Online"}));
    }

    void disconnectTakesEveryoneOffline()
    {
        m_fixture.Reset();
        QCOMPARE(Rows(), (QStringList{"uma Offline", "tom Offline"}));
    }
};

QTEST_MAIN(TestTrackedUsers)
#include "tst_trackedusers.moc"
