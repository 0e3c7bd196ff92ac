// The list of private conversations: the fixed "Messages" page, one row per partner with the
// latest message, newest conversation on top, and the same rows after a restart of the program
// (a second run of this test, started on the home the first one left).

#include "mainwindowfixture.h"

#include "model/settings.h"
#include "ui/chat/chatdisplay.h"
#include "ui/chat/chatform.h"
#include "ui/chat/chatlog.h"
#include "ui/chat/messagelistform.h"

#include <QLineEdit>
#include <QProcess>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>

namespace {

// Set in the second run: the rows the first run left, one per line.
const char* const kRestoredRows = "TAVRINEL_RESTORED_ROWS";

QByteArray PrivateMessage(quint32 id, qint32 time, const QString& user, const QString& text)
{
    return FakeServer::U32(id) + FakeServer::I32(time) + FakeServer::Str(user) + FakeServer::Str(text) +
           FakeServer::U8(0);
}

QString Time(qint64 seconds)
{
    return ChatTimeLong(QDateTime::fromSecsSinceEpoch(seconds));
}

}  // namespace

class TestMessageList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fixedFirstPage();
    void rowsFollowMessages();
    void oneRowPerPartner();
    void droppedMessageGetsNoRow();
    void rowsComeBackAfterRestart();
    void restoredRows();
    void cleanupTestCase();

private:
    bool Receive(qint32 time, const QString& user, const QString& text);
    void TypeLine(const QString& user, const QString& text);
    // "time|user|message" per row, top to bottom.
    QStringList Rows() const;

    MainWindowFixture m_fixture;
    QTreeWidget* mp_list = nullptr;
    qint64 m_now = 0;
    quint32 m_messageId = 0;
};

void TestMessageList::initTestCase()
{
    SetChatClock([this] { return QDateTime::fromSecsSinceEpoch(m_now); });
    if (qEnvironmentVariableIsSet(kRestoredRows)) {
        // The second run: the home, and the save file in it, are the first run's.
        new PortForwarder(std::make_unique<RecordingGateway>());
        BoxAnswerer answers;
        auto* window = new MainWindow;
        window->setVisible(true);
        window->Init();
        QVERIFY(answers.seen.isEmpty());
    } else {
        QVERIFY(m_fixture.Start());
    }
    mp_list = Child<QTreeWidget>("messageList");
}

void TestMessageList::cleanupTestCase()
{
    delete mainWindow;
    SetChatClock({});
}

bool TestMessageList::Receive(qint32 time, const QString& user, const QString& text)
{
    const int rows = mp_list->topLevelItemCount();
    const QString last = rows ? mp_list->topLevelItem(0)->text(2) : QString();
    m_fixture.server.Send(22, PrivateMessage(++m_messageId, time, user, text));
    return QTest::qWaitFor([&] {
        return mp_list->topLevelItemCount() != rows || (rows && mp_list->topLevelItem(0)->text(2) != last);
    });
}

