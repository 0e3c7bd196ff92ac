// The context toolbar's actions that the main window carries out: the questions they ask before
// giving up a room, the refusal while online, and where a room's chat log may live.

#include "mainwindowfixture.h"

#include "ui/chat/chatlogform.h"
#include "ui/chat/roomform.h"
#include "ui/settings/changeusernamepassworddialog.h"

#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextEdit>

namespace {

ItemPtr Room(const QString& name)
{
    return d.GetType("room")->GetItem(Value(name));
}

// A room the client is in, with its tab open.
RoomForm* EnteredRoom(const QString& name)
{
    Room(name).NewItem("in_room");
    ItemPtr link = Room(name)["room_form"];
    return link ? reinterpret_cast<RoomForm*>(static_cast<uintptr_t>(link.AsUInt64())) : nullptr;
}

}  // namespace

class TestToolBarActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_fixture.Start()); }
    void giveUpOwnershipNeedsTwoYes();
    void roomChatLogStaysInLogFolder();
    void actionsWithoutSubjectDoNothing();
    void closedTabsCanBeOpenedAgain();
    void logViewerShowsOnlyTheTail();
    void setUserPassDependsOnLogin();  // ends offline
    void cleanupTestCase() { delete mainWindow; }

private:
    MainWindowFixture m_fixture;
};

void TestToolBarActions::giveUpOwnershipNeedsTwoYes()
{
    const QString name = "<b>club</b>";
    Room(name).NewItem("is_owner");
    RoomForm* form = EnteredRoom(name);
    QVERIFY(form);
    const QByteArray giveUp = QByteArray::fromHex("13000000 89000000 0b000000") + name.toUtf8();
    const QByteArray leave = QByteArray::fromHex("13000000 0f000000 0b000000") + name.toUtf8();

    QVERIFY(m_fixture.Sync());
    {
        BoxAnswerer answers({QMessageBox::No});
        QVERIFY(MainWindowFixture::Trigger(form, "Give Up Room"));
        QCOMPARE(answers.seen.size(), 1);
        const BoxAnswerer::Seen& first = answers.seen.first();
        QCOMPARE(first.title, QString("Give up membership?"));
        QCOMPARE(first.text,
                 QString("Are you SURE you want to give up your ownership of the <b>club</b> private room?"));
        // The room's name is the server's text: shown as it is, never as markup.
        QCOMPARE(first.format, Qt::PlainText);
        QCOMPARE(first.defaultButton, QMessageBox::No);
    }
    {
        BoxAnswerer answers({QMessageBox::Yes, QMessageBox::No});
        QVERIFY(MainWindowFixture::Trigger(form, "Give Up Room"));
        QCOMPARE(answers.seen.size(), 2);
        QCOMPARE(answers.seen.at(1).defaultButton, QMessageBox::No);
    }
    QVERIFY(m_fixture.FramesOf(137).isEmpty());
    QVERIFY(m_fixture.FramesOf(15).isEmpty());

    BoxAnswerer answers({QMessageBox::Yes, QMessageBox::Yes});
    QVERIFY(MainWindowFixture::Trigger(form, "Give Up Room"));
    QCOMPARE(answers.seen.size(), 2);
    QCOMPARE(m_fixture.FramesOf(137).size() + m_fixture.FramesOf(15).size(), 2);
    // Give-up first, then leave, in that order on the wire.
    const QByteArray wire = m_fixture.server.RawBytes();
    QVERIFY(wire.indexOf(giveUp) >= 0 && wire.indexOf(giveUp) < wire.indexOf(leave));

    // Not the owner: nothing, not even a question.
    Room(name).Disconnect("is_owner");
    m_fixture.server.ClearFrames();
    BoxAnswerer none({QMessageBox::Yes, QMessageBox::Yes});
    QVERIFY(MainWindowFixture::Trigger(form, "Give Up Room"));
    QVERIFY(none.seen.isEmpty());
    QVERIFY(m_fixture.FramesOf(137).isEmpty());
}

void TestToolBarActions::roomChatLogStaysInLogFolder()
{
    auto* tabs = Child<QTabWidget>("roomsTabControl");
    const QString folder = QDir::homePath() + "/Tavrinel Chat Logs/Rooms/";
    for (const QString name : {"../../.Tavrinel", "..", "a/b\\c"}) {
        RoomForm* form = EnteredRoom(name);
        QVERIFY(form);
        QVERIFY(MainWindowFixture::Trigger(form, "Chat Log"));
        auto* viewer = qobject_cast<ChatLogForm*>(tabs->currentWidget());
        QVERIFY(viewer);
        const QString path = viewer->Path();
        QVERIFY2(path.startsWith(folder), qPrintable(path));
        const QString file = path.mid(folder.size());
        QVERIFY2(!file.contains('/') && !file.contains(QChar(0)) && !file.startsWith('.'), qPrintable(path));
        QCOMPARE(QFileInfo(path).absolutePath() + "/", folder);
    }
}

