// The Options page in a running main window: every control writes its setting at once, the
// code page and port displays follow, and what was written reaches the save file at exit.

#include "mainwindowfixture.h"
#include "urlcatcher.h"

#include "model/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

class TestOptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void checkBoxesWriteAtOnce_data();
    void checkBoxesWriteAtOnce();
    void timestampBoxWritesModeByIndex();
    void emptyShareMessage();
    void spinBoxAndDescription();
    void minimizeToTrayFollowsBox();
    void codePageSwitchesDecoding();
    void portAndUsernameDisplays();
    void checkPortsOpensBothPages();
    void cleanupTestCase();

private:
    MainWindowFixture m_fixture;
    quint16& m_listeningPort = m_fixture.listeningPort;
    UrlCatcher m_browser;
    // What the tests wrote; the save file at exit must hold the same.
    QMap<QString, QString> m_expected;
};

void TestOptions::initTestCase()
{
    QDesktopServices::setUrlHandler("http", &m_browser, "Open");
    QVERIFY(m_fixture.Open());  // no user name: the first-run dialog is cancelled, nothing connects
}

void TestOptions::checkBoxesWriteAtOnce_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("key");
    QTest::newRow("user list uploads") << "acceptUserListUploadsCheckBox" << "accept_userlist_uploads";
    QTest::newRow("empty share check") << "emptyShareWarningCheckBox" << "check_for_empty_shares";
    QTest::newRow("room log") << "logRoomChatCheckBox" << "log_room_chat";
    QTest::newRow("private log") << "logPrivateChatCheckBox" << "log_private_chat";
    QTest::newRow("expand shares") << "autoExpandSharesCheckBox" << "expand_new_shares";
}

void TestOptions::checkBoxesWriteAtOnce()
{
    QFETCH(QString, box);
    QFETCH(QString, key);
    auto* check = Child<QCheckBox>(box.toLatin1().constData());
    const bool before = check->isChecked();

    check->click();
    QCOMPARE(GetSetting(key), QString(before ? "no" : "yes"));
    m_expected[key] = before ? "no" : "yes";
}

void TestOptions::timestampBoxWritesModeByIndex()
{
    auto* box = Child<QComboBox>("chatTimestampsBox");
    const QStringList modes{"activity_based", "per_message_short", "per_message_long", "no_timestamps"};
    for (int index : {1, 2, 0, 3}) {
        box->setCurrentIndex(index);
        QCOMPARE(GetSetting("chat_timestamps"), modes.at(index));
    }
    m_expected["chat_timestamps"] = "no_timestamps";
}

void TestOptions::emptyShareMessage()
{
    Child<QTabWidget>("tabControl")->setCurrentIndex(6);
    Child<QTabWidget>("optionsTabControl")->setCurrentIndex(1);
    QCoreApplication::processEvents();
    auto* edit = Child<QLineEdit>("emptyShareWarningEdit");
    auto* save = Child<QPushButton>("saveEmptyShareWarningMessageButton");
    const QString stored = GetSetting("empty_share_message");

    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, "   ");
    QVERIFY(!save->isEnabled());  // blank
    QTest::keyClicks(edit, "share ");
    QCOMPARE(GetSetting("empty_share_message"), stored);  // nothing until Save
    save->click();
    QCOMPARE(GetSetting("empty_share_message"), QString("   share "));
    m_expected["empty_share_message"] = "   share ";
}

void TestOptions::spinBoxAndDescription()
{
    auto* spin = Child<QSpinBox>("maxUploadsPerUserSpinBox");
    spin->setValue(99999);
    QCOMPARE(GetSetting("max_queued_uploads_per_user"), QString("99999"));
    m_expected["max_queued_uploads_per_user"] = "99999";

    auto* description = Child<QPlainTextEdit>("userDescriptionEdit");
    // Every keystroke is written.
    description->setPlainText("Hello\nworld");
    description->moveCursor(QTextCursor::End);
    QTest::keyClick(description, Qt::Key_Exclam);
    QCOMPARE(GetSetting("user_description"), QString("Hello\nworld!"));
    m_expected["user_description"] = "Hello\nworld!";
}

void TestOptions::minimizeToTrayFollowsBox()
{
    auto* box = Child<QCheckBox>("minimizeToTrayCheckBox");
    QVERIFY(box->isChecked());
    box->setChecked(false);
    box->setChecked(true);
    // No system tray here: an icon shown nowhere would only hide the window for good.
    QVERIFY(!mainWindow->TrayIcon()->isVisible());
    box->setChecked(false);
    m_expected["minimize_to_tray"] = "no";
}

void TestOptions::codePageSwitchesDecoding()
{
    auto* box = Child<QComboBox>("codePageBox");
    const int cyrillic = box->findText("windows-1251");
    QVERIFY(cyrillic > 0);

    box->setCurrentIndex(cyrillic);
    QCOMPARE(GetSetting("extended_ascii_codepage"), QString("windows-1251"));
    QCOMPARE(ToQString("\xcf\xf0\xe8\xe2\xe5\xf2"), QString::fromUtf8("\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82"));  // Привет
    // Valid UTF-8 is never passed through the code page.
    QCOMPARE(ToQString("caf\xc3\xa9"), QString::fromUtf8("caf\xc3\xa9"));

    box->setCurrentIndex(0);  // [None]
    QCOMPARE(GetSetting("extended_ascii_codepage"), QString());
    QCOMPARE(ToQString("\xcf\xe9"), QString::fromLatin1("\xcf\xe9"));

    box->setCurrentIndex(cyrillic);
    m_expected["extended_ascii_codepage"] = "windows-1251";
}

void TestOptions::portAndUsernameDisplays()
{
    auto* label = Child<QLabel>("obfuscatedPortLabel");
    auto* port = Child<QLineEdit>("listeningPortEdit");

    SetSetting("new_listening_port", 2235);
    QCOMPARE(port->text(), QString("2235"));
    QCOMPARE(label->text(),
             QString("Obfuscated port is 2236, if you're manually forwarding your ports be sure to open it as well."));

    SetSetting("obfuscated_listening_port", m_listeningPort + 1);
    SetSetting("username", QString::fromUtf8("b\xc3\xb6" "b"));
    QCOMPARE(Child<QLineEdit>("usernameEdit")->text(), QString::fromUtf8("b\xc3\xb6" "b"));
    m_expected["username"] = QString::fromUtf8("b\xc3\xb6" "b");
}

void TestOptions::checkPortsOpensBothPages()
{
    const QString base = QString("http://127.0.0.1:%1/porttest.php?port=").arg(m_fixture.webPort);
    Child<QPushButton>("checkPortsButton")->click();
    QCOMPARE(m_browser.urls, (QList<QUrl>{QUrl(base + QString::number(m_listeningPort)),
                                          QUrl(base + QString::number(m_listeningPort + 1))}));
}

void TestOptions::cleanupTestCase()
{
    const QString path = MainWindow::SaveFilePath();
    QFile::remove(path);
    delete mainWindow;
    QVERIFY(mainWindow == nullptr);

    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), "no final save");
    const savefile::Parsed parsed = savefile::Parse(file.readAll());
    QVERIFY(parsed.ok);
    const QMap<QString, QString> settings = parsed.Settings();
    for (auto it = m_expected.cbegin(); it != m_expected.cend(); ++it)
        QCOMPARE(qMakePair(it.key(), settings.value(it.key())), qMakePair(it.key(), it.value()));
    QVERIFY(m_expected.size() >= 12);
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
#include "moc_urlcatcher.cpp"
