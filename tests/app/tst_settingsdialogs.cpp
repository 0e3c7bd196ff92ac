// The settings and inspection dialogs as the running window opens them: the developer windows by
// key, the colour dialog from its button, and the listening-port dialog from the login options,
// whose port the next start of the program listens on.

#include "mainwindowfixture.h"

#include "common/fakepeer.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "ui/settings/changelisteningportdialog.h"
#include "ui/settings/colorselectiondialog.h"
#include "ui/settings/datadialog.h"
#include "ui/settings/typenavigatordialog.h"
#include "ui/transfers/transfersform.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointer>
#include <QTcpSocket>
#include <QTreeWidget>

class TestSettingsDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_fixture.Start()); }
    void developerWindowsOpenByKey();
    void colourDialogFromItsButton();
    void portDialogRefuses_data();
    void portDialogRefuses();
    void newPortIsUsedAfterRestart();  // ends the window
    void cleanupTestCase() { delete mainWindow; }

private:
    static void Press(int key)
    {
        mainWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mainWindow));
        QTest::keyClick(mainWindow, Qt::Key(key), Qt::ControlModifier | Qt::ShiftModifier);
    }
    // Opens the dialog from the login options, types the port and presses Ok; the caller's
    // answerer records the boxes it shows.
    static QPointer<ChangeListeningPortDialog> EnterPort(const QString& typed)
    {
        const int before = Visible<ChangeListeningPortDialog>().size();
        if (!MainWindowFixture::Trigger(Child<QWidget>("loginOptionsTab"), "Change Listening Port"))
            return nullptr;
        const auto open = Visible<ChangeListeningPortDialog>();
        if (open.size() != before + 1)
            return nullptr;
        QPointer<ChangeListeningPortDialog> dialog = open.last();
        auto* edit = Child<QLineEdit>("portEdit", dialog);
        if (edit->text() != GetSetting("listening_port"))
            return nullptr;
        edit->clear();
        QTest::keyClicks(edit, typed);
        QTest::mouseClick(Child<QDialogButtonBox>("buttonBox", dialog)->button(QDialogButtonBox::Ok), Qt::LeftButton);
        return dialog;
    }

    MainWindowFixture m_fixture;
};

void TestSettingsDialogs::developerWindowsOpenByKey()
{
    Press(Qt::Key_D);
    QCOMPARE(Visible<DataDialog>().size(), 1);
    QPointer<DataDialog> browser = Visible<DataDialog>().first();
    QVERIFY(!Child<QTreeWidget>("typeList", browser)->findItems("user", Qt::MatchExactly).isEmpty());
    Press(Qt::Key_D);
    QCOMPARE(Visible<DataDialog>(), QList<DataDialog*>{browser});

    // Closed, it goes; the next press builds a new one.
    browser->close();
    QTRY_VERIFY(browser.isNull());
    Press(Qt::Key_D);
    QCOMPARE(Visible<DataDialog>().size(), 1);

    Press(Qt::Key_T);
    QCOMPARE(Visible<TypeNavigatorDialog>().size(), 1);
    QPointer<TypeNavigatorDialog> navigator = Visible<TypeNavigatorDialog>().first();
    QVERIFY(Child<QComboBox>("fromTypeBox", navigator)->findText("user") >= 0);
    QVERIFY(Child<QComboBox>("toTypeBox", navigator)->count() > 0);
    Press(Qt::Key_T);
    QCOMPARE(Visible<TypeNavigatorDialog>(), QList<TypeNavigatorDialog*>{navigator});
    // Both stay open: the window deletes them as it shuts down.
}

void TestSettingsDialogs::colourDialogFromItsButton()
{
    QVERIFY(transfersForm);
    auto* button = Child<QPushButton>("selectColorsButton");
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(Visible<ColorSelectionDialog>().size(), 2);
    QPointer<ColorSelectionDialog> dialog = Visible<ColorSelectionDialog>().first();
    QTest::mouseClick(Child<QPushButton>("resetToDefaultsButton", dialog), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>("saveColorsButton", dialog), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(GetSetting("color_transfer_failed"), QString("#ff0a47"));
    QCOMPARE(GetSetting("color_window_background"), defaultPalette.color(QPalette::Window).name());
    QCOMPARE(QApplication::palette().color(QPalette::Window), defaultPalette.color(QPalette::Window));
    for (ColorSelectionDialog* other : Visible<ColorSelectionDialog>())
        other->close();
}

void TestSettingsDialogs::portDialogRefuses_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    const QString invalid = "Invalid Port Number";
    const QString range = "Port number must be in the range of 1 to 65535.";
    QTest::newRow("empty") << "" << invalid << range;
    QTest::newRow("zero") << "0" << invalid << range;
    QTest::newRow("65536") << "65536" << invalid << range;
    QTest::newRow("99999") << "99999" << invalid << range;
    QTest::newRow("in use") << "in use" << "Port Number Not Changed" << "Port number has not been changed.";
}

void TestSettingsDialogs::portDialogRefuses()
{
    QFETCH(QString, typed);
    QFETCH(QString, title);
    QFETCH(QString, text);
    if (typed == "in use")
        typed = QString::number(m_fixture.listeningPort);
    SetSetting("new_listening_port", "2300");
    BoxAnswerer boxes;
    QPointer<ChangeListeningPortDialog> dialog = EnterPort(typed);
    QVERIFY(dialog);
    QTRY_COMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen.first().title, title);
    QCOMPARE(boxes.seen.first().text, text);
    // The dialog stays with the user's text; a pending port stays pending.
    QVERIFY(dialog->isVisible());
    QCOMPARE(GetSetting("new_listening_port"), QString("2300"));
    dialog->reject();
    QTRY_VERIFY(dialog.isNull());
}

void TestSettingsDialogs::newPortIsUsedAfterRestart()
{
    const quint16 port = FakePeer::FreePortPair();
    QVERIFY(port);
    for (quint16 chosen : {quint16(1), port}) {
        BoxAnswerer boxes;
        QPointer<ChangeListeningPortDialog> dialog = EnterPort(QString::number(chosen));
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(boxes.Titles(), QStringList{"Change to Listening Port Pending"});
        QCOMPARE(boxes.seen.first().text, QString("Changes to the listening port will take effect after a client restart."));
        // A second choice replaces the first; the running listener keeps its port.
        QCOMPARE(GetSetting("new_listening_port"), QString::number(chosen));
        QCOMPARE(peerMessenger->ListeningPort(false), m_fixture.listeningPort);
    }

    delete mainWindow;
    ChildProcess program;
    QVERIFY(StartProgram(program));
    for (quint16 p : {port, quint16(port + 1)}) {
        QTcpSocket probe;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                probe.abort();
                probe.connectToHost(QHostAddress::LocalHost, p);
                return probe.waitForConnected(500);
            }(),
            20000);
    }
    QVERIFY(TerminateProgram(program));
    QFile file(MainWindow::SaveFilePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QMap<QString, QString> settings = savefile::Parse(file.readAll()).Settings();
    QCOMPARE(settings.value("listening_port"), QString::number(port));
    // Applied once: nothing is pending any more.
    QCOMPARE(settings.value("new_listening_port"), QString());
}

QTEST_MAIN(TestSettingsDialogs)
#include "tst_settingsdialogs.moc"
