// The Transfers page as a user sees it: the downloads and uploads trees with their texts,
// colours, bars and group rows, the keys and toolbar actions that remove and fold rows, the
// uploads panel, the half-minute clearing, completion alerts and opening a finished file.
// The page sits in a tab widget beside the real transfer engine, which talks to 127.0.0.1 only.
#include "transfers/downloadfeed.h"
#include "transfers/transferfixture.h"

#include "app/actionsettoolbar.h"
#include "app/urlcatcher.h"
#include "app/eventtoolbar.h"
#include "common/deliver.h"
#include "common/toolbaraction.h"
#include "model/settings.h"
#include "transfers/transferqueuemanager.h"
#include "ui/transfers/transfersform.h"

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QProgressBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTreeWidget>
#include <QWidgetAction>
#include <QtTest>

namespace {

const char* const kColors[][2] = {{"color_transfer_queued", "#3366ff"},
                                  {"color_transfer_complete", "#006400"},
                                  {"color_transfer_in_progress", "#0000ff"},
                                  {"color_transfer_failed", "#ff0a47"},
                                  {"color_transfer_other", "#000000"}};

QString Status(ItemPtr entry) { return ValueOf(entry, "download_entry_status"); }

}  // namespace

class TestTransfersForm : public QObject
{
    Q_OBJECT

    TransferFixture f;
    QTcpServer m_listener;
    QTabWidget* m_tabs = nullptr;
    TransfersForm* m_form = nullptr;
    // A month named otherwise in German, French and Russian than in English.
    QDateTime m_now = QDateTime(QDate(2026, 12, 1), QTime(12, 0));

