// One result tab of the search page worked as a user does: the filter bar (saved filters, the
// default filter, the help window), the related searches, the row menu's downloads and its way
// into the owner's share, and the search page's own widgets.

#include "mainwindowfixture.h"
#include "menuchoice.h"
#include "searchreply.h"

#include "app/eventtoolbar.h"
#include "common/fakepeer.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "ui/search/filterhelpdialog.h"
#include "ui/search/searchform.h"
#include "ui/search/searchresultsform.h"
#include "ui/search/shareform.h"
#include "ui/search/sharesform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>

#include <algorithm>

using P = FakePeer;
using F = FakeServer;

namespace {

QTabWidget* ManualTabs() { return Child<QTabWidget>("searchTabControl"); }

template <typename T>
T* W(QWidget* form, const char* name)
{
    return Child<T>(name, form);
}

unsigned int TokenOf(SearchResultsForm* tab)
{
    ItemPtr widget = d.GetType("search_results_widget")->HasItem(Value(tab));
    return widget ? ItemPtr(widget.GetItems("search_request")).AsUInt() : 0;
}

QStringList Entries(QComboBox* box)
{
    QStringList out;
    for (int k = 0; k < box->count(); ++k)
        out << box->itemText(k);
    return out;
}

// The first row of the tree, at any depth, that shows the text in the column.
QTreeWidgetItem* Row(SearchResultsForm* tab, int column, const QString& text)
{
    const QList<QTreeWidgetItem*> rows =
        tab->searchResults()->findItems(text, Qt::MatchExactly | Qt::MatchCaseSensitive | Qt::MatchRecursive, column);
    return rows.isEmpty() ? nullptr : rows.first();
}

// Selects the rows with control-clicks, in this order, then opens the menu on the first one and
// chooses the entry.
void MenuOver(SearchResultsForm* tab, const QList<QTreeWidgetItem*>& rows, const QString& entry,
              QStringList* shown = nullptr)
{
    QTreeWidget* tree = tab->searchResults();
    tree->clearSelection();
    for (QTreeWidgetItem* row : rows) {
        tree->scrollToItem(row);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier, tree->visualItemRect(row).center());
    }
    tree->scrollToItem(rows.first());
    ChooseFromMenu(entry, shown);
    emit tree->customContextMenuRequested(tree->visualItemRect(rows.first()).center());
}

// The files the peer was asked to queue (message 43), in order.
QStringList Queued(FakePeer& peer)
{
    QStringList out;
    for (const FakePeer::Frame& frame : peer.Frames())
        if (frame.body.left(4) == P::U32(43))
            out << QString::fromUtf8(frame.body.mid(8));
    return out;
}

// A saved wish list longer than the search page builds in one go; every third wish enabled.
const int kSavedWishes = 1200;
QString SavedWish(int k)
{
    return QString("%1 wish %2").arg(k % 2 ? "Song" : "song").arg(k * 7 % kSavedWishes, 4, 10, QChar('0'));
}

QByteArray SaveWithWishes(const QList<QPair<QString, QString>>& settings)
{
    savefile::ExtraType wishes{"wish_list_item", false, {}};
    savefile::ExtraType enabled{"wish_list_item_enabled", true, {{1000, {}}}};
    QList<QPair<qint32, qint32>> links;
    for (int k = 0; k < kSavedWishes; ++k) {
        wishes.items.append({1001 + k, SavedWish(k).toUtf8()});
        if (k % 3 == 0)
            links.append({1001 + k, 1000});
    }
    return savefile::BuildSave(settings, {wishes, enabled}, links);
}

size_t EntriesLinkedTo(const QString& searchText)
{
    ItemPtr text = d.GetType("search_request_text")->HasItem(Value(searchText));
    return text ? text.GetItems("download_entry").size() : 0;
}

}  // namespace

class TestSearchTab : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void savedWishListComesBackWhole();
    void pageWidgets();
    void savedFilters();
    void chooseSavedFilter();
    void defaultFilter();
    void relatedSearches();
    void filterHelpWindow();
    void arrivingRowsMeetTheFilterAsTyped();
    void downloadFiles();
    void downloadFolders();
    void browseFolderOpensTheRowsOwner();
    void showingWishPageEndsItsAlert();
    void ampersandInSearchTextShowsAsItIs();
    void cleanupTestCase();

