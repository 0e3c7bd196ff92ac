// The browse page: a browsed user's share in its tab (folder tree, file list, filter, tree
// actions), downloads from it, the waiting and failure states, closing the tab, and the upload
// tab. A fake peer holds a messaging connection to the client and answers with share lists.

#include "mainwindowfixture.h"
#include "menuchoice.h"
#include "viewhelpers.h"

#include "app/eventtoolbar.h"
#include "app/usermenuoptions.h"
#include "common/fakepeer.h"
#include "common/peerfixture.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "shares/sharedfoldersmanager.h"
#include "ui/search/filterparser.h"
#include "ui/search/shareform.h"
#include "ui/search/sharesform.h"
#include "ui/search/sharetree.h"
#include "ui/search/uploadform.h"


#include <QMenu>
#include <QLineEdit>
#include <QTextBrowser>

#include <memory>
#include <utility>

namespace {

using P = FakePeer;

struct ShareFolder
{
    QString path;
    QList<QByteArray> files;
};

// The body of a share list (before compression): the folders with their file records, then an
// empty attribute table.
QByteArray ShareList(const QList<ShareFolder>& folders)
{
    QByteArray body = P::U32(quint32(folders.size()));
    for (const ShareFolder& folder : folders) {
        body += P::Str(folder.path) + P::U32(quint32(folder.files.size()));
        for (const QByteArray& file : folder.files)
            body += file;
    }
    return body + P::U32(0);
}

QStringList ListTexts(QTreeWidget* list)
{
    QStringList out;
    for (int k = 0; k < list->topLevelItemCount(); ++k) {
        QTreeWidgetItem* row = list->topLevelItem(k);
        out << row->text(0) + "|" + row->text(1) + "|" + row->text(2);
    }
    return out;
}

// A double click as the mouse gives it: a click, then the second press.
void DoubleClickRow(QTreeWidget* tree, QTreeWidgetItem* row)
{
    const QPoint at = tree->visualItemRect(row).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

size_t Count(const char* type)
{
    return d.GetType(type)->ItemCount();
}

// The share of the tests that download: A (a1, a2), A\B (b1), A\B\D (d1), and Other (o1).
QList<ShareFolder> DownloadShare()
{
    return {{"A", {P::File("a1", 10), P::File("a2", 20)}},
            {"A\\B", {P::File("b1", 30)}},
            {"A\\B\\D", {P::File("d1", 40)}},
            {"Other", {P::File("o1", 50)}}};
}

}  // namespace

class TestShareBrowser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void createUserShareData();
    void browseShowsShare();
    void expandLevels();
    void expandNewShares();
    void filter_data();
    void filter();
    void minFilesPerFolder();
    void filterHidingListedFolder();
    void browseToFolderBeforeShare();
    void connectionFailure();
    void refusedShareList();
    void overlongFolderPaths();
    void emptyShare();
    void downloadFolder();
    void downloadFiles();
    void rowsWithoutData();
    void refusedDownloadUnmarked();
    void furtherShareList();
    void closeTabAndBrowseAgain();
    void uploadTab();
    void browseUserAction();
    void cleanupTestCase();

private:
    // A fake peer with a messaging connection to the client as the user, marked online.
    FakePeer& Peer(const QString& user)
    {
        FakePeer& peer = m_peers.Get(user, m_fixture.listeningPort);
        ItemPtr userItem = d.GetType("user")->GetItem(Value(user));
        if (!userItem.IsConnected("is_online"))
            userItem.NewItem("is_online");
        return peer;
    }
    // The frames the peer received with the code.
    static int FramesWithCode(FakePeer& peer, quint32 code)
    {
        int n = 0;
        for (const FakePeer::Frame& frame : peer.Frames())
            n += frame.body.left(4) == P::U32(code) ? 1 : 0;
        return n;
    }
    // Opens the user's tab through the per-user menu, as a user does.
    ShareForm* Browse(const QString& user)
    {
        QMenu menu;
        UserMenuOptions options(&menu, user);
        for (QAction* action : menu.actions())
            if (action->text() == "Browse user's files")
                action->trigger();
        return qobject_cast<ShareForm*>(Tabs()->currentWidget());
    }
    // Opens the user's tab and has the peer answer with the share list; the form once shown.
    ShareForm* BrowseWithShare(const QString& user, const QList<ShareFolder>& folders)
    {
        FakePeer& peer = Peer(user);
        ShareForm* form = Browse(user);
        if (!form || !peer.WaitForFrames(1))
            return nullptr;
        peer.SendMessage(5, P::Zip(ShareList(folders)));
        return QTest::qWaitFor([&] { return !W<QTreeWidget>(form, "folderTree")->isHidden(); }) ? form : nullptr;
    }
    static QTabWidget* Tabs() { return W<QTabWidget>(sharesForm, "tabControl"); }
    static QTabWidget* MainTabs()
    {
        for (auto* tabs : mainWindow->findChildren<QTabWidget*>("tabControl"))
            if (tabs != Tabs())
                return tabs;
        return nullptr;
    }
    static QString Message(ShareForm* form) { return W<QTextBrowser>(form, "messageBrowser")->toPlainText(); }
    void CloseTab(QWidget* form)
    {
        QPointer<QWidget> guard(form);
        emit Tabs()->tabCloseRequested(Tabs()->indexOf(form));
        QTRY_VERIFY(guard.isNull());
    }
    // The download entries of a user as "name@level".
    static QStringList Downloads(const QString& user)
    {
        QStringList out;
        for (ItemPtr entry : d.GetType("user")->GetItem(Value(user)).GetItems("download_entry"))
            out << entry["file_name"].AsString() + "@" + entry["subfolder_save_level"].AsString();
        out.sort();
        return out;
    }