    QTreeWidget* Downloads() { return m_form->findChild<QTreeWidget*>("downloadsList"); }
    QTreeWidget* Uploads() { return m_form->findChild<QTreeWidget*>("uploadsList"); }
    // Puts the page with one of its trees in front of the user.
    bool ShowPage(int index)
    {
        m_tabs->setCurrentWidget(m_form);
        m_form->findChild<QTabWidget*>("transfersTabControl")->setCurrentIndex(index);
        m_tabs->show();
        return QTest::qWaitForWindowExposed(m_tabs);
    }
    // Where a row is on screen, once the view has laid out what was added while it was hidden.
    static QPoint At(QTreeWidget* tree, QTreeWidgetItem* row)
    {
        tree->scrollToItem(row);
        return tree->visualItemRect(row).center();
    }
    // The view reacts to a double click on the row its press landed on.
    static void DoubleClick(QTreeWidget* tree, QPoint at)
    {
        QTest::mousePress(tree->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    }
    // An engine report, and the page's refresh of what reported, once it is due.
    void Report(ItemPtr entry)
    {
        emit transferQueueManager->DownloadProgressed(entry);
        auto* refresh = m_form->findChild<QTimer*>("progressRefresh");
        QVERIFY(refresh && refresh->isActive());
        QTRY_VERIFY(!refresh->isActive());
    }
    QString TabText() { return m_tabs->tabText(m_tabs->indexOf(m_form)); }
    QTreeWidgetItem* User(QTreeWidget* tree, const QString& name)
    {
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            if (tree->topLevelItem(i)->text(0) == name)
                return tree->topLevelItem(i);
        return nullptr;
    }
    // The file row of a download or upload, found as a user would: by its file name.
    QTreeWidgetItem* FileRow(QTreeWidget* tree, const QString& file)
    {
        for (QTreeWidgetItemIterator it(tree); *it; ++it)
            if ((*it)->text(2) == file)
                return *it;
        return nullptr;
    }
    QString Bar(QTreeWidget* tree, QTreeWidgetItem* row)
    {
        auto* bar = qobject_cast<QProgressBar*>(tree->itemWidget(row, 4));
        return bar ? bar->text() : QString("(no bar)");
    }
    // Shows the tree's action set as a focus change into it does and triggers the action with
    // that text; false when the set has none.
    bool Trigger(QWidget* tree, const QString& text)
    {
        return TriggerToolbarAction(tree, text);
    }
    QStringList ActionTexts(QWidget* tree)
    {
        actionBar->OnApplicationFocusChanged(nullptr, tree);
        QStringList texts;
        for (QAction* action : actionBar->actions())
            if (!qobject_cast<QWidgetAction*>(action) && !action->text().isEmpty())
                texts << action->text();
        return texts;
    }
    QStringList EventTexts()
    {
        QStringList texts;
        for (QAction* action : eventToolBar->actions())
            if (!action->text().isEmpty())
                texts << action->text();
        return texts;
    }
    ItemPtr Add(const char* user, const char* name, const char* folder, qint64 size)
    {
        return transferQueueManager->AddDownload(user, name, folder, size, 0);
    }
    // Gives an entry the live cells of a running transfer, as the engine does when it starts one.
    static void Running(ItemPtr entry, qint64 written, int speed)
    {
        TransferQueueManager::AddSpeedCells(entry);
        *TransferQueueManager::Cell<int>(entry, "bytes_per_second") = speed;
        entry += d.GetType("write_position")->GetItem(Value(new qint64(written)));
    }
    QTcpSocket* Start(ItemPtr entry) { return FeedDownload(m_listener, entry, this); }
    ItemPtr Upload(const char* user, const QString& folder, const QString& name, qint64 size)
    {
        ItemPtr file = d.GetType("shared_file")->NewItem();
        file += d.GetType("shared_file_folder")->GetItem(Value(folder));
        file += d.GetType("shared_file_name")->GetItem(Value(name));
        file += d.GetType("shared_file_size")->GetItem(Value(size));
        ItemPtr entry = d.GetType("upload_entry")->NewItem();
        entry += d.GetType("user")->GetItem(Value(user));
        entry += file;
        return entry;
    }

private slots:
    void initTestCase();
    void cleanup();
    void rowsWaitForTheLoadAndFollowTheQueueOrder();
    void statusTexts_data();
    void statusTexts();
    void statusColourIsOneChangeOfTheRow();
    void progressTexts_data();
    void progressTexts();
    void speedGoesToTheDeepestVisibleRow();
    void runningDownloadCountsAndShowsProgress();
    void deleteKeyAndClearComplete();
    void expandActionsFlip();
    void panelRestoresSilentlyThenDrivesTheEngine();
    void halfMinuteClearsFinishedUploads();
    void uploadRows();
    void completionAlerts();
    void completionOfARemovedEntry();
    void doubleClickOpensTheFinishedFile();
    void finishedRowShowsTheWholeFile();
    void alertsGoWithTheirDownloads();
    void cleanupTestCase();
};

void TestTransfersForm::initTestCase()
{
    QVERIFY(f.SetUp(false));
    QVERIFY(m_listener.listen(QHostAddress::LocalHost, 0));
    for (const auto& color : kColors)
        SetSetting(color[0], color[1]);
    TransferQueueManager::SetClock([this] { return m_now; });
    new ActionSetToolBar(nullptr);
    actionBar->Init();
    new EventToolBar(nullptr);
    m_tabs = new QTabWidget;
    m_tabs->addTab(new QWidget, "Search");
    m_form = new TransfersForm;
    m_tabs->addTab(m_form, "Transfers");
    m_tabs->resize(1000, 600);
    m_form->Init();
    QCOMPARE(TabText(), QString("Transfers [0/0]"));
}

void TestTransfersForm::cleanup()
{
    m_tabs->hide();
    for (ItemPtr entry : g("download_entry"))
        transferQueueManager->RemoveDownload(entry);
    for (ItemPtr entry : g("upload_entry"))
        transferQueueManager->RemoveUpload(entry);
    d.GetType("global")->GetItem(Value("clear_complete_downloads")).Disconnect("global_value");
    QCoreApplication::processEvents();
    QCOMPARE(Downloads()->topLevelItemCount(), 0);
    QCOMPARE(Uploads()->topLevelItemCount(), 0);
    QDir(GetSetting("download_folder")).removeRecursively();
}

void TestTransfersForm::cleanupTestCase()
{
    delete m_tabs;
    delete eventToolBar;
    delete actionBar;
}

void TestTransfersForm::rowsWaitForTheLoadAndFollowTheQueueOrder()
{
    ItemPtr first = Add("ann", "one.mp3", "music\\Album", 1234);
    ItemPtr second = Add("bob", "two.mp3", "pop\\Single", 10);
    Add("ann", "three.mp3", "music\\Album", 5);
    // bob's download moves to the head of the queue.
    second.Disconnect("download_order");
    second += d.GetType("download_order")->GetItem(Value(-1));
    QCOMPARE(Downloads()->topLevelItemCount(), 0);

    transferQueueManager->DataLoaded();
    QCOMPARE(Downloads()->topLevelItemCount(), 2);
    QTreeWidgetItem* bob = Downloads()->topLevelItem(0);
    QTreeWidgetItem* ann = Downloads()->topLevelItem(1);
    QCOMPARE(bob->text(0), QString("bob"));
    QCOMPARE(ann->text(0), QString("ann"));
    QCOMPARE(ann->childCount(), 1);
    QCOMPARE(ann->child(0)->text(1), QString("Album/music"));
    QCOMPARE(ann->child(0)->child(0)->text(2), QString("one.mp3"));
    QCOMPARE(ann->child(0)->child(1)->text(2), QString("three.mp3"));
    QTreeWidgetItem* row = FileRow(Downloads(), "one.mp3");
    QCOMPARE(row->text(3), QString("queued"));
    QCOMPARE(row->text(7), QString("1,234"));
    QCOMPARE(row->foreground(3).color(), QColor("#3366ff"));
    QVERIFY(ann->isExpanded() && ann->child(0)->isExpanded());
    // The user and folder rows take the colour of what their files add up to.
    QCOMPARE(ann->foreground(3).color(), QColor("#3366ff"));
    QCOMPARE(bob->child(0)->foreground(3).color(), QColor("#3366ff"));
    QCOMPARE(TabText(), QString("Transfers [0/0]"));

    // Entries added once the transfers are loaded get their rows at once; a place in line shows.
    Add("cy", "four.mp3", "x\\Y", 1);
    QVERIFY(FileRow(Downloads(), "four.mp3"));
    first += d.GetType("place_in_line")->GetItem(Value(7));
    QCOMPARE(row->text(8), QString("7"));
}

void TestTransfersForm::statusTexts_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("folder");
    QTest::newRow("complete and denied") << "complete"
                                         << "denied"
                                         << "denied";
    QTest::newRow("complete and queued") << "complete"
                                         << "queued"
                                         << "queued";
    QTest::newRow("local error and complete") << "local error"
                                              << "complete"
                                              << "";
    QTest::newRow("downloading and denied") << "downloading"
                                            << "denied"
                                            << "downloading";
    QTest::newRow("aborted and complete") << "aborted"
                                          << "complete"
                                          << "aborted";
}