private:
    SearchResultsForm* Search(const QString& text);
    void Send(FakePeer& peer, const QString& user, quint32 token, const Reply& reply);
    // Brings the tab forward, as a click on its tab does.
    static void Show(SearchResultsForm* tab) { ManualTabs()->setCurrentWidget(tab); }

    MainWindowFixture m_fixture;
    FakePeer m_bob;
    FakePeer m_carl;
};

void TestSearchTab::initTestCase()
{
    m_fixture.buildSave = SaveWithWishes;
    QVERIFY(m_fixture.Start());
    for (auto peer : {std::make_pair(&m_bob, "bob"), std::make_pair(&m_carl, "carl")})
        QVERIFY(ConnectSearchPeer(*peer.first, m_fixture.listeningPort, peer.second));
}

SearchResultsForm* TestSearchTab::Search(const QString& text)
{
    const int before = ManualTabs()->count();
    QLineEdit* edit = Child<QLineEdit>("searchEdit");
    QTest::keyClicks(edit, text);
    QTest::mouseClick(Child<QPushButton>("searchButton"), Qt::LeftButton);
    return ManualTabs()->count() == before + 1
               ? qobject_cast<SearchResultsForm*>(ManualTabs()->widget(ManualTabs()->count() - 1))
               : nullptr;
}

void TestSearchTab::Send(FakePeer& peer, const QString& user, quint32 token, const Reply& reply)
{
    QVERIFY(SendReply(peer, user, token, reply));
}

void TestSearchTab::savedWishListComesBackWhole()
{
    auto* wishList = Child<QTreeWidget>("wishList");
    QTRY_COMPARE(wishList->topLevelItemCount(), kSavedWishes);
    QStringList expected;
    for (int k = 0; k < kSavedWishes; ++k)
        expected << SavedWish(k);
    // The tree's own order: the desktop's collation.
    std::sort(expected.begin(), expected.end(),
              [](const QString& a, const QString& b) { return a.localeAwareCompare(b) < 0; });
    QStringList texts;
    for (int k = 0; k < kSavedWishes; ++k) {
        QTreeWidgetItem* row = wishList->topLevelItem(k);
        texts << row->text(1);
        const bool enabled = d.GetType("wish_list_item")->HasItem(Value(row->text(1))).IsConnected(
            "wish_list_item_enabled");
        auto* box = qobject_cast<QCheckBox*>(wishList->itemWidget(row, 0));
        QVERIFY(box);
        QCOMPARE(box->isChecked(), enabled);
        QCOMPARE(row->text(0), QString(enabled ? "Y" : ""));
    }
    QCOMPARE(texts, expected);

    // The last rows work like the first: their boxes reach the graph.
    QTreeWidgetItem* last = wishList->topLevelItem(kSavedWishes - 1);
    ItemPtr wish = d.GetType("wish_list_item")->HasItem(Value(last->text(1)));
    const bool was = wish.IsConnected("wish_list_item_enabled");
    qobject_cast<QCheckBox*>(wishList->itemWidget(last, 0))->click();
    QCOMPARE(wish.IsConnected("wish_list_item_enabled"), !was);
    qobject_cast<QCheckBox*>(wishList->itemWidget(last, 0))->click();
    QCOMPARE(wish.IsConnected("wish_list_item_enabled"), was);
}

void TestSearchTab::pageWidgets()
{
    // The Search button runs the search as Return does.
    SearchResultsForm* tab = Search("button");
    QVERIFY(tab);
    QCOMPARE(ManualTabs()->tabText(ManualTabs()->indexOf(tab)), QString("button"));
    // Closable as the tab widget's property tells it: the tab row draws the close marks.
    QVERIFY(ManualTabs()->isMovable() && ManualTabs()->property("tabsClosable").toBool());
    auto* wishTabs = Child<QTabWidget>("wishListTabControl");
    QVERIFY(!wishTabs->isMovable() && wishTabs->property("tabsClosable").toBool());
    auto* wishList = Child<QTreeWidget>("wishList");
    QVERIFY(!wishList->rootIsDecorated() && wishList->isSortingEnabled());
    auto* pages = Child<QTabWidget>("tabWidget", searchForm);
    QCOMPARE(pages->tabText(0), QString("Manual Searches"));
    QCOMPARE(pages->tabText(1), QString("Wish List Searches"));
    QVERIFY(Child<QWidget>("searchSplitter_2", searchForm)->isAncestorOf(ManualTabs()));
    QVERIFY(Child<QWidget>("searchSplitter", searchForm)->isAncestorOf(wishList));
}