    MainWindowFixture m_fixture;
    PeerSet m_peers;
};

void TestShareBrowser::initTestCase()
{
    QVERIFY(m_fixture.Start());
    SetSetting("expand_new_shares", "no");
    mainWindow->resize(900, 700);
}

// The share items of a list: sub-folders linked to their parent only within their own share,
// folders whose parent path is missing at the top, the attribute codes.
void TestShareBrowser::createUserShareData()
{
    auto file = [](const std::string& name, std::vector<std::pair<uint32_t, uint32_t>> pairs) {
        FileInfo info(name, 5);
        for (const auto& [code, value] : pairs)
            info.attributes.Add(code, value);
        return info;
    };
    FileInfoMap map;
    map["Music"].insert(file("vbr", {{0, 192}, {2, 5}, {7, 9}}));
    map["Music"].insert(file("cbr", {{2, 0}, {1, 61}}));
    map["Music\\Rock"];
    map["Music\\Rock\\Live\\"];
    map["Other\\Deep\\Down"];
    AttributeTranslationTable table;
    ItemPtr first = sharesForm->CreateUserShareData(map, table);
    ItemPtr second = sharesForm->CreateUserShareData(map, table);

    auto folder = [](ItemPtr share, const char* path) {
        return d.GetItem(share, d.GetType("user_share_folder_name")->HasItem(Value(path)), "user_share_folder");
    };
    auto parentOf = [](ItemPtr f) {
        ItemPtr link = f.HasItem("user_share_folder_parent");
        ItemPtr child = link ? link.HasItem("user_share_folder_child") : ItemPtr();
        return child ? child.HasItem("user_share_folder") : ItemPtr();
    };
    for (ItemPtr share : {first, second}) {
        QCOMPARE(share.GetItems("user_share_folder").size(), size_t(4));
        QCOMPARE(parentOf(folder(share, "Music\\Rock")), folder(share, "Music"));
        QCOMPARE(parentOf(folder(share, "Music\\Rock\\Live\\")), folder(share, "Music\\Rock"));
        QVERIFY(!parentOf(folder(share, "Music")));
        QVERIFY(!parentOf(folder(share, "Other\\Deep\\Down")));
        QVERIFY(!share.IsConnected("user"));
    }
    ItemPtr vbr = d.GetItem(folder(first, "Music"), d.GetType("user_share_file_name")->HasItem(Value("vbr")),
                            "user_share_file");
    ItemPtr cbr = d.GetItem(folder(first, "Music"), d.GetType("user_share_file_name")->HasItem(Value("cbr")),
                            "user_share_file");
    QCOMPARE(vbr["bitrate_mode"].AsString(), QString("vbr"));
    QCOMPARE(vbr["bitrate"].AsString(), QString("192"));
    QCOMPARE(vbr["file_size"].AsString(), QString("5"));
    QVERIFY(!vbr.IsConnected("length_seconds"));
    QCOMPARE(cbr["bitrate_mode"].AsString(), QString("cbr"));
    QCOMPARE(cbr["length_seconds"].AsString(), QString("61"));
    QVERIFY(!cbr.IsConnected("bitrate"));
    for (ItemPtr share : {first, second}) {
        ItemSet folders = share.GetItems("user_share_folder");
        folders.GetItems("user_share_file").Remove();
        folders.Remove();
        share.Remove();
    }
    d.RemoveDisconnectedItems();
}

