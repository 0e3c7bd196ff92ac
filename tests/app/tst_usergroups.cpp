// The user groups dialog and the group settings dialog: rows for every group, memberships and
// new groups, priorities and upload rights stored as they change, deletion on confirmation, and
// dialogs that outlive the user's listing or the group they show.

#include "mainwindowfixture.h"

#include "app/usermenuoptions.h"
#include "ui/users/usergroupconfigdialog.h"
#include "ui/users/usergroupsdialog.h"
#include "ui/users/userlistform.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QSpinBox>
#include <QTreeWidget>

namespace {

ItemPtr User(const QString& name)
{
    return d.GetType("user")->GetItem(Value(name));
}

ItemPtr Group(const QString& name)
{
    return d.GetType("user_list_group")->HasItem(Value(name));
}

QStringList Rows(QListWidget* list)
{
    QStringList texts;
    for (int k = 0; k < list->count(); ++k)
        texts << list->item(k)->text();
    return texts;
}

// The rows as the user sees them: "+name" checked, "-name" unchecked.
QStringList Checks(UserGroupsDialog* dialog)
{
    auto* list = dialog->findChild<QListWidget*>("groupListWidget");
    QStringList texts;
    for (int k = 0; k < list->count(); ++k)
        texts << (list->item(k)->checkState() == Qt::Checked ? "+" : "-") + list->item(k)->text();
    return texts;
}

// The groups the user belongs to, by name.
QStringList Memberships(const QString& user)
{
    QStringList names;
    if (ItemPtr listed = User(user)["in_user_list"])
        for (const ItemPtr& group : listed.GetItems("user_list_group").SortAlphabetic(true))
            names << group.AsString();
    return names;
}

// Opens a dialog through the per-user menu's entry; the new one, or null.
UserGroupsDialog* OpenGroupsFor(const QString& user)
{
    const QList<UserGroupsDialog*> before = Visible<UserGroupsDialog>();
    QMenu menu;
    UserMenuOptions options(&menu, user);
    options.OnSetUserGroups();
    for (UserGroupsDialog* dialog : Visible<UserGroupsDialog>())
        if (!before.contains(dialog) && dialog->windowTitle() == "User Groups for [" + user + "]")
            return dialog;
    return nullptr;
}

// A click on the row's text, then the space bar: what a user does to toggle its box.
void Toggle(UserGroupsDialog* dialog, const QString& group)
{
    auto* list = dialog->findChild<QListWidget*>("groupListWidget");
    const QList<QListWidgetItem*> rows = list->findItems(group, Qt::MatchExactly);
    QVERIFY(rows.size() == 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(rows.first()).center() + QPoint(20, 0));
    QTest::keyClick(list, Qt::Key_Space);
}

void CreateGroup(UserGroupsDialog* dialog, const QString& typed)
{
    auto* edit = dialog->findChild<QLineEdit*>("newGroupEdit");
    QTest::keyClicks(edit, typed);
    QTest::mouseClick(dialog->findChild<QPushButton*>("newGroupButton"), Qt::LeftButton);
}

}  // namespace

class TestUserGroups : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void groupsDialogShowsMemberships();
    void togglingRowsLinksTheGroup();
    void newGroupShowsInEveryDialog();
    void configDialogIsOneWindow();
    void selectingShowsSettingsUnchanged();
    void prioritiesAndUploadRight();
    void deleteAsksFirst();
    void groupsDialogOutlivesListingAndGroup();
    void cleanupTestCase();

private:
    void Select(const QString& group);
    void TypePriority(const QString& digits);

    MainWindowFixture m_fixture;
    QPointer<UserGroupsDialog> mp_bob;
    QPointer<UserGroupsDialog> mp_carol;
    QPointer<UserGroupConfigDialog> mp_config;
};

