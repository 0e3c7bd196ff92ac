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
    MainWindowFixture fixture;
    QVERIFY(fixture.WriteHome());
    QVERIFY(QFile::resize(MainWindow::SaveFilePath(), 0));
    // The damaged file can hold nothing safe, so what must not reach outside is set beforehand.
    const int listeningPort = fixture.listeningPort;
    DeclareSettingTypes();
    SetSetting("use_upnp", "no");
    SetSetting("listening_port", listeningPort);

    BoxAnswerer watcher;
    MainWindow* window = new MainWindow;
    window->setVisible(true);
    window->Init();

    QCOMPARE(watcher.Titles(), (QStringList{"Error loading configuration data", "Set Username/Password"}));

    // Defaults written before the load survive it.
    QCOMPARE(GetSetting("minimize_to_tray"), QString("yes"));
    QCOMPARE(GetSetting("data_version"), QString("1"));
    // The peer messenger's data-loaded step ran: it derives the obfuscated port.
    QCOMPARE(GetSettingInt("obfuscated_listening_port"), listeningPort + 1);

    delete window;
    QVERIFY(QFileInfo(MainWindow::SaveFilePath()).size() > 0);
}

QTEST_MAIN(TestDamagedSave)
#include "tst_damagedsave.moc"