void TestShareBrowser::browseShowsShare()
{
    FakePeer& bob = Peer("bob");
    ShareForm* form = Browse("bob");
    QVERIFY(form);
    QCOMPARE(Browse("bob"), form);
    QVERIFY(bob.WaitForFrames(1));
    QTest::qWait(50);
    QCOMPARE(bob.Frames().size(), 1);
    QCOMPARE(bob.Frames().first().body, P::U32(4));
    QCOMPARE(Tabs()->tabText(Tabs()->indexOf(form)), QString("bob"));
    QCOMPARE(Message(form), QString("Requesting file list..."));
    QVERIFY(W<QTreeWidget>(form, "folderTree")->isHidden());

    const QByteArray mp3 = P::File("a1.mp3", 1234567, "mp3", {{0, 320}, {1, 185}, {2, 1}});
    bob.SendMessage(5, P::Zip(ShareList({{"A", {mp3, P::File("a2", 7)}},
                                         {"A\\B\\D", {P::File("d1", 0)}},
                                         {"Zeta", {}},
                                         {"alpha", {}}})));
    QTRY_VERIFY(!W<QTreeWidget>(form, "folderTree")->isHidden());
    QVERIFY(W<QTextBrowser>(form, "messageBrowser")->isHidden());
    QTreeWidget* tree = W<QTreeWidget>(form, "folderTree");
    QCOMPARE(TreeTexts(tree), (QStringList{"A", "D", "Zeta", "alpha"}));
    QCOMPARE(W<QTreeWidget>(form, "fileList")->topLevelItemCount(), 0);

    ClickRow(tree, FindRow(tree, "A"));
    QCOMPARE(ListTexts(W<QTreeWidget>(form, "fileList")), (QStringList{"a1.mp3|1,234,567|320 VBR, 3m5s", "a2|7|"}));
    ClickRow(tree, FindRow(tree, "Zeta"));
    QCOMPARE(W<QTreeWidget>(form, "fileList")->topLevelItemCount(), 0);
    QCOMPARE(Count("user_share_file_node"), size_t(0));
}

void TestShareBrowser::expandLevels()
{
    ShareForm* form = BrowseWithShare("carol", {{"M", {}}, {"M\\N", {}}, {"M\\N\\O", {}}, {"Top", {}}});
    QVERIFY(form);
    QTreeWidget* tree = W<QTreeWidget>(form, "folderTree");
    QCOMPARE(TreeTexts(tree), (QStringList{"M", "  N", "    O", "Top"}));
    QTreeWidgetItem* m = FindRow(tree, "M");
    QTreeWidgetItem* n = FindRow(tree, "N");
    QVERIFY(!m->isExpanded() && !n->isExpanded());

    QVERIFY(MainWindowFixture::Trigger(tree, "Expand Level"));
    QVERIFY(m->isExpanded() && !n->isExpanded());
    QVERIFY(MainWindowFixture::Trigger(tree, "Expand Level [1]"));
    QVERIFY(m->isExpanded() && n->isExpanded());
    QVERIFY(MainWindowFixture::Trigger(tree, "Expand Level [2]"));
    QVERIFY(!MainWindowFixture::Trigger(tree, "Expand Level [3]"));
    QVERIFY(MainWindowFixture::Trigger(tree, "Collapse All"));
    QVERIFY(!m->isExpanded() && !n->isExpanded());
    QVERIFY(MainWindowFixture::Trigger(tree, "Expand Level"));
    QVERIFY(m->isExpanded() && !n->isExpanded());
    QVERIFY(MainWindowFixture::Trigger(tree, "Expand All"));
    QVERIFY(m->isExpanded() && n->isExpanded());
    QVERIFY(MainWindowFixture::Trigger(tree, "Expand Level"));

    // Only top-level rows: nothing to open, the text stays.
    ShareForm* flat = BrowseWithShare("flat", {{"One", {}}, {"Two", {}}});
    QVERIFY(flat);
    QVERIFY(MainWindowFixture::Trigger(W<QTreeWidget>(flat, "folderTree"), "Expand Level"));
    QVERIFY(MainWindowFixture::Trigger(W<QTreeWidget>(flat, "folderTree"), "Expand Level"));
}