void TestSearchTab::savedFilters()
{
    SearchResultsForm* one = Search("one");
    SearchResultsForm* two = Search("two");
    QVERIFY(one && two);
    QPushButton* save1 = W<QPushButton>(one, "saveFilterButton");
    QPushButton* save2 = W<QPushButton>(two, "saveFilterButton");
    const size_t before = d.GetType("saved_filter")->ItemCount();

    Show(one);
    QTest::keyClicks(one->filterEdit(), "   ");
    QTest::mouseClick(save1, Qt::LeftButton);
    QCOMPARE(d.GetType("saved_filter")->ItemCount(), before);
    one->filterEdit()->clear();

    QTest::keyClicks(one->filterEdit(), "  Rock   Live  ");
    QCOMPARE(save1->text(), QString("Save Filter"));
    QTest::mouseClick(save1, Qt::LeftButton);
    QVERIFY(d.GetType("saved_filter")->HasItem(Value("rock live")));
    QCOMPARE(d.GetType("saved_filter")->ItemCount(), before + 1);
    QCOMPARE(save1->text(), QString("Remove Filter"));
    for (SearchResultsForm* tab : {one, two})
        QCOMPARE(Entries(W<QComboBox>(tab, "savedFiltersBox")), QStringList({"-- saved filters", "rock live"}));
    // The box keeps what was typed.
    QCOMPARE(one->filterEdit()->text(), QString("  Rock   Live  "));

    Show(two);
    QTest::keyClicks(two->filterEdit(), "ROCK LIVE");
    QCOMPARE(save2->text(), QString("Remove Filter"));
    QTest::mouseClick(save2, Qt::LeftButton);
    QVERIFY(!d.GetType("saved_filter")->HasItem(Value("rock live")));
    for (SearchResultsForm* tab : {one, two}) {
        QCOMPARE(Entries(W<QComboBox>(tab, "savedFiltersBox")), QStringList({"-- saved filters"}));
        QCOMPARE(W<QPushButton>(tab, "saveFilterButton")->text(), QString("Save Filter"));
    }

    // A tab opened later lists the saved filters there are.
    QTest::mouseClick(save2, Qt::LeftButton);
    SearchResultsForm* three = Search("three");
    QVERIFY(three);
    QCOMPARE(Entries(W<QComboBox>(three, "savedFiltersBox")), QStringList({"-- saved filters", "rock live"}));
}

void TestSearchTab::chooseSavedFilter()
{
    SearchResultsForm* tab = Search("choose");
    QVERIFY(tab);
    QComboBox* box = W<QComboBox>(tab, "savedFiltersBox");
    QCOMPARE(box->itemText(1), QString("rock live"));
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);
    QCOMPARE(tab->filterEdit()->text(), QString("rock live"));
    QCOMPARE(box->currentIndex(), 0);
    QCOMPARE(W<QPushButton>(tab, "saveFilterButton")->text(), QString("Remove Filter"));
    QTest::mouseClick(W<QPushButton>(tab, "pushButton_2"), Qt::LeftButton);
    QCOMPARE(tab->filterEdit()->text(), QString());
    QCOMPARE(W<QPushButton>(tab, "saveFilterButton")->text(), QString("Save Filter"));
}

void TestSearchTab::defaultFilter()
{
    SearchResultsForm* tab = Search("default");
    QVERIFY(tab);
    QCheckBox* box = W<QCheckBox>(tab, "defaultFilterBox");
    QVERIFY(!HasSetting("default_search_filter"));
    box->click();
    QVERIFY(!box->isChecked());
    QVERIFY(!HasSetting("default_search_filter"));

    QTest::keyClicks(tab->filterEdit(), "Rock ");
    box->click();
    QVERIFY(box->isChecked());
    QCOMPARE(GetSetting("default_search_filter"), QString("Rock "));
    // Checked for exactly that text only.
    QTest::keyClick(tab->filterEdit(), Qt::Key_Backspace);
    QVERIFY(!box->isChecked());
    tab->filterEdit()->clear();
    QTest::keyClicks(tab->filterEdit(), "rock ");
    QVERIFY(!box->isChecked());
    tab->filterEdit()->clear();
    QTest::keyClicks(tab->filterEdit(), "Rock ");
    QVERIFY(box->isChecked());

    SearchResultsForm* next = Search("next");
    QVERIFY(next);
    QCOMPARE(next->filterEdit()->text(), QString("Rock "));
    QCheckBox* nextBox = W<QCheckBox>(next, "defaultFilterBox");
    QVERIFY(nextBox->isChecked());
    nextBox->click();
    QVERIFY(!HasSetting("default_search_filter"));
    SearchResultsForm* plain = Search("plain");
    QVERIFY(plain);
    QCOMPARE(plain->filterEdit()->text(), QString());
    QVERIFY(!W<QCheckBox>(plain, "defaultFilterBox")->isChecked());
}

