// The context menus of the Transfers page in a running main window: the download entries of a
// downloads row (open, retry, remove, completion alerts, running the search again), the
// completed-downloads list and the log window of a row's user. Downloads arrive over real
// file connections on 127.0.0.1; the desktop is a URL catcher.

#include "mainwindowfixture.h"
#include "urlcatcher.h"

#include "app/eventtoolbar.h"
#include "common/testfiles.h"
#include "model/helpers.h"
#include "model/settings.h"
#include "transfers/downloadfeed.h"
#include "transfers/transferqueuemanager.h"
#include "ui/search/searchresultsform.h"
#include "ui/transfers/completedownloadsform.h"
#include "ui/transfers/downloadmenuoptions.h"
#include "ui/transfers/itemlogdialog.h"

#include <QDesktopServices>
#include <QMenu>
#include <QPointer>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>

#include <functional>

namespace {

// Records the entries of the next context menu that opens (a submenu's indented under it),
// then runs `meanwhile` and triggers the entry of that text, or closes the menu.
class MenuAnswerer
{
public:
    explicit MenuAnswerer(QString pick = QString(), std::function<void()> meanwhile = {})
        : m_pick(std::move(pick))
        , m_meanwhile(std::move(meanwhile))
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || !menu->isVisible())
                return;
            m_timer.stop();
            QAction* chosen = Read(menu, QString());
            if (m_meanwhile)
                m_meanwhile();
            if (chosen)
                chosen->trigger();
            menu->close();
        });
        m_timer.start();
    }

    QStringList entries;

private:
    QAction* Read(QMenu* menu, const QString& indent)
    {
        QAction* chosen = nullptr;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator())
                continue;
            entries << indent + action->text();
            if (action->text() == m_pick)
                chosen = action;
            if (action->menu())
                if (QAction* inner = Read(action->menu(), indent + "  "))
                    chosen = inner;
        }
        return chosen;
    }

    QString m_pick;
    std::function<void()> m_meanwhile;
    QTimer m_timer;
};

QTreeWidget* Downloads() { return Child<QTreeWidget>("downloadsList"); }
QTreeWidget* Uploads() { return Child<QTreeWidget>("uploadsList"); }

QTreeWidgetItem* Row(QTreeWidget* tree, int column, const QString& text)
{
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if ((*it)->text(column) == text)
            return *it;
    return nullptr;
}

// A right click on a row, as the window system delivers it; returns what the menu offered.
QStringList RightClick(QTreeWidget* tree, QTreeWidgetItem* row, const QString& pick = QString(),
                       std::function<void()> meanwhile = {})
{
    tree->scrollToItem(row);
    const QPoint pos = tree->visualItemRect(row).center();
    MenuAnswerer answerer(pick, std::move(meanwhile));
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, tree->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(tree->viewport(), &event);
    return answerer.entries;
}

// The entries before the per-user part of the menu.
QStringList DownloadPart(const QStringList& entries)
{
    return entries.mid(0, entries.indexOf("Message user"));
}

QStringList Texts(QMenu& menu)
{
    QStringList texts;
    for (QAction* action : menu.actions())
        if (!action->isSeparator())
            texts << action->text();
    return texts;
}

QString Status(ItemPtr entry) { return entry["download_entry_status"].AsString(); }

// How many lines of a tab of the log window end in the text; -1 without such a tab.
int LinesEndingIn(QTabWidget* tabs, const QString& area, const QString& text)
{
    for (int k = 0; k < tabs->count(); ++k)
        if (tabs->tabText(k) == area) {
            int found = 0;
            for (const QString& line : qobject_cast<QTextBrowser*>(tabs->widget(k))->toPlainText().split('\n'))
                found += line.endsWith(text);
            return found;
        }
    return -1;
}

}  // namespace

class TestTransferMenus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void menusOfEachKindOfSelection();
    void alertsRetryRemoveAndSearchAgain();
    void entryRemovedWhileTheMenuIsOpen();
    void groupAlertAfterItsLastEntryWent();
    void openFileAndFolder();
    void completedListNewestFirst();
    void showLogFromBothTrees();
    void ampersandInSearchTextShowsAsItIs();
    void cleanup();
    void cleanupTestCase();