void TestShareBrowser::expandNewShares()
{
    SetSetting("expand_new_shares", "yes");
    ShareForm* form = BrowseWithShare("dave", {{"M", {}}, {"M\\N", {}}, {"M\\N\\O", {}}});
    SetSetting("expand_new_shares", "no");
    QVERIFY(form);
    QTreeWidget* tree = W<QTreeWidget>(form, "folderTree");
    QVERIFY(FindRow(tree, "M")->isExpanded() && FindRow(tree, "N")->isExpanded());
    // The level counter still starts at the top.
    QVERIFY(MainWindowFixture::Trigger(tree, "Collapse All"));
    QVERIFY(MainWindowFixture::Trigger(tree, "Expand Level"));
    QVERIFY(FindRow(tree, "M")->isExpanded() && !FindRow(tree, "N")->isExpanded());
}

void TestShareBrowser::filter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("empty") << "" << "Beatles" << QStringList{"Help", "Music", "  Beatles", "    Live", "  Rock Live", "    Encore"}
                           << QStringList{"Get Help.mp3||", "Yesterday.mp3||"};
    QTest::newRow("help") << "help" << "Help"
                          << QStringList{"Help", "Music", "  Beatles", "    Live (hidden)", "  Rock Live (hidden)",
                                         "    Encore (hidden)"}
                          << QStringList{"one||", "two||"};
    QTest::newRow("help, files") << "help" << "Beatles"
                                 << QStringList{"Help", "Music", "  Beatles", "    Live (hidden)",
                                                "  Rock Live (hidden)", "    Encore (hidden)"}
                                 << QStringList{"Get Help.mp3||"};
    QTest::newRow("rock -live") << "rock -live" << "Help"
                                << QStringList{"Help (hidden)", "Music (hidden)", "  Beatles (hidden)",
                                               "    Live (hidden)", "  Rock Live (hidden)", "    Encore"}
                                << QStringList{};
    QTest::newRow("word below") << "encore" << "Encore"
                                << QStringList{"Help (hidden)", "Music", "  Beatles (hidden)", "    Live (hidden)",
                                               "  Rock Live", "    Encore"}
                                << QStringList{"x||"};
}

void TestShareBrowser::filter()
{
    QFETCH(QString, text);
    QFETCH(QString, current);
    QFETCH(QStringList, tree);
    QFETCH(QStringList, files);
    ShareForm* form = BrowseWithShare("erin", {{"Help", {P::File("one", 0), P::File("two", 0)}},
                                               {"Music", {}},
                                               {"Music\\Beatles", {P::File("Get Help.mp3", 0), P::File("Yesterday.mp3", 0)}},
                                               {"Music\\Beatles\\Live", {P::File("Twist", 0)}},
                                               {"Music\\Rock Live", {}},
                                               {"Music\\Rock Live\\Encore", {P::File("x", 0)}}});
    QVERIFY(form);
    QTreeWidget* folders = W<QTreeWidget>(form, "folderTree");
    ClickRow(folders, FindRow(folders, current));
    QTest::keyClicks(W<QLineEdit>(form, "filterEdit"), text);
    QCOMPARE(TreeTexts(folders), tree);
    QCOMPARE(ListTexts(W<QTreeWidget>(form, "fileList")), files);
    CloseTab(form);
}

void TestShareBrowser::minFilesPerFolder()
{
    ShareForm* form = BrowseWithShare("fay", {{"Few", {P::File("1", 0), P::File("2", 0)}},
                                              {"Many", {P::File("1", 0), P::File("2", 0), P::File("3", 0)}},
                                              {"Up", {}},
                                              {"Up\\Deep", {P::File("1", 0), P::File("2", 0), P::File("3", 0)}},
                                              {"Up\\Thin", {P::File("1", 0)}}});
    QVERIFY(form);
    QTreeWidget* tree = W<QTreeWidget>(form, "folderTree");
    FilterParser filter;
    filter.SetMinFilesInFolder(3);
    for (int k = 0; k < tree->topLevelItemCount(); ++k)
        FilterFolderNode(tree->topLevelItem(k), filter);
    QCOMPARE(TreeTexts(tree), (QStringList{"Few (hidden)", "Many", "Up", "  Deep", "  Thin (hidden)"}));
    CloseTab(form);
}

void TestShareBrowser::filterHidingListedFolder()
{
    ShareForm* form = BrowseWithShare("gus", {{"Jazz", {P::File("j1", 1), P::File("j2", 2)}}, {"Pop", {}}});
    QVERIFY(form);
    QTreeWidget* tree = W<QTreeWidget>(form, "folderTree");
    ClickRow(tree, FindRow(tree, "Jazz"));
    QCOMPARE(W<QTreeWidget>(form, "fileList")->topLevelItemCount(), 2);
    QTest::keyClicks(W<QLineEdit>(form, "filterEdit"), "pop");
    QCOMPARE(W<QTreeWidget>(form, "fileList")->topLevelItemCount(), 0);
    // The emptied list leaves no node behind that would lead to a deleted row.
    QCOMPARE(Count("user_share_file_node"), size_t(0));
    // Downloading the folder marks the rows its files have nodes for: none now.
    form->DownloadFolder(FolderOfRow(FindRow(tree, "Jazz")), false);
    W<QLineEdit>(form, "filterEdit")->clear();
    QCOMPARE(ListTexts(W<QTreeWidget>(form, "fileList")), (QStringList{"j1|1|", "j2|2|"}));
    CloseTab(form);
}

