// The search page driven as a user works it: searches typed into the box, replies from a fake
// peer turning into rows, the filter box, double-click downloads, the wish list and closing tabs.

#include "mainwindowfixture.h"
#include "searchreply.h"
#include "viewhelpers.h"

#include "app/eventtoolbar.h"
#include "common/deliver.h"
#include "common/fakepeer.h"
#include "model/datasaver.h"
#include "model/delayedinvoker.h"
#include "peer/peermessenger.h"
#include "ui/search/searchform.h"
#include "ui/search/searchresultlistitem.h"
#include "ui/search/searchresultsform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>

using P = FakePeer;

namespace {

QTabWidget* ManualTabs() { return Child<QTabWidget>("searchTabControl"); }
QTabWidget* WishTabs() { return Child<QTabWidget>("wishListTabControl"); }
QLineEdit* SearchEdit() { return Child<QLineEdit>("searchEdit"); }
QComboBox* Scope() { return Child<QComboBox>("searchTargetBox"); }

SearchResultsForm* LastTab(QTabWidget* tabs)
{
    return qobject_cast<SearchResultsForm*>(tabs->widget(tabs->count() - 1));
}

unsigned int TokenOf(SearchResultsForm* tab)
{
    ItemPtr widget = d.GetType("search_results_widget")->HasItem(Value(tab));
    return widget ? ItemPtr(widget.GetItems("search_request")).AsUInt() : 0;
}

QStringList RowTexts(QTreeWidgetItem* row)
{
    QStringList texts;
    for (int c = 0; c < 7; ++c)
        texts << row->text(c);
    return texts;
}

QStringList VisibleFiles(QTreeWidget* tree)
{
    QStringList out;
    for (int u = 0; u < tree->topLevelItemCount(); ++u) {
        QTreeWidgetItem* user = tree->topLevelItem(u);
        for (int f = 0; f < user->childCount(); ++f)
            for (int k = 0; k < user->child(f)->childCount(); ++k) {
                QTreeWidgetItem* file = user->child(f)->child(k);
                if (!user->isHidden() && !user->child(f)->isHidden() && !file->isHidden())
                    out << user->text(0) + ":" + file->text(4);
            }
    }
    out.sort();
    return out;
}

QTreeWidgetItem* UserRow(QTreeWidget* tree, const QString& user)
{
    for (int u = 0; u < tree->topLevelItemCount(); ++u)
        if (tree->topLevelItem(u)->text(0) == user)
            return tree->topLevelItem(u);
    return nullptr;
}

bool SameIcon(const QIcon& icon, const QString& resource)
{
    return !icon.isNull() && icon.pixmap(16).toImage() == QIcon(resource).pixmap(16).toImage();
}

void DoubleClick(QTreeWidget* tree, QTreeWidgetItem* row)
{
    tree->scrollToItem(row);
    const QPoint at = tree->visualItemRect(row).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

size_t Count(const char* type) { return d.GetType(type)->ItemCount(); }

QList<QTimer*> PendingTimers()
{
    QList<QTimer*> out;
    for (QTimer* t : delayedInvoker->findChildren<QTimer*>())
        if (t->isActive())
            out << t;
    return out;
}

}  // namespace

class TestSearchView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void searchScopes_data();
    void searchScopes();
    void roomScopeFollowsRoomEntry();
    void blankSearchSendsNothing();
    void repliesBecomeRows();
    void filterHidesRows();
    void arrivingRowsMeetTheFilter();
    void doubleClickQueuesFolder();
    void refusedDownloadGetsNoIcon();
    void wishListTabsAndAlert();
    void droppedRepliesAndOldWishSearchesGo();
    void closingTabRemovesItsRecords();
    void closedPageDoesNotSort();
    void notSentWhileLoggedOut();
    void cleanupTestCase();

private:
    // Types into the search box and presses Return; the new tab, or null.
    SearchResultsForm* Search(const QString& text);
    // A reply from one of the fake peers; waits until the view has it.
    void Send(FakePeer& peer, const QString& user, quint32 token, const Reply& reply);

    MainWindowFixture m_fixture;
    FakePeer m_bob;
    FakePeer m_carl;
    FakePeer m_dave;
};

void TestSearchView::initTestCase()
{
    QVERIFY(m_fixture.Start());
    for (auto peer : {std::make_pair(&m_bob, "bob"), std::make_pair(&m_carl, "carl"), std::make_pair(&m_dave, "dave")})
        QVERIFY(ConnectSearchPeer(*peer.first, m_fixture.listeningPort, peer.second));
}