// File rows show their status lower-cased (a denial its reason) in the status colour; a
// collapsed folder row shows what its files add up to.
void TestTransfersForm::statusTexts()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, folder);
    QCOMPARE(Downloads()->topLevelItemCount(), 0);
    ItemPtr a = Add("dee", "a.bin", "share\\Stuff", 10);
    ItemPtr b = Add("dee", "b.bin", "share\\Stuff", 10);
    QTreeWidgetItem* folderRow = User(Downloads(), "dee")->child(0);
    Downloads()->collapseItem(folderRow);
    for (const auto& [entry, status] : {std::pair<ItemPtr, QString>{a, first}, {b, second}}) {
        if (status == "denied")
            emit peerMessenger->UploadDenied("dee", ("share\\Stuff\\" + ValueOf(entry, "file_name")).toStdString(),
                                             "Too Many Files");
        else
            transferQueueManager->SetDownloadEntryStatus(entry, status);
        QCOMPARE(Status(entry), status);
    }
    for (const auto& [entry, status] : {std::pair<ItemPtr, QString>{a, first}, {b, second}}) {
        QTreeWidgetItem* row = FileRow(Downloads(), ValueOf(entry, "file_name"));
        QCOMPARE(row->text(3), status == "denied" ? QString("too many files") : status);
        if (status == "denied")
            QCOMPARE(row->foreground(3).color(), QColor("#ff0a47"));
    }
    // Group rows add up their files once the burst of changes is over.
    QTRY_COMPARE(folderRow->text(3), folder);
    // Expanding clears the group row's texts; collapsing writes them again.
    Downloads()->expandItem(folderRow);
    QCOMPARE(folderRow->text(3), QString());
    Downloads()->collapseItem(folderRow);
    QCOMPARE(folderRow->text(3), folder);
}