void TestShareBrowser::browseToFolderBeforeShare()
{
    FakePeer& peer = Peer("hal");
    ShareForm* form = Browse("hal");
    QVERIFY(form && peer.WaitForFrames(1));
    form->BrowseToFolder("X\\Y");
    form->BrowseToFolder("X\\Y\\Z");
    peer.SendMessage(5, P::Zip(ShareList({{"X", {}}, {"X\\Y", {P::File("y", 1)}}, {"X\\Y\\Z", {P::File("z", 2)}}})));
    QTRY_VERIFY(!W<QTreeWidget>(form, "folderTree")->isHidden());
    QTreeWidgetItem* current = W<QTreeWidget>(form, "folderTree")->currentItem();
    QVERIFY(current);
    QCOMPARE(current->text(0), QString("Z"));
    QCOMPARE(ListTexts(W<QTreeWidget>(form, "fileList")), QStringList{"z|2|"});
    // After the share arrived: at once; an unknown path changes nothing.
    form->BrowseToFolder("X\\Y");
    QCOMPARE(W<QTreeWidget>(form, "folderTree")->currentItem()->text(0), QString("Y"));
    form->BrowseToFolder("X\\Nope");
    QCOMPARE(W<QTreeWidget>(form, "folderTree")->currentItem()->text(0), QString("Y"));
    CloseTab(form);
}

void TestShareBrowser::connectionFailure()
{
    ShareForm* form = sharesForm->OpenShareBrowse("ivy");
    QVERIFY(form);
    const QString waiting = "Requesting file list...";
    emit peerMessenger->ConnectionToUserFailed("ivy", "F");
    emit peerMessenger->ConnectionToUserFailed("other", "P");
    QCOMPARE(Message(form), waiting);
    emit peerMessenger->ConnectionToUserFailed("ivy", "P");
    emit peerMessenger->ConnectionToUserFailed("ivy", "P");
    const QString failure = "A connection could not be successfully formed to the user. If this is happening to you a "
                            "lot, Check here to make sure that your port is open.";
    QCOMPARE(Message(form), waiting + "\n" + failure);
    const QString html = W<QTextBrowser>(form, "messageBrowser")->toHtml();
    const QString url = QString("http://127.0.0.1:%1/porttest.php?port=%2").arg(m_fixture.webPort).arg(m_fixture.listeningPort);
    QVERIFY2(html.contains("href=\"" + url + "\""), qPrintable(html));

    // A share that arrives afterwards is shown all the same.
    FileInfoMap share;
    share["Late"].insert(FileInfo("l", 1));
    AttributeTranslationTable table;
    emit peerMessenger->UserShare("ivy", share, table);
    QVERIFY(!W<QTreeWidget>(form, "folderTree")->isHidden());
    QCOMPARE(TreeTexts(W<QTreeWidget>(form, "folderTree")), QStringList{"Late"});
    CloseTab(form);
}

void TestShareBrowser::refusedShareList()
{
    FakePeer& peer = Peer("jon");
    ShareForm* form = Browse("jon");
    QVERIFY(form && peer.WaitForFrames(1));
    emit peerMessenger->UserShareFailed("someone else");
    QCOMPARE(Message(form), QString("Requesting file list..."));
    emit peerMessenger->UserShareFailed("jon");
    QVERIFY(Message(form).startsWith("Requesting file list...\nA connection could not be successfully formed"));
    CloseTab(form);
}

