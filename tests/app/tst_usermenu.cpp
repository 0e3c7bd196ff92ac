// The per-user context menu: its entries for each state of the user and of the private rooms,
// what its entries do (the room entries against the fake server), the views that open it, and
// the main window's toolbar actions of the same names.

#include "mainwindowfixture.h"
#include "roomtabfixture.h"

#include "app/focus.h"
#include "app/usermenuoptions.h"
#include "common/deliver.h"
#include "common/fakepeer.h"
#include "common/peerfixture.h"
#include "app/eventtoolbar.h"
#include "ui/chat/chatform.h"
#include "ui/chat/chatlog.h"
#include "transfers/transferqueuemanager.h"
#include "ui/search/searchresultsform.h"
#include "ui/search/sharesform.h"
#include "ui/transfers/transfersform.h"
#include "ui/users/usergroupsdialog.h"
#include "ui/users/userinfoform.h"
#include "ui/users/userlistform.h"
#include "ui/users/usernotedialog.h"

#include <QContextMenuEvent>
#include <QFont>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

namespace {

using P = FakePeer;

// The menu's entries, "-" for a separator; a submenu's entries follow its title indented, a
// title drawn bold and underlined marked with "!".
void MenuTexts(QMenu* menu, int level, QStringList& out)
{
    for (QAction* action : menu->actions()) {
        const QString indent(level * 2, ' ');
        if (action->isSeparator()) {
            out << indent + "-";
            continue;
        }
        const QFont font = action->font();
        out << indent + action->text() + (font.bold() && font.underline() ? "!" : "");
        if (action->menu())
            MenuTexts(action->menu(), level + 1, out);
    }
}

QStringList MenuFor(const QString& user, bool withCallerEntry = false)
{
    QMenu menu;
    if (withCallerEntry)
        menu.addAction("Caller's entry");
    UserMenuOptions options(&menu, user);
    QStringList out;
    MenuTexts(&menu, 0, out);
    return out;
}

// Triggers the entry at the path of texts ("Private Rooms", "alpha", "Give User Membership").
bool Choose(QMenu* menu, QStringList path)
{
    const QString text = path.takeFirst();
    for (QAction* action : menu->actions())
        if (action->text() == text) {
            if (path.isEmpty()) {
                action->trigger();
                return true;
            }
            return action->menu() && Choose(action->menu(), path);
        }
    return false;
}

bool ChooseFor(const QString& user, const QStringList& path)
{
    QMenu menu;
    UserMenuOptions options(&menu, user);
    return Choose(&menu, path);
}

// Picks the entry of the context menu about to open, as the user does; records the menu.
void ChooseFromMenu(const QString& text, QStringList* seen = nullptr)
{
    QTimer::singleShot(0, [text, seen] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            if (seen)
                MenuTexts(menu, 0, *seen);
            Choose(menu, {text});
            menu->close();
        }
    });
}

// A right click at the point of the viewport, as the mouse delivers it.
void RightClick(QWidget* viewport, QPoint at)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &event);
}

// A right click on the row, once it is opened out and scrolled into sight.
void RightClick(QTreeWidget* tree, QTreeWidgetItem* row)
{
    for (QTreeWidgetItem* up = row->parent(); up; up = up->parent())
        up->setExpanded(true);
    tree->scrollToItem(row);
    RightClick(tree->viewport(), tree->visualItemRect(row).center());
}

// Whom the user info page in front is about; empty when none is.
QString InfoPageUser()
{
    auto* page = qobject_cast<UserInfoForm*>(Child<QTabWidget>("userInfoTabs")->currentWidget());
    return page && page->isVisible() ? page->User() : QString();
}

void CloseInfoPages()
{
    auto* pages = Child<QTabWidget>("userInfoTabs");
    while (pages->count() > 0)
        emit pages->tabCloseRequested(0);
}

ItemPtr User(const QString& name) { return d.GetType("user")->GetItem(Value(name)); }
ItemPtr Room(const QString& name) { return d.GetType("room")->GetItem(Value(name)); }