void TestSearchTab::relatedSearches()
{
    SearchResultsForm* tab = Search("corr");
    QVERIFY(tab);
    QTreeWidget* list = tab->CorrelationsWidget();
    QVERIFY(list->isHidden());
    QCOMPARE(list->headerItem()->text(0), QString("related searches"));

    QSignalSpy spy(gp_server, &Server::SearchCorrelations);
    m_fixture.server.Send(153, F::Str("elsewhere") + F::U32(1) + F::Str("x") + F::I32(5));
    QVERIFY(spy.wait());
    QVERIFY(list->isHidden());
    QCOMPARE(list->topLevelItemCount(), 0);

    // Ranks are numbers: 12 above 9.
    m_fixture.server.Send(153, F::Str("corr") + F::U32(3) + F::Str("low") + F::I32(1) + F::Str("high") + F::I32(12) +
                                   F::Str("mid") + F::I32(9));
    QVERIFY(spy.wait());
    QVERIFY(!list->isHidden());
    QStringList rows;
    for (int k = 0; k < list->topLevelItemCount(); ++k)
        rows << list->topLevelItem(k)->text(0);
    QCOMPARE(rows, QStringList({"high", "mid", "low"}));

    // None for a search: no list.
    m_fixture.server.Send(153, F::Str("corr") + F::U32(0));
    QVERIFY(spy.wait());
    QVERIFY(list->isHidden());
}

void TestSearchTab::filterHelpWindow()
{
    SearchResultsForm* one = Search("help one");
    SearchResultsForm* two = Search("help two");
    QVERIFY(one && two && !filterHelpDialog);
    Show(one);
    QTest::mouseClick(W<QPushButton>(one, "pushButton"), Qt::LeftButton);
    QPointer<FilterHelpDialog> first = filterHelpDialog;
    QVERIFY(first && first->isVisible() && !first->isModal());
    QCOMPARE(first->parentWidget(), one);
    Show(two);
    QTest::mouseClick(W<QPushButton>(two, "pushButton"), Qt::LeftButton);
    QCOMPARE(filterHelpDialog, first.data());
    QCOMPARE(Visible<FilterHelpDialog>().size(), 1);

    QTest::mouseClick(W<QPushButton>(first, "pushButton"), Qt::LeftButton);
    QTRY_VERIFY(!first);
    QVERIFY(!filterHelpDialog);

    // A new window, owned by the page that asked; it goes with the page.
    QTest::mouseClick(W<QPushButton>(two, "pushButton"), Qt::LeftButton);
    QPointer<FilterHelpDialog> second = filterHelpDialog;
    QVERIFY(second && second->isVisible());
    QCOMPARE(second->parentWidget(), two);
    ManualTabs()->tabCloseRequested(ManualTabs()->indexOf(two));
    QVERIFY(!second);
    QVERIFY(!filterHelpDialog);
}

void TestSearchTab::arrivingRowsMeetTheFilterAsTyped()
{
    // "tercon" spans the folder's end and the file's start: no level holds it, whether the
    // filter was typed before the rows came or after.
    SearchResultsForm* tab = Search("container");
    QVERIFY(tab);
    QTest::keyClicks(tab->filterEdit(), "tercon");
    Reply reply;
    reply.paths = QStringList{"\\lackluster\\container.ogg"};
    Send(m_bob, "bob", TokenOf(tab), reply);
    QTreeWidgetItem* file = Row(tab, 4, "container.ogg");
    QVERIFY(file);
    QVERIFY(file->isHidden() && file->parent()->isHidden() && file->parent()->parent()->isHidden());

    tab->filterEdit()->clear();
    QVERIFY(!file->isHidden());
    QTest::keyClicks(tab->filterEdit(), "lack con");
    QVERIFY(!file->isHidden() && !file->parent()->parent()->isHidden());
}