// Folders nested so deep that their paths pass the system's path limit are left out, with their
// files; the folders above them and the rest of the list show.
void TestShareBrowser::overlongFolderPaths()
{
    const QString name(99, 'n');
    QList<ShareFolder> folders{{"Deep", {P::File("top", 1)}}};
    QStringList expected{"Deep"};
    QString path = "Deep";
    for (int depth = 1; depth <= 60; ++depth) {
        path += "\\" + name;
        folders << ShareFolder{path, {P::File("f" + QString::number(depth), depth)}};
        if (path.size() <= 4096)
            expected << QString(depth * 2, ' ') + name;
    }
    QCOMPARE(expected.size(), 41);
    folders << ShareFolder{"Zed", {P::File("z", 2)}};
    expected << "Zed";

    ShareForm* form = BrowseWithShare("kit", folders);
    QVERIFY(form);
    QTreeWidget* tree = W<QTreeWidget>(form, "folderTree");
    QCOMPARE(TreeTexts(tree), expected);
    ClickRow(tree, FindRow(tree, "Zed"));
    QCOMPARE(ListTexts(W<QTreeWidget>(form, "fileList")), QStringList{"z|2|"});
    ItemPtr share = d.GetType("user")->GetItem(Value("kit"))["user_share"];
    QCOMPARE(share.GetItems("user_share_folder").size(), size_t(42));
    QVERIFY(LogText("Peer Messenger").contains("Share list from user kit: 20 folders with paths longer than 4096 bytes left out"));
    CloseTab(form);
}

void TestShareBrowser::emptyShare()
{
    // The page is not on screen: the empty share raises an event for it.
    FakePeer& peer = Peer("kim");
    auto* form = sharesForm->OpenShareBrowse("kim");
    QVERIFY(form && peer.WaitForFrames(1));
    MainTabs()->setCurrentIndex(0);
    QVERIFY(!form->isVisible());
    peer.SendMessage(5, P::Zip(ShareList({})));
    const QString empty = "No files returned. The user is either not sharing any files, or is sharing all of their "
                          "files privately.";
    QTRY_COMPARE(Message(form), "Requesting file list...\n" + empty);
    QVERIFY(eventToolBar->EventAction(W<QTextBrowser>(form, "messageBrowser")));
    QCOMPARE(eventToolBar->EventAction(W<QTextBrowser>(form, "messageBrowser"))->text(), QString("kim"));
    QVERIFY(W<QTreeWidget>(form, "folderTree")->isHidden());

    // A second (empty) list changes nothing; the stored share, once removed, is forgotten, so a
    // later BrowseToFolder keeps the path instead of reaching the removed item.
    peer.SendMessage(5, P::Zip(ShareList({})));
    QTest::qWait(100);
    QCOMPARE(Message(form), "Requesting file list...\n" + empty);
    sharedFoldersManager->RemoveUserShare("kim");
    form->BrowseToFolder("Anything");
    peer.SendMessage(5, P::Zip(ShareList({{"Anything", {P::File("f", 1)}}})));
    QTRY_VERIFY(!W<QTreeWidget>(form, "folderTree")->isHidden());
    QCOMPARE(W<QTreeWidget>(form, "folderTree")->currentItem()->text(0), QString("Anything"));
    // The shown share's event on the hidden page goes when the page is shown.
    QVERIFY(eventToolBar->EventAction(W<QTreeWidget>(form, "folderTree")));
    QCOMPARE(sharesForm->OpenShareBrowse("kim"), form);
    QVERIFY(form->isVisible());
    QVERIFY(!eventToolBar->EventAction(W<QTreeWidget>(form, "folderTree")));
    CloseTab(form);
}

void TestShareBrowser::downloadFolder()
{
    ShareForm* form = BrowseWithShare("lee", DownloadShare());
    QVERIFY(form);
    FakePeer& peer = Peer("lee");
    peer.TakeFrames();
    QTreeWidget* tree = W<QTreeWidget>(form, "folderTree");
    ClickRow(tree, FindRow(tree, "B"));
    QCOMPARE(ListTexts(W<QTreeWidget>(form, "fileList")), QStringList{"b1|30|"});

    QTreeWidgetItem* a = FindRow(tree, "A");
    DoubleClickRow(tree, a);
    QCOMPARE(Downloads("lee"), (QStringList{"a1@0", "a2@0", "b1@1", "d1@1"}));
    // The click that chose A listed it: its rows are marked.
    QVERIFY(!W<QTreeWidget>(form, "fileList")->topLevelItem(0)->icon(0).isNull());
    QVERIFY(peer.WaitForFrames(4));
    QStringList asked;
    for (const FakePeer::Frame& frame : peer.Frames()) {
        QCOMPARE(frame.body.left(4), P::U32(43));
        asked << QString::fromUtf8(frame.body.mid(8));
    }
    asked.sort();
    QCOMPARE(asked, (QStringList{"A\\B\\D\\d1", "A\\B\\b1", "A\\a1", "A\\a2"}));
    CloseTab(form);
    // The download entries outlive the tab.
    QCOMPARE(Downloads("lee").size(), 4);
}