private:
    ItemPtr Add(const char* user, const char* file, const char* folder, qint64 size, const char* search = nullptr)
    {
        ItemPtr entry = transferQueueManager->AddDownload(user, file, folder, size, 0);
        if (search)
            entry += d.GetType("search_request_text")->GetItem(Value(search));
        return entry;
    }
    // The peer sends the whole file; true once the engine has moved it into "complete".
    bool Finish(ItemPtr entry, const QByteArray& data)
    {
        QTcpSocket* far = FeedDownload(m_listener, entry, this);
        if (!far)
            return false;
        far->write(data);
        return QTest::qWaitFor([&] { return Status(entry) == "complete"; });
    }
    void ShowTransfers(bool shown)
    {
        Child<QTabWidget>("tabControl")->setCurrentWidget(Child<QWidget>(shown ? "transfersTab" : "searchTab"));
        Child<QTabWidget>("transfersTabControl")->setCurrentIndex(0);
    }
    QString Complete(const QString& relative)
    {
        return QDir(GetSetting("download_folder")).filePath("complete/" + relative);
    }

    MainWindowFixture m_fixture;
    QTcpServer m_listener;
    UrlCatcher m_desktop;
    // Ahead of the downloads the other tests complete on the real clock.
    QDateTime m_now = QDateTime::currentDateTime().addDays(1);
};

void TestTransferMenus::initTestCase()
{
    QVERIFY(m_fixture.Start());
    QVERIFY(m_listener.listen(QHostAddress::LocalHost, 0));
    QDesktopServices::setUrlHandler("file", &m_desktop, "Open");
    mainWindow->resize(1100, 700);
    ShowTransfers(true);
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow));
}

void TestTransferMenus::cleanup()
{
    for (ItemPtr entry : g("download_entry"))
        transferQueueManager->RemoveDownload(entry);
    for (ItemPtr entry : g("upload_entry"))
        transferQueueManager->RemoveUpload(entry);
    for (ItemLogDialog* dialog : Visible<ItemLogDialog>())
        dialog->close();
    eventToolBar->RemoveEvent(Downloads());
    m_desktop.urls.clear();
    TransferQueueManager::SetClock({});
    QDir(GetSetting("download_folder")).removeRecursively();
    ShowTransfers(true);
    QCoreApplication::processEvents();
}

// A "&" of the search text shows as it is in the entry that runs the search again and in the
// tab it opens; the server still gets the text itself.
void TestTransferMenus::ampersandInSearchTextShowsAsItIs()
{
    Add("fay", "f.mp3", "m\\F", 4, "rock&roll");
    QVERIFY(m_fixture.Sync());
    const QStringList entries = RightClick(Downloads(), Row(Downloads(), 2, "f.mp3"), "Re-run Search: rock&&roll");
    QVERIFY(entries.contains("Re-run Search: rock&&roll"));
    QTabWidget* searchTabs = Child<QTabWidget>("searchTabControl");
    QCOMPARE(searchTabs->tabText(searchTabs->count() - 1), QString("rock&&roll"));
    QCOMPARE(m_fixture.FramesOf(26).value(0).fields.mid(4), FakeServer::Str("rock&roll"));
}

void TestTransferMenus::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler("file");
    delete mainWindow;
}

