// A room's tab as the server's messages shape it: the member rows and their marks, the room's
// member count, the note column and the per-user menu, the toolbar texts, a reconnection, and the
// ways a tab ends (closed by the user online or offline, taken away by the server, re-joined
// before it is gone).

#include "roomtabfixture.h"
#include "viewhelpers.h"

#include "ui/chat/chatdisplay.h"
#include "ui/users/usernotedialog.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>

#include <algorithm>

using namespace roomtab;

namespace {

// An icon's image at the size the list shows: the flag files are told apart by what they hold.
QImage IconImage(const QIcon& icon)
{
    return icon.pixmap(QSize(16, 11)).toImage();
}

// The texts of the actions the toolbar shows for the widget, hidden ones left out.
QStringList ShownActions(QWidget* widget)
{
    actionBar->OnApplicationFocusChanged(nullptr, widget);
    QStringList texts;
    for (QAction* action : actionBar->actions())
        if (action->isVisible() && !action->text().isEmpty() && !qobject_cast<QWidgetAction*>(action))
            texts << action->text();
    return texts;
}

// "b" for a bold name, "u" for an underlined one.
QString NameStyle(QTreeWidgetItem* row)
{
    const QFont font = row->font(2);
    return QString(font.bold() ? "b" : "") + (font.underline() ? "u" : "");
}

// Clicks the row's cell in the column as a mouse does.
void ClickCell(QTreeWidget* list, QTreeWidgetItem* row, int column)
{
    list->scrollToItem(row);
    const QRect rect = list->visualItemRect(row);
    const int x = list->header()->sectionViewportPosition(column) + list->header()->sectionSize(column) / 2;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(x, rect.center().y()));
}

}  // namespace

class TestRoomTab : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void joinReplyFillsMemberList();
    void membersJoinAndLeaveAtTheirPlace();
    void noteColumnAndNoteIcons();
    void memberMenuIsThePerUserMenu();
    void toolbarFollowsRoom();
    void reconnectionReentersRoom();
    void closingLeavesOnceAndServerRemovalSendsNothing();
    void tabClosedOfflineLetsRoomBeEnteredAgain();
    void quickRejoinMakesNewTabAndOldStaysSilent();
    void joinBurstEndsOnLastRoom();
    void closeMarkLeavesRoom();
    void cleanupTestCase() { delete mainWindow; }

private:
    // The server's join reply, and the room's one tab once it shows every member.
    RoomForm* Join(const QString& room, const QList<Member>& members, const QString& owner = QString(),
                   const QStringList& operators = {});
    bool Reconnect();

    MainWindowFixture m_fixture;
    QDateTime m_now{QDate(2026, 3, 7), QTime(21, 5, 9)};
};

void TestRoomTab::initTestCase()
{
    QVERIFY(m_fixture.Start());
    SetChatClock([this] { return m_now; });
    mainWindow->resize(1000, 700);
    Child<QTabWidget>("tabControl")->setCurrentIndex(1);
}

RoomForm* TestRoomTab::Join(const QString& room, const QList<Member>& members, const QString& owner,
                            const QStringList& operators)
{
    m_fixture.server.Send(14, JoinReply(room, members, owner, operators));
    if (!QTest::qWaitFor([&] { return TabOf(room) && MemberNames(TabOf(room)).size() == members.size(); }))
        return nullptr;
    return TabOf(room);
}

bool TestRoomTab::Reconnect()
{
    gp_server->Connect();
    if (!m_fixture.server.WaitForConnection() || !m_fixture.server.WaitForFrames(1))
        return false;
    m_fixture.server.SendRaw(FakeServer::LoginAccepted());
    return QTest::qWaitFor([] { return gp_server->IsConnected(); });
}