const QStringList kPlainEntries{"Message user",        "Add user to list",        "Browse user's files",
                                "Upload to user",      "Get User Info",           "Add user note",
                                "-",                   "Unshare files from user", "Ignore chat from user"};

}  // namespace

class TestUserMenu : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void userEntries_data();
    void userEntries();
    void roomEntries_data();
    void roomEntries();
    void roomRequests_data();
    void roomRequests();
    void userEffects();
    void userListsOpenIt();
    void searchResultOpensIt();
    void transferRowsOpenIt_data();
    void transferRowsOpenIt();
    void roomMemberOpensIt();
    void privateChatOpensIt();
    void toolbarUserActions();
    void ampersandInNamesShowsAsItIs();
    void cleanup();
    void cleanupTestCase();

private:
    MainWindowFixture m_fixture;
};

void TestUserMenu::initTestCase()
{
    QVERIFY(m_fixture.Start());
    mainWindow->resize(900, 700);
}

void TestUserMenu::userEntries_data()
{
    // "lnui": listed, with a note, unshared and ignored; "c": the caller's entry first; "=": the
    // logged-in user's own name.
    QTest::addColumn<QString>("state");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("unknown name") << "" << kPlainEntries;
    QTest::newRow("after the caller's entries") << "c" << QStringList{"Caller's entry", "-"} + kPlainEntries;
    QTest::newRow("everything") << "lnui"
                                << QStringList{"Message user",          "Set user's groups",
                                               "Remove user from list", "Browse user's files",
                                               "Upload to user",        "Get User Info",
                                               "Edit user note",        "-",
                                               "Re-share files with user", "Receive chat from user"};
    QTest::newRow("own name") << "=" << kPlainEntries;
}

void TestUserMenu::userEntries()
{
    QFETCH(QString, state);
    QFETCH(QStringList, expected);
    static int serial = 0;
    const QString name = state == "=" ? QString("alice") : QString("user%1").arg(++serial);
    QVERIFY(!d.GetType("user")->HasItem(Value(name)) || state == "=");
    if (state == "lnui") {
        ItemPtr user = User(name);
        user.NewItem("in_user_list");
        user += d.GetType("user_note")->GetItem(Value("a note"));
        user.Connect(d.GetType("unshared")->GetGlobalNullItem());
        user.Connect(d.GetType("is_ignored")->GetGlobalNullItem());
    }
    QCOMPARE(MenuFor(name, state.contains('c')), expected);
    // A name the graph did not hold has its user item now.
    QVERIFY(d.GetType("user")->HasItem(Value(name)));
}

void TestUserMenu::roomEntries_data()
{
    // Per room: "o" owned, "p" operated (by the logged-in user); "m" the user is a member, "r"
    // the user is an operator there.
    QTest::addColumn<QStringList>("rooms");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("none") << QStringList() << QStringList();
    const QStringList head{"-", "Private Rooms"};
    QTest::newRow("owned, non-member") << QStringList{"alpha:o"}
                                       << head + QStringList{"  alpha!", "    Give User Membership"};
    QTest::newRow("owned, member") << QStringList{"alpha:om"}
                                   << head + QStringList{"  alpha!", "    Remove User's Membership", "    -",
                                                         "    Make User Operator"};
    QTest::newRow("owned, member and operator")
        << QStringList{"alpha:omr"}
        << head + QStringList{"  alpha!", "    Remove User's Membership", "    -", "    Remove User's Operator Status"};
    QTest::newRow("owned, operator only")
        << QStringList{"alpha:or"}
        << head + QStringList{"  alpha!", "    Give User Membership", "    -", "    Remove User's Operator Status"};
    QTest::newRow("operated") << QStringList{"gamma:pm"} << head + QStringList{"  gamma", "    Remove User's Membership"};
    QTest::newRow("order, owned first, one entry for both")
        << QStringList{"gamma:p", "beta:op", "alpha:o", "delta:pr"}
        << head + QStringList{"  alpha!", "    Give User Membership", "  beta!", "    Give User Membership",
                              "  delta", "    Give User Membership", "  gamma", "    Give User Membership"};
}