// Each kind of row gets exactly the entries that apply to its downloads, before the user's.
void TestTransferMenus::menusOfEachKindOfSelection()
{
    Add("ann", "a.mp3", "music\\A", 10);
    ItemPtr complete = Add("bob", "b.mp3", "x\\B", 10);
    transferQueueManager->SetDownloadEntryStatus(complete, "complete");
    ItemPtr running = Add("cy", "c.mp3", "x\\C", 10);
    transferQueueManager->SetDownloadEntryStatus(running, "downloading");
    Add("dee", "d1.mp3", "p\\One", 10, "abc");
    transferQueueManager->SetDownloadEntryStatus(Add("dee", "d2.mp3", "p\\One", 10, "abc"), "complete");
    Add("dee", "d3.mp3", "p\\Two", 10, "abc");

    const struct
    {
        const char* name;
        int column;
        const char* row;
        QStringList entries;
    } cases[] = {
        {"single queued", 2, "a.mp3",
         {"Open Folder", "Retry download", "Remove download", "Notify me when...", "  File download completes",
          "  Folder download completes"}},
        {"single complete", 2, "b.mp3", {"Open File", "Open Folder", "Remove download"}},
        {"running", 2, "c.mp3",
         {"Open Folder", "Remove download", "Notify me when...", "  File download completes",
          "  Folder download completes"}},
        {"two entries of a user with two folders", 1, "One/p",
         {"Open Folder", "Retry downloads", "Remove downloads", "Notify me when...", "  Folder download completes",
          "  All downloads from user complete", "Re-run Search: abc"}},
        {"a user row", 0, "dee",
         {"Open Folder", "Retry downloads", "Remove downloads", "Notify me when...",
          "  All downloads from user complete", "Re-run Search: abc"}},
    };
    for (const auto& c : cases) {
        const QStringList entries = RightClick(Downloads(), Row(Downloads(), c.column, c.row));
        QCOMPARE(DownloadPart(entries), c.entries);
        QVERIFY2(entries.endsWith("Show Log") && entries.count("Show Log") == 1, c.name);
    }

    // The tree never selects across users; the menu's own rules still hold for such a set.
    QMenu menu;
    DownloadMenuOptions options(&menu, ItemSet(running) + ItemSet(g("download_entry").Connected(
                                                                 d.GetType("user")->GetItem(Value("ann")))));
    QCOMPARE(Texts(menu), (QStringList{"Open Folder", "Retry downloads", "Remove downloads"}));
    QMenu empty;
    DownloadMenuOptions none(&empty, ItemSet());
    QVERIFY(empty.actions().isEmpty());
}