void TestRoomTab::joinReplyFillsMemberList()
{
    User("frank") += d.GetType("user_note")->GetItem(Value("plays bass"));
    RoomForm* form = Join("lobby",
                          {{"bob", 1536, 1234, "DE"},
                           {"carol", 0, 0, ""},
                           {"Dave", 2048, 5, "FR"},
                           {"erin", 100, 1000000, "de"},
                           {"frank", 1, 1, "fr"}},
                          "erin", {"Dave"});
    QVERIFY(form);
    QCOMPARE(TabsOf("lobby").size(), 1);
    QTreeWidget* list = Members(form);
    QCOMPARE(list->columnCount(), 6);
    QCOMPARE(list->headerItem()->text(2) + "|" + list->headerItem()->text(4) + "|" + list->headerItem()->text(5),
             QString("User|Files|K/s"));
    QCOMPARE(MemberNames(form), (QStringList{"bob", "carol", "Dave", "erin", "frank"}));
    QCOMPARE(UserCount("lobby"), 5);

    QTreeWidgetItem* bob = MemberRow(form, "bob");
    QCOMPARE(bob->text(4) + "|" + bob->text(5), QString("1,234|1.5"));
    QCOMPARE(MemberRow(form, "carol")->text(4) + "|" + MemberRow(form, "carol")->text(5), QString("|"));
    QCOMPARE(MemberRow(form, "erin")->text(4) + "|" + MemberRow(form, "frank")->text(5), QString("1,000,000|0.0"));
    const QImage german = IconImage(QIcon(":/resources/flags/de.png"));
    const QImage french = IconImage(QIcon(":/resources/flags/fr.png"));
    QVERIFY(!german.isNull() && german != french);
    QCOMPARE(IconImage(bob->icon(1)), german);
    QCOMPARE(IconImage(MemberRow(form, "erin")->icon(1)), german);
    QCOMPARE(IconImage(MemberRow(form, "Dave")->icon(1)), french);
    QVERIFY(MemberRow(form, "carol")->icon(1).isNull());
    QVERIFY(!MemberRow(form, "frank")->icon(3).isNull());
    QVERIFY(bob->icon(3).isNull());

    QCOMPARE(NameStyle(MemberRow(form, "erin")), QString("bu"));
    QCOMPARE(NameStyle(MemberRow(form, "Dave")), QString("b"));
    QCOMPARE(NameStyle(bob), QString());

    // A member joining, and one already listed joining again with new figures: the row stays.
    m_fixture.server.Send(16, Joined("lobby", {"gina", 0, 7, "IT"}));
    m_fixture.server.Send(16, Joined("lobby", {"bob", 9999, 1, "FR"}));
    m_fixture.server.Send(16, Joined("lobby", {"hank", 0, 0, ""}));
    QTRY_VERIFY(MemberRow(form, "hank"));
    QCOMPARE(UserCount("lobby"), 7);
    QCOMPARE(bob->text(4) + "|" + bob->text(5), QString("1,234|1.5"));
    QCOMPARE(IconImage(bob->icon(1)), german);

    m_fixture.server.Send(17, FakeServer::Str("lobby") + FakeServer::Str("carol"));
    QTRY_VERIFY(!MemberRow(form, "carol"));
    QCOMPARE(UserCount("lobby"), 6);
    QCOMPARE(Room("lobby").GetItems("user").size(), size_t(6));

    // Operator rights withdrawn and given; the owner's underline is not the operator's.
    m_fixture.server.Send(144, FakeServer::Str("lobby") + FakeServer::Str("Dave"));
    m_fixture.server.Send(143, FakeServer::Str("lobby") + FakeServer::Str("bob"));
    m_fixture.server.Send(143, FakeServer::Str("lobby") + FakeServer::Str("erin"));
    m_fixture.server.Send(144, FakeServer::Str("lobby") + FakeServer::Str("erin"));
    QTRY_COMPARE(NameStyle(bob), QString("b"));
    QTRY_COMPARE(NameStyle(MemberRow(form, "erin")), QString("u"));
    QCOMPARE(NameStyle(MemberRow(form, "Dave")), QString());
}