void TestSearchTab::downloadFiles()
{
    SearchResultsForm* tab = Search("song");
    QVERIFY(tab);
    Reply reply;
    reply.paths = QStringList{"\\m\\song b.mp3", "\\m\\song a.mp3", "\\n\\song c.mp3"};
    Send(m_bob, "bob", TokenOf(tab), reply);
    m_bob.TakeFrames();

    // On a user row the menu holds only the per-user entries.
    QStringList shown;
    MenuOver(tab, {Row(tab, 0, "bob")}, QString(), &shown);
    QVERIFY(!shown.isEmpty());
    QVERIFY(!shown.contains("Download File(s)") && !shown.contains("Download Folder(s)") &&
            !shown.contains("Browse Folder"));
    shown.clear();
    MenuOver(tab, {Row(tab, 3, "n")}, QString(), &shown);
    QVERIFY(!shown.contains("Download File(s)") && shown.contains("Download Folder(s)") &&
            shown.contains("Browse Folder"));

    // Files before the folder row are queued; the folder row ends the run.
    QTreeWidgetItem* c = Row(tab, 4, "song c.mp3");
    MenuOver(tab, {Row(tab, 4, "song b.mp3"), Row(tab, 4, "song a.mp3"), Row(tab, 3, "n"), c}, "Download File(s)");
    QVERIFY(m_bob.WaitForFrames(2));
    QCOMPARE(Queued(m_bob), QStringList({"\\m\\song b.mp3", "\\m\\song a.mp3"}));
    QCOMPARE(EntriesLinkedTo("song"), size_t(2));
    QVERIFY(!Row(tab, 4, "song a.mp3")->icon(4).isNull());
    QVERIFY(c->icon(4).isNull());

    // Again: the same entries, no more.
    MenuOver(tab, {Row(tab, 4, "song a.mp3")}, "Download File(s)");
    QCOMPARE(EntriesLinkedTo("song"), size_t(2));
}

void TestSearchTab::downloadFolders()
{
    SearchResultsForm* tab = qobject_cast<SearchResultsForm*>(ManualTabs()->widget(ManualTabs()->count() - 1));
    Show(tab);
    Reply reply;
    reply.paths = QStringList{"\\f\\song z.mp3", "\\f\\song d.mp3", "\\f\\Song D.mp3"};
    Send(m_bob, "bob", TokenOf(tab), reply);
    m_bob.TakeFrames();
    const size_t before = EntriesLinkedTo("song");

    // A user row in the selection: nothing at all.
    MenuOver(tab, {Row(tab, 0, "bob"), Row(tab, 3, "f")}, "Download Folder(s)");
    QCOMPARE(EntriesLinkedTo("song"), before);

    // The whole folder of the one clicked file, in name order, the file the filter hides too.
    QTest::keyClicks(tab->filterEdit(), "-z");
    QTreeWidgetItem* z = Row(tab, 4, "song z.mp3");
    QVERIFY(z->isHidden());
    MenuOver(tab, {Row(tab, 4, "song d.mp3")}, "Download Folder(s)");
    QVERIFY(m_bob.WaitForFrames(3));
    QCOMPARE(Queued(m_bob), QStringList({"\\f\\Song D.mp3", "\\f\\song d.mp3", "\\f\\song z.mp3"}));
    QCOMPARE(EntriesLinkedTo("song"), before + 3);
    QVERIFY(!z->icon(4).isNull());
    tab->filterEdit()->clear();
}