SearchResultsForm* TestSearchView::Search(const QString& text)
{
    const int before = ManualTabs()->count();
    SearchEdit()->setFocus();
    QTest::keyClicks(SearchEdit(), text);
    QTest::keyClick(SearchEdit(), Qt::Key_Return);
    return ManualTabs()->count() == before + 1 ? LastTab(ManualTabs()) : nullptr;
}

void TestSearchView::Send(FakePeer& peer, const QString& user, quint32 token, const Reply& reply)
{
    QVERIFY(SendReply(peer, user, token, reply));
}

void TestSearchView::searchScopes_data()
{
    QTest::addColumn<QString>("scope");
    QTest::addColumn<QList<quint32>>("codes");
    QTest::addColumn<QString>("icon");
    QTest::newRow("all") << "All" << QList<quint32>{26, 153} << QString(":/icons/search_icon");
    QTest::newRow("user list") << "User List" << QList<quint32>{42, 42} << QString(":/icons/users_icon");
}

void TestSearchView::searchScopes()
{
    QFETCH(QString, scope);
    QFETCH(QList<quint32>, codes);
    QFETCH(QString, icon);
    // Two online listed users and one offline: the user-list search goes to the online ones.
    for (const char* name : {"ulla", "uwe", "udo"}) {
        ItemPtr user = d.GetType("user")->GetItem(Value(name));
        if (!user.IsConnected("in_user_list"))
            user.NewItem("in_user_list");
        if (QByteArray(name) != "udo" && !user.IsConnected("is_online"))
            user.NewItem("is_online");
    }
    Scope()->setCurrentIndex(Scope()->findText(scope));
    QVERIFY(m_fixture.Sync());
    SearchResultsForm* tab = Search("  abc  ");
    QVERIFY(tab);
    QCOMPARE(ManualTabs()->tabText(ManualTabs()->indexOf(tab)), QString("abc"));
    QVERIFY(SameIcon(ManualTabs()->tabIcon(ManualTabs()->indexOf(tab)), icon));
    QCOMPARE(ManualTabs()->currentWidget(), tab);
    QCOMPARE(SearchEdit()->text(), QString());

    const quint32 token = TokenOf(tab);
    QVERIFY(token);
    m_fixture.FramesOf(0);
    QList<quint32> seen;
    for (const FakeServer::Frame& f : m_fixture.server.Frames())
        if (f.code != 7)
            seen << f.code;
    QCOMPARE(seen, codes);
    if (scope == "All") {
        QCOMPARE(m_fixture.server.Frames()[0].raw, Hex("0f000000 1a000000") + F::U32(token) + Hex("03000000 616263"));
        QCOMPARE(m_fixture.server.Frames()[1].raw, Hex("0b000000 99000000 03000000 616263"));
    } else {
        QSet<QByteArray> sent;
        for (const FakeServer::Frame& f : m_fixture.FramesOf(42))
            sent << f.fields;
        QCOMPARE(sent, QSet<QByteArray>({F::Str("ulla") + F::U32(token) + F::Str("abc"),
                                         F::Str("uwe") + F::U32(token) + F::Str("abc")}));
    }
    Scope()->setCurrentIndex(0);
}

void TestSearchView::roomScopeFollowsRoomEntry()
{
    ItemPtr room = d.GetType("room")->GetItem(Value("r"));
    room.NewItem("in_room");
    QCOMPARE(Scope()->itemText(Scope()->count() - 1), QString("Room: r"));
    Scope()->setCurrentIndex(Scope()->count() - 1);
    QVERIFY(m_fixture.Sync());
    SearchResultsForm* tab = Search("song");
    QVERIFY(tab);
    QVERIFY(SameIcon(ManualTabs()->tabIcon(ManualTabs()->indexOf(tab)), ":/icons/room_icon"));
    const QList<FakeServer::Frame> frames = m_fixture.FramesOf(120);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames[0].raw, Hex("15000000 78000000 01000000 72") + F::U32(TokenOf(tab)) + Hex("04000000 736f6e67"));
    QVERIFY(m_fixture.FramesOf(153).isEmpty());

    room.Disconnect("in_room");
    QCOMPARE(Scope()->findText("Room: r"), -1);
    QCOMPARE(Scope()->count(), 2);
}

