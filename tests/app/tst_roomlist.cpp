// The room list: rows from the server's list, counts, role fonts and order, entering rooms by
// double click and context menu, room tabs on the server's confirmation, and auto-join rooms
// kept for the next start.

#include "mainwindowfixture.h"

#include "model/settings.h"
#include "ui/chat/roomform.h"

#include <QFont>
#include <QHeaderView>
#include <QMenu>
#include <QProcess>
#include <QTabWidget>
#include <QTreeWidget>

#include <csignal>

namespace {

ItemPtr Room(const QString& name)
{
    return d.GetType("room")->GetItem(Value(name));
}

QByteArray StrList(const QStringList& names)
{
    QByteArray out = FakeServer::U32(static_cast<quint32>(names.size()));
    for (const QString& name : names)
        out += FakeServer::Str(name);
    return out;
}

QByteArray IntList(const QList<qint32>& values)
{
    QByteArray out = FakeServer::U32(static_cast<quint32>(values.size()));
    for (qint32 v : values)
        out += FakeServer::I32(v);
    return out;
}

// Code 14 for a room with nobody listed.
QByteArray EmptyRoomJoin(const QString& room)
{
    return FakeServer::Str(room) + FakeServer::U32(0) + FakeServer::U32(0) + FakeServer::U32(0) +
           FakeServer::U32(0) + FakeServer::U32(0);
}

// The enter-room request as the wire carries it: not private.
QByteArray EnterRequest(const QByteArray& room)
{
    return FakeServer::U32(static_cast<quint32>(12 + room.size())) + QByteArray::fromHex("0e000000") +
           FakeServer::U32(static_cast<quint32>(room.size())) + room + QByteArray::fromHex("00000000");
}

// What the window system delivers for a double click: press, release, double click, release.
void DoubleClick(QWidget* widget, QPoint pos)
{
    const QPoint global = widget->mapToGlobal(pos);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                              QEvent::MouseButtonRelease}) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, pos, global, Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
}

}  // namespace

class TestRoomList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void serverListFillsRows();
    void laterListsUpdateCountsOnly();
    void ownedRoomsComeFirst();
    void roleFontsFollowFlags();
    void doubleClickEntersRoomAndReplyOpensTab();
    void closingTabLeavesRoomOnce();
    void serverTakingRoomClosesTab();
    void contextMenuEntersSelectedRoom();
    void privateRoomInvitationsFromServer();
    void autojoinRoomIsEnteredAtNextStart();
    void cleanupTestCase();

private:
    QTreeWidgetItem* Row(const QString& name);
    QStringList Names();
    QString Style(const QString& name);
    int TabOf(const QString& room);

    MainWindowFixture m_fixture;
    QTreeWidget* mp_list = nullptr;
    QTabWidget* mp_tabs = nullptr;
};

void TestRoomList::initTestCase()
{
    QVERIFY(m_fixture.Start());
    mp_list = MainWindowFixture::Child<QTreeWidget>("roomList");
    mp_tabs = MainWindowFixture::Child<QTabWidget>("roomsTabControl");
}

QTreeWidgetItem* TestRoomList::Row(const QString& name)
{
    const QList<QTreeWidgetItem*> rows = mp_list->findItems(name, Qt::MatchExactly, 0);
    return rows.size() == 1 ? rows.first() : nullptr;
}

QStringList TestRoomList::Names()
{
    QStringList names;
    for (int k = 0; k < mp_list->topLevelItemCount(); ++k)
        names << mp_list->topLevelItem(k)->text(0);
    return names;
}

QString TestRoomList::Style(const QString& name)
{
    const QFont font = Row(name)->font(0);
    QStringList style;
    if (font.italic())
        style << "italic";
    if (font.underline())
        style << "underline";
    if (font.weight() == QFont::Bold)
        style << "bold";
    else if (font.weight() != QFont::Normal)
        style << "weight?";
    return style.join(' ');
}

