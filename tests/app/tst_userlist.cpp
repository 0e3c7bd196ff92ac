// The user list window: rows from the saved list, tracking at login, the online order, rows that
// follow every change of the graph, the per-user menu on the three lists and the add-user dialog
// against the fake server.

#include "mainwindowfixture.h"

#include "ui/users/adduserdialog.h"
#include "ui/users/usergroupsdialog.h"
#include "ui/users/userlistform.h"

#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QTreeWidget>

namespace {

// bob, Alice, carol and dave are listed; bob is in the groups b, A and a; erin is listed,
// unshared and ignored, with a note. The list's first column was left 150 wide.
QByteArray SaveWithUsers(const QList<QPair<QString, QString>>& settings)
{
    using savefile::ExtraType;
    const QList<ExtraType> types{
        {"user", false, {{1001, "bob"}, {1002, "Alice"}, {1003, "carol"}, {1004, "dave"}, {1005, "erin"}}},
        {"in_user_list", true, {{1011, {}}, {1012, {}}, {1013, {}}, {1014, {}}, {1015, {}}}},
        {"user_list_group", false, {{1021, "b"}, {1022, "A"}, {1023, "a"}}},
        {"user_note", false, {{1031, "owes me a record"}}},
        {"unshared", true, {{1041, {}}}},
        {"is_ignored", true, {{1051, {}}}},
        {"sizer_tree", false, {{1061, "user_list"}}},
        {"sizer_tree_column", true, {{1062, {}}}},
        {"sizer_tree_column_number", false, {{1063, "0"}}},
        {"sizer_size", false, {{1064, "150"}}},
    };
    const QList<QPair<qint32, qint32>> links{{1001, 1011}, {1002, 1012}, {1003, 1013}, {1004, 1014},
                                             {1005, 1015}, {1011, 1021}, {1011, 1022}, {1011, 1023},
                                             {1005, 1031}, {1005, 1041}, {1005, 1051},
                                             {1062, 1061}, {1062, 1063}, {1062, 1064}};
    return savefile::BuildSave(settings, types, links);
}

QStringList Column(QTreeWidget* list, int column)
{
    QStringList texts;
    for (int k = 0; k < list->topLevelItemCount(); ++k)
        texts << list->topLevelItem(k)->text(column);
    return texts;
}

QTreeWidgetItem* Row(QTreeWidget* list, const QString& user)
{
    const QList<QTreeWidgetItem*> rows = list->findItems(user, Qt::MatchExactly, 0);
    return rows.size() == 1 ? rows.first() : nullptr;
}

// Which of the resource icons the cell shows: "online", "offline", "note" or "" for none.
QString IconOf(QTreeWidgetItem* row, int column)
{
    const QIcon icon = row->icon(column);
    if (icon.isNull())
        return QString();
    const QImage shown = icon.pixmap(16).toImage();
    for (const char* name : {"online", "offline"})
        if (shown == QIcon(QString(":/icons/%1_dot_icon").arg(name)).pixmap(16).toImage())
            return name;
    if (shown == QIcon(":/icons/note_icon").pixmap(16).toImage())
        return "note";
    return "other";
}

QByteArray StatusReply(const QString& user, qint32 status)
{
    return FakeServer::Str(user) + FakeServer::I32(status) + FakeServer::U8(0);
}

// The server's answer to a watch-user request: exists (online, no statistics) or not.
QByteArray AddUserReply(const QString& user, bool exists)
{
    if (!exists)
        return FakeServer::Str(user) + FakeServer::U8(0);
    return FakeServer::Str(user) + FakeServer::U8(1) + FakeServer::I32(2) + QByteArray(20, '\0') +
           FakeServer::Str("NZ");
}

// A widget of the user list window by its object name (room tabs have lists of the same names).
template <typename T>
T* Own(const char* name)
{
    return Child<T>(name, userListForm);
}

ItemPtr User(const char* name)
{
    return d.GetType("user")->GetItem(Value(name));
}

// Records the entries of the next context menu that opens, then closes it or picks an entry.
class MenuAnswerer
{
public:
    explicit MenuAnswerer(QString pick = QString()) : m_pick(std::move(pick))
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || !menu->isVisible())
                return;
            m_timer.stop();
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions())
                if (!action->isSeparator()) {
                    entries << action->text();
                    if (action->text() == m_pick)
                        chosen = action;
                }
            if (chosen)
                menu->setActiveAction(chosen), QTest::keyClick(menu, Qt::Key_Return);
            else
                menu->close();
        });
        m_timer.start();
    }

    QStringList entries;