void TestShareBrowser::downloadFiles()
{
    ShareForm* form = BrowseWithShare("max", DownloadShare());
    QVERIFY(form);
    QTreeWidget* tree = W<QTreeWidget>(form, "folderTree");
    QTreeWidget* list = W<QTreeWidget>(form, "fileList");
    ClickRow(tree, FindRow(tree, "A"));
    QCOMPARE(list->topLevelItemCount(), 2);

    // "Download File(s)" over the list with nothing selected queues nothing.
    list->clearSelection();
    form->OnDownloadFile();
    QCOMPARE(Downloads("max"), QStringList());

    QTreeWidgetItem* a2 = FindRow(list, "a2");
    DoubleClickRow(list, a2);
    DoubleClickRow(list, a2);
    QCOMPARE(Downloads("max"), QStringList{"a2@0"});
    QVERIFY(!a2->icon(0).isNull());
    QVERIFY(FindRow(list, "a1")->icon(0).isNull());

    // The context menu's entry on the selection.
    list->selectAll();
    ChooseFromMenu("Download File(s)");
    emit list->customContextMenuRequested(list->visualItemRect(a2).center());
    QCOMPARE(Downloads("max"), (QStringList{"a1@0", "a2@0"}));
    QVERIFY(!FindRow(list, "a1")->icon(0).isNull());

    // "Download Folder" from the folder tree's menu, on the selected folder.
    ClickRow(tree, FindRow(tree, "Other"));
    ChooseFromMenu("Download Folder");
    emit tree->customContextMenuRequested(tree->visualItemRect(FindRow(tree, "Other")).center());
    QCOMPARE(Downloads("max"), (QStringList{"a1@0", "a2@0", "o1@0"}));
    CloseTab(form);
}

void TestShareBrowser::rowsWithoutData()
{
    ShareForm* form = BrowseWithShare("ned", DownloadShare());
    QVERIFY(form);
    QTreeWidget* tree = W<QTreeWidget>(form, "folderTree");
    QTreeWidget* list = W<QTreeWidget>(form, "fileList");
    ClickRow(tree, FindRow(tree, "A"));
    // The share's data goes while its rows stay on screen.
    sharedFoldersManager->RemoveUserShare("ned");
    const size_t entries = Count("download_entry");
    QTreeWidgetItem* a1 = FindRow(list, "a1");
    QVERIFY(a1);
    DoubleClickRow(list, a1);
    list->selectAll();
    form->OnDownloadFile();
    QTreeWidgetItem* a = FindRow(tree, "A");
    DoubleClickRow(tree, a);
    form->OnDownloadFolder();
    QCOMPARE(Count("download_entry"), entries);
    QVERIFY(a1->icon(0).isNull());
    CloseTab(form);
}

// A file the engine refuses to download (the peer sent it without a name) gets no download
// mark, whether asked for alone or with its folder.
void TestShareBrowser::refusedDownloadUnmarked()
{
    ShareForm* form = BrowseWithShare("pia", {{"A", {P::File("good", 10), P::File("", 5)}}});
    QVERIFY(form);
    QTreeWidget* tree = W<QTreeWidget>(form, "folderTree");
    QTreeWidget* list = W<QTreeWidget>(form, "fileList");
    ClickRow(tree, FindRow(tree, "A"));
    QTreeWidgetItem* nameless = FindRow(list, "");
    QVERIFY(nameless);
    DoubleClickRow(list, nameless);
    QCOMPARE(Downloads("pia"), QStringList());
    QVERIFY(nameless->icon(0).isNull());
    DoubleClickRow(tree, FindRow(tree, "A"));
    QCOMPARE(Downloads("pia"), QStringList{"good@0"});
    QVERIFY(!FindRow(list, "good")->icon(0).isNull());
    QVERIFY(FindRow(list, "")->icon(0).isNull());
    CloseTab(form);
}

void TestShareBrowser::furtherShareList()
{
    ShareForm* form = BrowseWithShare("ola", DownloadShare());
    QVERIFY(form);
    QTreeWidget* tree = W<QTreeWidget>(form, "folderTree");
    ClickRow(tree, FindRow(tree, "A"));
    const size_t folders = Count("user_share_folder");
    Peer("ola").SendMessage(5, P::Zip(ShareList({{"New", {P::File("n", 1)}}})));
    QTest::qWait(200);
    // The share on screen keeps its data, and its rows still queue their files.
    QCOMPARE(Count("user_share_folder"), folders);
    QCOMPARE(TreeTexts(tree), (QStringList{"A", "  B", "    D", "Other"}));
    QTreeWidgetItem* a1 = FindRow(W<QTreeWidget>(form, "fileList"), "a1");
    DoubleClickRow(W<QTreeWidget>(form, "fileList"), a1);
    QCOMPARE(Downloads("ola"), QStringList{"a1@0"});
    CloseTab(form);
}