int TestRoomList::TabOf(const QString& room)
{
    int found = -1;
    for (int k = 0; k < mp_tabs->count(); ++k)
        if (mp_tabs->tabText(k) == room && qobject_cast<RoomForm*>(mp_tabs->widget(k)))
            found = found == -1 ? k : -2;
    return found;
}

void TestRoomList::serverListFillsRows()
{
    QVERIFY(MainWindowFixture::Trigger(mp_list, "Refresh Room List"));
    const QList<FakeServer::Frame> requests = m_fixture.FramesOf(64);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().raw, QByteArray::fromHex("04000000 40000000"));

    m_fixture.server.Send(64, StrList({"lobby", "quiet", "big", "nine"}) + IntList({5, 0, 10, 9}) +
                                  StrList({"mine"}) + IntList({3}) + StrList({"club", "member"}) +
                                  IntList({7, 2}) + StrList({"club", "lobby"}));
    QTRY_COMPARE(mp_list->topLevelItemCount(), 7);

    QCOMPARE(Row("lobby")->text(1), QString("5"));
    QCOMPARE(Row("quiet")->text(1), QString());
    QCOMPARE(Row("big")->text(1), QString("10"));
    QCOMPARE(Row("mine")->text(1), QString("3"));
    QCOMPARE(Row("club")->text(1), QString("7"));

    // Operated and a member: the operator's style, which membership does not change. Operated
    // but not among the member rooms: no role.
    QCOMPARE(Style("mine"), QString("italic underline bold"));
    QCOMPARE(Style("club"), QString("italic bold"));
    QCOMPARE(Style("member"), QString("italic"));
    QCOMPARE(Style("lobby"), QString());
}

void TestRoomList::laterListsUpdateCountsOnly()
{
    // No request this time: known rooms get their counts, unknown ones are not added.
    m_fixture.server.Send(64, StrList({"lobby", "stranger"}) + IntList({0, 4}) + StrList({"mine"}) +
                                  IntList({3}) + StrList({"club", "member"}) + IntList({8, 2}) + StrList({"club"}));
    QTRY_COMPARE(Row("club")->text(1), QString("8"));
    QCOMPARE(Row("lobby")->text(1), QString());
    QVERIFY(!Row("stranger"));
    QCOMPARE(mp_list->topLevelItemCount(), 7);
}

void TestRoomList::ownedRoomsComeFirst()
{
    mp_list->sortItems(0, Qt::AscendingOrder);
    QCOMPARE(Names(), (QStringList{"mine", "club", "member", "big", "lobby", "nine", "quiet"}));
    mp_list->sortItems(0, Qt::DescendingOrder);
    QCOMPARE(Names(), (QStringList{"quiet", "nine", "lobby", "big", "member", "club", "mine"}));
    // By count: numerically, an empty cell as 0.
    mp_list->sortItems(1, Qt::AscendingOrder);
    const QStringList byCount = Names();
    QVERIFY(byCount.indexOf("nine") < byCount.indexOf("big"));
    QVERIFY(byCount.indexOf("quiet") < byCount.indexOf("member"));
    QVERIFY(byCount.indexOf("lobby") < byCount.indexOf("member"));
    mp_list->sortItems(0, Qt::AscendingOrder);
}

void TestRoomList::roleFontsFollowFlags()
{
    // Owner, then ownership lost while still a member and not an operator.
    const QString name = "aaa-owned-then-not";
    ItemPtr room = Room(name);
    room.NewItem("is_member");
    room.NewItem("is_owner");
    QCOMPARE(Style(name), QString("italic underline bold"));
    QCOMPARE(Names().first(), name);
    room.Disconnect("is_owner");
    QCOMPARE(Style(name), QString("italic"));
    // The row moved back among the member rooms.
    QVERIFY(Names().indexOf(name) > Names().indexOf("club"));
    room.NewItem("is_operator");
    QCOMPARE(Style(name), QString("italic bold"));
    room.Disconnect("is_member");
    QCOMPARE(Style(name), QString("bold"));
    room.Disconnect("is_operator");
    QCOMPARE(Style(name), QString());
    // A second add event for a known room makes no second row.
    const int rows = mp_list->topLevelItemCount();
    ItemPtr lobby = Room("lobby");
    d.GetType("room")->itemAdded.Notify(lobby);
    QCOMPARE(mp_list->topLevelItemCount(), rows);
}