private:
    QString m_pick;
    QTimer m_timer;
};

// A right click on the list's viewport at the point, as the window system delivers it.
void RightClick(QTreeWidget* list, QPoint pos)
{
    QWidget* viewport = list->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
    QApplication::sendEvent(viewport, &event);
}

}  // namespace

class TestUserList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void addUserRefusesWhileLoggedOut();
    void loginTracksEveryListedUser();
    void rowsShowTheSavedList();
    void onlineUsersSortFirst_data();
    void onlineUsersSortFirst();
    void rowsFollowTheGraph();
    void userMenuOnEachList();
    void addUserAsksTheServer();
    void removeUserAndUserGroupsActions();
    void cleanupTestCase() { delete mainWindow; }

private:
    AddUserDialog* OpenAddUser();
    void ClickAdd(AddUserDialog* dialog, const QString& name);
    QString Status(AddUserDialog* dialog) { return dialog->findChild<QLineEdit*>("statusEdit")->text(); }

    MainWindowFixture m_fixture;
    QTreeWidget* mp_users = nullptr;
    QTreeWidget* mp_unshared = nullptr;
    QTreeWidget* mp_ignored = nullptr;
};

void TestUserList::initTestCase()
{
    m_fixture.buildSave = [](const QList<QPair<QString, QString>>& settings) { return SaveWithUsers(settings); };
    // Not logged in yet: the login is answered by the second test.
    QVERIFY(m_fixture.Open({{"username", "me"}, {"password", "secret"}}));
    QVERIFY(m_fixture.server.WaitForConnection());
    QVERIFY(m_fixture.server.WaitForFrames(1));
    mp_users = Own<QTreeWidget>("userList");
    mp_unshared = Own<QTreeWidget>("unsharedList");
    mp_ignored = Own<QTreeWidget>("ignoredList");
    mainWindow->resize(1000, 700);
}

AddUserDialog* TestUserList::OpenAddUser()
{
    const int before = Visible<AddUserDialog>().size();
    if (!MainWindowFixture::Trigger(Own<QWidget>("userListTab"), "Add User"))
        return nullptr;
    const QList<AddUserDialog*> open = Visible<AddUserDialog>();
    return open.size() == before + 1 ? open.last() : nullptr;
}

void TestUserList::ClickAdd(AddUserDialog* dialog, const QString& name)
{
    auto* edit = dialog->findChild<QLineEdit*>("userNameEdit");
    edit->clear();
    QTest::keyClicks(edit, name);
    QTest::mouseClick(dialog->findChild<QPushButton*>("addFriendButton"), Qt::LeftButton);
}

void TestUserList::addUserRefusesWhileLoggedOut()
{
    QVERIFY(!gp_server->IsConnected());
    AddUserDialog* dialog = OpenAddUser();
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), QString("Add User"));
    ClickAdd(dialog, "   ");
    QCOMPARE(Status(dialog), QString("User name must not be empty."));
    ClickAdd(dialog, "frank");
    QCOMPARE(Status(dialog), QString("Must be online to add a user to your list."));
    QVERIFY(dialog->findChild<QPushButton*>("addFriendButton")->isEnabled());
    QVERIFY(!dialog->findChild<QLineEdit*>("userNameEdit")->isReadOnly());
    dialog->close();
}

void TestUserList::loginTracksEveryListedUser()
{
    QCOMPARE(m_fixture.server.Frames().first().code, quint32(1));
    m_fixture.server.SendRaw(FakeServer::LoginAccepted());
    QTRY_VERIFY(gp_server->IsConnected());

    QStringList watched;
    QByteArray bobFrame;
    for (const FakeServer::Frame& frame : m_fixture.FramesOf(5)) {
        const QString name = QString::fromUtf8(frame.fields.mid(4));
        watched << name;
        if (name == "bob")
            bobFrame = frame.raw;
    }
    watched.sort();
    QCOMPARE(watched, QStringList({"Alice", "bob", "carol", "dave", "erin"}));
    QCOMPARE(bobFrame, QByteArray::fromHex("0b000000 05000000 03000000 626f62"));
    QVERIFY(m_fixture.Sync());
}