// A join or a leave changes its own row only: the list is never sorted again as a whole, which
// in a room of thousands would cost every join the whole list.
void TestRoomTab::membersJoinAndLeaveAtTheirPlace()
{
    RoomForm* form = Join("hall", {{"quin", 0, 3, ""}, {"sid", 0, 1, ""}, {"tom", 0, 2, ""}});
    QVERIFY(form);
    int sorts = 0;
    QObject watcher;
    connect(Members(form)->model(), &QAbstractItemModel::layoutChanged, &watcher, [&sorts] { ++sorts; });
    m_fixture.server.Send(16, Joined("hall", {"Rae", 0, 0, ""}));
    QTRY_COMPARE(MemberNames(form), (QStringList{"quin", "Rae", "sid", "tom"}));
    m_fixture.server.Send(17, FakeServer::Str("hall") + FakeServer::Str("sid"));
    QTRY_COMPARE(MemberNames(form), (QStringList{"quin", "Rae", "tom"}));
    QCOMPARE(sorts, 0);

    // Sorted by the user, descending by files, a newcomer still lands at its place.
    Members(form)->header()->setSortIndicator(4, Qt::DescendingOrder);
    QCOMPARE(MemberNames(form), (QStringList{"quin", "tom", "Rae"}));
    m_fixture.server.Send(16, Joined("hall", {"pia", 0, 1, ""}));
    QTRY_COMPARE(MemberNames(form), (QStringList{"quin", "tom", "pia", "Rae"}));
    mainWindow->OnRoomTabClosed(Child<QTabWidget>("roomsTabControl")->indexOf(form));
}

void TestRoomTab::noteColumnAndNoteIcons()
{
    RoomForm* form = TabOf("lobby");
    QVERIFY(form);
    QTreeWidget* list = Members(form);
    QTRY_VERIFY(list->isVisible());

    // The name column, or a user without a note: nothing opens.
    ClickCell(list, MemberRow(form, "frank"), 2);
    ClickCell(list, MemberRow(form, "bob"), 3);
    QVERIFY(Visible<UserNoteDialog>().isEmpty());
    ClickCell(list, MemberRow(form, "frank"), 3);
    QCOMPARE(Visible<UserNoteDialog>().size(), 1);
    QCOMPARE(Visible<UserNoteDialog>().first()->windowTitle(), QString("frank"));
    delete Visible<UserNoteDialog>().first();

    // Notes come and go on the rows; one replaced keeps its icon.
    User("bob") += d.GetType("user_note")->GetItem(Value("sends fast"));
    QVERIFY(!MemberRow(form, "bob")->icon(3).isNull());
    User("bob") += d.GetType("user_note")->GetItem(Value("sends slowly"));
    QVERIFY(!MemberRow(form, "bob")->icon(3).isNull());
    User("frank").Disconnect("user_note");
    QVERIFY(MemberRow(form, "frank")->icon(3).isNull());
    ClickCell(list, MemberRow(form, "frank"), 3);
    QVERIFY(Visible<UserNoteDialog>().isEmpty());
}

void TestRoomTab::memberMenuIsThePerUserMenu()
{
    RoomForm* form = TabOf("lobby");
    QVERIFY(form);
    QTreeWidget* list = Members(form);
    QTRY_VERIFY(list->isVisible());
    QTreeWidgetItem* row = MemberRow(form, "gina");
    list->scrollToItem(row);
    const QPoint pos = list->visualItemRect(row).center();

    QStringList entries;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* action : menu->actions())
            entries << action->text();
        for (QAction* action : menu->actions())
            if (action->text() == "Message user")
                action->trigger();
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, list->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list->viewport(), &event);
    QVERIFY(entries.contains("Message user"));
    QVERIFY(entries.contains("Add user note"));
    auto* chats = Child<QTabWidget>("chatTabControl");
    QCOMPARE(chats->tabText(chats->currentIndex()), QString("gina"));

    // Below the last row: no menu (one would run, and be seen, before the event returns).
    bool opened = false;
    QTimer::singleShot(0, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            opened = true;
            menu->close();
        }
    });
    const QPoint empty(10, list->viewport()->height() - 2);
    QVERIFY(!list->itemAt(empty));
    QContextMenuEvent below(QContextMenuEvent::Mouse, empty, list->viewport()->mapToGlobal(empty));
    QApplication::sendEvent(list->viewport(), &below);
    QVERIFY(!opened);
}

