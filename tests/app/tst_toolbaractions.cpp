// The context toolbar's actions that the main window carries out: the requests they send, the
// questions they ask first, and the dialogs and tabs they open.

#include "mainwindowfixture.h"

#include "model/settings.h"
#include "shares/sharedfoldersmanager.h"
#include "ui/chat/chatform.h"
#include "ui/chat/chatlogform.h"
#include "ui/chat/createroomdialog.h"
#include "ui/chat/roomform.h"
#include "ui/settings/changeusernamepassworddialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTreeWidget>

namespace {

ItemPtr Room(const QString& name)
{
    return d.GetType("room")->GetItem(Value(name));
}

}  // namespace

class TestToolBarActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void setsShowTheirActionsInOrder();
    void createRoomDialogIsReusedThenSends();
    void privateRoomInvitationsToggleFollowsServer();
    void giveUpOwnershipNeedsTwoYes();
    void toggleRoomAutojoin();
    void roomChatLogOpensOneTab();
    void roomChatLogStaysInLogFolder();
    void userActionsNeedAUser();
    void setUserPassDependsOnLogin();
    void connectDisconnectWhileConnecting();
    void otherIdsChangeNothing();
    void cleanupTestCase();

private:
    // A room the client is in, with its tab open.
    RoomForm* EnteredRoom(const QString& name);

    MainWindowFixture m_fixture;
};

void TestToolBarActions::initTestCase()
{
    QVERIFY(m_fixture.Start());
}

RoomForm* TestToolBarActions::EnteredRoom(const QString& name)
{
    Room(name).NewItem("in_room");
    ItemPtr link = Room(name)["room_form"];
    return link ? reinterpret_cast<RoomForm*>(static_cast<uintptr_t>(link.AsUInt64())) : nullptr;
}

void TestToolBarActions::setsShowTheirActionsInOrder()
{
    QCOMPARE(MainWindowFixture::ActionTexts(MainWindowFixture::Child<QWidget>("roomList")),
             (QStringList{"Create Room", "Refresh Room List", "Accept Private Room Invitations"}));
    QCOMPARE(MainWindowFixture::ActionTexts(MainWindowFixture::Child<QWidget>("loginOptionsTab")),
             (QStringList{"Disconnect", "Change Username/Password", "Change Listening Port"}));
    QCOMPARE(MainWindowFixture::ActionTexts(MainWindowFixture::Child<QWidget>("fileSharingOptionsTab")),
             (QStringList{"Set Download Folder", "Share Folder", "Rescan Shares"}));
    RoomForm* form = EnteredRoom("actions");
    QVERIFY(form);
    QCOMPARE(MainWindowFixture::ActionTexts(form).mid(0, 2), (QStringList{"Toggle Room Autojoin", "Chat Log"}));
}

void TestToolBarActions::createRoomDialogIsReusedThenSends()
{
    QVERIFY(m_fixture.Sync());
    auto* list = MainWindowFixture::Child<QWidget>("roomList");
    QVERIFY(MainWindowFixture::Trigger(list, "Create Room"));
    QVERIFY(MainWindowFixture::Trigger(list, "Create Room"));
    CreateRoomDialog* dialog = createRoomDialog;
    QCOMPARE(Visible<CreateRoomDialog>(), QList<CreateRoomDialog*>{dialog});

    auto* name = dialog->findChild<QLineEdit*>("roomNameEdit");
    auto* button = dialog->findChild<QPushButton*>("createRoomButton");
    name->setText("   ");
    button->click();
    QVERIFY(m_fixture.FramesOf(14).isEmpty());
    QCOMPARE(createRoomDialog, dialog);

    name->setText("  new room ");
    dialog->findChild<QCheckBox*>("createPrivateCheckBox")->setChecked(true);
    QPointer<CreateRoomDialog> guard(dialog);
    button->click();
    const QList<FakeServer::Frame> frames = m_fixture.FramesOf(14);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.first().raw, QByteArray::fromHex("14000000 0e000000 08000000") + "new room" +
                                     QByteArray::fromHex("01000000"));
    QVERIFY(!createRoomDialog);
    QTRY_VERIFY(guard.isNull());

    // The next use makes a fresh, empty dialog.
    QVERIFY(MainWindowFixture::Trigger(list, "Create Room"));
    QVERIFY(createRoomDialog);
    QVERIFY(createRoomDialog->findChild<QLineEdit*>("roomNameEdit")->text().isEmpty());
    createRoomDialog->close();
}