void TestUserList::rowsShowTheSavedList()
{
    auto* tabs = Own<QTabWidget>("tabWidget");
    QStringList titles;
    for (int k = 0; k < tabs->count(); ++k)
        titles << tabs->tabText(k);
    QCOMPARE(titles, QStringList({"User List", "User Info", "Unshared", "Ignored"}));
    QCOMPARE(tabs->currentIndex(), 0);

    QCOMPARE(mp_users->headerItem()->text(0) + "|" + mp_users->headerItem()->text(1) + "|" +
                 mp_users->headerItem()->text(2),
             QString("User|Groups|Note"));
    QCOMPARE(mp_users->header()->sectionSize(0), 150);
    QCOMPARE(mp_users->header()->sectionSize(1), 300);
    QCOMPARE(Column(mp_users, 0), QStringList({"Alice", "bob", "carol", "dave", "erin"}));
    for (const QString& name : Column(mp_users, 0))
        QCOMPARE(IconOf(Row(mp_users, name), 0), QString("offline"));
    // Plain character order: upper case first.
    QCOMPARE(Row(mp_users, "bob")->text(1), QString("A, a, b"));
    QCOMPARE(Row(mp_users, "dave")->text(1), QString());
    QCOMPARE(Row(mp_users, "dave")->text(2) + IconOf(Row(mp_users, "dave"), 2), QString());

    // erin has a row in each list, each with the note.
    QCOMPARE(Column(mp_unshared, 0), QStringList({"erin"}));
    QCOMPARE(Column(mp_ignored, 0), QStringList({"erin"}));
    QCOMPARE(Row(mp_users, "erin")->text(2), QString("owes me a record"));
    QCOMPARE(IconOf(Row(mp_users, "erin"), 2), QString("note"));
    for (QTreeWidget* list : {mp_unshared, mp_ignored}) {
        QCOMPARE(list->headerItem()->text(0) + "|" + list->headerItem()->text(1), QString("User|Note"));
        QCOMPARE(Row(list, "erin")->text(1), QString("owes me a record"));
        QCOMPARE(IconOf(Row(list, "erin"), 1), QString("note"));
    }
}

void TestUserList::onlineUsersSortFirst_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<qint32>("status");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("bob online") << "bob" << 2 << QStringList({"bob", "Alice", "carol", "dave", "erin"});
    QTest::newRow("carol away") << "carol" << 1 << QStringList({"bob", "carol", "Alice", "dave", "erin"});
    QTest::newRow("erin online") << "erin" << 2 << QStringList({"bob", "carol", "erin", "Alice", "dave"});
    QTest::newRow("erin offline") << "erin" << 0 << QStringList({"bob", "carol", "Alice", "dave", "erin"});
    QTest::newRow("bob offline") << "bob" << 0 << QStringList({"carol", "Alice", "bob", "dave", "erin"});
    QTest::newRow("bob back") << "bob" << 2 << QStringList({"bob", "carol", "Alice", "dave", "erin"});
}

void TestUserList::onlineUsersSortFirst()
{
    QFETCH(QString, user);
    QFETCH(qint32, status);
    QFETCH(QStringList, order);
    m_fixture.server.Send(7, StatusReply(user, status));
    QTRY_COMPARE(Column(mp_users, 0), order);
    QCOMPARE(IconOf(Row(mp_users, user), 0), QString(status > 0 ? "online" : "offline"));
    // A click on the header does not re-sort the User List.
    QTest::mouseClick(mp_users->header()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(mp_users->header()->sectionPosition(1) + 5, 5));
    QCOMPARE(Column(mp_users, 0), order);
}