void TestUserGroups::initTestCase()
{
    QVERIFY(m_fixture.Start());
    for (const char* name : {"bob", "carol"})
        User(name).NewItem("in_user_list");
    for (const char* name : {"Work", "Friends", "Jazz"})
        d.GetType("user_list_group")->GetItem(Value(name));
    ItemPtr listed = User("bob")["in_user_list"];
    listed.Connect(Group("Jazz"));
    listed.Connect(Group("Work"));
}

void TestUserGroups::cleanupTestCase()
{
    for (QDialog* dialog : std::initializer_list<QDialog*>{mp_bob, mp_carol, mp_config})
        if (dialog)
            dialog->close();
    QTRY_VERIFY(!mp_bob && !mp_carol && !mp_config);
    QVERIFY(!userGroupConfigDialog);
    delete mainWindow;
}

void TestUserGroups::groupsDialogShowsMemberships()
{
    mp_bob = OpenGroupsFor("bob");
    QVERIFY(mp_bob);
    QCOMPARE(mp_bob->parentWidget(), static_cast<QWidget*>(mainWindow));
    QCOMPARE(Checks(mp_bob), QStringList({"-Friends", "+Jazz", "+Work"}));
    // Filling the rows changed nothing.
    QCOMPARE(Memberships("bob"), QStringList({"Jazz", "Work"}));
    mp_carol = OpenGroupsFor("carol");
    QVERIFY(mp_carol);
    QCOMPARE(Checks(mp_carol), QStringList({"-Friends", "-Jazz", "-Work"}));
}

void TestUserGroups::togglingRowsLinksTheGroup()
{
    auto* groupsColumn = [] {
        return userListForm->findChild<QTreeWidget*>("userList")->findItems("bob", Qt::MatchExactly).value(0);
    }();
    QVERIFY(groupsColumn);
    Toggle(mp_bob, "Friends");
    QCOMPARE(Memberships("bob"), QStringList({"Friends", "Jazz", "Work"}));
    QCOMPARE(groupsColumn->text(1), QString("Friends, Jazz, Work"));
    Toggle(mp_bob, "Jazz");
    QCOMPARE(Memberships("bob"), QStringList({"Friends", "Work"}));
    QCOMPARE(Checks(mp_bob), QStringList({"+Friends", "-Jazz", "+Work"}));
    QCOMPARE(groupsColumn->text(1), QString("Friends, Work"));
    // The other dialog shows its own user.
    QCOMPARE(Checks(mp_carol), QStringList({"-Friends", "-Jazz", "-Work"}));
}

void TestUserGroups::newGroupShowsInEveryDialog()
{
    QVERIFY(MainWindowFixture::Trigger(userListForm->findChild<QWidget*>("userListTab"), "Configure User Groups"));
    mp_config = userGroupConfigDialog;
    QVERIFY(mp_config);
    auto* configRows = mp_config->findChild<QListWidget*>("groupList");

    CreateGroup(mp_bob, "  Rock ");
    QVERIFY(Group("Rock"));
    QVERIFY(Group("  Rock ").IsNull());
    QCOMPARE(mp_bob->findChild<QLineEdit*>("newGroupEdit")->text(), QString());
    QCOMPARE(Checks(mp_bob), QStringList({"+Friends", "-Jazz", "-Rock", "+Work"}));
    QCOMPARE(Checks(mp_carol), QStringList({"-Friends", "-Jazz", "-Rock", "-Work"}));
    QCOMPARE(Rows(configRows), QStringList({"Friends", "Jazz", "Rock", "Work"}));
    QCOMPARE(Memberships("bob"), QStringList({"Friends", "Work"}));

    // Blank or existing names only clear the field.
    const size_t groups = d.GetType("user_list_group")->ItemCount();
    CreateGroup(mp_carol, "   ");
    CreateGroup(mp_carol, "Rock");
    QCOMPARE(d.GetType("user_list_group")->ItemCount(), groups);
    QCOMPARE(mp_carol->findChild<QLineEdit*>("newGroupEdit")->text(), QString());
    QCOMPARE(Rows(configRows).size(), 4);
}