// Alerts mark their rows and fire once; retry asks again, remove removes; the search runs again
// at the server and opens its own tab.
void TestTransferMenus::alertsRetryRemoveAndSearchAgain()
{
    ItemPtr a = Add("eve", "a.mp3", "m\\One", 4, "abc");
    ItemPtr b = Add("eve", "b.mp3", "m\\Two", 4);
    QTreeWidgetItem* fileRow = Row(Downloads(), 2, "a.mp3");
    RightClick(Downloads(), fileRow, "File download completes");
    QVERIFY(!fileRow->icon(2).isNull());
    QVERIFY(a["complete_download_alert"]);
    QVERIFY(!RightClick(Downloads(), fileRow).contains("  File download completes"));

    QTreeWidgetItem* folderRow = Row(Downloads(), 1, "Two/m");
    RightClick(Downloads(), folderRow, "Folder download completes");
    QVERIFY(!folderRow->icon(1).isNull());
    QVERIFY(!RightClick(Downloads(), folderRow).contains("  Folder download completes"));
    QTreeWidgetItem* userRow = Row(Downloads(), 0, "eve");
    RightClick(Downloads(), userRow, "All downloads from user complete");
    QVERIFY(!userRow->icon(0).isNull());
    QVERIFY(!RightClick(Downloads(), userRow).contains("  All downloads from user complete"));
    ItemPtr eve = a["user"];
    QCOMPARE(eve.GetItems("complete_download_alert").size(), size_t(2));
    QVERIFY(eve.GetItems("complete_download_alert").Connected("remote_folder").GetItems("remote_folder") ==
            ItemSet(b["remote_folder"]));

    // With the page out of sight, the file's completion puts one button on the event bar.
    ShowTransfers(false);
    QVERIFY(Finish(a, "data"));
    QTRY_VERIFY(eventToolBar->EventAction(Downloads()));
    QCOMPARE(eventToolBar->EventAction(Downloads())->text(), QString("a.mp3"));
    QVERIFY(fileRow->icon(2).isNull());
    QVERIFY(!a["complete_download_alert"]);
    // The folder and user alerts wait for b.mp3: nothing else fired.
    QCOMPARE(eve.GetItems("complete_download_alert").size(), size_t(2));
    QVERIFY(!folderRow->icon(1).isNull() && !userRow->icon(0).isNull());
    eventToolBar->RemoveEvent(Downloads());
    ShowTransfers(true);

    // "Re-run Search: abc": the server gets a search of that text, and a new global tab shows
    // its results.
    QTabWidget* searchTabs = Child<QTabWidget>("searchTabControl");
    const int tabs = searchTabs->count();
    QVERIFY(m_fixture.Sync());
    RightClick(Downloads(), Row(Downloads(), 2, "a.mp3"), "Re-run Search: abc");
    QCOMPARE(searchTabs->count(), tabs + 1);
    auto* tab = qobject_cast<SearchResultsForm*>(searchTabs->widget(tabs));
    QVERIFY(tab);
    QCOMPARE(searchTabs->tabText(tabs), QString("abc"));
    const quint32 token =
        ItemPtr(d.GetType("search_results_widget")->HasItem(Value(tab)).GetItems("search_request")).AsUInt();
    const QList<FakeServer::Frame> searches = m_fixture.FramesOf(26);
    QCOMPARE(searches.size(), 1);
    QCOMPARE(searches.first().fields, FakeServer::U32(token) + QByteArray::fromHex("03000000616263"));

    // Retry asks the owner again for what failed; remove takes the downloads away.
    transferQueueManager->SetDownloadEntryStatus(b, "aborted");
    RightClick(Downloads(), Row(Downloads(), 2, "b.mp3"), "Retry download");
    QCOMPARE(Status(b), QString("queued"));
    RightClick(Downloads(), Row(Downloads(), 0, "eve"), "Remove downloads");
    QVERIFY(g("download_entry").empty());
    QVERIFY(!Row(Downloads(), 0, "eve"));
}

// The engine may take a download while its menu is open; the menu's actions then leave it
// alone and still act on the others.
void TestTransferMenus::entryRemovedWhileTheMenuIsOpen()
{
    ItemPtr gone = Add("fay", "gone.mp3", "m\\One", 4);
    ItemPtr kept = Add("fay", "kept.mp3", "m\\One", 4);
    transferQueueManager->SetDownloadEntryStatus(kept, "aborted");
    RightClick(Downloads(), Row(Downloads(), 1, "One/m"), "Retry downloads",
               [&] { transferQueueManager->RemoveDownload(gone); });
    QCOMPARE(g("download_entry").size(), size_t(1));
    QCOMPARE(Status(kept), QString("queued"));

    const size_t alerts = g("complete_download_alert").size();
    ItemPtr other = Add("fay", "other.mp3", "m\\One", 4);
    RightClick(Downloads(), Row(Downloads(), 2, "other.mp3"), "File download completes",
               [&] { transferQueueManager->RemoveDownload(other); });
    RightClick(Downloads(), Row(Downloads(), 2, "kept.mp3"), "Remove download",
               [&] { transferQueueManager->RemoveDownload(kept); });
    QVERIFY(g("download_entry").empty());
    QCOMPARE(g("complete_download_alert").size(), alerts);
}

// A folder or user alert picked after the group's last download went while the menu was open
// waits for nothing: none is kept, so the group's next downloads are offered one afresh.
void TestTransferMenus::groupAlertAfterItsLastEntryWent()
{
    Add("gus", "keep.mp3", "m\\Two", 4);
    ItemPtr gone = Add("gus", "gone.mp3", "m\\One", 4);
    RightClick(Downloads(), Row(Downloads(), 1, "One/m"), "Folder download completes",
               [&] { transferQueueManager->RemoveDownload(gone); });
    QVERIFY(g("complete_download_alert").empty());
    Add("gus", "later.mp3", "m\\One", 4);
    QVERIFY(RightClick(Downloads(), Row(Downloads(), 1, "One/m")).contains("  Folder download completes"));

    RightClick(Downloads(), Row(Downloads(), 0, "gus"), "All downloads from user complete", [&] {
        for (ItemPtr entry : g("download_entry"))
            transferQueueManager->RemoveDownload(entry);
    });
    QVERIFY(g("complete_download_alert").empty());
    Add("gus", "a.mp3", "m\\One", 4);
    Add("gus", "b.mp3", "m\\Two", 4);
    QVERIFY(RightClick(Downloads(), Row(Downloads(), 0, "gus")).contains("  All downloads from user complete"));
}

