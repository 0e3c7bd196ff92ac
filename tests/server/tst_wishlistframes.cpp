// Wish-list searches on the wire: the server's period, the alphabetical cycle, the shared token counter.
#include "common/deliver.h"
#include "common/serverfixture.h"
#include "model/data.h"
#include "model/settings.h"
#include "server/server.h"
#include "server/wishlistsearcher.h"

#include <QObject>
#include <QTest>

namespace {

// The frame of a wish-list search as the server receives it.
QByteArray WishSearchFrame(quint32 token, const QString& text)
{
    return F::MakeFrame(103, F::U32(token) + F::Str(text));
}

ItemPtr Wish(const QString& text, bool enabled)
{
    ItemPtr item = d.GetType("wish_list_item")->GetItem(Value(text));
    if (enabled)
        item.NewItem("wish_list_item_enabled");
    else
        item.Disconnect("wish_list_item_enabled");
    return item;
}

int LogCount(const QString& line)
{
    return LogText("Wish List").count(line);
}

}  // namespace

class TestWishListFrames : public QObject
{
    Q_OBJECT

    ServerFixture m_fixture;

private slots:
    void initTestCase()
    {
        QVERIFY(m_fixture.SetUp());
        // Declared by the main window in the program.
        if (!d.HasType("wish_list_item")) {
            Type* wish = d.NewType("wish_list_item", PrimacyRoot, false, true);
            Type* enabled = d.NewType("wish_list_item_enabled", PrimacyLeaf, true, true);
            wish->RelateToType(enabled, Many, One, false);
        }
        m_fixture.SetLogin("me", "secret");
        QVERIFY(m_fixture.LogIn());
    }

    void init()
    {
        d.GetType("wish_list_item")->RemoveAllItems();
        m_fixture.fake.ClearFrames();
    }

    void constructionLeavesTimerIdle()
    {
        WishListSearcher searcher(nullptr);
        QCOMPARE(wishListSearcher, &searcher);
        QCOMPARE(GetVSetting("wish_list_search_index"), QString("0"));
        QVERIFY(!searcher.SearchTimer().isActive());
    }

    void cyclesThroughEnabledEntriesOnePerPeriod()
    {
        F& fake = m_fixture.fake;
        WishListSearcher searcher(nullptr);
        Wish("b", true);
        Wish("a", true);
        Wish("c", true);
        Wish("0-disabled", false);

        QVERIFY(Deliver(fake, 104, F::U32(2)));
        QCOMPARE(searcher.SearchTimer().interval(), 2000);
        QVERIFY(searcher.SearchTimer().isActive());
        QVERIFY(!searcher.SearchTimer().isSingleShot());
        QCOMPARE(GetVSetting("wish_list_wait"), QString("2"));
        QCOMPARE(LogCount("Wish list wait period set to 2000 milliseconds"), 1);

        // The ticks are driven here; the timer itself would fire every 2000 ms.
        const quint32 last = gp_server->FileSearch("probe", false);
        SentSoFar(fake);
        QStringList indexes;
        for (int k = 0; k < 4; ++k) {
            searcher.OnSearchTimerTimeout();
            indexes << GetVSetting("wish_list_search_index");
        }
        QCOMPARE(indexes, (QStringList{"1", "2", "0", "1"}));
        QCOMPARE(SentSoFar(fake).toHex(), (WishSearchFrame(last + 1, "a") + WishSearchFrame(last + 2, "b") +
                                           WishSearchFrame(last + 3, "c") + WishSearchFrame(last + 4, "a"))
                                              .toHex());
        QCOMPARE(LogCount("Sent wish list search: a"), 2);
        QCOMPARE(LogCount("Sent wish list search: c"), 1);
        QVERIFY(!LogText("Wish List").contains("0-disabled"));
    }

    void periodsOutsideTheTimersRange()
    {
        F& fake = m_fixture.fake;
        WishListSearcher searcher(nullptr);
        QVERIFY(Deliver(fake, 104, F::U32(60)));
        QCOMPARE(searcher.SearchTimer().interval(), 60000);
        QCOMPARE(GetVSetting("wish_list_wait"), QString("60"));

        // Zero would fire at every pass of the event loop: the running period stays.
        QVERIFY(Deliver(fake, 104, F::U32(0)));
        QCOMPARE(searcher.SearchTimer().interval(), 60000);
        QVERIFY(searcher.SearchTimer().isActive());
        QCOMPARE(GetVSetting("wish_list_wait"), QString("60"));
        QCOMPARE(LogCount("Ignoring a wish list wait period of 0 seconds"), 1);

        // Beyond the timer's range the period is cut to the longest it can hold.
        QVERIFY(Deliver(fake, 104, F::U32(0xFFFFFFFF)));
        QCOMPARE(searcher.SearchTimer().interval(), 2147483000);
        QVERIFY(searcher.SearchTimer().isActive());
        QCOMPARE(GetVSetting("wish_list_wait"), QString("4294967295"));
        QVERIFY(Deliver(fake, 104, F::U32(2147483)));
        QCOMPARE(searcher.SearchTimer().interval(), 2147483000);
    }

    void emptyListAndShiftingEntries()
    {
        F& fake = m_fixture.fake;
        WishListSearcher searcher(nullptr);
        SetVSetting("wish_list_search_index", Value(5));
        const int logged = LogText("Wish List").size();
        searcher.OnSearchTimerTimeout();
        QCOMPARE(SentSoFar(fake), QByteArray());
        QCOMPARE(LogText("Wish List").size(), logged);
        QCOMPARE(GetVSetting("wish_list_search_index"), QString("5"));

        // Two entries after deletions: position 5 mod 2 is sent and the cycle starts over.
        Wish("y", true);
        Wish("x", true);
        const quint32 last = gp_server->FileSearch("probe", false);
        SentSoFar(fake);
        searcher.OnSearchTimerTimeout();
        QCOMPARE(GetVSetting("wish_list_search_index"), QString("0"));
        searcher.OnSearchTimerTimeout();
        // Disabled between two ticks: out of the cycle at once.
        Wish("y", false);
        Wish("w", true);
        searcher.OnSearchTimerTimeout();
        QCOMPARE(SentSoFar(fake).toHex(),
                 (WishSearchFrame(last + 1, "y") + WishSearchFrame(last + 2, "x") + WishSearchFrame(last + 3, "x"))
                     .toHex());
        QCOMPARE(GetVSetting("wish_list_search_index"), QString("0"));
    }
};

QTEST_MAIN(TestWishListFrames)
#include "tst_wishlistframes.moc"
