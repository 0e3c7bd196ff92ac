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
    void accessText();
    void unshare();
    void permissionsDialogEditsAccess();
    void dialogOnFolderUnsharedMeanwhile();
    void rescanReport();
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

void TestSharedFolders::accessText()
{
    ItemPtr folder = Folder("/srv/share");
    ItemPtr other = Folder("/srv/other");
    // One row per folder, names compared exactly; nothing is accessible until the first access link.
    Folder("/srv/Share");
    QCOMPARE(Rows(), (QStringList{"/srv/Share", "/srv/other", "/srv/share"}));
    QCOMPARE(AccessOf("/srv/share"), QString());

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
    auto* groups = dialog->findChild<QListWidget*>("groupsListWidget");
    QCOMPARE(dialog->findChild<QLineEdit*>("selectedFolderEdit")->text(), QString("/photos"));
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
    dialog->accept();
    QCOMPARE(AccessOf("/photos"), QString("Everyone"));
    QVERIFY(folder.IsConnected(Group("Band")));
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
    QCOMPARE(dialog->findChild<QPlainTextEdit*>("plainTextEdit")->toPlainText(),
             QString("12 files added.\n3 files removed."));

    // The report text is never read as markup.
    dialog->Append("<b>bold</b>");
    QVERIFY(dialog->findChild<QPlainTextEdit*>("plainTextEdit")->toPlainText().endsWith("\n<b>bold</b>"));

    // Every rescan the user asks for opens a report of its own.
    sharedFoldersManager->RescanShares();
    QCOMPARE(Visible<SharedFilesRescannedDialog>().size(), 2);
}

void TestSharedFolders::cleanupTestCase()
{
    delete mainWindow;
    QVERIFY(mainWindow == nullptr);
}

QTEST_MAIN(TestSharedFolders)
#include "tst_sharedfolders.moc"