void TestRoomList::doubleClickEntersRoomAndReplyOpensTab()
{
    QVERIFY(m_fixture.Sync());
    mainWindow->resize(1000, 600);
    MainWindowFixture::Child<QTabWidget>("tabControl")->setCurrentIndex(1);
    QTRY_VERIFY(mp_list->isVisible());
    QTreeWidgetItem* row = Row("lobby");
    mp_list->scrollToItem(row);
    const QRect rect = mp_list->visualItemRect(row);
    const int countColumn = mp_list->header()->sectionViewportPosition(1) + 5;

    // The Users column does not enter.
    DoubleClick(mp_list->viewport(), QPoint(countColumn, rect.center().y()));
    QVERIFY(m_fixture.FramesOf(14).isEmpty());

    DoubleClick(mp_list->viewport(), QPoint(10, rect.center().y()));
    const QList<FakeServer::Frame> frames = m_fixture.FramesOf(14);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.first().raw, QByteArray::fromHex("11000000 0e000000 05000000") + "lobby" +
                                     QByteArray::fromHex("00000000"));
    QCOMPARE(TabOf("lobby"), -1);

    m_fixture.server.Send(14, EmptyRoomJoin("lobby"));
    QTRY_VERIFY(TabOf("lobby") >= 0);
    QCOMPARE(mp_tabs->currentIndex(), TabOf("lobby"));
    auto* form = qobject_cast<RoomForm*>(mp_tabs->widget(TabOf("lobby")));
    QCOMPARE(form->Room(), QString("lobby"));
    QVERIFY(!mp_tabs->tabIcon(TabOf("lobby")).isNull());

    // Confirmed again while the tab is open: still one tab.
    m_fixture.server.Send(14, EmptyRoomJoin("lobby"));
    QVERIFY(m_fixture.Sync());
    QCOMPARE(TabOf("lobby"), mp_tabs->indexOf(form));
}

void TestRoomList::closingTabLeavesRoomOnce()
{
    QVERIFY(m_fixture.Sync());
    const int index = TabOf("lobby");
    QVERIFY(index >= 0);
    mainWindow->OnRoomTabClosed(index);
    QCOMPARE(TabOf("lobby"), -1);
    QVERIFY(!Room("lobby")["room_form"]);
    const QList<FakeServer::Frame> frames = m_fixture.FramesOf(15);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.first().raw, QByteArray::fromHex("0d000000 0f000000 05000000") + "lobby");

    // The server's confirmation; the next join opens a fresh tab.
    m_fixture.server.Send(15, FakeServer::Str("lobby"));
    QTRY_VERIFY(!Room("lobby").IsConnected("in_room"));
    m_fixture.server.Send(14, EmptyRoomJoin("lobby"));
    QTRY_VERIFY(TabOf("lobby") >= 0);
}

void TestRoomList::serverTakingRoomClosesTab()
{
    QVERIFY(TabOf("lobby") >= 0);
    QVERIFY(m_fixture.Sync());
    m_fixture.server.Send(15, FakeServer::Str("lobby"));
    QTRY_COMPARE(TabOf("lobby"), -1);
    QVERIFY(!Room("lobby")["room_form"]);
    // Nothing left to leave: no request.
    QVERIFY(m_fixture.FramesOf(15).isEmpty());
}

