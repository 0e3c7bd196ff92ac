// The room list: rows from the server's list, counts and role fonts, entering a room by double
// click, a room tab on the server's confirmation, and auto-join rooms kept for the next start.

#include "mainwindowfixture.h"

#include "model/settings.h"
#include "ui/chat/roomform.h"

#include <QFont>
#include <QTabWidget>
#include <QTreeWidget>

namespace {

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
    return FakeServer::Str(room) + QByteArray(20, '\0');
}

// The enter-room request as the wire carries it: not private.
QByteArray EnterRequest(const QByteArray& room)
{
    return FakeServer::U32(static_cast<quint32>(12 + room.size())) + QByteArray::fromHex("0e000000") +
           FakeServer::U32(static_cast<quint32>(room.size())) + room + QByteArray::fromHex("00000000");
}

}  // namespace

class TestRoomList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void serverListFillsRows();
    void typingGoesToEnteredRoom();
    void changesTouchTheirRowsAlone();
    void doubleClickEntersRoomAndReplyOpensTab();
    void autojoinRoomIsEnteredAtNextStart();
    void cleanupTestCase() { delete mainWindow; }

private:
    QTreeWidgetItem* Row(const QString& name);
    QString Style(const QString& name);
    int TabOf(const QString& room);

    MainWindowFixture m_fixture;
    QTreeWidget* mp_list = nullptr;
    QTabWidget* mp_tabs = nullptr;
};

void TestRoomList::initTestCase()
{
    QVERIFY(m_fixture.Start());
    mp_list = Child<QTreeWidget>("roomList");
    mp_tabs = Child<QTabWidget>("roomsTabControl");
}

QTreeWidgetItem* TestRoomList::Row(const QString& name)
{
    const QList<QTreeWidgetItem*> rows = mp_list->findItems(name, Qt::MatchExactly, 0);
    return rows.size() == 1 ? rows.first() : nullptr;
}

QString TestRoomList::Style(const QString& name)
{
    const QFont font = Row(name)->font(0);
    return QString("%1%2%3").arg(font.italic() ? "i" : "", font.underline() ? "u" : "", font.bold() ? "b" : "");
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

    QCOMPARE(Row("quiet")->text(1), QString());
    QCOMPARE(Row("mine")->text(1) + Row("club")->text(1), QString("37"));

    // Operated and a member: the operator's style, which membership does not change. Operated
    // but not among the member rooms: no role.
    QCOMPARE(Style("mine"), QString("iub"));
    QCOMPARE(Style("club"), QString("ib"));
    QCOMPARE(Style("member"), QString("i"));
    QCOMPARE(Style("lobby"), QString());
}

// The first room entered opens in a tab that is already current: its input line, not the page,
// must take what the user types next.
void TestRoomList::typingGoesToEnteredRoom()
{
    QVERIFY(m_fixture.Sync());
    mainWindow->resize(1000, 600);
    Child<QTabWidget>("tabControl")->setCurrentIndex(1);
    mainWindow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mainWindow));
    m_fixture.server.Send(14, EmptyRoomJoin("nine"));
    QTRY_VERIFY(TabOf("nine") >= 0);
    QWidget* typed = QApplication::focusWidget();
    QVERIFY(typed);
    QTest::keyClicks(typed, "hello nine");
    QTest::keyClick(typed, Qt::Key_Return);
    const QList<FakeServer::Frame> lines = m_fixture.FramesOf(13);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.first().fields, FakeServer::Str("nine") + FakeServer::Str("hello nine"));
}

