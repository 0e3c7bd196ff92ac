// The shared-folder list of the Options page: one row per shared folder with who may see it,
// its context menu, unsharing, the permissions dialog, the rescan report and the tab focus rule.

#include "mainwindowfixture.h"

#include "model/settings.h"
#include "shares/sharedfoldersmanager.h"
#include "ui/search/addsharedfolderdialog.h"
#include "ui/search/sharedfilesrescanneddialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

namespace {

ItemPtr Folder(const QString& path)
{
    return d.GetType("shared_folder")->GetItem(path);
}

ItemPtr Group(const QString& name)
{
    return d.GetType("user_list_group")->GetItem(name);
}

} // namespace

class TestSharedFolders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rowsFollowFolders();
    void accessText();
    void contextMenu();
    void unshare();
    void permissionsDialogEditsAccess();
    void newFolderDialog();
    void dialogOnFolderUnsharedMeanwhile();
    void rescanReport();
    void fileSharingTabFocusesList();
    void cleanup();
    void cleanupTestCase();

private:
    QTreeWidget* List() { return mainWindow->findChild<QTreeWidget*>("sharedFoldersList"); }
    QStringList Rows();
    QString AccessOf(const QString& path);
    void Select(const QString& path);

    MainWindowFixture m_fixture;
};

void TestSharedFolders::initTestCase()
{
    QVERIFY(m_fixture.Open());
    QCOMPARE(m_fixture.firstRunTitles, QStringList{"Set Username/Password"});
    QCOMPARE(List()->headerItem()->text(0), QString("Shared folder"));
    QCOMPARE(List()->columnWidth(0), 400);
}

void TestSharedFolders::cleanup()
{
    // Each case starts with no folders and no dialogs.
    for (ItemPtr folder : d.GetType("shared_folder")->GetItems())
        folder.Remove();
    d.RemoveDisconnectedItems();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<AddSharedFolderDialog*>(w) || qobject_cast<SharedFilesRescannedDialog*>(w))
            w->close();
    QCoreApplication::processEvents();
    QCOMPARE(List()->topLevelItemCount(), 0);
}

QStringList TestSharedFolders::Rows()
{
    QStringList rows;
    for (int k = 0; k < List()->topLevelItemCount(); ++k)
        rows << List()->topLevelItem(k)->text(0);
    rows.sort();
    return rows;
}