void TestRoomTab::toolbarFollowsRoom()
{
    Room("club").NewItem("is_member");
    Room("castle").NewItem("is_owner");
    Room("castle").NewItem("is_member");
    RoomForm* plain = Join("square", {{"ann", 0, 0, ""}});
    RoomForm* club = Join("club", {{"ann", 0, 0, ""}});
    RoomForm* castle = Join("castle", {{"ann", 0, 0, ""}});
    QVERIFY(plain && club && castle);

    QCOMPARE(ShownActions(plain), (QStringList{"Auto-Join Room [off]", "Chat Log"}));
    QCOMPARE(ShownActions(club), (QStringList{"Auto-Join Room [off]", "Chat Log", "Give Up Membership"}));
    QCOMPARE(ShownActions(castle), (QStringList{"Auto-Join Room [off]", "Chat Log", "Give Up Room"}));

    QVERIFY(MainWindowFixture::Trigger(plain, "Auto-Join Room [off]"));
    QVERIFY(Room("square").IsConnected("room_autojoin"));
    QCOMPARE(ShownActions(plain).first(), QString("Auto-Join Room [on]"));
    QCOMPARE(ShownActions(club).first(), QString("Auto-Join Room [off]"));
    QVERIFY(MainWindowFixture::Trigger(plain, "Auto-Join Room [on]"));
    QVERIFY(!Room("square").IsConnected("room_autojoin"));
    QCOMPARE(ShownActions(plain).first(), QString("Auto-Join Room [off]"));
    // The member list offers the per-user actions, not the room's.
    QVERIFY(!ShownActions(Members(plain)).contains("Chat Log"));
}

void TestRoomTab::reconnectionReentersRoom()
{
    RoomForm* form = Join("relay", {{"ann", 0, 1, ""}, {"ben", 0, 2, ""}});
    QVERIFY(form);
    QVERIFY(m_fixture.Sync());
    m_now = QDateTime(QDate(2026, 3, 7), QTime(9, 5, 9));

    m_fixture.server.DropClient();
    QTRY_VERIFY(!gp_server->IsConnected());
    QCOMPARE(LastLine(form), QString("* Disconnected at 9:05:09."));
    // The members stay while the connection is down.
    QCOMPARE(MemberNames(form), (QStringList{"ann", "ben"}));

    m_now = m_now.addSecs(3600 * 12 + 61);
    QVERIFY(Reconnect());
    QTRY_COMPARE(LastLine(form), QString("* Reconnected at 21:06:10."));
    // 17 bytes: the code, the room as u32 5 and "relay", the private flag 0.
    const QByteArray enter = QByteArray::fromHex("11000000 0e000000 05000000 72656c6179 00000000");
    QTRY_VERIFY(m_fixture.server.RawBytes().contains(enter));
    QCOMPARE(m_fixture.server.RawBytes().count(enter), 1);

    // The server's reply replaces the members: rows of those gone go, the new ones come.
    m_fixture.server.Send(14, JoinReply("relay", {{"ben", 0, 2, ""}, {"cid", 0, 3, ""}}));
    QTRY_COMPARE(MemberNames(form), (QStringList{"ben", "cid"}));
    QCOMPARE(MemberRow(form, "ben")->text(4) + MemberRow(form, "cid")->text(4), QString("23"));
    QCOMPARE(UserCount("relay"), 2);
    QCOMPARE(TabsOf("relay").size(), 1);
}

