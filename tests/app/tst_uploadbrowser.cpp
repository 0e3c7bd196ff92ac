// The upload browser: the local share as one user may see it, its file list and filter, files
// and folders queued for that user (what reaches the user's client), two browsers side by side,
// and closing the tab. Fake peers hold messaging connections to the client.

#include "mainwindowfixture.h"
#include "menuchoice.h"
#include "viewhelpers.h"

#include "app/usermenuoptions.h"
#include "common/fakepeer.h"
#include "common/peerfixture.h"
#include "common/testfiles.h"
#include "model/settings.h"
#include "shares/sharedfoldersmanager.h"
#include "ui/search/sharesform.h"
#include "ui/search/uploadform.h"

#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QTreeWidget>

#include <map>
#include <memory>

namespace {

using P = FakePeer;

// Each frame an MPEG-1 Layer III header at 320 kbit/s, 44.1 kHz, padded to its 1044 bytes.
QByteArray Mp3(int size)
{
    const QByteArray header = QByteArray::fromHex("FFFBE044");
    QByteArray out;
    while (out.size() + 1044 <= size)
        out += header + QByteArray(1044 - header.size(), '\0');
    return out + QByteArray(size - out.size(), '\0');
}

// The rows of the file list as "name|size|attributes", with "*" after a row marked uploaded.
QStringList ListTexts(QTreeWidget* list)
{
    QStringList out;
    for (int k = 0; k < list->topLevelItemCount(); ++k) {
        QTreeWidgetItem* row = list->topLevelItem(k);
        out << row->text(0) + "|" + row->text(1) + "|" + row->text(2) + (row->icon(0).isNull() ? "" : "*");
    }
    return out;
}

size_t Count(const char* type)
{
    return d.GetType(type)->ItemCount();
}

}  // namespace

class TestUploadBrowser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void showsShareAsUserMaySee();
    void uploadFile();
    void uploadFolder();
    void twoBrowsers();
    void listNodesFollowRows();
    void closeTab();
    void cleanupTestCase();

private:
    FakePeer& Peer(const QString& user) { return m_peers.Get(user, m_fixture.listeningPort); }
    // The upload offers (code 60) the peer received so far as "path size", forgotten once read.
    QStringList Offers(FakePeer& peer, int expected)
    {
        QStringList offers;
        (void)QTest::qWaitFor([&] {
            for (const FakePeer::Frame& frame : peer.TakeFrames()) {
                if (frame.body.left(4) != P::U32(60))
                    continue;
                const quint32 length = qFromLittleEndian<quint32>(frame.body.constData() + 4);
                const QByteArray path = frame.body.mid(8, int(length));
                const qint64 size = qFromLittleEndian<qint64>(frame.body.constData() + 8 + length);
                offers << QString::fromUtf8(path).mid(m_wireRoot.size()) + " " + QString::number(size);
            }
            return offers.size() >= expected;
        });
        QTest::qWait(50);
        return offers;
    }
    // The user's upload browser, opened from the per-user menu as the user does.
    static UploadForm* UploadTo(const QString& user)
    {
        QMenu menu;
        UserMenuOptions options(&menu, user);
        TriggerMenuEntry(menu, "Upload to user");
        return qobject_cast<UploadForm*>(Tabs()->currentWidget());
    }
    static QTabWidget* Tabs() { return W<QTabWidget>(sharesForm, "tabControl"); }
    // The user's browser with the folder's row clicked.
    struct Lists
    {
        UploadForm* form;
        QTreeWidget* tree;
        QTreeWidget* list;
    };
    static Lists OpenAt(const QString& user, const QString& folder)
    {
        UploadForm* form = sharesForm->OpenUploadBrowse(user);
        Lists lists{form, W<QTreeWidget>(form, "folderTree"), W<QTreeWidget>(form, "fileList")};
        ClickRow(lists.tree, FindRow(lists.tree, folder));
        return lists;
    }
    static void CloseTab(QWidget* form)
    {
        QPointer<QWidget> guard(form);
        emit Tabs()->tabCloseRequested(Tabs()->indexOf(form));
        QTRY_VERIFY(guard.isNull());
    }

    MainWindowFixture m_fixture;
    PeerSet m_peers;
    QTemporaryDir m_dir;
    // The shared root's path as peers see it, with backslashes.
    QString m_wireRoot;
};

