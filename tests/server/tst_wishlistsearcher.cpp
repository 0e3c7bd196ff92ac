// The wish-list searcher: the server's period drives a timer whose ticks send the enabled entries
// in alphabetical order, one per tick.
#include "common/serverfixture.h"
#include "model/data.h"
#include "model/settings.h"
#include "server/server.h"
#include "server/wishlistsearcher.h"

#include <QSignalSpy>
#include <QtTest>

class TestWishListSearcher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void periodFromTheServer();
    void cyclesThroughEnabledEntries();

private:
    ServerFixture m_env;
    WishListSearcher* mp_searcher = nullptr;
};

void TestWishListSearcher::initTestCase()
{
    QVERIFY(m_env.SetUp(false));
    Type* entry = d.NewType("wish_list_item", PrimacyRoot, false, true);
    Type* enabled = d.NewType("wish_list_item_enabled", PrimacyLeaf, true, true);
    entry->RelateToType(enabled, Many, One, false);
    mp_searcher = new WishListSearcher(this);
    QCOMPARE(wishListSearcher, mp_searcher);
    QCOMPARE(GetVSetting("wish_list_search_index"), QString("0"));
    QVERIFY(!mp_searcher->SearchTimer().isActive());
}

void TestWishListSearcher::periodFromTheServer()
{
    emit gp_server->WishListWait(60);
    QCOMPARE(GetVSetting("wish_list_wait"), QString("60"));
    QVERIFY(mp_searcher->SearchTimer().isActive());
    QCOMPARE(mp_searcher->SearchTimer().interval(), 60000);
    QVERIFY(!mp_searcher->SearchTimer().isSingleShot());

    // A zero period would send a search at every pass of the event loop: the old one stays.
    emit gp_server->WishListWait(0);
    QCOMPARE(mp_searcher->SearchTimer().interval(), 60000);
    QVERIFY(mp_searcher->SearchTimer().isActive());

    // Beyond what the timer can hold, it is cut to its largest interval.
    emit gp_server->WishListWait(4000000);
    QCOMPARE(mp_searcher->SearchTimer().interval(), 2147483000);
    mp_searcher->OnWishListWait(60);
}

void TestWishListSearcher::cyclesThroughEnabledEntries()
{
    QSignalSpy searches(gp_server, &Server::SearchRequested);
    mp_searcher->OnSearchTimerTimeout();
    QCOMPARE(searches.count(), 0);
    QCOMPARE(GetVSetting("wish_list_search_index"), QString("0"));

    Type* entry = d.GetType("wish_list_item");
    for (const char* text : {"b", "a", "c"})
        entry->GetItem(Value(text)).NewItem("wish_list_item_enabled");
    entry->GetItem(Value("0 disabled"));

    QStringList sent;
    QStringList indexes;
    for (int k = 0; k < 4; ++k) {
        mp_searcher->OnSearchTimerTimeout();
        sent << searches.last()[1].toString();
        QVERIFY(searches.last()[2].toBool());
        indexes << GetVSetting("wish_list_search_index");
    }
    QCOMPARE(sent, QStringList({"a", "b", "c", "a"}));
    QCOMPARE(indexes, QStringList({"1", "2", "0", "1"}));

    // An index left past the end by deletions wraps.
    SetVSetting("wish_list_search_index", Value("5"));
    entry->GetItem(Value("c")).Disconnect("wish_list_item_enabled");
    mp_searcher->OnSearchTimerTimeout();
    QCOMPARE(searches.last()[1].toString(), QString("b"));
    QCOMPARE(GetVSetting("wish_list_search_index"), QString("0"));
}

QTEST_MAIN(TestWishListSearcher)
#include "tst_wishlistsearcher.moc"