void TestSearchView::blankSearchSendsNothing()
{
    Scope()->setCurrentIndex(0);
    QVERIFY(m_fixture.Sync());
    const int tabs = ManualTabs()->count();
    QVERIFY(!Search("   "));
    QCOMPARE(ManualTabs()->count(), tabs);
    QCOMPARE(SearchEdit()->text(), QString("   "));
    QCOMPARE(m_fixture.FramesOf(26).size() + m_fixture.FramesOf(153).size(), 0);
    SearchEdit()->clear();
}

void TestSearchView::repliesBecomeRows()
{
    SearchResultsForm* tab = Search("abc");
    QVERIFY(tab);
    const quint32 token = TokenOf(tab);
    QTreeWidget* tree = tab->searchResults();
    QVERIFY(PendingTimers().isEmpty());

    Reply first;
    first.paths = QStringList{"\\music\\abc\\abc two.mp3", "\\music\\abc\\abc one.mp3"};
    first.sizes = {0, 5000000000LL};
    first.speed = 1536;
    first.queue = 7;
    Send(m_bob, "bob", token, first);
    const QList<QTimer*> pending = PendingTimers();
    QCOMPARE(pending.size(), 1);
    QCOMPARE(pending[0]->interval(), 1000);

    // The same user again, now with a free slot and no speed: the first reply's cells stay.
    Reply second;
    second.paths = QStringList{"\\other\\abc three.mp3"};
    second.free = true;
    Send(m_bob, "bob", token, second);
    Reply third;
    third.paths = QStringList{"\\music\\abc\\abc four.mp3"};
    third.free = true;
    Send(m_carl, "carl", token, third);
    QCOMPARE(PendingTimers(), pending);  // one sort for the burst

    QCOMPARE(tree->topLevelItemCount(), 2);
    QTreeWidgetItem* bob = tree->topLevelItem(0);
    QCOMPARE(RowTexts(bob), QStringList({"bob", "7", "1.5", "", "", "", ""}));
    QCOMPARE(bob->childCount(), 2);
    QCOMPARE(RowTexts(bob->child(0)), QStringList({"", "", "", "abc/music", "", "", ""}));
    QList<QStringList> files{RowTexts(bob->child(0)->child(0)), RowTexts(bob->child(0)->child(1))};
    std::sort(files.begin(), files.end());
    QCOMPARE(files, QList<QStringList>({{"", "", "", "", "abc one.mp3", "5,000,000,000", ""},
                                        {"", "", "", "", "abc two.mp3", "", ""}}));
    QCOMPARE(RowTexts(bob->child(1)), QStringList({"", "", "", "other", "", "", ""}));
    QVERIFY(bob->isExpanded() && bob->child(0)->isExpanded());
    QCOMPARE(RowTexts(tree->topLevelItem(1)), QStringList({"carl", "Y", "", "", "", "", ""}));
    QCOMPARE(tree->topLevelItem(1)->child(0)->text(3), QString("abc/music"));

    // The deferred sort puts the free slot first.
    QTRY_VERIFY(PendingTimers().isEmpty());
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("carl"));
}

void TestSearchView::filterHidesRows()
{
    SearchResultsForm* tab = LastTab(ManualTabs());
    QTreeWidget* tree = tab->searchResults();
    Reply three;
    three.paths = QStringList{"\\box\\abc a.mp3", "\\box\\abc b.mp3", "\\box\\abc c.mp3"};
    Send(m_dave, "dave", TokenOf(tab), three);
    QCOMPARE(VisibleFiles(tree).size(), 7);

    tab->filterEdit()->setFocus();
    QTest::keyClicks(tab->filterEdit(), "one");
    QCOMPARE(VisibleFiles(tree), QStringList({"bob:abc one.mp3"}));
    QVERIFY(UserRow(tree, "carl")->isHidden());
    QVERIFY(UserRow(tree, "bob")->child(1)->isHidden());
    QVERIFY(UserRow(tree, "dave")->isHidden());

    // A word found only in the folder keeps every file of that folder.
    tab->filterEdit()->clear();
    QTest::keyClicks(tab->filterEdit(), "music");
    QCOMPARE(VisibleFiles(tree), QStringList({"bob:abc one.mp3", "bob:abc two.mp3", "carl:abc four.mp3"}));

    // At least three files per folder: smaller folders go, and users left with none.
    tab->filterEdit()->clear();
    QTest::keyClicks(tab->filterEdit(), "mfif:3");
    QCOMPARE(VisibleFiles(tree), QStringList({"dave:abc a.mp3", "dave:abc b.mp3", "dave:abc c.mp3"}));
    QVERIFY(UserRow(tree, "bob")->isHidden());
    QVERIFY(UserRow(tree, "carl")->isHidden());
    QVERIFY(!UserRow(tree, "dave")->isHidden());

    tab->filterEdit()->clear();
    QCOMPARE(VisibleFiles(tree).size(), 7);
}

