// The shared-folder list of the Options page: who may see each folder, and the permissions
// dialog of a folder unshared while it is open.

#include "mainwindowfixture.h"

#include "ui/search/addsharedfolderdialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QPointer>
#include <QTreeWidget>

namespace {

ItemPtr Folder(const QString& path)
{
    return d.GetType("shared_folder")->GetItem(path);
}

}  // namespace

class TestSharedFolders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_fixture.Open()); }
    void accessText();
    void unshareLeavesNoStaleRow();
    void dialogOnFolderUnsharedMeanwhile();
    void chooserShowsFoldersOnly();
    void cleanupTestCase() { delete mainWindow; }

private:
    QTreeWidget* List() { return Child<QTreeWidget>("sharedFoldersList"); }
    QList<QTreeWidgetItem*> Rows(const QString& path)
    {
        return List()->findItems(path, Qt::MatchExactly | Qt::MatchCaseSensitive);
    }
    QString AccessOf(const QString& path)
    {
        return Rows(path).size() == 1 ? Rows(path).first()->text(1) : QString("<%1 rows>").arg(Rows(path).size());
    }

    MainWindowFixture m_fixture;
};

void TestSharedFolders::accessText()
{
    ItemPtr folder = Folder("/srv/share");
    QCOMPARE(AccessOf("/srv/share"), QString());
    folder += d.GetType("user_list_group")->GetItem("Friends");
    QCOMPARE(AccessOf("/srv/share"), QString("Friends"));
    folder += d.GetType("user_list_group")->GetItem("Band");
    QCOMPARE(AccessOf("/srv/share"), QString("Band, Friends"));
}

void TestSharedFolders::unshareLeavesNoStaleRow()
{
    Folder("/keep").NewItem("shared_public");
    Folder("/drop").NewItem("shared_public");
    List()->clearSelection();
    Rows("/drop").first()->setSelected(true);
    mainWindow->OnUnshareFolder();
    QVERIFY(Rows("/drop").isEmpty());
    QVERIFY(!d.GetType("shared_folder")->HasItem("/drop"));
    QCOMPARE(Rows("/keep").size(), 1);

    // The toolbar unshares every selected row; a row whose folder is gone is dropped and shares
    // nothing anew. Set Folder Permissions on such a row opens nothing and shares nothing.
    Folder("/a").NewItem("shared_public");
    Folder("/b").NewItem("shared_public");
    List()->addTopLevelItem(new QTreeWidgetItem(QStringList{"/stale"}));
    List()->clearSelection();
    Rows("/stale").first()->setSelected(true);
    mainWindow->OnSetFolderPermissions();
    QVERIFY(Visible<AddSharedFolderDialog>().isEmpty());
    QVERIFY(!d.GetType("shared_folder")->HasItem("/stale"));
    // Two stale rows of one path, the lower picked first: dropping the first path's row takes
    // the other picked row, which must have been read before.
    List()->addTopLevelItem(new QTreeWidgetItem(QStringList{"/stale"}));
    Rows("/stale").last()->setSelected(true);
    Rows("/stale").first()->setSelected(true);
    for (const char* path : {"/a", "/b"})
        Rows(path).first()->setSelected(true);
    mainWindow->OnToolBarActionTriggered(nullptr, "unshare_folder");
    for (const char* path : {"/a", "/b", "/stale"}) {
        QVERIFY(Rows(path).isEmpty());
        QVERIFY(!d.GetType("shared_folder")->HasItem(path));
    }
    QCOMPARE(Rows("/keep").size(), 1);
}

void TestSharedFolders::dialogOnFolderUnsharedMeanwhile()
{
    Folder("/gone").NewItem("shared_userlist");
    List()->clearSelection();
    Rows("/gone").first()->setSelected(true);
    mainWindow->OnSetFolderPermissions();
    QCOMPARE(Visible<AddSharedFolderDialog>().size(), 1);
    AddSharedFolderDialog* dialog = Visible<AddSharedFolderDialog>().first();
    QPointer<AddSharedFolderDialog> guard(dialog);

    List()->clearSelection();
    Rows("/gone").first()->setSelected(true);
    mainWindow->OnUnshareFolder();
    QVERIFY(Rows("/gone").isEmpty());

    // OK must neither touch the freed item nor share the folder again.
    dialog->findChild<QCheckBox*>("everyoneCheckBox")->click();
    dialog->accept();
    QTRY_VERIFY(guard.isNull());
    QVERIFY(Rows("/gone").isEmpty());
    QVERIFY(!d.GetType("shared_folder")->HasItem("/gone"));
}

// "Share Folder" opens the dialog, whose button asks for a folder with a chooser that lists
// folders only; the folder chosen shows in the dialog.
void TestSharedFolders::chooserShowsFoldersOnly()
{
    QVERIFY(MainWindowFixture::Trigger(Child<QWidget>("fileSharingOptionsTab"), "Share Folder"));
    QCOMPARE(Visible<AddSharedFolderDialog>().size(), 1);
    AddSharedFolderDialog* dialog = Visible<AddSharedFolderDialog>().first();
    const QString folder = m_fixture.root.filePath("home");
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    bool dirsOnly = false;
    QTimer::singleShot(0, [&] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!chooser)
            return;
        mode = chooser->fileMode();
        dirsOnly = chooser->testOption(QFileDialog::ShowDirsOnly);
        chooser->setDirectory(m_fixture.root.path());
        chooser->selectFile(folder);
        static_cast<QDialog*>(chooser)->accept();
    });
    QPushButton* button = dialog->findChild<QPushButton*>("selectFolderButton");
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(mode, QFileDialog::Directory);
    QVERIFY(dirsOnly);
    QCOMPARE(dialog->findChild<QLineEdit*>("selectedFolderEdit")->text(), folder);
    dialog->close();
}

QTEST_MAIN(TestSharedFolders)
#include "tst_sharedfolders.moc"