void TestToolBarActions::privateRoomInvitationsToggleFollowsServer()
{
    QVERIFY(m_fixture.Sync());
    auto* list = MainWindowFixture::Child<QWidget>("roomList");
    // Login reset the setting to "no": the action asks to accept.
    QCOMPARE(GetSetting("enable_private_room_add"), QString("no"));
    QVERIFY(MainWindowFixture::Trigger(list, "Accept Private Room Invitations"));
    QList<FakeServer::Frame> frames = m_fixture.FramesOf(141);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.first().raw, QByteArray::fromHex("05000000 8d000000 01"));
    // The request alone changes neither the setting nor the text; the server's answer does
    // (its effect is pinned with the room list).
    QCOMPARE(GetSetting("enable_private_room_add"), QString("no"));
    QCOMPARE(MainWindowFixture::ActionTexts(list).at(2), QString("Accept Private Room Invitations"));
    emit gp_server->PrivateRoomAddEnabled(true);
    m_fixture.server.ClearFrames();
    QVERIFY(MainWindowFixture::Trigger(list, "Reject Private Room Invitations"));
    frames = m_fixture.FramesOf(141);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.first().raw, QByteArray::fromHex("05000000 8d000000 00"));
    emit gp_server->PrivateRoomAddEnabled(false);
}

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
        QCOMPARE(first.parent, nullptr);
        QCOMPARE(first.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(first.defaultButton, QMessageBox::No);
    }
    {
        BoxAnswerer answers({QMessageBox::Yes, QMessageBox::No});
        QVERIFY(MainWindowFixture::Trigger(form, "Give Up Room"));
        QCOMPARE(answers.seen.size(), 2);
        QCOMPARE(answers.seen.at(1).text, QString("REALLY?"));
        QCOMPARE(answers.seen.at(1).parent, nullptr);
        QCOMPARE(answers.seen.at(1).defaultButton, QMessageBox::No);
    }
    QVERIFY(m_fixture.FramesOf(137).isEmpty());
    QVERIFY(m_fixture.FramesOf(15).isEmpty());

    BoxAnswerer answers({QMessageBox::Yes, QMessageBox::Yes});
    QVERIFY(MainWindowFixture::Trigger(form, "Give Up Room"));
    QCOMPARE(answers.seen.size(), 2);
    QList<QByteArray> sent;
    for (const FakeServer::Frame& frame : m_fixture.FramesOf(137) + m_fixture.FramesOf(15))
        sent << frame.raw;
    QCOMPARE(sent, (QList<QByteArray>{giveUp, leave}));
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

void TestToolBarActions::toggleRoomAutojoin()
{
    RoomForm* form = EnteredRoom("auto");
    QVERIFY(!Room("auto").IsConnected("room_autojoin"));
    QVERIFY(MainWindowFixture::Trigger(form, "Toggle Room Autojoin"));
    QVERIFY(Room("auto").IsConnected("room_autojoin"));
    QVERIFY(MainWindowFixture::Trigger(form, "Toggle Room Autojoin"));
    QVERIFY(!Room("auto").IsConnected("room_autojoin"));
}

void TestToolBarActions::roomChatLogOpensOneTab()
{
    auto* tabs = MainWindowFixture::Child<QTabWidget>("roomsTabControl");
    const QString folder = QDir::homePath() + "/Tavrinel Chat Logs/Rooms";
    QVERIFY(QDir().mkpath(folder));
    QFile log(folder + "/logged.log");
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write("12:00 bob: <b>not bold</b>\n");
    log.close();

    RoomForm* form = EnteredRoom("logged");
    const int before = tabs->count();
    QVERIFY(MainWindowFixture::Trigger(form, "Chat Log"));
    QCOMPARE(tabs->count(), before + 1);
    auto* viewer = qobject_cast<ChatLogForm*>(tabs->currentWidget());
    QVERIFY(viewer);
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QString("logged"));
    QCOMPARE(viewer->Path(), folder + "/logged.log");
    QCOMPARE(viewer->findChild<QTextEdit*>("logEdit")->toPlainText(), QString("12:00 bob: <b>not bold</b>\n"));

    // The second time focuses the open viewer.
    tabs->setCurrentWidget(form);
    QVERIFY(MainWindowFixture::Trigger(form, "Chat Log"));
    QCOMPARE(tabs->count(), before + 1);
    QCOMPARE(tabs->currentWidget(), static_cast<QWidget*>(viewer));

    // Closed, it can be opened again.
    mainWindow->OnRoomTabClosed(tabs->indexOf(viewer));
    QCOMPARE(tabs->count(), before);
    QVERIFY(!Room("logged")["chat_log_form"]);
    QVERIFY(MainWindowFixture::Trigger(form, "Chat Log"));
    QCOMPARE(tabs->count(), before + 1);
}

