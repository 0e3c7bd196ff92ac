// The main window in-process: first run without a user name, the form's first state, the
// defaults, connection status, login-refusal boxes, icons, tray, geometry and the saves.

#include "mainwindowfixture.h"

#include "model/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QSplitter>
#include <QToolBar>
#include <QTreeWidget>

namespace {

QImage IconImage(const QIcon& icon)
{
    return icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firstRunCancelledMakesNoConnection();
    void formStartsOnRoomsAndLogin();
    void defaultsAndFirstState();
    void connectActionFollowsConnectionState();
    void dropAfterLoginShowsNoBox();
    void loginRefusalBoxes_data();
    void loginRefusalBoxes();
    void applicationIconFollowsState();
    void trayWithoutSystemTray();
    void geometryGoesThroughSizeProxy();
    void periodicSaveWritesSaveFile();
    void screenshot();
    void cleanupTestCase();

private:
    QString ConnectActionText();
    bool LogIn();

    MainWindowFixture m_fixture;
    FakeServer& m_server = m_fixture.server;
};

void TestMainWindow::initTestCase()
{
    // No user name: the first-run dialog opens.
    QVERIFY(m_fixture.Open());
}

void TestMainWindow::firstRunCancelledMakesNoConnection()
{
    QCOMPARE(m_fixture.firstRunTitles, QStringList{"Set Username/Password"});
    QVERIFY(!HasSetting("username"));
    QCOMPARE(gp_server->GetConnectionState(), int(Server::StateDisconnected));
    QCoreApplication::processEvents();
    QCOMPARE(m_server.ConnectionCount(), 0);
}

void TestMainWindow::formStartsOnRoomsAndLogin()
{
    QCOMPARE(mainWindow->windowTitle(), QString("TavrinelQt build 8/5/2012"));

    auto* tabs = Child<QTabWidget>("tabControl");
    QStringList titles;
    for (int k = 0; k < tabs->count(); ++k)
        titles << tabs->tabText(k);
    QCOMPARE(titles, (QStringList{"Transfers", "Rooms", "Chat", "Search", "Users", "Browse", "Options", "Diagnostics"}));
    QCOMPARE(tabs->currentIndex(), 1);
    QCOMPARE(Child<QTabWidget>("roomsTabControl")->currentIndex(), -1);
    auto* options = Child<QTabWidget>("optionsTabControl");
    QCOMPARE(options->currentIndex(), 0);
    QCOMPARE(options->tabText(0), QString("Login"));
    QCOMPARE(options->tabText(3), QString("User Info"));

    auto* stamps = Child<QComboBox>("chatTimestampsBox");
    QCOMPARE(stamps->count(), 4);
    QCOMPARE(stamps->itemText(3), QString("No timestamps"));
    QCOMPARE(Child<QComboBox>("codePageBox")->itemText(0), QString("[None]"));
    auto* rooms = Child<QTreeWidget>("roomList");
    QCOMPARE(rooms->headerItem()->text(0), QString("Room Name"));
    QCOMPARE(rooms->headerItem()->text(1), QString("Users"));
    QCOMPARE(Child<QTreeWidget>("sharedFoldersList")->headerItem()->text(1), QString("Accessible to"));
    auto* spin = Child<QSpinBox>("maxUploadsPerUserSpinBox");
    QCOMPARE(spin->minimum(), 0);
    QCOMPARE(spin->maximum(), 99999);
    QVERIFY(!Child<QWidget>("saveEmptyShareWarningMessageButton")->isEnabled());
    QCOMPARE(Child<QAction>("action_Connect")->text(), QString("&Connect"));
    QVERIFY(!Child<QAction>("action_Disconnect")->isEnabled());
    QVERIFY(Child<QLineEdit>("usernameEdit")->isReadOnly());

    auto* toolbar = Child<QToolBar>("mainToolBar");
    QCOMPARE(toolbar, static_cast<QToolBar*>(actionBar));
    QVERIFY(!toolbar->isMovable());
    QCOMPARE(toolbar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QCOMPARE(mainWindow->toolBarArea(toolbar), Qt::TopToolBarArea);
}

void TestMainWindow::defaultsAndFirstState()
{
    QCOMPARE(GetSetting("minimize_to_tray"), QString("yes"));
    QCOMPARE(GetSetting("expand_new_shares"), QString("yes"));
    QCOMPARE(GetSetting("chat_timestamps"), QString("activity_based"));
    QCOMPARE(GetSetting("color_transfer_failed"), QString("#ff0a47"));
    QCOMPARE(GetSetting("color_chat_status"), QString("#339933"));
    QCOMPARE(GetSetting("color_window_background"), defaultPalette.color(QPalette::Window).name());
    QCOMPARE(GetSetting("color_button_text"), defaultPalette.color(QPalette::ButtonText).name());
    QCOMPARE(GetSetting("log_room_chat"), QString("yes"));
    QCOMPARE(GetSetting("data_version"), QString("1"));
    // Stored values replace defaults.
    QCOMPARE(GetSetting("use_upnp"), QString("no"));
    QCOMPARE(GetSetting("listening_port"), QString::number(m_fixture.listeningPort));

    QCOMPARE(QApplication::palette().color(QPalette::Window).name(), GetSetting("color_window_background"));

    QCOMPARE(Child<QLineEdit>("downloadFolderEdit")->text(), m_fixture.root.filePath("home") + "/Tavrinel Downloads");
    QCOMPARE(Child<QLineEdit>("listeningPortEdit")->text(), QString::number(m_fixture.listeningPort));
    QVERIFY(!Child<QCheckBox>("uPnPCheckBox")->isChecked());
    QVERIFY(Child<QCheckBox>("autoExpandSharesCheckBox")->isChecked());
    QVERIFY(Child<QCheckBox>("minimizeToTrayCheckBox")->isChecked());
    QVERIFY(Child<QCheckBox>("logRoomChatCheckBox")->isChecked());
    QVERIFY(Child<QCheckBox>("logPrivateChatCheckBox")->isChecked());
    QVERIFY(!Child<QCheckBox>("emptyShareWarningCheckBox")->isChecked());
    QVERIFY(!Child<QCheckBox>("showAwayStatusCheckBox")->isChecked());
    QCOMPARE(Child<QComboBox>("chatTimestampsBox")->currentIndex(), 0);
    QCOMPARE(Child<QComboBox>("codePageBox")->currentIndex(), 0);
    QCOMPARE(Child<QSpinBox>("maxUploadsPerUserSpinBox")->value(), 200);
    auto* message = Child<QLineEdit>("emptyShareWarningEdit");
    QVERIFY(message->text().startsWith("It looks like you're not sharing any files."));
    QCOMPARE(message->cursorPosition(), 0);
}

QString TestMainWindow::ConnectActionText()
{
    // What the login page's toolbar shows for the action.
    QWidget* page = Child<QWidget>("loginOptionsTab");
    actionBar->ChangeSet(page, "login_options");
    // The toolbar leads with widgets of its own (status button, spacer); the set's actions follow.
    for (QAction* action : actionBar->actions())
        if (!qobject_cast<QWidgetAction*>(action))
            return action->text();
    return QString();
}

bool TestMainWindow::LogIn()
{
    m_server.ClearFrames();
    gp_server->Connect();
    return m_server.WaitForConnection() && m_server.WaitForFrames(1) && m_server.Frames().first().code == 1;
}

void TestMainWindow::connectActionFollowsConnectionState()
{
    QCOMPARE(ConnectActionText(), QString("Connect"));
    SetSetting("username", "alice");
    SetSetting("password", "secret");

    QVERIFY(LogIn());
    QCOMPARE(ConnectActionText(), QString("Connecting..."));

    m_server.SendRaw(FakeServer::LoginAccepted());
    QTRY_COMPARE(ConnectActionText(), QString("Disconnect"));
    QCOMPARE(GetSetting("enable_private_room_add"), QString("no"));
    QTRY_VERIFY(m_server.Codes().contains(92));

    m_server.DropClient();
    QTRY_COMPARE(ConnectActionText(), QString("Connect"));
}

void TestMainWindow::dropAfterLoginShowsNoBox()
{
    // The last test ended with a drop: a failed reconnection is not a login failure.
    QVERIFY(gp_server->IsAbruptlyDisconnected());
    SetSetting("server_port", FreePort());
    QSignalSpy failures(gp_server, &Server::ConnectionFailed);
    gp_server->AttemptReconnect();
    QTRY_COMPARE(failures.count(), 1);
    QCoreApplication::processEvents();
    QVERIFY(Visible<QMessageBox>().isEmpty());
    QCOMPARE(ConnectActionText(), QString("Connect"));
    SetSetting("server_port", m_server.Port());
}

void TestMainWindow::loginRefusalBoxes_data()
{
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    const QString tail = " Please change your login settings in the Options tab and try reconnecting.";
    QTest::newRow("wrong password")
        << "INVALIDPASS" << "Login Failure: Wrong Password"
        << "Login failed. The password you supplied does not match your username." + tail;
    QTest::newRow("invalid user name")
        << "INVALIDUSERNAME" << "Login Failure: Username is Invalid"
        << "Login failed. The username you supplied is invalid." + tail;
    QTest::newRow("near miss") << "INVALIDPASS " << "Login Failure"
                               << "Login failed. Reported failure reason: INVALIDPASS ." + tail;
    QTest::newRow("markup stays text") << "<b>banned</b> &amp; <a href='x'>gone</a>" << "Login Failure"
                                       << "Login failed. Reported failure reason: <b>banned</b> &amp; "
                                          "<a href='x'>gone</a>." + tail;
}

void TestMainWindow::loginRefusalBoxes()
{
    QFETCH(QString, reason);
    QFETCH(QString, title);
    QFETCH(QString, text);

    QVERIFY(LogIn());
    QCOMPARE(ConnectActionText(), QString("Connecting..."));
    m_server.SendRaw(FakeServer::LoginRefused(reason));
    QTRY_COMPARE(Visible<QMessageBox>().size(), 1);
    QMessageBox* box = Visible<QMessageBox>().first();
    QCOMPARE(box->windowTitle(), title);
    QCOMPARE(box->text(), text);
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(box->parentWidget(), static_cast<QWidget*>(mainWindow));
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(ConnectActionText(), QString("Connect"));
    box->accept();
    QTRY_VERIFY(Visible<QMessageBox>().isEmpty());
}

void TestMainWindow::applicationIconFollowsState()
{
    const QImage offline = IconImage(QIcon(":/icons/offline_icon"));
    const QImage online = IconImage(QIcon(":/icons/online_icon"));
    QVERIFY(!offline.isNull());
    QVERIFY(offline != online);

    SetApplicationIcon(":/icons/online_icon");
    QCOMPARE(IconImage(mainWindow->windowIcon()), online);
    QCOMPARE(IconImage(QApplication::windowIcon()), online);
    ResetApplicationIcon();
    QCOMPARE(IconImage(mainWindow->windowIcon()), offline);

    // Logged in and away, without the away mark in the icon: the online icon.
    QVERIFY(LogIn());
    m_server.SendRaw(FakeServer::LoginAccepted());
    QTRY_VERIFY(gp_server->IsConnected());
    QCOMPARE(IconImage(mainWindow->windowIcon()), online);
    SetSetting("availability_status", "away");
    ResetApplicationIcon();
    QCOMPARE(IconImage(mainWindow->windowIcon()), online);
    SetSetting("show_away_status_in_application_icon", "yes");
    ResetApplicationIcon();
    QCOMPARE(IconImage(mainWindow->windowIcon()), IconImage(QIcon(":/icons/away_icon")));
    SetSetting("availability_status", "available");
    ResetApplicationIcon();
    QCOMPARE(IconImage(mainWindow->windowIcon()), online);

    gp_server->Disconnect();
    QCOMPARE(IconImage(mainWindow->windowIcon()), offline);
    QCOMPARE(ConnectActionText(), QString("Connect"));
}

void TestMainWindow::trayWithoutSystemTray()
{
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    // The setting is on, but there is no tray to show the icon in.
    QVERIFY(!mainWindow->TrayIcon()->isVisible());
    mainWindow->PopupAlert("Something happened");

    // Only a single click restores the window.
    mainWindow->showMinimized();
    QTRY_VERIFY(mainWindow->isMinimized());
    mainWindow->OnTrayIconActivated(QSystemTrayIcon::DoubleClick);
    mainWindow->OnTrayIconActivated(QSystemTrayIcon::Context);
    mainWindow->OnTrayIconActivated(QSystemTrayIcon::MiddleClick);
    QVERIFY(mainWindow->isMinimized());
    mainWindow->OnTrayIconActivated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY(!mainWindow->isMinimized());
}

void TestMainWindow::geometryGoesThroughSizeProxy()
{
    MainWindow::SizeProxy* proxy = mainWindow->GetSizeProxy();
    QSignalSpy resized(proxy, &ResizableWindow::WindowResized);
    QSignalSpy moved(proxy, &ResizableWindow::WindowMoved);

    proxy->SetSize(900, 500);
    QTRY_VERIFY(!resized.isEmpty());
    QCOMPARE(resized.last(), (QList<QVariant>{900, 500}));
    QCOMPARE(proxy->GetWidth(), 900);
    QCOMPARE(proxy->GetHeight(), 500);

    proxy->SetPosition(40, 30);
    QTRY_VERIFY(!moved.isEmpty());
    QCOMPARE(proxy->GetX(), 40);
    QCOMPARE(proxy->GetY(), 30);
    QCOMPARE(mainWindow->geometry().size(), QSize(900, 500));

    // A maximized window's geometry is not recorded.
    mainWindow->showMaximized();
    QTRY_VERIFY(mainWindow->isMaximized());
    resized.clear();
    moved.clear();
    QResizeEvent resize(QSize(700, 400), QSize(900, 500));
    QMoveEvent move(QPoint(5, 6), QPoint(40, 30));
    QApplication::sendEvent(mainWindow, &resize);
    QApplication::sendEvent(mainWindow, &move);
    QVERIFY(resized.isEmpty());
    QVERIFY(moved.isEmpty());

    mainWindow->showNormal();
    QTRY_VERIFY(!mainWindow->isMaximized());
    QApplication::sendEvent(mainWindow, &resize);
    QApplication::sendEvent(mainWindow, &move);
    QCOMPARE(resized.last(), (QList<QVariant>{700, 400}));
    QCOMPARE(moved.last(), (QList<QVariant>{5, 6}));
    mainWindow->resize(1000, 600);
}

void TestMainWindow::periodicSaveWritesSaveFile()
{
    const QString path = MainWindow::SaveFilePath();
    QFile::remove(path);
    mainWindow->EveryFiveMinutes();

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const savefile::Parsed parsed = savefile::Parse(file.readAll());
    QVERIFY(parsed.ok);
    QCOMPARE(parsed.Settings().value("username"), QString("alice"));
    QCOMPARE(parsed.Settings().value("data_version"), QString("1"));
    QCOMPARE(QDir(m_fixture.root.filePath("home")).entryList({".Tavrinel*"}, QDir::Files | QDir::Hidden),
             QStringList{".Tavrinel"});
}

void TestMainWindow::screenshot()
{
    mainWindow->resize(1000, 600);
    Child<QTabWidget>("tabControl")->setCurrentIndex(1);
    QCoreApplication::processEvents();
    // The toolbar shows the room list's actions, as when the user clicks into the list.
    actionBar->ChangeSet(Child<QWidget>("roomList"), "room_list");
    QCoreApplication::processEvents();
    const QPixmap shot = mainWindow->grab();
    QVERIFY(!shot.isNull());
    QVERIFY(shot.save("/tmp/tavrinel-mainwindow.png"));
}

void TestMainWindow::cleanupTestCase()
{
    const QString path = MainWindow::SaveFilePath();
    QFile::remove(path);
    SetSetting("password", "changed before exit");
    delete mainWindow;
    QVERIFY(mainWindow == nullptr);

    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), "no final save");
    QCOMPARE(savefile::Parse(file.readAll()).Settings().value("password"), QString("changed before exit"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