void TestUserMenu::roomEntries()
{
    QFETCH(QStringList, rooms);
    QFETCH(QStringList, expected);
    static int serial = 0;
    const QString name = QString("roomy%1").arg(++serial);
    ItemPtr user = User(name);
    for (const QString& entry : rooms) {
        const QString room = entry.section(':', 0, 0), flags = entry.section(':', 1);
        ItemPtr r = Room(room);
        if (flags.contains('o'))
            r.NewItem("is_owner");
        if (flags.contains('p'))
            r.NewItem("is_operator");
        if (flags.contains('m'))
            r.NewItem("room_members") += user;
        if (flags.contains('r'))
            r.NewItem("room_operators") += user;
    }
    QCOMPARE(MenuFor(name).mid(kPlainEntries.size()), expected);
}

void TestUserMenu::roomRequests_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<quint32>("code");
    QTest::newRow("give membership") << "Give User Membership" << 134u;
    QTest::newRow("remove membership") << "Remove User's Membership" << 135u;
    QTest::newRow("make operator") << "Make User Operator" << 143u;
    QTest::newRow("remove operator") << "Remove User's Operator Status" << 144u;
}

// Each room entry asks the server, naming the room and then the user; nothing changes here
// until the server answers.
void TestUserMenu::roomRequests()
{
    QFETCH(QString, entry);
    QFETCH(quint32, code);
    ItemPtr room = Room("lounge");
    room.NewItem("is_owner");
    ItemPtr user = User("zoe");
    if (entry != "Give User Membership")
        room.NewItem("room_members") += user;
    else
        room.NewItem("room_members").Disconnect(user);
    if (entry == "Remove User's Operator Status")
        room.NewItem("room_operators") += user;
    else
        room.NewItem("room_operators").Disconnect(user);
    QVERIFY(m_fixture.Sync());
    QVERIFY(ChooseFor("zoe", {"Private Rooms", "lounge", entry}));
    const QList<FakeServer::Frame> sent = m_fixture.FramesOf(code);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].fields, P::Str("lounge") + P::Str("zoe"));
    QCOMPARE(room.NewItem("room_members").IsConnected(user), entry != "Give User Membership");
}

void TestUserMenu::userEffects()
{
    ItemPtr user = User("max");
    QVERIFY(ChooseFor("max", {"Add user to list"}));
    QVERIFY(user.IsConnected("in_user_list"));
    QList<UserGroupsDialog*> dialogs = Visible<UserGroupsDialog>();
    QCOMPARE(dialogs.size(), 1);
    QCOMPARE(dialogs[0]->windowTitle(), QString("User Groups for [max]"));
    dialogs[0]->close();
    QVERIFY(ChooseFor("max", {"Set user's groups"}));
    QCOMPARE(Visible<UserGroupsDialog>().size(), 1);
    Visible<UserGroupsDialog>()[0]->close();
    QVERIFY(ChooseFor("max", {"Remove user from list"}));
    QVERIFY(!user.IsConnected("in_user_list"));

    QVERIFY(ChooseFor("max", {"Ignore chat from user"}));
    QVERIFY(user.IsConnected("is_ignored"));
    QVERIFY(ChooseFor("max", {"Receive chat from user"}));
    QVERIFY(!user.IsConnected("is_ignored"));
    QVERIFY(ChooseFor("max", {"Unshare files from user"}));
    QVERIFY(user.IsConnected("unshared"));
    QVERIFY(ChooseFor("max", {"Re-share files with user"}));
    QVERIFY(!user.IsConnected("unshared"));

    QVERIFY(ChooseFor("max", {"Message user"}));
    auto* chats = Child<QTabWidget>("chatTabControl");
    QCOMPARE(chats->tabText(chats->currentIndex()), QString("max"));
    QVERIFY(chats->currentWidget()->isVisible());

    QVERIFY(ChooseFor("max", {"Add user note"}));
    QList<UserNoteDialog*> notes = Visible<UserNoteDialog>();
    QCOMPARE(notes.size(), 1);
    notes[0]->close();

    QVERIFY(ChooseFor("max", {"Get User Info"}));
    auto* pages = Child<QTabWidget>("userInfoTabs");
    auto* page = qobject_cast<UserInfoForm*>(pages->currentWidget());
    QVERIFY(page && page->isVisible());
    QCOMPARE(page->User(), QString("max"));
}