void TestSearchView::arrivingRowsMeetTheFilter()
{
    SearchResultsForm* tab = Search("zed");
    QVERIFY(tab);
    QTest::keyClicks(tab->filterEdit(), "nomatch");
    Reply reply;
    reply.paths = QStringList{"\\f\\zed 1.mp3", "\\f\\zed 2.mp3"};
    Send(m_bob, "bob", TokenOf(tab), reply);
    QTreeWidgetItem* bob = UserRow(tab->searchResults(), "bob");
    QVERIFY(bob);
    // A folder of two files, neither of which matches, shows neither itself nor its user.
    QVERIFY(bob->child(0)->isHidden());
    QVERIFY(bob->isHidden());

    tab->filterEdit()->clear();
    QVERIFY(!bob->isHidden() && !bob->child(0)->isHidden());
}

void TestSearchView::doubleClickQueuesFolder()
{
    SearchResultsForm* tab = Search("song");
    QVERIFY(tab);
    Reply reply;
    reply.paths = QStringList{"\\m\\song b.mp3", "\\m\\Song c.mp3", "\\m\\song a.mp3"};
    reply.sizes = {10, 20, 30};
    m_bob.TakeFrames();
    Send(m_bob, "bob", TokenOf(tab), reply);
    QTreeWidget* tree = tab->searchResults();
    QTreeWidgetItem* folder = UserRow(tree, "bob")->child(0);
    tree->scrollToItem(folder);
    DoubleClick(tree, folder);

    // Code-unit order: capitals first.
    QVERIFY(m_bob.WaitForFrames(3));
    QCOMPARE(m_bob.Frames()[0].body, P::U32(43) + P::Str("\\m\\Song c.mp3"));
    QCOMPARE(m_bob.Frames()[1].body, P::U32(43) + P::Str("\\m\\song a.mp3"));
    QCOMPARE(m_bob.Frames()[2].body, P::U32(43) + P::Str("\\m\\song b.mp3"));

    ItemPtr text = d.GetType("search_request_text")->HasItem(Value("song"));
    const ItemSet entries = text.GetItems("download_entry");
    QCOMPARE(int(entries.size()), 3);
    for (ItemPtr entry : entries)
        QCOMPARE(entry["subfolder_save_level"].AsString(), QString("0"));
    for (int k = 0; k < 3; ++k)
        QVERIFY(SameIcon(folder->child(k)->icon(4), ":/icons/download_icon"));

    // The links reach the save file, so the entries keep their search text across a restart.
    const QString path = m_fixture.root.filePath("search.save");
    QVERIFY(dataSaver->Save(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(savefile::Parse(file.readAll()).Linked("search_request_text", "song", "download_entry").size(), 3);
}

void TestSearchView::refusedDownloadGetsNoIcon()
{
    SearchResultsForm* tab = LastTab(ManualTabs());
    Reply reply;
    reply.paths = QStringList{"\\neg\\song bad.mp3"};
    reply.sizes = {-1};
    Send(m_carl, "carl", TokenOf(tab), reply);
    QTreeWidget* tree = tab->searchResults();
    QTreeWidgetItem* file = UserRow(tree, "carl")->child(0)->child(0);
    tree->scrollToItem(file);
    DoubleClick(tree, file);
    QVERIFY(file->icon(4).isNull());
}

void TestSearchView::wishListTabsAndAlert()
{
    SearchResultsForm* tab = Search("wanted");
    QVERIFY(tab);
    QVERIFY(MainWindowFixture::Trigger(tab, "Add to Wishlist"));
    ItemPtr wish = d.GetType("wish_list_item")->HasItem(Value("wanted"));
    QVERIFY(wish && wish.IsConnected("wish_list_item_enabled"));
    auto* wishList = Child<QTreeWidget>("wishList");
    QCOMPARE(wishList->topLevelItemCount(), 1);
    QCOMPARE(wishList->topLevelItem(0)->text(0), QString("Y"));
    QCOMPARE(wishList->topLevelItem(0)->text(1), QString("wanted"));
    // Again on the same manual tab: nothing more.
    QVERIFY(MainWindowFixture::Trigger(tab, "Add to Wishlist"));
    QCOMPARE(wishList->topLevelItemCount(), 1);

    auto* pages = searchForm->findChild<QTabWidget*>("tabWidget");
    const quint32 first = gp_server->FileSearch("wanted", true);
    const quint32 second = gp_server->FileSearch("wanted", true);
    Reply reply;
    reply.paths = QStringList{"\\w\\wanted 1.mp3"};
    Send(m_bob, "bob", first, reply);
    reply.paths = QStringList{"\\w\\wanted 2.mp3"};
    Send(m_carl, "carl", second, reply);
    QCOMPARE(WishTabs()->count(), 1);
    QCOMPARE(WishTabs()->tabText(0), QString("wanted"));
    QCOMPARE(pages->currentIndex(), 0);  // opened in the background
    QCOMPARE(LastTab(WishTabs())->searchResults()->topLevelItemCount(), 2);
    QStringList events;
    for (QAction* action : eventToolBar->actions())
        events << action->text();
    QCOMPARE(events.count("wanted"), 1);

    // The filter typed on a wish's tab stays with the wish for its next tab.
    QTest::keyClicks(LastTab(WishTabs())->filterEdit(), "2");
    QCOMPARE(ValueOf(wish, "wish_list_item_filter_text"), QString("2"));

    // Unchecking the wish disables it: a later wish search opens nothing once its tab is closed.
    QCheckBox* box = qobject_cast<QCheckBox*>(wishList->itemWidget(wishList->topLevelItem(0), 0));
    QVERIFY(box);
    box->click();
    QVERIFY(!wish.IsConnected("wish_list_item_enabled"));
    QCOMPARE(wishList->topLevelItem(0)->text(0), QString());
    WishTabs()->tabCloseRequested(0);
    QCOMPARE(WishTabs()->count(), 0);
    reply.paths = QStringList{"\\w\\wanted 3.mp3"};
    Send(m_dave, "dave", gp_server->FileSearch("wanted", true), reply);
    QCOMPARE(WishTabs()->count(), 0);
    box->click();
    QVERIFY(wish.IsConnected("wish_list_item_enabled"));
    reply.paths = QStringList{"\\w\\wanted 4.mp3"};
    Send(m_dave, "dave", gp_server->FileSearch("wanted", true), reply);
    QCOMPARE(WishTabs()->count(), 1);
    QCOMPARE(LastTab(WishTabs())->filterEdit()->text(), QString("2"));
    QVERIFY(UserRow(LastTab(WishTabs())->searchResults(), "dave")->isHidden());
}

void TestSearchView::droppedRepliesAndOldWishSearchesGo()
{
    SearchResultsForm* tab = Search("lost");
    QVERIFY(tab);
    QVERIFY(MainWindowFixture::Trigger(tab, "Add to Wishlist"));
    auto* pages = searchForm->findChild<QTabWidget*>("tabWidget");
    pages->setCurrentIndex(1);
    auto* wishList = Child<QTreeWidget>("wishList");
    QTreeWidgetItem* row = wishList->findItems("lost", Qt::MatchExactly, 1).value(0);
    QVERIFY(row);
    qobject_cast<QCheckBox*>(wishList->itemWidget(row, 0))->click();
    const size_t requests = Count("search_request");
    const size_t replies = Count("search_results");
    const size_t results = Count("search_result");

    // The disabled wish's reply is dropped, records and all.
    const int wishTabs = WishTabs()->count();
    Reply reply;
    reply.paths = QStringList{"\\l\\lost 1.mp3", "\\l\\lost 2.mp3"};
    Send(m_bob, "bob", gp_server->FileSearch("lost", true), reply);
    QCOMPARE(WishTabs()->count(), wishTabs);
    QCOMPARE(Count("search_results"), replies);
    QCOMPARE(Count("search_result"), results);

    // Of the wish's searches no tab took up, the latest two wait for late replies.
    for (int k = 0; k < 3; ++k)
        gp_server->FileSearch("lost", true);
    QCOMPARE(Count("search_request"), requests + 2);
    // Removing the wish ends them.
    wishList->scrollToItem(row);
    QTest::mouseClick(wishList->viewport(), Qt::LeftButton, Qt::NoModifier, wishList->visualItemRect(row).center());
    QVERIFY(MainWindowFixture::Trigger(wishList, "Remove Wish List Search"));
    QVERIFY(!d.GetType("wish_list_item")->HasItem(Value("lost")));
    QCOMPARE(Count("search_request"), requests);
    pages->setCurrentIndex(0);
}

void TestSearchView::closingTabRemovesItsRecords()
{
    const char* types[] = {"search_results_widget", "search_request", "search_results", "search_result",
                           "search_results_user_node", "search_results_folder_node", "search_result_node"};
    std::map<std::string, size_t> before;
    for (const char* type : types)
        before[type] = Count(type);
    const size_t users = Count("user");

    SearchResultsForm* tab = Search("gone");
    QVERIFY(tab);
    Reply reply;
    reply.paths = QStringList{"\\a\\gone 1.mp3", "\\b\\gone 2.mp3"};
    Send(m_bob, "bob", TokenOf(tab), reply);
    Send(m_carl, "carl", TokenOf(tab), reply);
    QCOMPARE(Count("search_result_node"), before["search_result_node"] + 4);

    QPointer<SearchResultsForm> page = tab;
    const int index = ManualTabs()->indexOf(tab);
    QVERIFY(ClickCloseMark(ManualTabs(), index));
    QVERIFY(!page);
    for (const char* type : types)
        QCOMPARE(Count(type), before[type]);
    QVERIFY(d.GetType("search_request_text")->HasItem(Value("gone")));
    QCOMPARE(Count("user"), users);
}

void TestSearchView::closedPageDoesNotSort()
{
    // The tab goes within the second after a reply: its pending sort must come to nothing.
    SearchResultsForm* tab = Search("quick");
    QVERIFY(tab);
    Reply reply;
    reply.paths = QStringList{"\\q\\quick.mp3"};
    Send(m_bob, "bob", TokenOf(tab), reply);
    QVERIFY(delayedInvoker->IsPending(tab, "1Sort()"));
    ManualTabs()->tabCloseRequested(ManualTabs()->indexOf(tab));
    QTRY_VERIFY(PendingTimers().isEmpty());

    // A page out of its tab finds itself closed and leaves its rows alone. The rows are all free
    // and differ in speed, so a sort moves them, as it does on a page still open.
    const auto fill = [](SearchResultsForm& page) {
        QTreeWidget* tree = page.searchResults();
        tree->setColumnCount(3);
        for (const char* speed : {"1", "3", "2"}) {
            auto* row = new SearchResultListItem(tree);
            row->setText(1, "Y");
            row->setText(2, speed);
        }
        page.SetSortingParamters(1, Qt::AscendingOrder);
        return tree;
    };
    SearchResultsForm open("open", true);
    QTreeWidget* sorted = fill(open);
    open.Sort();
    QCOMPARE(sorted->topLevelItem(1)->text(2), QString("2"));

    SearchResultsForm page("loose", true);
    QTreeWidget* tree = fill(page);
    page.MarkClosed();
    page.Sort();
    QCOMPARE(tree->topLevelItem(1)->text(2), QString("3"));
}

// Runs last: it logs out.
void TestSearchView::notSentWhileLoggedOut()
{
    auto* status = Child<QLabel>("searchStatusLabel");
    QVERIFY(!status->isVisible());
    gp_server->Disconnect();
    const int tabs = ManualTabs()->count();
    QVERIFY(!Search("offline"));
    QCOMPARE(ManualTabs()->count(), tabs);
    QVERIFY(status->isVisible());
    QCOMPARE(status->text(), QString("Search not sent: not connected to the server."));
    // The text waits in the box; no search was recorded for it.
    QCOMPARE(SearchEdit()->text(), QString("offline"));
    QVERIFY(!d.GetType("search_request_text")->HasItem(Value("offline")));
}

void TestSearchView::cleanupTestCase()
{
    // The messenger's per-connection records go with their connections, not with the messenger.
    for (FakePeer* peer : {&m_bob, &m_carl, &m_dave})
        peer->Close();
    QTRY_COMPARE(Count("peer_socket"), size_t(0));
    delete mainWindow;
}

QTEST_MAIN(TestSearchView)
#include "tst_searchview.moc"