void TestUserGroups::configDialogIsOneWindow()
{
    QCOMPARE(mp_config->windowTitle(), QString("Configure User Groups"));
    QCOMPARE(mp_config->parentWidget(), static_cast<QWidget*>(userListForm));
    // Nothing selected: nothing to set.
    QVERIFY(!mp_config->findChild<QSpinBox*>("prioritySpinBox")->isEnabled());
    QVERIFY(!mp_config->findChild<QCheckBox*>("acceptUploadsCheckBox")->isEnabled());
    QVERIFY(!mp_config->findChild<QPushButton*>("deleteButton")->isEnabled());

    // A second press makes no second dialog; the open one takes the focus.
    mainWindow->activateWindow();
    QTRY_VERIFY(QApplication::activeWindow() == mainWindow);
    QVERIFY(MainWindowFixture::Trigger(userListForm->findChild<QWidget*>("userListTab"), "Configure User Groups"));
    QCOMPARE(Visible<UserGroupConfigDialog>().size(), 1);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(mp_config));
    QCOMPARE(userGroupConfigDialog, mp_config.data());
}

void TestUserGroups::Select(const QString& group)
{
    auto* list = mp_config->findChild<QListWidget*>("groupList");
    QListWidgetItem* row = list->findItems(group, Qt::MatchExactly).value(0);
    QVERIFY(row);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(row).center());
    QCOMPARE(mp_config->findChild<QGroupBox*>("groupBox")->title(), group);
}

void TestUserGroups::TypePriority(const QString& digits)
{
    auto* spin = mp_config->findChild<QSpinBox*>("prioritySpinBox");
    spin->setFocus();
    QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(spin, digits);
}

void TestUserGroups::selectingShowsSettingsUnchanged()
{
    Group("Jazz").Connect(d.GetType("group_download_priority")->GetItem(Value(7)));
    Group("Jazz").Connect(d.GetType("accept_uploads")->GetGlobalNullItem());
    Group("Work").Connect(d.GetType("group_download_priority")->GetItem(Value(3)));

    struct Link
    {
        QString priority;
        bool accepts;
        bool operator==(const Link& o) const { return priority == o.priority && accepts == o.accepts; }
    };
    auto links = [] {
        QList<Link> all;
        for (const char* name : {"Friends", "Jazz", "Rock", "Work"})
            all << Link{Group(name)["group_download_priority"].AsString(), Group(name).IsConnected("accept_uploads")};
        return all;
    };
    const QList<Link> before = links();
    auto* spin = mp_config->findChild<QSpinBox*>("prioritySpinBox");
    auto* accepts = mp_config->findChild<QCheckBox*>("acceptUploadsCheckBox");

    Select("Jazz");
    QCOMPARE(spin->value(), 7);
    QVERIFY(accepts->isChecked());
    QVERIFY(spin->isEnabled() && accepts->isEnabled());
    Select("Work");
    QCOMPARE(spin->value(), 3);
    QVERIFY(!accepts->isChecked());
    Select("Rock");
    QCOMPARE(spin->value(), 0);
    QVERIFY(links() == before);
}

void TestUserGroups::prioritiesAndUploadRight()
{
    Select("Rock");
    TypePriority("25");
    QCOMPARE(Group("Rock")["group_download_priority"].AsString(), QString("25"));
    QCOMPARE(Group("Rock").GetItems("group_download_priority").size(), size_t(1));

    TypePriority("0");
    QVERIFY(!Group("Rock").IsConnected("group_download_priority"));
    Select("Friends");
    Select("Rock");
    QCOMPARE(mp_config->findChild<QSpinBox*>("prioritySpinBox")->value(), 0);

    // Equal priorities share one item; changing one leaves the other.
    TypePriority("7");
    QCOMPARE(Group("Rock")["group_download_priority"], Group("Jazz")["group_download_priority"]);
    TypePriority("8");
    QCOMPARE(Group("Jazz")["group_download_priority"].AsString(), QString("7"));
    QCOMPARE(Group("Rock")["group_download_priority"].AsString(), QString("8"));

    QTest::mouseClick(mp_config->findChild<QCheckBox*>("acceptUploadsCheckBox"), Qt::LeftButton);
    QVERIFY(Group("Rock").IsConnected("accept_uploads"));
    QCOMPARE(Group("Rock")["accept_uploads"], Group("Jazz")["accept_uploads"]);
    QTest::mouseClick(mp_config->findChild<QCheckBox*>("acceptUploadsCheckBox"), Qt::LeftButton);
    QVERIFY(!Group("Rock").IsConnected("accept_uploads"));
    QVERIFY(Group("Jazz").IsConnected("accept_uploads"));
}