// Each of the user list window's three lists opens the menu for the user of the clicked row.
void TestUserMenu::userListsOpenIt()
{
    ItemPtr ned = User("ned");
    ned.NewItem("in_user_list");
    ned.Connect(d.GetType("unshared")->GetGlobalNullItem());
    ned.Connect(d.GetType("is_ignored")->GetGlobalNullItem());
    for (const char* name : {"userList", "unsharedList", "ignoredList"}) {
        auto* list = Child<QTreeWidget>(name);
        FocusWidgetAndParents(list);
        QTreeWidgetItem* row = list->findItems("ned", Qt::MatchExactly).value(0);
        QVERIFY(row);
        CloseInfoPages();
        QStringList seen;
        ChooseFromMenu("Get User Info", &seen);
        emit list->customContextMenuRequested(list->visualItemRect(row).center());
        QCOMPARE(seen.first(), QString("Message user"));
        QVERIFY2(InfoPageUser() == "ned", name);
    }
}

void TestUserMenu::searchResultOpensIt()
{
    FakePeer sid;
    QVERIFY(sid.ConnectTo(m_fixture.listeningPort));
    sid.SendDirectInit("sid", "P");
    QVERIFY(QTest::qWaitFor([] { return User("sid").IsConnected("peer_socket"); }));

    auto* edit = Child<QLineEdit>("searchEdit");
    auto* tabs = Child<QTabWidget>("searchTabControl");
    FocusWidgetAndParents(edit);
    QTest::keyClicks(edit, "tune");
    QTest::keyClick(edit, Qt::Key_Return);
    auto* tab = qobject_cast<SearchResultsForm*>(tabs->widget(tabs->count() - 1));
    QVERIFY(tab);
    const ItemPtr widget = d.GetType("search_results_widget")->HasItem(Value(tab));
    const quint32 token = ItemPtr(widget.GetItems("search_request")).AsUInt();
    QSignalSpy spy(peerMessenger, &PeerMessenger::SearchResults);
    sid.SendMessage(9, P::Zip(P::Str("sid") + P::U32(token) + P::U32(1) + P::File("\\m\\tune.mp3", 3) + P::U8(1) +
                              P::U32(0) + P::U32(0) + P::U32(0)));
    QVERIFY(spy.wait(5000));
    QTreeWidget* tree = tab->searchResults();
    QTreeWidgetItem* file = tree->findItems("tune.mp3", Qt::MatchExactly | Qt::MatchRecursive, 4).value(0);
    QVERIFY(file);
    tree->expandAll();
    QStringList seen;
    ChooseFromMenu("Get User Info", &seen);
    emit tree->customContextMenuRequested(tree->visualItemRect(file).center());
    QVERIFY(seen.contains("Message user"));
    QCOMPARE(InfoPageUser(), QString("sid"));
    PeerFixture::Clear();
}

void TestUserMenu::transferRowsOpenIt_data()
{
    QTest::addColumn<bool>("downloads");
    QTest::addColumn<QString>("row");
    for (const char* row : {"user", "folder", "file"}) {
        QTest::newRow(qPrintable(QString("downloads, %1 row").arg(row))) << true << row;
        QTest::newRow(qPrintable(QString("uploads, %1 row").arg(row))) << false << row;
    }
}