// What opens is what the download wrote: the file and the folder that holds it.
void TestTransferMenus::openFileAndFolder()
{
    ItemPtr song = Add("gus", "song.mp3", "music\\Album", 4);
    QVERIFY(Finish(song, "data"));
    QTreeWidgetItem* row = Row(Downloads(), 2, "song.mp3");
    RightClick(Downloads(), row, "Open File");
    RightClick(Downloads(), row, "Open Folder");
    QCOMPARE(m_desktop.urls.size(), 2);
    QVERIFY(m_desktop.urls[0].isLocalFile() && m_desktop.urls[1].isLocalFile());
    QCOMPARE(m_desktop.urls[0].toLocalFile(), Complete("Album/song.mp3"));
    QCOMPARE(ReadFile(m_desktop.urls[0].toLocalFile()), QByteArray("data"));
    QCOMPARE(m_desktop.urls[1].toLocalFile(), Complete("Album"));

    // A file of that name turns up while the download runs: the download is kept under a free
    // name, and that is the file that opens.
    ItemPtr a = Add("hal", "a.mp3", "music\\Album", 3);
    QTcpSocket* far = FeedDownload(m_listener, a, this);
    QVERIFY(far);
    QFile old(Complete("Album/a.mp3"));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    far->write("new");
    QTRY_COMPARE(Status(a), QString("complete"));
    QCOMPARE(ReadFile(Complete("Album/a (1).mp3")), QByteArray("new"));
    m_desktop.urls.clear();
    RightClick(Downloads(), Row(Downloads(), 2, "a.mp3"), "Open File");
    QCOMPARE(m_desktop.urls.size(), 1);
    QString target = transferQueueManager->GetDownloadTargetPath(a, true);
    QCOMPARE(m_desktop.urls[0], QUrl::fromLocalFile(target.replace('\\', '/')));
    QCOMPARE(ReadFile(m_desktop.urls[0].toLocalFile()), QByteArray("new"));
}

// The list is made once, on the toolbar's request, and shows the records kept so far (those of
// earlier runs come from the save file before any list exists) and the completions from then on,
// newest first, sizes as plain digits.
void TestTransferMenus::completedListNewestFirst()
{
    TransferQueueManager::SetClock([this] { return m_now; });
    QVERIFY(Finish(Add("ivy", "before.bin", "d\\X", 4), "data"));

    auto* pages = Child<QTabWidget>("transfersTabControl");
    const int count = pages->count();
    QVERIFY(m_fixture.Trigger(Downloads(), "Complete Downloads"));
    QCOMPARE(pages->count(), count + 1);
    QCOMPARE(pages->tabText(count), QString("Complete"));
    QWidget* list = pages->currentWidget();
    auto* tree = list->findChild<QTreeWidget*>("downloadList");
    QVERIFY(tree);
    const int kept = int(g("complete_download").size());
    QVERIFY(kept > 0);
    QCOMPARE(tree->topLevelItemCount(), kept);
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("before.bin"));
    QCOMPARE(tree->headerItem()->text(4), QString("Completion time"));

    const QByteArray big(12345, 'x');
    m_now = m_now.addSecs(5);
    QVERIFY(Finish(Add("ivy", "first.bin", "d\\Y", big.size()), big));
    m_now = m_now.addSecs(5);
    QVERIFY(Finish(Add("jo", "second.bin", "e\\Z", 4), "data"));
    QCOMPARE(tree->topLevelItemCount(), kept + 2);
    QTreeWidgetItem* top = tree->topLevelItem(0);
    QCOMPARE((QStringList{top->text(0), top->text(1), top->text(2), top->text(3), top->text(4)}),
             (QStringList{"second.bin", "Z", "jo", "4", StoredTimeText(m_now)}));
    QCOMPARE(tree->topLevelItem(1)->text(0), QString("first.bin"));
    QCOMPARE(tree->topLevelItem(1)->text(3), QString("12345"));

    // A second request shows the same list.
    pages->setCurrentIndex(0);
    QVERIFY(m_fixture.Trigger(Downloads(), "Complete Downloads"));
    QCOMPARE(pages->count(), count + 1);
    QCOMPARE(pages->currentWidget(), list);
    QCOMPARE(tree->topLevelItemCount(), kept + 2);

    // A load notice reaching the list adds no record twice and keeps the time order.
    completeDownloadsForm->DataLoaded();
    QCOMPARE(size_t(tree->topLevelItemCount()), g("complete_download").size());
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("second.bin"));
    QCOMPARE(tree->topLevelItem(2)->text(0), QString("before.bin"));
}