// A status change colours every column the file row has at that moment, and the tree hears of it
// and of the new texts as one change of the whole row.
void TestTransfersForm::statusColourIsOneChangeOfTheRow()
{
    ItemPtr entry = Add("eve", "c.bin", "share\\More", 10);
    QTreeWidgetItem* row = FileRow(Downloads(), "c.bin");
    QCOMPARE(row->columnCount(), 9);
    // Coloured as queued before the place column was first written.
    for (int column = 0; column < 8; ++column)
        QCOMPARE(row->foreground(column).color(), QColor("#3366ff"));
    QCOMPARE(row->foreground(8).style(), Qt::NoBrush);

    QSignalSpy changes(Downloads()->model(), &QAbstractItemModel::dataChanged);
    transferQueueManager->SetDownloadEntryStatus(entry, "aborted");
    QCOMPARE(row->text(3), QString("aborted"));
    for (int column = 0; column < 9; ++column)
        QCOMPARE(row->foreground(column).color(), QColor("#ff0a47"));
    QCOMPARE(changes.size(), 1);
    const QModelIndex first = changes[0][0].toModelIndex(), last = changes[0][1].toModelIndex();
    QCOMPARE(first.data().toString(), QString());
    QCOMPARE(first.siblingAtColumn(2).data().toString(), QString("c.bin"));
    QCOMPARE(last.row(), first.row());
    QCOMPARE(first.column(), 0);
    QCOMPARE(last.column(), 8);
}

void TestTransfersForm::progressTexts_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("written");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QString>("eta");
    QTest::addColumn<QString>("bar");
    QTest::addColumn<QString>("kbs");
    QTest::newRow("half") << qint64(2468) << qint64(1234) << 1536 << "   0s"
                          << "1,234 (50.0%)"
                          << "1.5";
    QTest::newRow("hours") << qint64(3725000) << qint64(0) << 1000 << "   1h:2m:5s"
                           << "0 (0.0%)"
                           << "1.0";
    QTest::newRow("a minute") << qint64(61000) << qint64(1000) << 1000 << "   1m:0s"
                              << "1,000 (1.6%)"
                              << "1.0";
    QTest::newRow("stalled") << qint64(5000) << qint64(2500) << 0 << "   0s"
                             << "2,500 (50.0%)"
                             << "0.0";
    QTest::newRow("empty file") << qint64(0) << qint64(0) << 0 << "   0s"
                                << "0 (100.0%)"
                                << "0.0";
}

void TestTransfersForm::progressTexts()
{
    QFETCH(qint64, size);
    QFETCH(qint64, written);
    QFETCH(int, speed);
    ItemPtr entry = Add("eve", "f.bin", "d\\E", size);
    Running(entry, written, speed);
    Report(entry);
    QTreeWidgetItem* row = FileRow(Downloads(), "f.bin");
    QTEST(row->text(5), "eta");
    QTEST(Bar(Downloads(), row), "bar");
    QTEST(row->text(6), "kbs");
}

// The speed shows on the deepest row a user can see; an expanded user row with one folder
// leaves its own bar alone, a collapsed one adds up all the user's files.
void TestTransfersForm::speedGoesToTheDeepestVisibleRow()
{
    ItemPtr a = Add("fay", "a.bin", "d\\One", 1000);
    Add("fay", "b.bin", "d\\One", 3000);
    Running(a, 500, 2048);
    QTreeWidgetItem* user = User(Downloads(), "fay");
    QTreeWidgetItem* folder = user->child(0);
    QTreeWidgetItem* file = FileRow(Downloads(), "a.bin");
    Report(a);
    QCOMPARE(file->text(6), QString("2.0"));
    QCOMPARE(Bar(Downloads(), folder), QString("500 (12.5%)"));
    QCOMPARE(Bar(Downloads(), user), QString("(no bar)"));

    Downloads()->collapseItem(folder);
    *TransferQueueManager::Cell<int>(a, "bytes_per_second") = 1024;
    Report(a);
    QCOMPARE(folder->text(6), QString("1.0"));
    QCOMPARE(folder->text(5), QString("   3s"));

    Downloads()->collapseItem(user);
    *TransferQueueManager::Cell<int>(a, "bytes_per_second") = 512;
    Report(a);
    QCOMPARE(user->text(6), QString("0.5"));
    QCOMPARE(Bar(Downloads(), user), QString("500 (12.5%)"));
    QCOMPARE(user->text(3), QString("queued"));

    // Expanding takes the group row's bar and texts away.
    Downloads()->expandItem(user);
    QCOMPARE(Bar(Downloads(), user), QString("(no bar)"));
    QCOMPARE(user->text(6), QString());
    QCOMPARE(user->text(3), QString());
}