// Typed into the partner's chat tab, as the user does.
void TestMessageList::TypeLine(const QString& user, const QString& text)
{
    auto* edit = mainWindow->GetChatForm(user)->findChild<QLineEdit*>("chatEdit");
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

QStringList TestMessageList::Rows() const
{
    QStringList rows;
    for (int k = 0; k < mp_list->topLevelItemCount(); ++k) {
        const QTreeWidgetItem* row = mp_list->topLevelItem(k);
        rows << row->text(0) + "|" + row->text(1) + "|" + row->text(2);
    }
    return rows;
}

void TestMessageList::fixedFirstPage()
{
    auto* tabs = Child<QTabWidget>("chatTabControl");
    QCOMPARE(tabs->tabText(0), QString("Messages"));
    QVERIFY(qobject_cast<MessageListForm*>(tabs->widget(0)));
    QVERIFY(!tabs->tabBar()->tabButton(0, QTabBar::LeftSide));
    QVERIFY(!tabs->tabBar()->tabButton(0, QTabBar::RightSide));
    // Closing is refused even when asked for.
    emit tabs->tabCloseRequested(0);
    QCOMPARE(tabs->tabText(0), QString("Messages"));
    QCOMPARE(mp_list->headerItem()->text(1), QString("User"));
    QCOMPARE(mp_list->columnCount(), 3);
}

void TestMessageList::rowsFollowMessages()
{
    QVERIFY(Receive(100, "amy", "from amy"));
    QVERIFY(Receive(150, "ben", "from ben"));
    m_now = 200;
    TypeLine("ben", "to ben");
    QCOMPARE(Rows(), QStringList({Time(200) + "|ben|[alice] to ben", Time(100) + "|amy|[amy] from amy"}));

    // A later message to amy takes her row back to the top.
    m_now = 260;
    TypeLine("amy", "to amy");
    QCOMPARE(Rows(), QStringList({Time(260) + "|amy|[alice] to amy", Time(200) + "|ben|[alice] to ben"}));
}

void TestMessageList::oneRowPerPartner()
{
    const int rows = mp_list->topLevelItemCount();
    QVERIFY(Receive(300, "cat", "one"));
    QVERIFY(Receive(310, "cat", "two"));
    QVERIFY(Receive(320, "cat", "three"));
    QCOMPARE(mp_list->topLevelItemCount(), rows + 1);
    QCOMPARE(Rows().first(), Time(320) + "|cat|[cat] three");
    // The time shown is the server's, not the arrival's.
    QVERIFY(Time(320) != Time(m_now));
    // Every message is kept.
    QCOMPARE(int(d.GetType("user")->GetItem(Value("cat")).GetItems("private_message").size()), 3);
}

void TestMessageList::droppedMessageGetsNoRow()
{
    const QStringList before = Rows();
    gp_server->Disconnect();
    m_now = 400;
    TypeLine("dan", "never sent");
    QCOMPARE(Rows(), before);
    QVERIFY(!d.GetType("user")->GetItem(Value("dan")).IsConnected("private_message"));

    // Logged in again, the same line goes out and is listed.
    gp_server->Connect();
    QVERIFY(m_fixture.server.WaitForConnection());
    m_fixture.server.SendRaw(FakeServer::LoginAccepted());
    QVERIFY(QTest::qWaitFor([] { return gp_server->IsConnected(); }));
    TypeLine("dan", "sent now");
    QCOMPARE(Rows().first(), Time(400) + "|dan|[alice] sent now");
}

void TestMessageList::rowsComeBackAfterRestart()
{
    const QStringList rows = Rows();
    QCOMPARE(rows.size(), 4);
    // The second run logs in to a server that never answers: it stays connecting, quietly.
    FakeServer silent;
    QVERIFY(silent.Listen());
    SetSetting("server_port", QString::number(silent.Port()));
    QCOMPARE(int(d.GetType("message_list_node")->ItemCount()), 4);
    delete mainWindow;  // the final save
    // The rows died with the list, and so did the items holding their addresses.
    QCOMPARE(int(d.GetType("message_list_node")->ItemCount()), 0);

    ChildProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kRestoredRows, rows.join('\n'));
    second.setProcessEnvironment(environment);
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(QCoreApplication::applicationFilePath(), {"restoredRows"});
    QVERIFY(second.waitForStarted());
    QVERIFY(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 120000));
    const QByteArray output = second.readAll();
    QVERIFY2(second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0, output.constData());
    QVERIFY2(output.contains("PASS   : TestMessageList::restoredRows()"), output.constData());
}

void TestMessageList::restoredRows()
{
    if (!qEnvironmentVariableIsSet(kRestoredRows))
        QSKIP("run by rowsComeBackAfterRestart");
    QCOMPARE(Rows(), qEnvironmentVariable(kRestoredRows).split('\n'));
}

QTEST_MAIN(TestMessageList)
#include "tst_messagelist.moc"