void TestToolBarActions::setUserPassDependsOnLogin()
{
    auto* login = Child<QWidget>("loginOptionsTab");
    QVERIFY(gp_server->IsConnected());
    {
        BoxAnswerer answers({QMessageBox::Ok});
        QVERIFY(MainWindowFixture::Trigger(login, "Change Username/Password"));
        QCOMPARE(answers.Titles(), QStringList{"Cannot change username while online"});
    }
    QVERIFY(Visible<ChangeUsernamePasswordDialog>().isEmpty());

    gp_server->Disconnect();
    QVERIFY(MainWindowFixture::Trigger(login, "Change Username/Password"));
    QCOMPARE(Visible<ChangeUsernamePasswordDialog>().size(), 1);
    Visible<ChangeUsernamePasswordDialog>().first()->reject();
}

void TestToolBarActions::actionsWithoutSubjectDoNothing()
{
    // No room and no user published, as before any row was ever picked.
    d.GetType("active_action_key")->GetItems().Remove();
    QCOMPARE(actionBar->GetKey("room"), QString());
    QCOMPARE(actionBar->GetKey("user"), QString());
    QVERIFY(m_fixture.Sync());
    const int roomTabs = Child<QTabWidget>("roomsTabControl")->count();
    const int chatTabs = Child<QTabWidget>("chatTabControl")->count();
    BoxAnswerer answers({QMessageBox::Yes, QMessageBox::Yes});
    for (const char* id : {"enter_room", "toggle_room_autojoin", "room_chat_log", "give_up_membership",
                           "give_up_ownership", "browse_user", "message_user", "add_user"})
        mainWindow->OnToolBarActionTriggered(nullptr, id);
    QVERIFY(answers.seen.isEmpty());
    QVERIFY(!d.GetType("room")->HasItem(Value("")));
    QVERIFY(!d.GetType("user")->HasItem(Value("")));
    QCOMPARE(Child<QTabWidget>("roomsTabControl")->count(), roomTabs);
    QCOMPARE(Child<QTabWidget>("chatTabControl")->count(), chatTabs);
    m_fixture.FramesOf(7);
    QCOMPARE(m_fixture.server.Codes(), QList<quint32>{7});  // only the sync marker
}

// A closed room, conversation or log tab leaves no link to its dead widget: the next open makes a new one.
void TestToolBarActions::closedTabsCanBeOpenedAgain()
{
    auto* rooms = Child<QTabWidget>("roomsTabControl");
    RoomForm* room = EnteredRoom("lounge");
    QVERIFY(room);
    QVERIFY(MainWindowFixture::Trigger(room, "Chat Log"));
    auto* log = qobject_cast<ChatLogForm*>(rooms->currentWidget());
    QVERIFY(log);
    mainWindow->OnRoomTabClosed(rooms->indexOf(log));
    QVERIFY(MainWindowFixture::Trigger(room, "Chat Log"));
    log = qobject_cast<ChatLogForm*>(rooms->currentWidget());
    QVERIFY(log);
    mainWindow->OnRoomTabClosed(rooms->indexOf(log));

    mainWindow->OnRoomTabClosed(rooms->indexOf(room));
    Room("lounge").Disconnect("in_room");
    QVERIFY(EnteredRoom("lounge"));
    QCOMPARE(qobject_cast<RoomForm*>(rooms->currentWidget()), EnteredRoom("lounge"));

    auto* chats = Child<QTabWidget>("chatTabControl");
    mainWindow->OpenChatForm("frank");
    mainWindow->OnChatTabClosed(chats->currentIndex());
    const int count = chats->count();
    mainWindow->OpenChatForm("frank");
    QCOMPARE(chats->count(), count + 1);
    QCOMPARE(chats->tabText(chats->currentIndex()), QString("frank"));
}

void TestToolBarActions::logViewerShowsOnlyTheTail()
{
    QTemporaryDir dir;
    QFile file(dir.filePath("big.log"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("old line\n");
    const QByteArray line = "0123456789abcde\n";
    for (qint64 k = 0; k < ChatLogForm::kMaxShownBytes / line.size(); ++k)
        file.write(line);
    file.close();
    ChatLogForm viewer(file.fileName());
    const QString shown = viewer.findChild<QTextEdit*>("logEdit")->toPlainText();
    // One paragraph per line: the last line feed ends the last paragraph.
    QCOMPARE(shown.size(), int(ChatLogForm::kMaxShownBytes) - 1);
    QVERIFY(shown.startsWith("0123"));
}

QTEST_MAIN(TestToolBarActions)
#include "tst_toolbaractions.moc"