void TestTransfersForm::runningDownloadCountsAndShowsProgress()
{
    ItemPtr entry = Add("gus", "run.bin", "d\\Run", 16384);
    QTcpSocket* far = Start(entry);
    QVERIFY(far);
    QCOMPARE(TabText(), QString("Transfers [1/0]"));
    // Half the file, then silence: the page still shows all that arrived.
    far->write(QByteArray(8192, 'r'));
    far->flush();
    QTRY_COMPARE(Bar(Downloads(), FileRow(Downloads(), "run.bin")), QString("8,192 (50.0%)"));
    QCOMPARE(FileRow(Downloads(), "run.bin")->text(3), QString("downloading"));
    far->write(QByteArray(8192, 's'));
    QTRY_COMPARE(Status(entry), QString("complete"));
    QCOMPARE(TabText(), QString("Transfers [0/0]"));
    QCOMPARE(FileRow(Downloads(), "run.bin")->foreground(3).color(), QColor("#006400"));
}

void TestTransfersForm::deleteKeyAndClearComplete()
{
    Add("hal", "a.bin", "d\\A", 1);
    Add("hal", "b.bin", "d\\B", 1);
    ItemPtr c = Add("ivy", "c.bin", "d\\C", 1);
    Add("ivy", "d.bin", "d\\C", 1);
    QVERIFY(ShowPage(0));
    QTreeWidget* tree = Downloads();

    // A file row: its entry goes, and with it the emptied folder row.
    QTreeWidgetItem* row = FileRow(tree, "a.bin");
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, At(tree, row));
    QTest::keyClick(tree, Qt::Key_Delete);
    QVERIFY(!FileRow(tree, "a.bin"));
    QCOMPARE(User(tree, "hal")->childCount(), 1);
    QCOMPARE(g("download_entry").size(), size_t(3));

    // A user row: every entry under it, and the row itself.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, At(tree, User(tree, "hal")));
    QTest::keyClick(tree, Qt::Key_Delete);
    QVERIFY(!User(tree, "hal"));
    QCOMPARE(g("download_entry").size(), size_t(2));

    // "Clear Complete" takes only the finished ones.
    transferQueueManager->SetDownloadEntryStatus(c, "complete");
    QVERIFY(Trigger(tree, "Clear Complete"));
    QVERIFY(!FileRow(tree, "c.bin"));
    QVERIFY(FileRow(tree, "d.bin"));
    QCOMPARE(g("download_entry").size(), size_t(1));

    // The folder row goes through the toolbar's removal.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, At(tree, User(tree, "ivy")->child(0)));
    QVERIFY(Trigger(tree, "Remove downloads"));
    QCOMPARE(tree->topLevelItemCount(), 0);
    QVERIFY(g("download_entry").empty());
}

void TestTransfersForm::expandActionsFlip()
{
    Add("jo", "a.bin", "d\\A", 1);
    QTreeWidget* tree = Downloads();
    QVERIFY(ActionTexts(tree).contains("Expand Folders [on]"));
    QVERIFY(Trigger(tree, "Expand Folders [on]"));
    QVERIFY(ActionTexts(tree).contains("Expand Folders [off]"));
    QVERIFY(!User(tree, "jo")->child(0)->isExpanded());
    QVERIFY(Trigger(tree, "Expand Users [on]"));
    QVERIFY(!User(tree, "jo")->isExpanded());
    // New rows follow the flags.
    Add("kim", "b.bin", "d\\B", 1);
    QVERIFY(!User(tree, "kim")->isExpanded() && !User(tree, "kim")->child(0)->isExpanded());
    QVERIFY(Trigger(tree, "Expand Folders [off]"));
    QVERIFY(Trigger(tree, "Expand Users [off]"));
    QVERIFY(ActionTexts(tree).contains("Expand Folders [on]"));
    QVERIFY(ActionTexts(tree).contains("Expand Users [on]"));
    QVERIFY(User(tree, "jo")->isExpanded() && User(tree, "jo")->child(0)->isExpanded());
    QVERIFY(ActionTexts(Uploads()).contains("Expand Folders [on]"));
    QVERIFY(ActionTexts(Uploads()).contains("Clear Complete and Aborted"));
}