void TestRoomTab::closingLeavesOnceAndServerRemovalSendsNothing()
{
    auto* tabs = Child<QTabWidget>("roomsTabControl");
    QVERIFY(Join("door", {{"ann", 0, 0, ""}}));
    QVERIFY(m_fixture.Sync());
    mainWindow->OnRoomTabClosed(tabs->indexOf(TabOf("door")));
    QVERIFY(TabsOf("door").isEmpty());
    // The code and the room: u32 4 and "door".
    const QList<FakeServer::Frame> leaves = m_fixture.FramesOf(15);
    QCOMPARE(leaves.size(), 1);
    QCOMPARE(leaves.first().raw, QByteArray::fromHex("0c000000 0f000000 04000000 646f6f72"));
    m_fixture.server.Send(15, FakeServer::Str("door"));
    QTRY_VERIFY(!Room("door").IsConnected("in_room"));
    QVERIFY(TabsOf("door").isEmpty());

    QPointer<RoomForm> kicked = Join("kicked", {{"ann", 0, 0, ""}});
    QVERIFY(kicked);
    QVERIFY(m_fixture.Sync());
    m_fixture.server.Send(15, FakeServer::Str("kicked"));
    QTRY_VERIFY(kicked.isNull());
    QVERIFY(m_fixture.FramesOf(15).isEmpty());
    QVERIFY(Room("kicked").GetItems("user").empty());
}

// Without a connection the leave request cannot go and the server never confirms it: the tab
// clears the room itself, or the room could not be entered again this run.
void TestRoomTab::tabClosedOfflineLetsRoomBeEnteredAgain()
{
    auto* tabs = Child<QTabWidget>("roomsTabControl");
    QVERIFY(Join("island", {{"ann", 0, 0, ""}, {"ben", 0, 0, ""}}));
    gp_server->Disconnect();
    QVERIFY(!gp_server->IsConnected());
    mainWindow->OnRoomTabClosed(tabs->indexOf(TabOf("island")));
    QVERIFY(!Room("island").IsConnected("in_room"));
    QVERIFY(Room("island").GetItems("user").empty());

    QVERIFY(Reconnect());
    QVERIFY(m_fixture.Sync());
    QVERIFY(!m_fixture.server.RawBytes().contains("island"));
    QVERIFY(Join("island", {{"ben", 0, 0, ""}}));
    QCOMPARE(MemberNames(TabOf("island")), QStringList{"ben"});
}

// A leave and a new join in one go: the new tab takes over at once; the old one, deleted
// later, shows, lists and sends nothing meanwhile.
void TestRoomTab::quickRejoinMakesNewTabAndOldStaysSilent()
{
    SetSetting("chat_timestamps", "no_timestamps");
    QPointer<RoomForm> old = Join("quick", {{"zed", 0, 0, ""}});
    QVERIFY(old);
    QSignalSpy shown(View(old), &QTextEdit::textChanged);
    m_fixture.server.SendRaw(FakeServer::MakeFrame(15, FakeServer::Str("quick")) +
                             FakeServer::MakeFrame(14, JoinReply("quick", {{"yan", 0, 0, ""}})) +
                             FakeServer::MakeFrame(13, FakeServer::Str("quick") + FakeServer::Str("yan") +
                                                           FakeServer::Str("hello")));
    QTRY_VERIFY(old.isNull());
    QTRY_VERIFY(TabOf("quick") && Lines(TabOf("quick")) == QStringList{"[yan] hello"});
    QCOMPARE(MemberNames(TabOf("quick")), QStringList{"yan"});
    QCOMPARE(shown.count(), 0);

    // The same within one stretch of the graph, with the old tab surely still there.
    Room("quick2").NewItem("in_room");
    QPointer<RoomForm> first = TabOf("quick2");
    QVERIFY(first);
    Room("quick2").Disconnect("in_room");
    Room("quick2").NewItem("in_room");
    QCOMPARE(TabsOf("quick2").size(), 2);
    RoomForm* second = TabsOf("quick2").at(0) == first ? TabsOf("quick2").at(1) : TabsOf("quick2").at(0);
    Room("quick2") += User("yan");
    emit gp_server->RoomChat("quick2", "yan", "hi");
    emit gp_server->Connected();
    QVERIFY(first);
    QCOMPARE(MemberNames(second), QStringList{"yan"});
    QCOMPARE(MemberNames(first), QStringList());
    QCOMPARE(Lines(second).first(), QString("[yan] hi"));
    QCOMPARE(Lines(first), QStringList());
    // One enter request for the room, from the new tab.
    int enters = 0;
    for (const FakeServer::Frame& frame : m_fixture.FramesOf(14))
        enters += frame.fields.startsWith(FakeServer::Str("quick2")) ? 1 : 0;
    QCOMPARE(enters, 1);
    QTRY_VERIFY(first.isNull());
}