void TestShareBrowser::closeTabAndBrowseAgain()
{
    const char* types[] = {"user_share", "user_share_folder", "user_share_file", "user_share_tab",
                           "user_share_folder_node", "user_share_file_node", "user_share_folder_parent",
                           "user_share_folder_child"};
    std::map<std::string, size_t> before;
    for (const char* type : types)
        before[type] = Count(type);

    ShareForm* form = BrowseWithShare("pam", DownloadShare());
    QVERIFY(form);
    ClickRow(W<QTreeWidget>(form, "folderTree"), FindRow(W<QTreeWidget>(form, "folderTree"), "A"));
    QVERIFY(Count("user_share") > before["user_share"]);
    QVERIFY(Count("user_share_file_node") > before["user_share_file_node"]);
    CloseTab(form);
    for (const char* type : types)
        QCOMPARE(Count(type), before[type]);
    QVERIFY(d.GetType("user")->HasItem(Value("pam")));

    FakePeer& peer = Peer("pam");
    peer.TakeFrames();
    ShareForm* again = Browse("pam");
    QVERIFY(again);
    QVERIFY(peer.WaitForFrames(1));
    QCOMPARE(peer.Frames().first().body, P::U32(4));
    QCOMPARE(Message(again), QString("Requesting file list..."));
    CloseTab(again);
}

void TestShareBrowser::uploadTab()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("Shared/Sub"));
    for (const char* file : {"Shared/top.txt", "Shared/Sub/inner.txt"}) {
        QFile f(dir.filePath(file));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("x") == 1);
    }
    sharedFoldersManager->AddSharedFolder(dir.filePath("Shared")).NewItem("shared_public");
    sharedFoldersManager->RescanShares();
    QTRY_VERIFY(d.GetType("shared_file_name")->HasItem(Value("inner.txt")));

    const size_t shares = Count("user_share");
    QMenu menu;
    UserMenuOptions options(&menu, "quinn");
    for (QAction* action : menu.actions())
        if (action->text() == "Upload to user")
            action->trigger();
    auto* form = qobject_cast<UploadForm*>(Tabs()->currentWidget());
    QVERIFY(form);
    QCOMPARE(Tabs()->tabText(Tabs()->currentIndex()), QString("Upload to quinn"));
    QCOMPARE(sharesForm->OpenUploadBrowse("quinn"), form);
    QCOMPARE(Count("user_share"), shares + 1);
    const QStringList rows = TreeTexts(W<QTreeWidget>(form, "folderTree"));
    QVERIFY2(rows.contains("Shared") && rows.contains("  Sub"), qPrintable(rows.join(",")));
    QVERIFY(!d.GetType("user")->GetItem(Value("quinn")).HasItem("user_share"));
    QTreeWidgetItem* shared = FindRow(W<QTreeWidget>(form, "folderTree"), "Shared");
    QVERIFY(shared && !shared->isExpanded());
    QVERIFY(MainWindowFixture::Trigger(W<QTreeWidget>(form, "folderTree"), "Expand All"));
    QVERIFY(shared->isExpanded());

    CloseTab(form);
    QCOMPARE(Count("user_share"), shares);
    QVERIFY(!d.GetType("user")->GetItem(Value("quinn")).HasItem("upload_share_tab"));
}

void TestShareBrowser::browseUserAction()
{
    FakePeer& peer = Peer("rob");
    QWidget probe;
    actionBar->RegisterWidget(&probe, "user");
    actionBar->AddWidgetKey(&probe, "user", "rob");
    QVERIFY(MainWindowFixture::Trigger(&probe, "Browse User's Files"));
    auto* form = qobject_cast<ShareForm*>(Tabs()->currentWidget());
    QVERIFY(form);
    QCOMPARE(form->User(), QString("rob"));
    QVERIFY(peer.WaitForFrames(1));
    QCOMPARE(peer.Frames().first().body, P::U32(4));
    CloseTab(form);
}

void TestShareBrowser::cleanupTestCase()
{
    // The messenger's sockets and the requests still waiting for a connection go first.
    PeerFixture::Clear();
    m_peers.Clear();
    delete mainWindow;
}

QTEST_MAIN(TestShareBrowser)
#include "tst_sharebrowser.moc"