void TestUserGroups::deleteAsksFirst()
{
    Select("Work");
    auto* deleteButton = mp_config->findChild<QPushButton*>("deleteButton");
    {
        BoxAnswerer answerer({QMessageBox::No});
        QTest::mouseClick(deleteButton, Qt::LeftButton);
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen.first().title, QString("Delete group?"));
        QCOMPARE(answerer.seen.first().text, QString("Are you sure you want to delete this user group?"));
        QCOMPARE(answerer.seen.first().defaultButton, QMessageBox::No);
    }
    QVERIFY(Group("Work"));
    QCOMPARE(Memberships("bob"), QStringList({"Friends", "Work"}));

    {
        BoxAnswerer answerer({QMessageBox::Yes});
        QTest::mouseClick(deleteButton, Qt::LeftButton);
        QCOMPARE(answerer.seen.size(), 1);
    }
    QVERIFY(!Group("Work"));
    QCOMPARE(Memberships("bob"), QStringList({"Friends"}));
    QCOMPARE(userListForm->findChild<QTreeWidget*>("userList")->findItems("bob", Qt::MatchExactly).value(0)->text(1),
             QString("Friends"));
    QCOMPARE(Rows(mp_config->findChild<QListWidget*>("groupList")), QStringList({"Friends", "Jazz", "Rock"}));
    // The list moved on to another row and shows that group's settings.
    const QString shown = mp_config->findChild<QGroupBox*>("groupBox")->title();
    QVERIFY(Group(shown));
    QCOMPARE(mp_config->findChild<QSpinBox*>("prioritySpinBox")->value(),
             Group(shown)["group_download_priority"].AsInt());
    // The open groups dialogs drop the row.
    QCOMPARE(Checks(mp_bob), QStringList({"+Friends", "-Jazz", "-Rock"}));
    QCOMPARE(Checks(mp_carol), QStringList({"-Friends", "-Jazz", "-Rock"}));
}

void TestUserGroups::groupsDialogOutlivesListingAndGroup()
{
    // bob leaves the list while his dialog is open: toggles record nothing and show unchecked.
    User("bob").Disconnect("in_user_list");
    Toggle(mp_bob, "Jazz");
    Toggle(mp_bob, "Friends");
    QVERIFY(!User("bob").IsConnected("in_user_list"));
    QCOMPARE(Checks(mp_bob), QStringList({"-Friends", "-Jazz", "-Rock"}));

    // A dialog opened for a user outside the list shows every row unchecked.
    QPointer<UserGroupsDialog> outside = OpenGroupsFor("bob");
    QVERIFY(outside && outside != mp_bob);
    QCOMPARE(Checks(outside), QStringList({"-Friends", "-Jazz", "-Rock"}));
    Toggle(outside, "Rock");
    QCOMPARE(Checks(outside), QStringList({"-Friends", "-Jazz", "-Rock"}));
    outside->close();
    QTRY_VERIFY(!outside);

    // A group removed elsewhere leaves every dialog, and no toggle brings it back.
    Group("Jazz").Remove();
    QCOMPARE(Checks(mp_carol), QStringList({"-Friends", "-Rock"}));
    Toggle(mp_carol, "Rock");
    QCOMPARE(Memberships("carol"), QStringList({"Rock"}));
    QVERIFY(!Group("Jazz"));
}

QTEST_MAIN(TestUserGroups)
#include "tst_usergroups.moc"