// "Show Log", last in the menus of both trees, opens the log of the row's user, which grows
// while it is open. The window is not modal and goes when closed.
void TestTransferMenus::showLogFromBothTrees()
{
    ItemPtr entry = Add("kim", "k.mp3", "m\\K", 4);
    transferQueueManager->SetDownloadEntryStatus(entry, "aborted");
    RightClick(Downloads(), Row(Downloads(), 2, "k.mp3"), "Retry download");
    QVERIFY(Visible<ItemLogDialog>().isEmpty());
    RightClick(Downloads(), Row(Downloads(), 2, "k.mp3"), "Show Log");
    QCOMPARE(Visible<ItemLogDialog>().size(), 1);
    ItemLogDialog* dialog = Visible<ItemLogDialog>().first();
    QPointer<ItemLogDialog> guard(dialog);
    QVERIFY(!dialog->isModal());
    auto* tabs = dialog->findChild<QTabWidget*>("logTabWidget");
    QCOMPARE(tabs->tabText(0), QString("All"));
    const QString queueing = "]    Queueing k.mp3";
    QCOMPARE(LinesEndingIn(tabs, "All", queueing), 1);
    QCOMPARE(LinesEndingIn(tabs, "Transfer Queue", queueing), 1);
    RightClick(Downloads(), Row(Downloads(), 2, "k.mp3"), "Retry download");
    QCOMPARE(LinesEndingIn(tabs, "All", queueing), 2);
    QCOMPARE(LinesEndingIn(tabs, "Transfer Queue", queueing), 2);
    dialog->close();
    QTRY_VERIFY(guard.isNull());

    // An upload's row opens the log of its user as well.
    ItemPtr file = d.GetType("shared_file")->NewItem();
    file += d.GetType("shared_file_folder")->GetItem(Value("/share/up"));
    file += d.GetType("shared_file_name")->GetItem(Value("u.mp3"));
    file += d.GetType("shared_file_size")->GetItem(Value(10));
    ItemPtr upload = d.GetType("upload_entry")->NewItem();
    upload += d.GetType("user")->GetItem(Value("kim"));
    upload += file;
    Child<QTabWidget>("transfersTabControl")->setCurrentIndex(1);
    const QStringList entries = RightClick(Uploads(), Row(Uploads(), 2, "u.mp3"), "Show Log");
    QCOMPARE(entries.first(), QString("Message user"));
    QCOMPARE(entries.last(), QString("Show Log"));
    QCOMPARE(Visible<ItemLogDialog>().size(), 1);
    tabs = Visible<ItemLogDialog>().first()->findChild<QTabWidget*>("logTabWidget");
    QCOMPARE(LinesEndingIn(tabs, "Transfer Queue", queueing), 2);
}

QTEST_MAIN(TestTransferMenus)
#include "tst_transfermenus.moc"
#include "moc_urlcatcher.cpp"