void TestTransfersForm::panelRestoresSilentlyThenDrivesTheEngine()
{
    // Values the boxes cannot hold: writing back what they show would change them.
    SetSetting("upload_slots", "150");
    SetSetting("upload_speed_limit", "123456");
    SetSetting("upload_speed_limit_enabled", "yes");
    SetSetting("clear_complete_aborted_uploads", "yes");
    transferQueueManager->DetermineUploadSpeedLimit();
    m_form->DataLoaded();
    auto* slotsBox = m_form->findChild<QSpinBox*>("uploadSlotsSpinBox");
    auto* limit = m_form->findChild<QSpinBox*>("uploadLimitSpinBox");
    auto* limited = m_form->findChild<QCheckBox*>("uploadLimitCheckBox");
    auto* clearUploads = m_form->findChild<QCheckBox*>("clearUploadsCheckBox");
    auto* clearDownloads = m_form->findChild<QCheckBox*>("clearDownloadsCheckBox");
    QCOMPARE(slotsBox->value(), 99);
    QCOMPARE(limit->value(), 99999);
    QVERIFY(limited->isChecked() && clearUploads->isChecked() && !clearDownloads->isChecked());
    QCOMPARE(GetSetting("upload_slots"), QString("150"));
    QCOMPARE(GetSetting("upload_speed_limit"), QString("123456"));
    QCOMPARE(transferQueueManager->GetUploadSpeed(), 123456);

    QVERIFY(ShowPage(1));
    limit->setFocus();
    limit->selectAll();
    QTest::keyClicks(limit, "0");
    QVERIFY(!limited->isChecked());
    QCOMPARE(GetSetting("upload_speed_limit_enabled"), QString("no"));
    QCOMPARE(transferQueueManager->GetUploadSpeed(), 0);
    QTest::keyClicks(limit, "5");
    QVERIFY(limited->isChecked());
    QCOMPARE(GetSetting("upload_speed_limit"), QString("5"));
    QCOMPARE(transferQueueManager->GetUploadSpeed(), 5);
    slotsBox->setFocus();
    slotsBox->selectAll();
    QTest::keyClicks(slotsBox, "7");
    QCOMPARE(GetSetting("upload_slots"), QString("7"));
    QTest::mouseClick(clearDownloads, Qt::LeftButton, {}, QPoint(5, clearDownloads->height() / 2));
    QCOMPARE(GetSetting("clear_complete_downloads"), QString("yes"));
    QTest::mouseClick(clearDownloads, Qt::LeftButton, {}, QPoint(5, clearDownloads->height() / 2));
    QVERIFY(!HasSetting("clear_complete_downloads"));
    QTest::mouseClick(limited, Qt::LeftButton, {}, QPoint(5, limited->height() / 2));
    QCOMPARE(transferQueueManager->GetUploadSpeed(), 0);
    QVERIFY(dataSaver->Save());
}

void TestTransfersForm::halfMinuteClearsFinishedUploads()
{
    SetSetting("clear_complete_aborted_uploads", "yes");
    ItemPtr old = Upload("lou", "/share/a", "old.bin", 10);
    ItemPtr fresh = Upload("lou", "/share/a", "fresh.bin", 10);
    ItemPtr waiting = Upload("lou", "/share/a", "waiting.bin", 10);
    ItemPtr receipt = Upload("lou", "/share/a", "receipt.bin", 10);
    transferQueueManager->SetUploadEntryStatus(waiting, "queued");
    transferQueueManager->SetUploadEntryStatus(old, "complete");
    transferQueueManager->SetUploadEntryStatus(receipt, "aborted");
    // A later receipt time counts over the status change.
    receipt += d.GetType("last_receipt_time")->GetItem(Value(new QDateTime(m_now.addSecs(10))));
    m_now = m_now.addSecs(2);
    transferQueueManager->SetUploadEntryStatus(fresh, "complete");

    m_now = m_now.addSecs(297);
    m_form->EveryHalfMinute();
    QCOMPARE(g("upload_entry").size(), size_t(4));
    m_now = m_now.addSecs(2);
    m_form->EveryHalfMinute();
    QVERIFY(!FileRow(Uploads(), "old.bin"));
    QVERIFY(FileRow(Uploads(), "fresh.bin"));
    m_now = m_now.addSecs(3600);
    m_form->EveryHalfMinute();
    QVERIFY(!FileRow(Uploads(), "fresh.bin"));
    QVERIFY(!FileRow(Uploads(), "receipt.bin"));
    QVERIFY(FileRow(Uploads(), "waiting.bin"));

    // Off, nothing goes.
    ItemPtr kept = Upload("lou", "/share/a", "kept.bin", 10);
    transferQueueManager->SetUploadEntryStatus(kept, "complete");
    d.GetType("global")->GetItem(Value("clear_complete_aborted_uploads")).Disconnect("global_value");
    m_now = m_now.addSecs(3600);
    m_form->EveryHalfMinute();
    QVERIFY(FileRow(Uploads(), "kept.bin"));
}