// A refreshed list and a role change touch their own rows only: the view is neither told of
// every count nor sorted again as a whole, which with thousands of rooms cost seconds.
void TestRoomList::changesTouchTheirRowsAlone()
{
    int sorts = 0, changes = 0;
    QObject watcher;
    connect(mp_list->model(), &QAbstractItemModel::layoutChanged, &watcher, [&sorts] { ++sorts; });
    connect(mp_list->model(), &QAbstractItemModel::dataChanged, &watcher, [&changes] { ++changes; });
    m_fixture.server.Send(64, StrList({"lobby", "quiet", "big", "nine"}) + IntList({6, 1, 10, 9}) +
                                  StrList({"mine"}) + IntList({3}) + StrList({"club", "member"}) +
                                  IntList({7, 2}) + StrList({"club"}));
    QTRY_COMPARE(Row("lobby")->text(1) + Row("quiet")->text(1), QString("61"));
    QCOMPARE(changes, 0);

    const auto names = [this] {
        QStringList texts;
        for (int k = 0; k < mp_list->topLevelItemCount(); ++k)
            texts << mp_list->topLevelItem(k)->text(0);
        return texts;
    };
    // Operated now, "member" stays where it was, after "club".
    m_fixture.server.Send(145, FakeServer::Str("member"));
    QTRY_COMPARE(Style("member"), QString("ib"));
    QCOMPARE(sorts, 0);
    QCOMPARE(names(), (QStringList{"mine", "club", "member", "big", "lobby", "nine", "quiet"}));
    m_fixture.server.Send(139, FakeServer::Str("quiet"));
    QTRY_COMPARE(names(), (QStringList{"mine", "club", "member", "quiet", "big", "lobby", "nine"}));
}

void TestRoomList::doubleClickEntersRoomAndReplyOpensTab()
{
    QVERIFY(m_fixture.Sync());
    mainWindow->resize(1000, 600);
    Child<QTabWidget>("tabControl")->setCurrentIndex(1);
    QTRY_VERIFY(mp_list->isVisible());
    QTreeWidgetItem* row = Row("lobby");
    mp_list->scrollToItem(row);
    // What the window system delivers for a double click: press, release, double click, release.
    QWidget* viewport = mp_list->viewport();
    const QPoint pos(10, mp_list->visualItemRect(row).center().y());
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                              QEvent::MouseButtonRelease}) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, pos, viewport->mapToGlobal(pos), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    }
    const QList<FakeServer::Frame> frames = m_fixture.FramesOf(14);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.first().raw, EnterRequest("lobby"));
    QCOMPARE(TabOf("lobby"), -1);

    m_fixture.server.Send(14, EmptyRoomJoin("lobby"));
    QTRY_VERIFY(TabOf("lobby") >= 0);
    QCOMPARE(mp_tabs->currentIndex(), TabOf("lobby"));
}

void TestRoomList::autojoinRoomIsEnteredAtNextStart()
{
    m_fixture.server.Send(14, EmptyRoomJoin("big"));
    QTRY_VERIFY(TabOf("big") >= 0);
    auto* form = qobject_cast<RoomForm*>(mp_tabs->widget(TabOf("big")));
    QVERIFY(MainWindowFixture::Trigger(form, "Auto-Join Room [off]"));
    QVERIFY(d.GetType("room")->GetItem(Value("big")).IsConnected("room_autojoin"));

    // The next start talks to a server of its own, and listens where nothing else does.
    FakeServer next;
    QVERIFY(next.Listen());
    SetSetting("server_port", next.Port());
    SetSetting("listening_port", FreePort());
    mainWindow->EveryFiveMinutes();

    QFile saved(MainWindow::SaveFilePath());
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const savefile::Parsed parsed = savefile::Parse(saved.readAll());
    QCOMPARE(parsed.Linked("room", "big", "room_autojoin").size(), 1);

    // The program starts from that file, in the same home.
    ChildProcess program;
    QVERIFY(StartProgram(program));
    QVERIFY(next.WaitForConnection(20000));
    QVERIFY(next.WaitForFrames(1, 10000));
    QCOMPARE(next.Frames().first().code, quint32(1));
    next.SendRaw(FakeServer::LoginAccepted());
    QTRY_VERIFY_WITH_TIMEOUT(next.Codes().contains(14), 10000);
    QVERIFY(next.RawBytes().contains(EnterRequest("big")));
    QVERIFY(TerminateProgram(program));
}

QTEST_MAIN(TestRoomList)
#include "tst_roomlist.moc"