QString TestSharedFolders::AccessOf(const QString& path)
{
    const QList<QTreeWidgetItem*> rows = List()->findItems(path, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return rows.size() == 1 ? rows.first()->text(1) : QString("<%1 rows>").arg(rows.size());
}

void TestSharedFolders::Select(const QString& path)
{
    List()->clearSelection();
    const QList<QTreeWidgetItem*> rows = List()->findItems(path, Qt::MatchExactly | Qt::MatchCaseSensitive);
    QVERIFY(rows.size() == 1);
    rows.first()->setSelected(true);
}

void TestSharedFolders::rowsFollowFolders()
{
    ItemPtr music = Folder("/data/Music");
    Folder("/data/music");
    QCOMPARE(Rows(), (QStringList{"/data/Music", "/data/music"}));
    // Nothing is accessible until the first access link.
    QCOMPARE(AccessOf("/data/Music"), QString());

    music.Remove();
    QCOMPARE(Rows(), QStringList{"/data/music"});
}

void TestSharedFolders::accessText()
{
    ItemPtr folder = Folder("/srv/share");
    ItemPtr other = Folder("/srv/other");

    folder += Group("Friends");
    QCOMPARE(AccessOf("/srv/share"), QString("Friends"));
    folder += Group("Band");
    QCOMPARE(AccessOf("/srv/share"), QString("Band, Friends"));
    QCOMPARE(AccessOf("/srv/other"), QString());

    // Public outranks everything, and the user list outranks groups.
    folder.NewItem("shared_userlist");
    QCOMPARE(AccessOf("/srv/share"), QString("User List"));
    folder.NewItem("shared_public");
    QCOMPARE(AccessOf("/srv/share"), QString("Everyone"));
    folder.Disconnect("shared_public");
    QCOMPARE(AccessOf("/srv/share"), QString("User List"));
    folder.Disconnect("shared_userlist");
    QCOMPARE(AccessOf("/srv/share"), QString("Band, Friends"));

    // Linked from the group's side too.
    Group("Aardvarks") += folder;
    QCOMPARE(AccessOf("/srv/share"), QString("Aardvarks, Band, Friends"));

    folder.Disconnect("user_list_group");
    QCOMPARE(AccessOf("/srv/share"), QString());

    // Links to anything else leave the text alone.
    other.NewItem("shared_public");
    QCOMPARE(AccessOf("/srv/other"), QString("Everyone"));
}

void TestSharedFolders::contextMenu()
{
    Folder("/one");
    Folder("/two");
    mainWindow->findChild<QTabWidget*>("tabControl")->setCurrentIndex(6);
    mainWindow->findChild<QTabWidget*>("optionsTabControl")->setCurrentIndex(1);
    QCoreApplication::processEvents();

    // Empty space under the last row: no menu.
    const QRect last = List()->visualItemRect(List()->topLevelItem(1));
    QVERIFY(last.isValid());
    const QPoint below(last.left() + 5, last.bottom() + 40);
    QVERIFY(!List()->itemAt(below));
    emit List()->customContextMenuRequested(below);
    QVERIFY(!QApplication::activePopupWidget());

    // On a row: two actions with the browse icon, shown where the click was.
    QStringList texts;
    bool icons = true;
    QPoint shownAt;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        shownAt = menu->pos();
        for (QAction* action : menu->actions()) {
            texts << action->text();
            icons = icons && !action->icon().isNull();
        }
        menu->close();
    });
    const QPoint onRow = List()->visualItemRect(List()->topLevelItem(0)).center();
    emit List()->customContextMenuRequested(onRow);
    QCOMPARE(texts, (QStringList{"Set Folder Permissions", "Unshare Folder"}));
    QVERIFY(icons);
    QCOMPARE(shownAt, List()->viewport()->mapToGlobal(onRow));
}

void TestSharedFolders::unshare()
{
    ItemPtr kept = Folder("/keep");
    kept.NewItem("shared_public");
    Folder("/drop").NewItem("shared_public");

    // Nothing selected: nothing happens.
    List()->clearSelection();
    mainWindow->OnUnshareFolder();
    QCOMPARE(Rows(), (QStringList{"/drop", "/keep"}));

    Select("/drop");
    mainWindow->OnUnshareFolder();
    QCOMPARE(Rows(), QStringList{"/keep"});
    QVERIFY(!d.GetType("shared_folder")->HasItem("/drop"));
    QCOMPARE(d.GetType("shared_folder")->ItemCount(), size_t(1));
    QVERIFY(kept.IsConnected("shared_public"));

    // A row whose folder is gone is stale: the toolbar's unshare drops it and shares nothing anew.
    List()->addTopLevelItem(new QTreeWidgetItem(QStringList{"/stale"}));
    Select("/stale");
    mainWindow->OnToolBarActionTriggered(nullptr, "unshare_folder");
    QCOMPARE(Rows(), QStringList{"/keep"});
    QVERIFY(!d.GetType("shared_folder")->HasItem("/stale"));
}