void TestUploadBrowser::initTestCase()
{
    QVERIFY(m_fixture.Start());
    SetSetting("expand_new_shares", "no");
    mainWindow->resize(900, 700);

    // Music (public): a.txt; Music/Rock: b.txt, song.mp3; Music/Rock/Live: c.txt, d.txt.
    // Second/Music/Rock (user list only): e.txt.
    const QString root = m_dir.path();
    QVERIFY(WriteFile(root + "/Music/a.txt", "a"));
    QVERIFY(WriteFile(root + "/Music/Rock/b.txt", "bb"));
    QVERIFY(WriteFile(root + "/Music/Rock/song.mp3", Mp3(1234567)));
    QVERIFY(WriteFile(root + "/Music/Rock/Live/c.txt", "ccc"));
    QVERIFY(WriteFile(root + "/Music/Rock/Live/d.txt", "dddd"));
    QVERIFY(WriteFile(root + "/Second/Music/Rock/e.txt", "eeeee"));
    sharedFoldersManager->AddSharedFolder(root + "/Music").NewItem("shared_public");
    sharedFoldersManager->AddSharedFolder(root + "/Second/Music/Rock").NewItem("shared_userlist");
    sharedFoldersManager->RescanShares();
    QTRY_VERIFY(d.GetType("shared_file_name")->HasItem(Value("e.txt")));
    QTRY_VERIFY(d.GetType("bitrate")->HasItem(Value(320)));
    d.GetType("user")->GetItem(Value("carol")).NewItem("in_user_list");
    m_wireRoot = QString(root).replace('/', '\\');
}

void TestUploadBrowser::showsShareAsUserMaySee()
{
    UploadForm* form = UploadTo("bob");
    QVERIFY(form);
    QCOMPARE(Tabs()->tabText(Tabs()->indexOf(form)), QString("Upload to bob"));
    QCOMPARE(form->User(), QString("bob"));
    QTreeWidget* tree = W<QTreeWidget>(form, "folderTree");
    QTreeWidget* list = W<QTreeWidget>(form, "fileList");
    QVERIFY(tree->isVisible() && list->isVisible() && W<QLineEdit>(form, "filterEdit")->isVisible());
    QCOMPARE(TreeTexts(tree), (QStringList{"Music", "  Rock", "    Live"}));

    ClickRow(tree, FindRow(tree, "Rock"));
    // Own files carry no duration: the scan reads frame headers only.
    QCOMPARE(ListTexts(list), (QStringList{"b.txt|2|", "song.mp3|1,234,567|320 CBR"}));

    // Three levels: the level action opens one more each time, then no further.
    QVERIFY(MainWindowFixture::Trigger(tree, "Expand Level"));
    QVERIFY(MainWindowFixture::Trigger(tree, "Expand Level [1]"));
    QVERIFY(MainWindowFixture::Trigger(tree, "Expand Level [2]"));
    QVERIFY(MainWindowFixture::Trigger(tree, "Expand Level [2]"));
    QVERIFY(MainWindowFixture::Trigger(tree, "Collapse All"));
    QVERIFY(MainWindowFixture::Trigger(tree, "Expand Level"));

    // A filter that hides the listed folder empties the list; cleared, the list comes back.
    QLineEdit* filter = W<QLineEdit>(form, "filterEdit");
    QTest::keyClicks(filter, "-rock");
    QCOMPARE(TreeTexts(tree), (QStringList{"Music", "  Rock (hidden)", "    Live"}));
    QCOMPARE(list->topLevelItemCount(), 0);
    filter->clear();
    QCOMPARE(list->topLevelItemCount(), 2);

    // The user list sees the second share too; its Rock has no parent in the share.
    UploadForm* carol = UploadTo("carol");
    QVERIFY(carol && carol != form);
    QCOMPARE(TreeTexts(W<QTreeWidget>(carol, "folderTree")), (QStringList{"Music", "  Rock", "    Live", "Rock"}));
    QCOMPARE(UploadTo("bob"), form);
}

void TestUploadBrowser::uploadFile()
{
    FakePeer& bob = Peer("bob");
    bob.TakeFrames();
    const auto [form, tree, list] = OpenAt("bob", "Rock");
    ClickRow(list, FindRow(list, "song.mp3"));
    QVERIFY(MainWindowFixture::Trigger(list, "Upload File"));
    QCOMPARE(Offers(bob, 1), QStringList{"\\Music\\Rock\\song.mp3 1234567"});
    QVERIFY(ListTexts(list)[1].endsWith("*"));
    QVERIFY(!ListTexts(list)[0].endsWith("*"));
    ItemPtr bobItem = d.GetType("user")->GetItem(Value("bob"));
    QCOMPARE(bobItem.GetItems("upload_entry").size(), size_t(1));

    // Nothing selected: the action is not carried out.
    list->clearSelection();
    QVERIFY(MainWindowFixture::Trigger(list, "Upload File"));
    QCOMPARE(Offers(bob, 0), QStringList());
}