// Every row of both transfer trees opens the menu for the user its transfers belong to, not for
// the user of a neighbouring row.
void TestUserMenu::transferRowsOpenIt()
{
    QFETCH(bool, downloads);
    QFETCH(QString, row);
    QList<ItemPtr> entries;
    for (const char* user : {"ula", "vic"}) {
        if (downloads) {
            entries << transferQueueManager->AddDownload(user, std::string(user) + ".ogg", "tunes\\Set", 10, 0);
            continue;
        }
        ItemPtr file = d.GetType("shared_file")->NewItem();
        file += d.GetType("shared_file_folder")->GetItem(Value(QString("C:\\tunes\\%1").arg(user)));
        file += d.GetType("shared_file_name")->GetItem(Value(QString("%1.ogg").arg(user)));
        file += d.GetType("shared_file_size")->GetItem(Value(qint64(10)));
        ItemPtr entry = d.GetType("upload_entry")->NewItem();
        entry += User(user);
        entry += file;
        entries << entry;
    }

    auto* page = Child<TransfersForm>("transfersForm");
    Child<QTabWidget>("tabControl")->setCurrentWidget(Child<QWidget>("transfersTab"));
    Child<QTabWidget>("transfersTabControl")->setCurrentIndex(downloads ? 0 : 1);
    auto* tree = Child<QTreeWidget>(downloads ? "downloadsList" : "uploadsList", page);
    QVERIFY(tree->isVisible());
    QTreeWidgetItem* target = nullptr;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if ((*it)->text(0) == "vic" || (*it)->text(2) == "vic.ogg")
            target = *it;
    QVERIFY(target);
    while (row == "user" && target->parent())
        target = target->parent();
    if (row == "folder")
        target = target->parent();
    QVERIFY(target);

    CloseInfoPages();
    QStringList seen;
    ChooseFromMenu("Get User Info", &seen);
    RightClick(tree, target);
    // The downloads tree puts its own download entries before the per-user ones.
    QVERIFY(seen.contains("Message user"));
    if (!downloads)
        QCOMPARE(seen.value(0), QString("Message user"));
    QCOMPARE(InfoPageUser(), QString("vic"));

    for (ItemPtr entry : entries)
        downloads ? transferQueueManager->RemoveDownload(entry) : transferQueueManager->RemoveUpload(entry);
    QCoreApplication::processEvents();
    QCOMPARE(tree->topLevelItemCount(), 0);
}

void TestUserMenu::roomMemberOpensIt()
{
    using namespace roomtab;
    Child<QTabWidget>("tabControl")->setCurrentWidget(Child<QWidget>("roomsTab"));
    m_fixture.server.Send(14, JoinReply("den", {{"rex", 0, 0, ""}, {"sam", 0, 0, ""}, {"tad", 0, 0, ""}}));
    QVERIFY(QTest::qWaitFor([] { return TabOf("den") && MemberNames(TabOf("den")).size() == 3; }));
    RoomForm* form = TabOf("den");
    Child<QTabWidget>("roomsTabControl")->setCurrentWidget(form);
    QVERIFY(Members(form)->isVisible());

    CloseInfoPages();
    QStringList seen;
    ChooseFromMenu("Get User Info", &seen);
    RightClick(Members(form), MemberRow(form, "sam"));
    QCOMPARE(seen.value(0), QString("Message user"));
    QCOMPARE(InfoPageUser(), QString("sam"));
}

void TestUserMenu::privateChatOpensIt()
{
    mainWindow->OpenChatForm("wes");
    mainWindow->OpenChatForm("xan");
    auto* chats = Child<QTabWidget>("chatTabControl");
    QCOMPARE(chats->tabText(chats->currentIndex()), QString("xan"));
    auto* view = Child<QTextBrowser>("chatView", chats->currentWidget());
    QVERIFY(view->isVisible());

    CloseInfoPages();
    QStringList seen;
    ChooseFromMenu("Get User Info", &seen);
    RightClick(view->viewport(), QPoint(5, 5));
    QCOMPARE(seen.value(0), QString("Message user"));
    QCOMPARE(InfoPageUser(), QString("xan"));
}

// The main window's toolbar entries of the same names do what the menu's entries do.
void TestUserMenu::toolbarUserActions()
{
    QWidget probe;
    actionBar->RegisterWidget(&probe, "user");
    actionBar->AddWidgetKey(&probe, "user", "tom");
    QVERIFY(MainWindowFixture::Trigger(&probe, "Add User"));
    QVERIFY(User("tom").IsConnected("in_user_list"));
    QList<UserGroupsDialog*> dialogs = Visible<UserGroupsDialog>();
    QCOMPARE(dialogs.size(), 1);
    QCOMPARE(dialogs[0]->windowTitle(), QString("User Groups for [tom]"));
    dialogs[0]->close();

    QVERIFY(MainWindowFixture::Trigger(&probe, "Message User"));
    auto* chats = Child<QTabWidget>("chatTabControl");
    QCOMPARE(chats->tabText(chats->currentIndex()), QString("tom"));
    QVERIFY(chats->currentWidget()->isVisible());
}