void TestSharedFolders::permissionsDialogEditsAccess()
{
    ItemPtr folder = Folder("/photos");
    Group("Family");
    Group("Band");
    folder += Group("Family");
    QCOMPARE(AccessOf("/photos"), QString("Family"));

    List()->clearSelection();
    mainWindow->OnSetFolderPermissions();
    QVERIFY(Visible<AddSharedFolderDialog>().isEmpty());

    Select("/photos");
    mainWindow->OnSetFolderPermissions();
    QCOMPARE(Visible<AddSharedFolderDialog>().size(), 1);
    AddSharedFolderDialog* dialog = Visible<AddSharedFolderDialog>().first();
    QVERIFY(!dialog->isModal());
    QCOMPARE(dialog->parentWidget(), static_cast<QWidget*>(mainWindow));
    QCOMPARE(dialog->windowTitle(), QString("Add Shared Folder"));

    auto* path = dialog->findChild<QLineEdit*>("selectedFolderEdit");
    auto* everyone = dialog->findChild<QCheckBox*>("everyoneCheckBox");
    auto* userList = dialog->findChild<QCheckBox*>("userListCheckBox");
    auto* groups = dialog->findChild<QListWidget*>("groupsListWidget");
    QCOMPARE(path->text(), QString("/photos"));
    QVERIFY(!path->isEnabled());
    QVERIFY(!dialog->findChild<QPushButton*>("selectFolderButton")->isEnabled());
    QVERIFY(!everyone->isChecked());
    QVERIFY(!userList->isChecked());
    QVERIFY(userList->isEnabled());
    QVERIFY(groups->isEnabled());
    QStringList rows;
    QStringList checked;
    for (int k = 0; k < groups->count(); ++k) {
        rows << groups->item(k)->text();
        if (groups->item(k)->checkState() == Qt::Checked)
            checked << groups->item(k)->text();
    }
    QVERIFY(rows.indexOf("Band") < rows.indexOf("Family"));
    QCOMPARE(checked, QStringList{"Family"});

    // Swap the groups: the list follows through the graph.
    groups->item(rows.indexOf("Band"))->setCheckState(Qt::Checked);
    groups->item(rows.indexOf("Family"))->setCheckState(Qt::Unchecked);
    QPointer<AddSharedFolderDialog> guard(dialog);
    dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
    QCOMPARE(AccessOf("/photos"), QString("Band"));
    QTRY_VERIFY(guard.isNull());

    // Everyone: the public mark decides, the group links stay underneath.
    Select("/photos");
    mainWindow->OnSetFolderPermissions();
    dialog = Visible<AddSharedFolderDialog>().first();
    dialog->findChild<QCheckBox*>("everyoneCheckBox")->click();
    QVERIFY(!dialog->findChild<QCheckBox*>("userListCheckBox")->isEnabled());
    QVERIFY(dialog->findChild<QCheckBox*>("userListCheckBox")->isChecked());
    QVERIFY(!dialog->findChild<QListWidget*>("groupsListWidget")->isEnabled());
    dialog->accept();
    QCOMPARE(AccessOf("/photos"), QString("Everyone"));
    QVERIFY(folder.IsConnected(Group("Band")));
}

void TestSharedFolders::newFolderDialog()
{
    Group("Band");
    auto* dialog = new AddSharedFolderDialog(ItemPtr(), mainWindow);
    dialog->show();
    auto* path = dialog->findChild<QLineEdit*>("selectedFolderEdit");
    auto* everyone = dialog->findChild<QCheckBox*>("everyoneCheckBox");
    auto* userList = dialog->findChild<QCheckBox*>("userListCheckBox");
    auto* groups = dialog->findChild<QListWidget*>("groupsListWidget");
    QVERIFY(everyone->isChecked());
    QVERIFY(userList->isChecked());
    QVERIFY(!userList->isEnabled());
    QVERIFY(!groups->isEnabled());

    everyone->click();
    QVERIFY(userList->isEnabled());
    QVERIFY(!groups->isEnabled());
    userList->click();
    QVERIFY(groups->isEnabled());

    // No folder chosen: OK does nothing.
    QPointer<AddSharedFolderDialog> guard(dialog);
    dialog->accept();
    QVERIFY(dialog->isVisible());
    QCOMPARE(d.GetType("shared_folder")->ItemCount(), size_t(0));

    const QString folder = m_fixture.root.filePath("home");
    path->setText(folder);
    for (int k = 0; k < groups->count(); ++k)
        if (groups->item(k)->text() == "Band")
            groups->item(k)->setCheckState(Qt::Checked);
    dialog->accept();
    QTRY_VERIFY(guard.isNull());
    QCOMPARE(Rows(), QStringList{folder});
    QCOMPARE(AccessOf(folder), QString("Band"));

    // The same path again gets the new marks on the existing folder.
    dialog = new AddSharedFolderDialog(ItemPtr(), mainWindow);
    dialog->findChild<QLineEdit*>("selectedFolderEdit")->setText(folder);
    dialog->accept();
    QCOMPARE(Rows(), QStringList{folder});
    QCOMPARE(AccessOf(folder), QString("Everyone"));
}

