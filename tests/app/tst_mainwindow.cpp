// The main window in-process: first run without a user name, the form's first state, the
// connection status, login-refusal boxes, the colours and the saves, and the shut-down.

#include "mainwindowfixture.h"

#include "model/datasaver.h"
#include "model/delayedinvoker.h"
#include "model/settings.h"
#include "model/sizemanager.h"
#include "model/timermanager.h"
#include "peer/peermessenger.h"
#include "shares/dnetmanager.h"
#include "shares/sharedfoldersmanager.h"
#include "transfers/transferqueuemanager.h"

#include <QPointer>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    // No user name: the first-run dialog opens. One stored colour is not a colour at all.
    void initTestCase()
    {
        QVERIFY(m_fixture.Open({{"color_window_background", "not a colour"}, {"color_window_text", "#123456"}}));
    }
    void firstRunCancelledMakesNoConnection();
    void invalidStoredColourKeepsStartUpColour();
    void connectActionFollowsConnectionState();
    void loginRefusalBoxes_data();
    void loginRefusalBoxes();
    void periodicSaveWritesSaveFile();
    void cleanupTestCase();

private:
    QString ConnectActionText();
    bool LogIn();

    MainWindowFixture m_fixture;
    FakeServer& m_server = m_fixture.server;
};

void TestMainWindow::firstRunCancelledMakesNoConnection()
{
    QCOMPARE(m_fixture.firstRunTitles, QStringList{"Set Username/Password"});
    QVERIFY(!HasSetting("username"));
    QCoreApplication::processEvents();
    QCOMPARE(m_server.ConnectionCount(), 0);
}

void TestMainWindow::invalidStoredColourKeepsStartUpColour()
{
    const QPalette palette = QApplication::palette();
    QCOMPARE(palette.color(QPalette::WindowText), QColor("#123456"));
    QCOMPARE(palette.color(QPalette::Window), defaultPalette.color(QPalette::Window));
}

QString TestMainWindow::ConnectActionText()
{
    // What the login page's toolbar shows for the action.
    actionBar->ChangeSet(Child<QWidget>("loginOptionsTab"), "login_options");
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
    // A failing row must not leave its box for the next rows.
    struct Closer
    {
        QPointer<QMessageBox> box;
        ~Closer()
        {
            if (box)
                box->close();
        }
    } closer{box};
    QCOMPARE(box->windowTitle(), title);
    QCOMPARE(box->text(), text);
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(ConnectActionText(), QString("Connect"));
    box->accept();
    QTRY_VERIFY(Visible<QMessageBox>().isEmpty());
}

void TestMainWindow::periodicSaveWritesSaveFile()
{
    const QString path = MainWindow::SaveFilePath();
    QFile::remove(path);
    // A note goes with its user: without the user it would come back attached to nobody.
    d.GetType("user")->GetItem(Value("bob")) += d.GetType("user_note")->GetItem(Value("plays bass"));
    mainWindow->EveryFiveMinutes();

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const savefile::Parsed parsed = savefile::Parse(file.readAll());
    QVERIFY(parsed.ok);
    QCOMPARE(parsed.Settings().value("username"), QString("alice"));
    QCOMPARE(parsed.Settings().value("data_version"), QString("1"));
    QCOMPARE(parsed.Linked("user", "bob", "user_note"), QStringList{"plays bass"});
    QCOMPARE(QDir(m_fixture.root.filePath("home")).entryList({".Tavrinel*"}, QDir::Files | QDir::Hidden),
             QStringList{".Tavrinel"});
}

void TestMainWindow::cleanupTestCase()
{
    const QString path = MainWindow::SaveFilePath();
    QFile::remove(path);
    SetSetting("password", "changed before exit");
    delete mainWindow;
    QVERIFY(mainWindow == nullptr);
    // The views and late signals that outlive the window find the components gone, not dangling.
    QVERIFY(!gp_server && !peerMessenger && !sharedFoldersManager && !transferQueueManager && !dnetManager);
    QVERIFY(!delayedInvoker && !dataSaver && !timerManager && !sizeManager);

    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), "no final save");
    QCOMPARE(savefile::Parse(file.readAll()).Settings().value("password"), QString("changed before exit"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