void TestUploadBrowser::uploadFolder()
{
    FakePeer& bob = Peer("bob");
    bob.TakeFrames();
    const auto [form, tree, list] = OpenAt("bob", "Rock");
    for (int k = 0; k < list->topLevelItemCount(); ++k)
        list->topLevelItem(k)->setIcon(0, QIcon());
    ClickRow(tree, FindRow(tree, "Music"));
    ClickRow(tree, FindRow(tree, "Rock"));
    QVERIFY(MainWindowFixture::Trigger(tree, "Upload Folder"));
    QCOMPARE(Offers(bob, 4), (QStringList{"\\Music\\Rock\\b.txt 2", "\\Music\\Rock\\song.mp3 1234567",
                                          "\\Music\\Rock\\Live\\c.txt 3", "\\Music\\Rock\\Live\\d.txt 4"}));
    QStringList rows = ListTexts(list);
    QVERIFY(rows[0].endsWith("*") && rows[1].endsWith("*"));

    ClickRow(tree, FindRow(tree, "Music"));
    QVERIFY(MainWindowFixture::Trigger(tree, "Upload Folder"));
    QCOMPARE(Offers(bob, 5),
             (QStringList{"\\Music\\a.txt 1", "\\Music\\Rock\\b.txt 2", "\\Music\\Rock\\song.mp3 1234567",
                          "\\Music\\Rock\\Live\\c.txt 3", "\\Music\\Rock\\Live\\d.txt 4"}));
    // Listed again, the rows carry no marks.
    ClickRow(tree, FindRow(tree, "Rock"));
    rows = ListTexts(list);
    QVERIFY(!rows[0].endsWith("*") && !rows[1].endsWith("*"));
}

// Each browser acts on its own lists for its own user only.
void TestUploadBrowser::twoBrowsers()
{
    FakePeer& bob = Peer("bob");
    bob.TakeFrames();
    const auto [carol, tree, list] = OpenAt("carol", "Music");
    ClickRow(list, FindRow(list, "a.txt"));
    const size_t before = d.GetType("user")->GetItem(Value("carol")).GetItems("upload_entry").size();
    QVERIFY(MainWindowFixture::Trigger(list, "Upload File"));
    QCOMPARE(d.GetType("user")->GetItem(Value("carol")).GetItems("upload_entry").size(), before + 1);
    QCOMPARE(Offers(bob, 0), QStringList());
    // The second share's folder, which carol alone may see.
    ClickRow(tree, tree->topLevelItem(1));
    QCOMPARE(ListTexts(list), QStringList{"e.txt|5|"});
}

// The file rows' items go with the rows whenever the list is emptied or filled anew.
void TestUploadBrowser::listNodesFollowRows()
{
    const auto [form, tree, list] = OpenAt("bob", "Music");
    const size_t base = Count("user_share_file_node") - size_t(list->topLevelItemCount());
    for (const char* folder : {"Rock", "Live", "Rock", "Music"}) {
        ClickRow(tree, FindRow(tree, folder));
        QCOMPARE(Count("user_share_file_node"), base + size_t(list->topLevelItemCount()));
    }
    QTest::keyClicks(W<QLineEdit>(form, "filterEdit"), "-music");
    QCOMPARE(list->topLevelItemCount(), 0);
    QCOMPARE(Count("user_share_file_node"), base);
    W<QLineEdit>(form, "filterEdit")->clear();
}

void TestUploadBrowser::closeTab()
{
    const char* types[] = {"user_share", "user_share_folder", "user_share_file", "upload_share_tab",
                           "user_share_folder_node", "user_share_file_node", "user_share_folder_parent",
                           "user_share_folder_child"};
    for (const char* user : {"bob", "carol"}) {
        UploadForm* form = sharesForm->OpenUploadBrowse(user);
        CloseTab(form);
    }
    for (const char* type : types)
        QVERIFY2(Count(type) == 0, type);
    QVERIFY(!d.GetType("user")->GetItem(Value("bob")).HasItem("upload_share_tab"));

    // Opened again, the browser starts anew.
    UploadForm* again = UploadTo("bob");
    QVERIFY(again);
    QCOMPARE(TreeTexts(W<QTreeWidget>(again, "folderTree")), (QStringList{"Music", "  Rock", "    Live"}));
    CloseTab(again);
}

void TestUploadBrowser::cleanupTestCase()
{
    PeerFixture::Clear();
    m_peers.Clear();
    delete mainWindow;
}

QTEST_MAIN(TestUploadBrowser)
#include "tst_uploadbrowser.moc"