void TestTransfersForm::uploadRows()
{
    ItemPtr a = Upload("max", "/share/music/Album", "c:\\x/a.mp3", 1234567);
    ItemPtr b = Upload("max", "/share/music/Album", "b.mp3", 100);
    QTreeWidgetItem* row = FileRow(Uploads(), "a.mp3");
    QVERIFY(row);
    QCOMPARE(row->text(7), QString("1,234,567"));
    QCOMPARE(row->text(3), QString());
    QCOMPARE(User(Uploads(), "max")->child(0)->text(1), QString("Album/music/share"));
    transferQueueManager->SetUploadEntryStatus(a, "uploading");
    transferQueueManager->SetUploadEntryStatus(b, "denied");
    QCOMPARE(row->text(3), QString("uploading"));
    QCOMPARE(TabText(), QString("Transfers [0/1]"));
    Uploads()->collapseItem(User(Uploads(), "max"));
    QCOMPARE(User(Uploads(), "max")->text(3), QString("uploading"));
    QTRY_COMPARE(User(Uploads(), "max")->foreground(0).color(), QColor("#0000ff"));
    transferQueueManager->SetUploadEntryStatus(a, "complete");
    QTRY_COMPARE(TabText(), QString("Transfers [0/0]"));
    QVERIFY(Trigger(Uploads(), "Clear Complete and Aborted"));
    QCOMPARE(Uploads()->topLevelItemCount(), 0);
    QVERIFY(Trigger(Uploads(), "Expand Users [on]"));
    QVERIFY(ActionTexts(Uploads()).contains("Expand Users [off]"));
    Upload("max", "/share/x", "late.mp3", 1);
    QVERIFY(!User(Uploads(), "max")->isExpanded());
    QVERIFY(Trigger(Uploads(), "Expand Users [off]"));
    QVERIFY(User(Uploads(), "max")->isExpanded());
}

// A finished download with an alert puts a button on the event bar while the list is out of
// sight, and none while the user is looking at it.
void TestTransfersForm::completionAlerts()
{
    ItemPtr hidden = Add("ned", "hidden.bin", "d\\A", 1);
    hidden += d.GetType("complete_download_alert")->NewItem();
    transferQueueManager->SetDownloadEntryStatus(hidden, "complete");
    QCOMPARE(EventTexts(), QStringList());
    QTRY_COMPARE(EventTexts(), QStringList{"hidden.bin"});
    QVERIFY(!hidden["complete_download_alert"]);
    eventToolBar->RemoveEvent(Downloads());

    QVERIFY(ShowPage(0));
    ItemPtr shown = Add("ned", "shown.bin", "d\\B", 1);
    shown += d.GetType("complete_download_alert")->NewItem();
    // A folder alert and a user alert fire once the last of their files is complete.
    ItemPtr alerts = d.GetType("complete_download_alert")->NewItem();
    alerts += shown["user"];
    alerts += shown["remote_folder"];
    transferQueueManager->SetDownloadEntryStatus(shown, "complete");
    QTRY_VERIFY(!shown["complete_download_alert"]);
    QTRY_VERIFY(g("complete_download_alert").empty());
    QCOMPARE(EventTexts(), QStringList());

    // With clearing on, the alert fires first and the entry goes after.
    m_tabs->hide();
    SetSetting("clear_complete_downloads", "yes");
    ItemPtr cleared = Add("ned", "cleared.bin", "d\\C", 1);
    cleared += d.GetType("complete_download_alert")->NewItem();
    transferQueueManager->SetDownloadEntryStatus(cleared, "complete");
    QTRY_COMPARE(EventTexts(), QStringList{"cleared.bin"});
    QTRY_VERIFY(!FileRow(Downloads(), "cleared.bin"));
    eventToolBar->RemoveEvent(Downloads());
}

