// The shared-folder list of the Options page: who may see each folder, and the permissions
// dialog of a folder unshared while it is open.

#include "mainwindowfixture.h"

#include "ui/search/addsharedfolderdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
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
    void dialogBoxesAndOk();
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

// The access boxes, clicked and keyed as the user does: a broader box greys the narrower choices
// out, and OK does nothing until there is a folder. Group rows count only under neither box.
void TestSharedFolders::dialogBoxesAndOk()
{
    for (const char* group : {"Friends", "Band"})
        d.GetType("user_list_group")->GetItem(group);
    QPointer<AddSharedFolderDialog> dialog = new AddSharedFolderDialog(ItemPtr(), mainWindow);
    dialog->show();
    auto* everyone = Child<QCheckBox>("everyoneCheckBox", dialog);
    auto* userList = Child<QCheckBox>("userListCheckBox", dialog);
    auto* groups = Child<QListWidget>("groupsListWidget", dialog);
    // Each box checked or not, "~" when greyed, then whether the group rows can be used.
    auto boxes = [&] {
        auto mark = [](QCheckBox* box) {
            return QString(box->isChecked() ? "[x]" : "[ ]") + (box->isEnabled() ? "" : "~");
        };
        return QStringList{mark(everyone), mark(userList), groups->isEnabled() ? "groups" : "groups~"};
    };
    auto clickOk = [&] {
        QTest::mouseClick(Child<QDialogButtonBox>("buttonBox", dialog)->button(QDialogButtonBox::Ok), Qt::LeftButton);
    };
    auto pickRow = [&](const QString& text) {
        QListWidgetItem* row = groups->findItems(text, Qt::MatchExactly).value(0);
        QTest::mouseClick(groups->viewport(), Qt::LeftButton, Qt::NoModifier, groups->visualItemRect(row).center());
        QTest::keyClick(groups, Qt::Key_Space);
    };

    QCOMPARE(boxes(), (QStringList{"[x]", "[x]~", "groups~"}));
    const size_t folders = d.GetType("shared_folder")->ItemCount();
    clickOk();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(d.GetType("shared_folder")->ItemCount(), folders);

    QTest::mouseClick(everyone, Qt::LeftButton);
    QCOMPARE(boxes(), (QStringList{"[ ]", "[x]", "groups~"}));
    QTest::keyClick(userList, Qt::Key_Space);
    QCOMPARE(boxes(), (QStringList{"[ ]", "[ ]", "groups"}));
    QTest::keyClick(everyone, Qt::Key_Space);
    QCOMPARE(boxes(), (QStringList{"[x]", "[x]~", "groups~"}));
    QTest::mouseClick(everyone, Qt::LeftButton);
    QTest::mouseClick(userList, Qt::LeftButton);
    pickRow("Band");

    // As the chooser puts a folder there.
    const QString path = m_fixture.root.filePath("tmp");
    Child<QLineEdit>("selectedFolderEdit", dialog)->setText(path);
    clickOk();
    QTRY_VERIFY(!dialog);
    ItemPtr folder = d.GetType("shared_folder")->HasItem(path);
    QVERIFY(folder && !folder.IsConnected("shared_public") && !folder.IsConnected("shared_userlist"));
    QVERIFY(folder.IsConnected(d.GetType("user_list_group")->HasItem("Band")));

    // Editing it: the boxes as the folder has them, its group's row checked, rows by name.
    dialog = new AddSharedFolderDialog(folder, mainWindow);
    dialog->show();
    everyone = Child<QCheckBox>("everyoneCheckBox", dialog);
    userList = Child<QCheckBox>("userListCheckBox", dialog);
    groups = Child<QListWidget>("groupsListWidget", dialog);
    QCOMPARE(boxes(), (QStringList{"[ ]", "[ ]", "groups"}));
    QCOMPARE(groups->item(0)->text() + groups->item(1)->text(), QString("BandFriends"));
    QCOMPARE(groups->item(0)->checkState(), Qt::Checked);
    QCOMPARE(groups->item(1)->checkState(), Qt::Unchecked);
    pickRow("Band");
    pickRow("Friends");
    clickOk();
    QTRY_VERIFY(!dialog);
    QVERIFY(!folder.IsConnected(d.GetType("user_list_group")->HasItem("Band")));
    QVERIFY(folder.IsConnected(d.GetType("user_list_group")->HasItem("Friends")));
}

QTEST_MAIN(TestSharedFolders)
#include "tst_sharedfolders.moc"