void TestRoomList::contextMenuEntersSelectedRoom()
{
    QVERIFY(m_fixture.Sync());
    mp_list->clearSelection();
    Row("big")->setSelected(true);
    const QPoint onQuiet = mp_list->visualItemRect(Row("quiet")).center();

    QStringList entries;
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* action : menu->actions())
            entries << action->text();
        menu->actions().first()->trigger();
        menu->close();
    });
    mainWindow->OnRoomListContextMenuRequested(onQuiet);
    QCOMPARE(entries, QStringList{"Enter Room"});
    const QList<FakeServer::Frame> frames = m_fixture.FramesOf(14);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.first().raw, EnterRequest("big"));

    // Below the last row: no menu at all.
    mainWindow->OnRoomListContextMenuRequested(QPoint(5, mp_list->viewport()->height() - 2));
    QVERIFY(!QApplication::activePopupWidget());

    // "Enter Room" without a selection does nothing.
    m_fixture.server.ClearFrames();
    mp_list->clearSelection();
    mainWindow->OnEnterRoom();
    QVERIFY(m_fixture.FramesOf(14).isEmpty());
}

void TestRoomList::privateRoomInvitationsFromServer()
{
    m_fixture.server.Send(141, FakeServer::U8(2));
    QTRY_COMPARE(GetSetting("enable_private_room_add"), QString("yes"));
    QCOMPARE(MainWindowFixture::ActionTexts(mp_list).at(2), QString("Reject Private Room Invitations"));
    m_fixture.server.Send(141, FakeServer::U8(0));
    QTRY_COMPARE(GetSetting("enable_private_room_add"), QString("no"));
    QCOMPARE(MainWindowFixture::ActionTexts(mp_list).at(2), QString("Accept Private Room Invitations"));
}

void TestRoomList::autojoinRoomIsEnteredAtNextStart()
{
    const QString binary = qEnvironmentVariable("TAVRINEL_BINARY");
    QVERIFY2(QFileInfo(binary).isExecutable(), "TAVRINEL_BINARY must name the built program");

    m_fixture.server.Send(14, EmptyRoomJoin("big"));
    QTRY_VERIFY(TabOf("big") >= 0);
    auto* form = qobject_cast<RoomForm*>(mp_tabs->widget(TabOf("big")));
    QVERIFY(MainWindowFixture::Trigger(form, "Toggle Room Autojoin"));
    QVERIFY(Room("big").IsConnected("room_autojoin"));

    // The next start talks to a server of its own, and listens where nothing else does.
    FakeServer next;
    QVERIFY(next.Listen());
    SetSetting("server_port", next.Port());
    SetSetting("listening_port", FreePort());
    mainWindow->EveryFiveMinutes();

    QFile saved(MainWindow::SaveFilePath());
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    const savefile::Parsed parsed = savefile::Parse(bytes);
    QVERIFY(parsed.ok);
    QCOMPARE(parsed.items.value("room").values(), QStringList{"big"});
    QCOMPARE(parsed.Linked("room", "big", "room_autojoin").size(), 1);

    QVERIFY(QDir(m_fixture.root.path()).mkpath("home2"));
    QVERIFY(QDir(m_fixture.root.path()).mkpath("tmp2"));
    QFile copy(m_fixture.root.filePath("home2/.Tavrinel"));
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.write(bytes);
    copy.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_fixture.root.filePath("home2"));
    env.insert("TMPDIR", m_fixture.root.filePath("tmp2"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(binary, QStringList());
    QVERIFY(program.waitForStarted());

    QVERIFY(next.WaitForConnection(20000));
    QVERIFY(next.WaitForFrames(1, 10000));
    QCOMPARE(next.Frames().first().code, quint32(1));
    next.SendRaw(FakeServer::LoginAccepted());
    QTRY_VERIFY_WITH_TIMEOUT(next.Codes().contains(14), 10000);
    QList<QByteArray> entered;
    for (const FakeServer::Frame& frame : next.Frames())
        if (frame.code == 14)
            entered << frame.raw;
    QCOMPARE(entered, QList<QByteArray>{EnterRequest("big")});

    QCOMPARE(::kill(static_cast<pid_t>(program.processId()), SIGTERM), 0);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitCode(), 0);
}

void TestRoomList::cleanupTestCase()
{
    delete mainWindow;
}

QTEST_MAIN(TestRoomList)
#include "tst_roomlist.moc"
