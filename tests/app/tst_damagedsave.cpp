// Start-up from a damaged (zero-length) save file: the box, then a fresh start that keeps the
// defaults and still tells the data-loaded listeners.

#include "mainwindowfixture.h"

#include "model/settings.h"

class TestDamagedSave : public QObject
{
    Q_OBJECT

private slots:
    void zeroLengthSaveFileStartsFromScratch();
};

void TestDamagedSave::zeroLengthSaveFileStartsFromScratch()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir(root.path()).mkpath("home"));
    qputenv("HOME", root.filePath("home").toLocal8Bit());
    qputenv("TMPDIR", root.path().toLocal8Bit());
    QFile empty(MainWindow::SaveFilePath());
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();

    // The damaged file can hold nothing safe, so what must not reach outside is set beforehand.
    const int listeningPort = FreePort();
    DeclareSettingTypes();
    SetSetting("use_upnp", "no");
    SetSetting("listening_port", listeningPort);

    ModalWatcher watcher;
    MainWindow* window = new MainWindow;
    window->setVisible(true);
    window->Init();

    QCOMPARE(watcher.titles, (QStringList{"Error loading configuration data", "Set Username/Password"}));
    QCOMPARE(watcher.texts.first(), QString("Your client configuration data could not be loaded. Starting from scratch..."));

    // Defaults written before the load survive it.
    QCOMPARE(GetSetting("minimize_to_tray"), QString("yes"));
    QCOMPARE(GetSetting("color_transfer_queued"), QString("#3366ff"));
    QCOMPARE(GetSetting("max_queued_uploads_per_user"), QString("200"));
    QCOMPARE(GetSetting("data_version"), QString("1"));
    // The peer messenger's data-loaded step ran: it derives the obfuscated port.
    QCOMPARE(GetSettingInt("obfuscated_listening_port"), listeningPort + 1);
    // No user name after the cancelled dialog: no connection.
    QVERIFY(!HasSetting("username"));
    QCOMPARE(gp_server->GetConnectionState(), int(Server::StateDisconnected));

    delete window;
    QVERIFY(QFileInfo(MainWindow::SaveFilePath()).size() > 0);
}

QTEST_MAIN(TestDamagedSave)
#include "tst_damagedsave.moc"