// The completion travels through the event queue; an entry removed before it arrives is left
// alone, and the alert it had raises nothing.
void TestTransfersForm::completionOfARemovedEntry()
{
    SetSetting("clear_complete_downloads", "yes");
    for (const char* how : {"remove", "clear"}) {
        ItemPtr entry = Add("oz", "gone.bin", "d\\A", 1);
        entry += d.GetType("complete_download_alert")->NewItem();
        transferQueueManager->SetDownloadEntryStatus(entry, "complete");
        if (QByteArray(how) == "remove")
            transferQueueManager->RemoveDownload(entry);
        else
            QVERIFY(Trigger(Downloads(), "Clear Complete"));
        ItemPtr other = Add("oz", "other.bin", "d\\A", 1);
        QCoreApplication::processEvents();
        QCOMPARE(EventTexts(), QStringList());
        QVERIFY(FileRow(Downloads(), "other.bin"));
        transferQueueManager->RemoveDownload(other);
    }
}

void TestTransfersForm::doubleClickOpensTheFinishedFile()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "Open");
    QVERIFY(ShowPage(0));
    ItemPtr entry = Add("pat", "song.mp3", "music\\Album", 4);
    QTcpSocket* far = Start(entry);
    QVERIFY(far);
    far->write("data");
    QTRY_COMPARE(Status(entry), QString("complete"));
    QTreeWidget* tree = Downloads();
    const QPoint file = At(tree, FileRow(tree, "song.mp3"));
    DoubleClick(tree, file);
    QCOMPARE(catcher.urls.size(), 1);
    QVERIFY(catcher.urls.first().isLocalFile());
    QCOMPARE(ReadFile(catcher.urls.first().toLocalFile()), QByteArray("data"));
    QVERIFY(catcher.urls.first().toLocalFile().endsWith("/complete/Album/song.mp3"));

    QDesktopServices::unsetUrlHandler("file");
}

// The row of a finished download shows the whole file done, whenever its last refresh comes.
void TestTransfersForm::finishedRowShowsTheWholeFile()
{
    QVERIFY(ShowPage(0));
    ItemPtr entry = Add("ray", "whole.bin", "d\\W", 16384);
    QTcpSocket* far = Start(entry);
    QVERIFY(far);
    far->write(QByteArray(16384, 'w'));
    QTRY_COMPARE(Status(entry), QString("complete"));
    QTRY_VERIFY(!m_form->findChild<QTimer*>("progressRefresh")->isActive());
    QCOMPARE(Bar(Downloads(), FileRow(Downloads(), "whole.bin")), QString("16,384 (100.0%)"));
}

// A completion alert goes with what it waits for: a file's with its download, a folder's and a
// user's with the last of theirs. A later download of that user then raises nothing.
void TestTransfersForm::alertsGoWithTheirDownloads()
{
    Type* alert = d.GetType("complete_download_alert");
    ItemPtr a = Add("sue", "a.bin", "d\\A", 1);
    Add("sue", "b.bin", "d\\B", 1);
    a += alert->NewItem();
    ItemPtr folderAlert = alert->NewItem();
    folderAlert += a["user"];
    folderAlert += a["remote_folder"];
    alert->NewItem() += a["user"];
    QVERIFY(ShowPage(0));
    QTreeWidget* tree = Downloads();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, At(tree, FileRow(tree, "a.bin")));
    QTest::keyClick(tree, Qt::Key_Delete);
    // The user's alert waits for b.bin.
    QCOMPARE(g("complete_download_alert").size(), size_t(1));
    QVERIFY(g("complete_download_alert").Connected("user").NotConnected("remote_folder").size() == 1);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, At(tree, FileRow(tree, "b.bin")));
    QTest::keyClick(tree, Qt::Key_Delete);
    QVERIFY(g("complete_download_alert").empty());

    m_tabs->hide();
    ItemPtr later = Add("sue", "later.bin", "d\\A", 1);
    transferQueueManager->SetDownloadEntryStatus(later, "complete");
    QCoreApplication::processEvents();
    QCOMPARE(EventTexts(), QStringList());
}

QTEST_MAIN(TestTransfersForm)
#include "tst_transfersform.moc"
#include "app/moc_urlcatcher.cpp"