void TestUserList::rowsFollowTheGraph()
{
    // What other views do to the graph shows here at once, without a turn of the event loop.
    ItemPtr dave = User("dave");
    dave.Connect(d.GetType("user_note")->GetItem(Value("lent a cable")));
    QCOMPARE(Row(mp_users, "dave")->text(2), QString("lent a cable"));
    QCOMPARE(IconOf(Row(mp_users, "dave"), 2), QString("note"));

    dave += d.GetType("unshared")->GetGlobalNullItem();
    QCOMPARE(Column(mp_unshared, 0), QStringList({"dave", "erin"}));
    QCOMPARE(Row(mp_unshared, "dave")->text(1), QString("lent a cable"));

    // A changed note replaces the old one in every row of the user.
    dave.Connect(d.GetType("user_note")->GetItem(Value("returned it")));
    QCOMPARE(Row(mp_users, "dave")->text(2) + Row(mp_unshared, "dave")->text(1), QString("returned itreturned it"));
    dave.Disconnect("user_note");
    QCOMPARE(Row(mp_users, "dave")->text(2) + IconOf(Row(mp_users, "dave"), 2), QString());
    QCOMPARE(Row(mp_unshared, "dave")->text(1) + IconOf(Row(mp_unshared, "dave"), 1), QString());
    dave.Disconnect("unshared");
    QCOMPARE(Column(mp_unshared, 0), QStringList({"erin"}));

    ItemPtr erin = User("erin");
    erin.Disconnect("is_ignored");
    QCOMPARE(mp_ignored->topLevelItemCount(), 0);
    erin.Connect(d.GetType("is_ignored")->GetGlobalNullItem());
    QCOMPARE(Row(mp_ignored, "erin")->text(1), QString("owes me a record"));

    // Groups of a listed user.
    ItemPtr listed = dave["in_user_list"];
    listed.Connect(d.GetType("user_list_group")->GetItem(Value("b")));
    listed.Connect(d.GetType("user_list_group")->GetItem(Value("Z")));
    QCOMPARE(Row(mp_users, "dave")->text(1), QString("Z, b"));
    listed.Disconnect(d.GetType("user_list_group")->GetItem(Value("Z")));
    QCOMPARE(Row(mp_users, "dave")->text(1), QString("b"));

    // Out of the list and back: carol is online, so her new row has the online dot at once, and it
    // is watched again only if it was not watched already.
    ItemPtr carol = User("carol");
    carol.Disconnect("in_user_list");
    QVERIFY(!Row(mp_users, "carol"));
    QVERIFY(!carol["user_list_node"]);
    carol.NewItem("in_user_list");
    QVERIFY(Row(mp_users, "carol"));
    QCOMPARE(IconOf(Row(mp_users, "carol"), 0), QString("online"));
    QTRY_COMPARE(Column(mp_users, 0), QStringList({"bob", "carol", "Alice", "dave", "erin"}));
    QVERIFY(m_fixture.FramesOf(5).isEmpty());

    // A user new to the list is watched at once.
    User("zoe").NewItem("in_user_list");
    QTRY_COMPARE(Column(mp_users, 0), QStringList({"bob", "carol", "Alice", "dave", "erin", "zoe"}));
    const QList<FakeServer::Frame> watched = m_fixture.FramesOf(5);
    QCOMPARE(watched.size(), 1);
    QCOMPARE(watched.first().raw, QByteArray::fromHex("0b000000 05000000 03000000 7a6f65"));
    QVERIFY(m_fixture.Sync());
}

void TestUserList::userMenuOnEachList()
{
    Child<QTabWidget>("tabControl")->setCurrentWidget(Child<QWidget>("tab_2"));
    auto* tabs = Own<QTabWidget>("tabWidget");
    tabs->setCurrentIndex(0);
    QTRY_VERIFY(mp_users->isVisible());

    // Nothing under the pointer: no menu.
    {
        MenuAnswerer answerer;
        RightClick(mp_users, QPoint(5, mp_users->viewport()->height() - 3));
        QVERIFY(answerer.entries.isEmpty());
    }
    const QRect bob = mp_users->visualItemRect(Row(mp_users, "bob"));
    MenuAnswerer answerer("Set user's groups");
    RightClick(mp_users, bob.center());
    QVERIFY(answerer.entries.contains("Remove user from list"));
    QTRY_COMPARE(Visible<UserGroupsDialog>().size(), 1);
    UserGroupsDialog* groups = Visible<UserGroupsDialog>().first();
    QCOMPARE(groups->windowTitle(), QString("User Groups for [bob]"));
    QCOMPARE(groups->parentWidget(), static_cast<QWidget*>(mainWindow));
    groups->close();

    struct Case
    {
        int tab;
        QTreeWidget* list;
        QString entry;
    };
    for (const Case& c : {Case{2, mp_unshared, "Re-share files with user"}, Case{3, mp_ignored, "Receive chat from user"}}) {
        tabs->setCurrentIndex(c.tab);
        QTRY_VERIFY(c.list->isVisible());
        MenuAnswerer seen;
        RightClick(c.list, c.list->visualItemRect(Row(c.list, "erin")).center());
        QVERIFY2(seen.entries.contains(c.entry), qPrintable(seen.entries.join(", ")));
        QVERIFY(seen.entries.contains("Edit user note"));
    }
    QTRY_COMPARE(Visible<UserGroupsDialog>().size(), 0);
    tabs->setCurrentIndex(0);
}