void TestSearchTab::browseFolderOpensTheRowsOwner()
{
    // Two searches, two users, one folder path: the path's item is shared by both replies.
    SearchResultsForm* rock = Search("rock");
    SearchResultsForm* tune = Search("tune");
    QVERIFY(rock && tune);
    Reply reply;
    reply.paths = QStringList{"Music\\Rock\\rock song.mp3"};
    Send(m_bob, "bob", TokenOf(rock), reply);
    reply.paths = QStringList{"Music\\Rock\\tune.mp3"};
    Send(m_carl, "carl", TokenOf(tune), reply);

    auto* shareTabs = Child<QTabWidget>("tabControl", sharesForm);
    const struct
    {
        SearchResultsForm* tab;
        FakePeer* peer;
        const char* user;
        const char* file;
        const char* searchText;
    } cases[] = {{rock, &m_bob, "bob", "rock song.mp3", "rock"}, {tune, &m_carl, "carl", "tune.mp3", "tune"}};
    for (const auto& c : cases) {
        Show(c.tab);
        c.peer->TakeFrames();
        MenuOver(c.tab, {Row(c.tab, 3, "Rock/Music")}, "Browse Folder");
        auto* form = qobject_cast<ShareForm*>(shareTabs->currentWidget());
        QVERIFY(form);
        QCOMPARE(form->User(), QString(c.user));
        QVERIFY(c.peer->WaitForFrames(1));
        QCOMPARE(c.peer->Frames().first().body, P::U32(4));

        // The tab goes to the folder once the share is there.
        c.peer->SendMessage(5, P::Zip(P::U32(2) + P::Str("Music") + P::U32(0) + P::Str("Music\\Rock") + P::U32(1) +
                                      P::File(c.file, 1) + P::U32(0)));
        auto* tree = Child<QTreeWidget>("folderTree", form);
        QTRY_VERIFY(tree->currentItem());
        QCOMPARE(tree->currentItem()->text(0), QString("Rock"));
        shareTabs->tabCloseRequested(shareTabs->indexOf(form));

        // The folder's downloads belong to the row's own search.
        Show(c.tab);
        c.peer->TakeFrames();
        MenuOver(c.tab, {Row(c.tab, 3, "Rock/Music")}, "Download Folder(s)");
        QVERIFY(c.peer->WaitForFrames(1));
        QCOMPARE(Queued(*c.peer), QStringList({QString("Music\\Rock\\") + c.file}));
        QCOMPARE(EntriesLinkedTo(c.searchText), size_t(1));
    }
}

void TestSearchTab::showingWishPageEndsItsAlert()
{
    SearchResultsForm* tab = Search("wishy");
    QVERIFY(tab);
    QVERIFY(MainWindowFixture::Trigger(tab, "Add to Wishlist"));
    Reply reply;
    reply.paths = QStringList{"\\w\\wishy.mp3"};
    Send(m_bob, "bob", gp_server->FileSearch("wishy", true), reply);
    auto* wishTabs = Child<QTabWidget>("wishListTabControl");
    auto* wishTab = qobject_cast<SearchResultsForm*>(wishTabs->widget(wishTabs->count() - 1));
    QVERIFY(wishTab);
    QVERIFY(eventToolBar->EventAction(wishTab));
    QVERIFY(wishTab->CorrelationsWidget()->isHidden());

    auto* pages = Child<QTabWidget>("tabWidget", searchForm);
    QTest::mouseClick(pages->tabBar(), Qt::LeftButton, Qt::NoModifier, pages->tabBar()->tabRect(1).center());
    QCOMPARE(pages->currentIndex(), 1);
    QVERIFY(!eventToolBar->EventAction(wishTab));
    pages->setCurrentIndex(0);
}

// A "&" of a search text is part of its tab titles and of its wish alert's button: doubled there,
// so it shows as it is and makes no keyboard shortcut; the search itself keeps the text.
void TestSearchTab::ampersandInSearchTextShowsAsItIs()
{
    auto label = [](QTabWidget* tabs, QWidget* tab) {
        const QString text = tabs->tabText(tabs->indexOf(tab));
        return QKeySequence::mnemonic(text).isEmpty() ? text : "shortcut " + text;
    };
    SearchResultsForm* tab = Search("rock&roll");
    QVERIFY(tab);
    QCOMPARE(label(ManualTabs(), tab), QString("rock&&roll"));
    QVERIFY(MainWindowFixture::Trigger(tab, "Add to Wishlist"));
    Reply reply;
    reply.paths = QStringList{"\\w\\rock&roll.mp3"};
    Send(m_bob, "bob", gp_server->FileSearch("rock&roll", true), reply);
    auto* wishTabs = Child<QTabWidget>("wishListTabControl");
    auto* wishTab = wishTabs->widget(wishTabs->count() - 1);
    QCOMPARE(label(wishTabs, wishTab), QString("rock&&roll"));
    QVERIFY(eventToolBar->EventAction(wishTab));
    QCOMPARE(eventToolBar->EventAction(wishTab)->text(), QString("rock&&roll"));

    Child<QComboBox>("searchTargetBox")->setCurrentText("User List");
    QCOMPARE(label(ManualTabs(), Search("blues&soul")), QString("blues&&soul"));
    Child<QComboBox>("searchTargetBox")->setCurrentText("All");
}

void TestSearchTab::cleanupTestCase()
{
    for (FakePeer* peer : {&m_bob, &m_carl})
        peer->Close();
    QTRY_COMPARE(d.GetType("peer_socket")->ItemCount(), size_t(0));
    delete mainWindow;
}

QTEST_MAIN(TestSearchTab)
#include "tst_searchtab.moc"
