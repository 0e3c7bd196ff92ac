// Runs the real program against a fake central server: start-up from a save file, login,
// single-instance refusal, and shut-down on SIGTERM with the final save.

#include "mainwindowfixture.h"

#include <QRegularExpression>

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void loginThenSigtermSaves();
    void sigtermDuringFirstRunDialog();
};

void TestEndToEnd::initTestCase()
{
    QVERIFY2(QFileInfo(qEnvironmentVariable("TAVRINEL_BINARY")).isExecutable(),
             "TAVRINEL_BINARY must name the built program");
}

void TestEndToEnd::loginThenSigtermSaves()
{
    MainWindowFixture fixture;
    FakeServer& server = fixture.server;
    QVERIFY(fixture.WriteHome({{"username", "alice"}, {"password", "secret"}}));
    ChildProcess first;
    QVERIFY(StartProgram(first));

    // The stored user name starts the login from within start-up.
    QVERIFY(server.WaitForConnection(20000));
    QVERIFY(server.WaitForFrames(1, 10000));
    const FakeServer::Frame login = server.Frames().first();
    QCOMPARE(login.code, quint32(1));
    QVERIFY(login.fields.startsWith(FakeServer::Str("alice") + FakeServer::Str("secret")));

    // A logged-in client asks for its own privileges at once.
    server.SendRaw(FakeServer::LoginAccepted());
    QTRY_VERIFY_WITH_TIMEOUT(server.Codes().contains(92), 10000);

    // A second start of the same user steps aside silently.
    ChildProcess second;
    second.start(qEnvironmentVariable("TAVRINEL_BINARY"), QStringList());
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(server.ConnectionCount(), 1);
    QCOMPARE(first.state(), QProcess::Running);

    const QString saveFile = MainWindow::SaveFilePath();
    QFile::remove(saveFile);
    QVERIFY(TerminateProgram(first));

    QFile file(saveFile);
    QVERIFY2(file.open(QIODevice::ReadOnly), "the final save wrote no file");
    const savefile::Parsed parsed = savefile::Parse(file.readAll());
    QVERIFY(parsed.ok);
    const QMap<QString, QString> settings = parsed.Settings();
    // The login and what start-up and the login wrote.
    const QList<QPair<const char*, QString>> expected{
        {"username", "alice"}, {"password", "secret"}, {"data_version", "1"}, {"enable_private_room_add", "no"},
        {"listening_port", QString::number(fixture.listeningPort)},
        {"download_folder", fixture.root.filePath("home") + "/Tavrinel Downloads"}};
    for (const auto& e : expected)
        QCOMPARE(qMakePair(QString(e.first), settings.value(e.first)), qMakePair(QString(e.first), e.second));
    const QRegularExpression colour("^#[0-9a-f]{6}$");
    for (const char* key : {"color_window_background", "color_window_text", "color_button_text"})
        QVERIFY2(colour.match(settings.value(key)).hasMatch(), key);

    // The window's geometry is recorded under its key.
    QVERIFY(parsed.items.value("sizer_window").values().contains("main_window"));
    QCOMPARE(parsed.Linked("sizer_window", "main_window", "sizer_width").size(), 1);

    // The save went through a temporary file that is gone, and the instance lock went with the process.
    QCOMPARE(QDir(fixture.root.filePath("home")).entryList({".Tavrinel*"}, QDir::Files | QDir::Hidden),
             QStringList{".Tavrinel"});
    QCOMPARE(QDir(fixture.root.filePath("tmp")).entryList({"TavrinelQt*"}, QDir::Files | QDir::Hidden), QStringList());
}

void TestEndToEnd::sigtermDuringFirstRunDialog()
{
    // No user name: start-up waits in the first-run dialog and must not connect.
    MainWindowFixture fixture;
    QVERIFY(fixture.WriteHome());
    ChildProcess program;
    QVERIFY(StartProgram(program));
    // The instance lock is taken only once the signal handlers are in place.
    QTRY_VERIFY_WITH_TIMEOUT(!QDir(fixture.root.filePath("tmp")).entryList({"TavrinelQt*"}, QDir::Files).isEmpty(),
                             20000);
    QVERIFY(TerminateProgram(program));
    QCOMPARE(fixture.server.ConnectionCount(), 0);

    QFile file(MainWindow::SaveFilePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QMap<QString, QString> settings = savefile::Parse(file.readAll()).Settings();
    QVERIFY(settings.value("username").isEmpty());
    QCOMPARE(settings.value("data_version"), QString("1"));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
