// Runs the real program against a fake central server: start-up from a save file, login,
// single-instance refusal, and shut-down on SIGTERM with the final save.

#include "common/fakeserver.h"
#include "savefile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

// A port that nothing listens on at the moment.
quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

}  // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void loginThenSigtermSaves();
    void sigtermDuringFirstRunDialog();

private:
    QProcessEnvironment Environment() const;

    QString m_binary;
    QTemporaryDir m_root;
};

void TestEndToEnd::initTestCase()
{
    m_binary = qEnvironmentVariable("TAVRINEL_BINARY");
    QVERIFY2(QFileInfo(m_binary).isExecutable(), "TAVRINEL_BINARY must name the built program");
    QVERIFY(m_root.isValid());
    QVERIFY(QDir(m_root.path()).mkpath("home"));
    QVERIFY(QDir(m_root.path()).mkpath("tmp"));
}

QProcessEnvironment TestEndToEnd::Environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_root.filePath("home"));
    env.insert("TMPDIR", m_root.filePath("tmp"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

void TestEndToEnd::loginThenSigtermSaves()
{
    FakeServer server;
    QVERIFY(server.Listen());
    const quint16 listeningPort = FreePort();
    const QString saveFile = m_root.filePath("home/.Tavrinel");
    {
        QFile file(saveFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // Everything the program could reach outside this machine points at 127.0.0.1.
        file.write(savefile::BuildSettings({
            {"username", "alice"},
            {"password", "secret"},
            {"use_upnp", "no"},
            {"server_host", "127.0.0.1"},
            {"server_port", QString::number(server.Port())},
            {"web_host", QString("127.0.0.1:%1").arg(FreePort())},
            {"listening_port", QString::number(listeningPort)},
        }));
    }

    QProcess first;
    first.setProcessEnvironment(Environment());
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    first.start(m_binary, QStringList());
    QVERIFY(first.waitForStarted());

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
    QProcess second;
    second.setProcessEnvironment(Environment());
    second.start(m_binary, QStringList());
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(server.ConnectionCount(), 1);
    QCOMPARE(first.state(), QProcess::Running);

    QFile::remove(saveFile);
    QCOMPARE(::kill(static_cast<pid_t>(first.processId()), SIGTERM), 0);
    QVERIFY(first.waitForFinished(30000));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);

    QFile file(saveFile);
    QVERIFY2(file.open(QIODevice::ReadOnly), "the final save wrote no file");
    const savefile::Parsed parsed = savefile::Parse(file.readAll());
    QVERIFY(parsed.ok);
    const QMap<QString, QString> settings = parsed.Settings();

    QCOMPARE(settings.value("username"), QString("alice"));
    QCOMPARE(settings.value("password"), QString("secret"));
    QCOMPARE(settings.value("use_upnp"), QString("no"));
    QCOMPARE(settings.value("server_host"), QString("127.0.0.1"));
    QCOMPARE(settings.value("data_version"), QString("1"));
    QCOMPARE(settings.value("enable_private_room_add"), QString("no"));
    QCOMPARE(settings.value("minimize_to_tray"), QString("yes"));
    QCOMPARE(settings.value("expand_new_shares"), QString("yes"));
    QCOMPARE(settings.value("chat_timestamps"), QString("activity_based"));
    QCOMPARE(settings.value("log_room_chat"), QString("yes"));
    QCOMPARE(settings.value("log_private_chat"), QString("yes"));
    QCOMPARE(settings.value("color_transfer_queued"), QString("#3366ff"));
    QCOMPARE(settings.value("color_transfer_complete"), QString("#006400"));
    QCOMPARE(settings.value("color_transfer_in_progress"), QString("#0000ff"));
    QCOMPARE(settings.value("color_transfer_failed"), QString("#ff0a47"));
    QCOMPARE(settings.value("color_transfer_other"), QString("#000000"));
    QCOMPARE(settings.value("color_chat_username"), QString("#0033ff"));
    QCOMPARE(settings.value("color_chat_timestamp"), QString("#0066ff"));
    QCOMPARE(settings.value("color_chat_status"), QString("#339933"));
    const QRegularExpression colour("^#[0-9a-f]{6}$");
    for (const char* key : {"color_window_background", "color_window_text", "color_input_background",
                            "color_input_text", "color_button_background", "color_button_text"})
        QVERIFY2(colour.match(settings.value(key)).hasMatch(), key);
    QCOMPARE(settings.value("listening_port"), QString::number(listeningPort));
    QCOMPARE(settings.value("check_for_empty_shares"), QString("no"));
    QCOMPARE(settings.value("max_queued_uploads_per_user"), QString("200"));
    QCOMPARE(settings.value("download_folder"), m_root.filePath("home") + "/Tavrinel Downloads");

    // The window's geometry is recorded under its key.
    QVERIFY(parsed.items.value("sizer_window").values().contains("main_window"));
    QCOMPARE(parsed.Linked("sizer_window", "main_window", "sizer_width").size(), 1);
    QCOMPARE(parsed.Linked("sizer_window", "main_window", "sizer_height").size(), 1);

    // The save went through a temporary file that is gone.
    const QStringList left = QDir(m_root.filePath("home")).entryList({".Tavrinel*"}, QDir::Files | QDir::Hidden);
    QCOMPARE(left, QStringList{".Tavrinel"});
    // The instance lock went with the process.
    QCOMPARE(QDir(m_root.filePath("tmp")).entryList({"TavrinelQt*"}, QDir::Files | QDir::Hidden), QStringList());
}

void TestEndToEnd::sigtermDuringFirstRunDialog()
{
    FakeServer server;
    QVERIFY(server.Listen());
    const QString saveFile = m_root.filePath("home/.Tavrinel");
    {
        QFile file(saveFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // No user name: start-up waits in the first-run dialog and must not connect.
        file.write(savefile::BuildSettings({
            {"use_upnp", "no"},
            {"server_host", "127.0.0.1"},
            {"server_port", QString::number(server.Port())},
            {"web_host", QString("127.0.0.1:%1").arg(FreePort())},
            {"listening_port", QString::number(FreePort())},
        }));
    }

    QProcess program;
    program.setProcessEnvironment(Environment());
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(m_binary, QStringList());
    QVERIFY(program.waitForStarted());
    // The instance lock is taken only once the signal handlers are in place.
    QTRY_VERIFY_WITH_TIMEOUT(!QDir(m_root.filePath("tmp")).entryList({"TavrinelQt*"}, QDir::Files).isEmpty(), 20000);

    QCOMPARE(::kill(static_cast<pid_t>(program.processId()), SIGTERM), 0);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(server.ConnectionCount(), 0);

    QFile file(saveFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QMap<QString, QString> settings = savefile::Parse(file.readAll()).Settings();
    QVERIFY(!settings.contains("username") || settings.value("username").isEmpty());
    QCOMPARE(settings.value("data_version"), QString("1"));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