void TestToolBarActions::roomChatLogStaysInLogFolder()
{
    auto* tabs = MainWindowFixture::Child<QTabWidget>("roomsTabControl");
    const QString folder = QDir::homePath() + "/Tavrinel Chat Logs/Rooms/";
    const QStringList names{"../../.Tavrinel", "..", ".", "a/b\\c", "\\..\\x"};
    for (const QString& name : names) {
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

void TestToolBarActions::userActionsNeedAUser()
{
    auto* chats = MainWindowFixture::Child<QTabWidget>("chatTabControl");
    const int before = chats->count();
    // Nothing has published a user: the actions have no subject and do nothing.
    QVERIFY(actionBar->GetKey("user").isEmpty());
    mainWindow->OnToolBarActionTriggered(nullptr, "message_user");
    mainWindow->OnToolBarActionTriggered(nullptr, "add_user");
    QCOMPARE(chats->count(), before);
    QVERIFY(!d.GetType("user")->HasItem(Value("")));

    // A view that offers them publishes its user.
    QWidget view;
    actionBar->RegisterWidget(&view, "user");
    actionBar->AddWidgetKey(&view, "user", "bob");
    QCOMPARE(MainWindowFixture::ActionTexts(&view), (QStringList{"Message User", "Browse User's Files", "Add User"}));
    QVERIFY(MainWindowFixture::Trigger(&view, "Message User"));
    QCOMPARE(chats->count(), before + 1);
    auto* form = qobject_cast<ChatForm*>(chats->currentWidget());
    QVERIFY(form);
    QCOMPARE(form->User(), QString("bob"));
    QVERIFY(MainWindowFixture::Trigger(&view, "Add User"));
    QVERIFY(d.GetType("user")->GetItem(Value("bob")).IsConnected("in_user_list"));
}

void TestToolBarActions::setUserPassDependsOnLogin()
{
    auto* login = MainWindowFixture::Child<QWidget>("loginOptionsTab");
    QVERIFY(gp_server->IsConnected());
    {
        BoxAnswerer answers({QMessageBox::Ok});
        QVERIFY(MainWindowFixture::Trigger(login, "Change Username/Password"));
        QCOMPARE(answers.seen.size(), 1);
        QCOMPARE(answers.seen.first().title, QString("Cannot change username while online"));
        QCOMPARE(answers.seen.first().text,
                 QString("You must be disconnected from the Tavrinel server to change your username."));
        QCOMPARE(answers.seen.first().parent, static_cast<QWidget*>(mainWindow));
        QCOMPARE(answers.seen.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
    QVERIFY(Visible<ChangeUsernamePasswordDialog>().isEmpty());

    gp_server->Disconnect();
    QVERIFY(MainWindowFixture::Trigger(login, "Change Username/Password"));
    QCOMPARE(Visible<ChangeUsernamePasswordDialog>().size(), 1);
    Visible<ChangeUsernamePasswordDialog>().first()->reject();
}

void TestToolBarActions::connectDisconnectWhileConnecting()
{
    auto* login = MainWindowFixture::Child<QWidget>("loginOptionsTab");
    QCOMPARE(gp_server->GetConnectionState(), int(Server::StateDisconnected));
    m_fixture.server.ClearFrames();
    QVERIFY(MainWindowFixture::Trigger(login, "Connect"));
    QVERIFY(m_fixture.server.WaitForConnection());
    const int connections = m_fixture.server.ConnectionCount();
    QTRY_COMPARE(MainWindowFixture::ActionTexts(login).first(), QString("Connecting..."));
    // Still connecting: the action connects again rather than disconnecting.
    QVERIFY(MainWindowFixture::Trigger(login, "Connecting..."));
    QVERIFY(gp_server->GetConnectionState() != int(Server::StateDisconnected));
    QVERIFY(m_fixture.server.WaitForFrames(1));
    QCOMPARE(m_fixture.server.ConnectionCount(), connections);
    m_fixture.server.SendRaw(FakeServer::LoginAccepted());
    QTRY_VERIFY(gp_server->IsConnected());
    QVERIFY(m_fixture.Sync());

    QVERIFY(MainWindowFixture::Trigger(login, "Disconnect"));
    QCOMPARE(gp_server->GetConnectionState(), int(Server::StateDisconnected));
    m_fixture.server.ClearFrames();
    QVERIFY(MainWindowFixture::Trigger(login, "Connect"));
    QVERIFY(m_fixture.server.WaitForConnection());
    QVERIFY(m_fixture.server.WaitForFrames(1));
    m_fixture.server.SendRaw(FakeServer::LoginAccepted());
    QTRY_VERIFY(gp_server->IsConnected());
    QVERIFY(m_fixture.Sync());
}

void TestToolBarActions::otherIdsChangeNothing()
{
    QVERIFY(m_fixture.Sync());
    auto* rooms = MainWindowFixture::Child<QTabWidget>("roomsTabControl");
    auto* chats = MainWindowFixture::Child<QTabWidget>("chatTabControl");
    const int roomTabs = rooms->count();
    const int chatTabs = chats->count();
    const size_t items = d.GetType("room")->ItemCount() + d.GetType("user")->ItemCount();
    const QString settingBefore = GetSetting("enable_private_room_add");

    for (const char* id : {"abort_download", "Refresh_room_list", "refresh_room_list ", "", "user_chat_log",
                           "clear_chat_log"})
        emit actionBar->ActionTriggered(nullptr, id);

    QCOMPARE(rooms->count(), roomTabs);
    QCOMPARE(chats->count(), chatTabs);
    QCOMPARE(d.GetType("room")->ItemCount() + d.GetType("user")->ItemCount(), items);
    QCOMPARE(GetSetting("enable_private_room_add"), settingBefore);
    QVERIFY(m_fixture.FramesOf(64).isEmpty());
}

void TestToolBarActions::cleanupTestCase()
{
    delete mainWindow;
}

QTEST_MAIN(TestToolBarActions)
#include "tst_toolbaractions.moc"