// A "&" of a user or room name labels tabs, buttons and menu entries as part of the name: the
// label doubles it, so it shows as it is and no letter after it becomes a keyboard shortcut.
void TestUserMenu::ampersandInNamesShowsAsItIs()
{
    using roomtab::JoinReply;
    using roomtab::TabOf;
    const QString user = "Rock&Roll";
    auto currentLabel = [](QTabWidget* tabs) {
        const QString text = tabs->tabText(tabs->currentIndex());
        return QKeySequence::mnemonic(text).isEmpty() ? text : "shortcut " + text;
    };

    Room("R&B").NewItem("is_owner");
    Room("Soul&Funk").NewItem("is_operator");
    QVERIFY(MenuFor(user).contains("  R&&B!") && MenuFor(user).contains("  Soul&&Funk"));
    QVERIFY(m_fixture.Sync());
    QVERIFY(ChooseFor(user, {"Private Rooms", "R&&B", "Give User Membership"}));
    QCOMPARE(m_fixture.FramesOf(134).value(0).fields, P::Str("R&B") + P::Str(user));

    m_fixture.server.Send(14, JoinReply("R&B", {{user, 0, 0, ""}}));
    QVERIFY(QTest::qWaitFor([] { return TabOf("R&B"); }));
    QCOMPARE(currentLabel(Child<QTabWidget>("roomsTabControl")), QString("R&&B"));

    QVERIFY(ChooseFor(user, {"Message user"}));
    auto* chats = Child<QTabWidget>("chatTabControl");
    QCOMPARE(currentLabel(chats), QString("Rock&&Roll"));
    OpenChatLog(ChatLogKind::User, user, chats, mainWindow);
    QCOMPARE(currentLabel(chats), QString("Rock&&Roll"));
    QVERIFY(ChooseFor(user, {"Get User Info"}));
    QCOMPARE(currentLabel(Child<QTabWidget>("userInfoTabs")), QString("Rock&&Roll"));
    QVERIFY(ChooseFor(user, {"Browse user's files"}));
    QCOMPARE(currentLabel(Child<QTabWidget>("tabControl", sharesForm)), QString("Rock&&Roll"));
    QVERIFY(ChooseFor(user, {"Upload to user"}));
    QCOMPARE(currentLabel(Child<QTabWidget>("tabControl", sharesForm)), QString("Upload to Rock&&Roll"));

    // A line in the conversation while it is out of sight: its button on the event bar.
    ChatForm* chat = mainWindow->GetChatForm(user);
    Child<QTabWidget>("tabControl")->setCurrentWidget(Child<QWidget>("roomsTab"));
    m_fixture.server.Send(22, FakeServer::U32(1) + FakeServer::I32(1700000000) + P::Str(user) + P::Str("hi") +
                                  FakeServer::U8(1));
    QAction* button = nullptr;
    QWidget* edit = Child<QWidget>("chatEdit", chat);
    QVERIFY(QTest::qWaitFor([&] { return button = eventToolBar->EventAction(edit); }));
    QCOMPARE(button->text(), QString("Rock&&Roll"));
    auto* shown = qobject_cast<QToolButton*>(eventToolBar->widgetForAction(button));
    QVERIFY(shown);
    QCOMPARE(shown->text(), QString("Rock&&Roll"));
    QVERIFY(shown->shortcut().isEmpty());
}

void TestUserMenu::cleanup()
{
    for (const char* flag : {"is_owner", "is_operator"})
        for (ItemPtr room : g(flag).GetItems("room"))
            room.Disconnect(flag);
    for (auto* dialog : Visible<UserGroupsDialog>())
        dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestUserMenu::cleanupTestCase()
{
    PeerFixture::Clear();
    delete mainWindow;
}

QTEST_MAIN(TestUserMenu)
#include "tst_usermenu.moc"