// Rooms entered at login answer in one read and each is brought forward in turn. The last one
// ends in front with its own actions on the toolbar; on the way, no widget of the toolbar was
// taken off it (it would stand as a window of its own until deleted) and the window was never
// given again the icon it had.
void TestRoomTab::joinBurstEndsOnLastRoom()
{
    Room("burst 2").NewItem("is_owner");
    Room("burst 2").NewItem("is_member");
    QVERIFY(m_fixture.Sync());
    QByteArray burst;
    for (int k = 0; k < 4; ++k)
        burst += FakeServer::MakeFrame(14, JoinReply(QString("burst %1").arg(k), {{"ann", 0, 0, ""}}));
    QSignalSpy icons(mainWindow, &QWidget::windowIconChanged);
    QList<int> windows;
    QObject watch;
    connect(qApp, &QApplication::focusChanged, &watch,
            [&] { windows << QApplication::topLevelWidgets().size(); });
    m_fixture.server.SendRaw(burst);
    QVERIFY(QTest::qWaitFor([] { return TabOf("burst 3") && !MemberNames(TabOf("burst 3")).isEmpty(); }));

    RoomForm* last = TabOf("burst 3");
    QCOMPARE(Child<QTabWidget>("roomsTabControl")->currentWidget(), last);
    QVERIFY(last->isAncestorOf(QApplication::focusWidget()));
    QCOMPARE(actionBar->CurrentWidget(), last);
    QStringList shown;
    for (QAction* action : actionBar->actions())
        if (action->isVisible() && !action->text().isEmpty() && !qobject_cast<QWidgetAction*>(action))
            shown << action->text();
    QCOMPARE(shown, (QStringList{"Auto-Join Room [off]", "Chat Log"}));
    QCOMPARE(actionBar->GetKey("room"), QString("burst 3"));
    QVERIFY(windows.size() >= 4);
    QCOMPARE(*std::max_element(windows.begin(), windows.end()), windows.first());
    QCOMPARE(icons.count(), 0);
    QVERIFY(m_fixture.FramesOf(14).isEmpty());
}

QTEST_MAIN(TestRoomTab)
// The room tabs draw their close marks; a click on one leaves the room as closing the tab always
// did. Tabs that could not be closed still show none.
void TestRoomTab::closeMarkLeavesRoom()
{
    auto* tabs = Child<QTabWidget>("roomsTabControl");
    QPointer<RoomForm> form = Join("marked", {{"ann", 0, 0, ""}});
    QVERIFY(form);
    RoomForm* other = Join("unmarked", {{"ann", 0, 0, ""}});
    QVERIFY(other);
    QVERIFY(m_fixture.Sync());
    // Picked by its tab, the room draws; the room left behind is not drawn while hidden.
    const QRect tab = tabs->tabBar()->tabRect(tabs->indexOf(form));
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tab.topLeft() + QPoint(4, 4));
    QCOMPARE(tabs->currentWidget(), form.data());
    QVERIFY(Input(form)->updatesEnabled() && !Input(other)->updatesEnabled());
    QVERIFY(ClickCloseMark(tabs, tabs->indexOf(form)));
    QVERIFY(form.isNull());
    QVERIFY(TabsOf("marked").isEmpty());
    const QList<FakeServer::Frame> leaves = m_fixture.FramesOf(15);
    QCOMPARE(leaves.size(), 1);
    QCOMPARE(leaves.first().fields, FakeServer::Str("marked"));

    QVERIFY(!ClickCloseMark(Child<QTabWidget>("tabControl"), 1));
    QVERIFY(!ClickCloseMark(Child<QTabWidget>("chatTabControl"), 0));
}

#include "tst_roomtab.moc"