void TestUserList::addUserAsksTheServer()
{
    AddUserDialog* dialog = OpenAddUser();
    QVERIFY(dialog);
    auto* edit = dialog->findChild<QLineEdit*>("userNameEdit");
    auto* button = dialog->findChild<QPushButton*>("addFriendButton");

    ClickAdd(dialog, "dave");
    QCOMPARE(Status(dialog), QString("User already in list."));
    QVERIFY(m_fixture.FramesOf(5).isEmpty());

    // Known to the graph from elsewhere, not listed: asked for, trimmed.
    User("frank");
    ClickAdd(dialog, "  frank ");
    QCOMPARE(Status(dialog), QString("Adding user..."));
    QVERIFY(edit->isReadOnly());
    QVERIFY(!button->isEnabled());
    QList<FakeServer::Frame> asked = m_fixture.FramesOf(5);
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.first().raw, QByteArray::fromHex("0d000000 05000000 05000000 6672616e6b"));
    QVERIFY(m_fixture.Sync());

    // Answers for other names (the connection watches users itself) change nothing.
    m_fixture.server.Send(5, AddUserReply("Frank", true));
    m_fixture.server.Send(5, AddUserReply("bob", true));
    QTRY_VERIFY(User("Frank").IsConnected("is_online"));
    QCOMPARE(Status(dialog), QString("Adding user..."));
    QVERIFY(!User("Frank").IsConnected("in_user_list"));

    m_fixture.server.Send(5, AddUserReply("frank", true));
    QTRY_COMPARE(Status(dialog), QString("User added to list."));
    QVERIFY(!edit->isReadOnly());
    QVERIFY(button->isEnabled());
    QCOMPARE(edit->text(), QString("  frank "));
    QVERIFY(User("frank").IsConnected("in_user_list"));
    QVERIFY(Row(mp_users, "frank"));
    QCOMPARE(IconOf(Row(mp_users, "frank"), 0), QString("online"));
    QVERIFY(m_fixture.Sync());

    ClickAdd(dialog, "frank");
    QCOMPARE(Status(dialog), QString("User already in list."));

    ClickAdd(dialog, "nobody");
    QCOMPARE(Status(dialog), QString("Adding user..."));
    m_fixture.server.Send(5, AddUserReply("nobody", false));
    QTRY_COMPARE(Status(dialog), QString("User name does not exist."));
    QVERIFY(button->isEnabled());
    QVERIFY(!User("nobody").IsConnected("in_user_list"));
    QVERIFY(!Row(mp_users, "nobody"));

    // Closing deletes the dialog.
    QPointer<AddUserDialog> guard(dialog);
    dialog->close();
    QTRY_VERIFY(!guard);
    QVERIFY(m_fixture.Sync());
}

void TestUserList::removeUserAndUserGroupsActions()
{
    // Offered by no action set, handled all the same.
    mp_users->clearSelection();
    mp_users->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Row(mp_users, "dave")->setSelected(true);
    Row(mp_users, "erin")->setSelected(true);
    userListForm->OnActionBarTriggered(nullptr, "remove_user");
    QVERIFY(!Row(mp_users, "dave"));
    QVERIFY(!Row(mp_users, "erin"));
    QVERIFY(Row(mp_users, "bob"));
    // Only the listing goes: the note, the ignore and the unshare stay.
    QVERIFY(!User("erin").IsConnected("in_user_list"));
    QCOMPARE(User("erin")["user_note"].AsString(), QString("owes me a record"));
    QCOMPARE(Column(mp_ignored, 0), QStringList({"erin"}));
    QCOMPARE(Column(mp_unshared, 0), QStringList({"erin"}));

    QWidget keyed;
    actionBar->RegisterWidget(&keyed, "user_list");
    actionBar->AddWidgetKey(&keyed, "user", "carol");
    actionBar->OnApplicationFocusChanged(nullptr, &keyed);
    userListForm->OnActionBarTriggered(&keyed, "user_groups");
    QCOMPARE(Visible<UserGroupsDialog>().size(), 1);
    QCOMPARE(Visible<UserGroupsDialog>().first()->windowTitle(), QString("User Groups for [carol]"));
    Visible<UserGroupsDialog>().first()->close();
}

QTEST_MAIN(TestUserList)
#include "tst_userlist.moc"