void TestSharedFolders::dialogOnFolderUnsharedMeanwhile()
{
    Folder("/gone").NewItem("shared_userlist");
    Select("/gone");
    mainWindow->OnSetFolderPermissions();
    AddSharedFolderDialog* dialog = Visible<AddSharedFolderDialog>().first();
    QPointer<AddSharedFolderDialog> guard(dialog);

    Select("/gone");
    mainWindow->OnUnshareFolder();
    QVERIFY(Rows().isEmpty());

    // OK must neither touch the freed item nor share the folder again.
    dialog->findChild<QCheckBox*>("everyoneCheckBox")->click();
    dialog->accept();
    QTRY_VERIFY(guard.isNull());
    QVERIFY(Rows().isEmpty());
    QVERIFY(!d.GetType("shared_folder")->HasItem("/gone"));
}

void TestSharedFolders::rescanReport()
{
    mainWindow->OnSharedFilesRescanned(12, 3);
    QCOMPARE(Visible<SharedFilesRescannedDialog>().size(), 1);
    SharedFilesRescannedDialog* dialog = Visible<SharedFilesRescannedDialog>().first();
    QCOMPARE(dialog->windowTitle(), QString("Shared Files Rescanned"));
    QVERIFY(!dialog->isModal());
    QCOMPARE(dialog->findChild<QPlainTextEdit*>("plainTextEdit")->toPlainText(),
             QString("12 files added.\n3 files removed."));

    // The report text is never read as markup.
    dialog->Append("<b>bold</b>");
    QVERIFY(dialog->findChild<QPlainTextEdit*>("plainTextEdit")->toPlainText().endsWith("\n<b>bold</b>"));

    // Every rescan the user asks for opens a report of its own.
    sharedFoldersManager->RescanShares();
    QCOMPARE(Visible<SharedFilesRescannedDialog>().size(), 2);

    QPointer<SharedFilesRescannedDialog> guard(dialog);
    dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
    QTRY_VERIFY(guard.isNull());
}

void TestSharedFolders::fileSharingTabFocusesList()
{
    auto* options = mainWindow->findChild<QTabWidget*>("optionsTabControl");
    mainWindow->findChild<QTabWidget*>("tabControl")->setCurrentIndex(6);
    options->setCurrentIndex(0);
    mainWindow->findChild<QWidget*>("usernameEdit")->setFocus();
    QCOMPARE(mainWindow->focusWidget(), mainWindow->findChild<QWidget*>("usernameEdit"));

    options->setCurrentIndex(1);
    QCOMPARE(mainWindow->focusWidget(), static_cast<QWidget*>(List()));

    options->setCurrentIndex(2);
    mainWindow->findChild<QWidget*>("codePageBox")->setFocus();
    mainWindow->OnOptionsTabSelectionChanged(-1);
    QCOMPARE(mainWindow->focusWidget(), mainWindow->findChild<QWidget*>("codePageBox"));
}

void TestSharedFolders::cleanupTestCase()
{
    delete mainWindow;
    QVERIFY(mainWindow == nullptr);
}

QTEST_MAIN(TestSharedFolders)
#include "tst_sharedfolders.moc"
