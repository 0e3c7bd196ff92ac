// A room's chat as it reads: lines from the server in each time-stamp mode, activity marks on a
// test clock, actions, markup and links, what the input line sends, the room log, and the bound
// on a busy room's view.

#include "roomtabfixture.h"
#include "urlcatcher.h"

#include "ui/chat/chatdisplay.h"
#include "ui/chat/chatlog.h"

#include <QDesktopServices>
#include <QTextCursor>
#include <QTextDocument>

using namespace roomtab;

namespace {

QByteArray ChatFrame(const QString& room, const QString& user, const QString& text)
{
    return FakeServer::MakeFrame(13, FakeServer::Str(room) + FakeServer::Str(user) + FakeServer::Str(text));
}

// The room's log file, without the marker lines of Say.
QStringList LogLines(const QString& room)
{
    QFile file(ChatLogPath(ChatLogKind::Room, room));
    QStringList lines;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty() && !line.contains("] * ~ marker "))
                lines << QString::fromUtf8(line);
    return lines;
}

QString LastLogLine(const QString& room)
{
    return LogLines(room).value(LogLines(room).size() - 1);
}

}  // namespace

class TestRoomChat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { m_now = kEvening; }
    void timestampModes_data();
    void timestampModes();
    void damagedColourSettings();
    void activityMarks();
    void actionsMarkupAndOtherRooms_data();
    void actionsMarkupAndOtherRooms();
    void linkOpensInBrowserAndInputKeepsFocus();
    void linkEndsWhereRawTextEndsIt();
    void enterSendsAsTyped();
    void logGate();
    void busyViewIsCutAtLineBoundary();
    void actionAndStatusLinesCount();
    void notSentWhileLoggedOut();
    void cleanupTestCase() { delete mainWindow; }

private:
    // A fresh room, its tab open with one member.
    RoomForm* Open(const QString& room);
    // Delivers a line through the server and waits until the tab has taken it.
    bool Say(RoomForm* form, const QString& user, const QString& text);

    const QDateTime kEvening{QDate(2026, 3, 7), QTime(21, 5, 9)};
    MainWindowFixture m_fixture;
    QDateTime m_now;
    int m_rooms = 0;
};

void TestRoomChat::initTestCase()
{
    QVERIFY(m_fixture.Start());
    SetChatClock([this] { return m_now; });
    mainWindow->resize(1000, 700);
    Child<QTabWidget>("tabControl")->setCurrentIndex(1);
}

RoomForm* TestRoomChat::Open(const QString& room)
{
    m_fixture.server.Send(14, JoinReply(room, {{"bob", 0, 0, ""}}));
    if (!QTest::qWaitFor([&] { return TabOf(room) && MemberRow(TabOf(room), "bob"); }))
        return nullptr;
    return TabOf(room);
}

bool TestRoomChat::Say(RoomForm* form, const QString& user, const QString& text)
{
    // A marker line after it: once the marker shows, the line before it was handled.
    const QString marker = QString("marker %1").arg(++m_rooms);
    m_fixture.server.SendRaw(ChatFrame(form->Room(), user, text) + ChatFrame(form->Room(), "~", "/me " + marker));
    const bool seen = QTest::qWaitFor([&] { return LastLine(form) == "* ~ " + marker; });
    // The marker goes again, so the view holds what the line left.
    QTextCursor cursor(View(form)->document());
    cursor.movePosition(QTextCursor::End);
    cursor.select(QTextCursor::BlockUnderCursor);
    cursor.removeSelectedText();
    return seen;
}

void TestRoomChat::timestampModes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("shown");
    QTest::newRow("short") << "per_message_short" << "[21:05:09][bob] hello";
    QTest::newRow("long") << "per_message_long" << "[Mar 7 9:05:09 pm][bob] hello";
    QTest::newRow("none") << "no_timestamps" << "[bob] hello";
    QTest::newRow("activity") << "activity_based" << "[bob] hello";
    QTest::newRow("unknown") << "per_message" << "[bob] hello";
}

void TestRoomChat::timestampModes()
{
    QFETCH(QString, mode);
    QFETCH(QString, shown);
    RoomForm* form = TabOf("modes") ? TabOf("modes") : Open("modes");
    QVERIFY(form);
    View(form)->clear();
    SetSetting("chat_timestamps", mode);
    QVERIFY(Say(form, "bob", "  hello "));
    QCOMPARE(LastLine(form), shown);
    QCOMPARE(LastLogLine("modes"), QString("[Mar 7 9:05:09 pm][bob] hello"));

    // The time in its colour, the name in its own; both as the settings say at this line.
    SetSetting("color_chat_timestamp", "#123456");
    SetSetting("color_chat_username", "#abcdef");
    QVERIFY(Say(form, "bob", "again"));
    const QString html = View(form)->toHtml();
    QCOMPARE(html.contains("color:#123456;\">21:05:09<") || html.contains("color:#123456;\">Mar 7"),
             mode.startsWith("per_message_"));
    QVERIFY(html.contains("color:#abcdef;\">bob<"));
    SetSetting("color_chat_timestamp", "#0066ff");
    SetSetting("color_chat_username", "#0033ff");
}

void TestRoomChat::damagedColourSettings()
{
    // A save file's colour value ends up inside markup: one that names no colour must neither
    // end the attribute nor show, the line then takes the default colour.
    RoomForm* form = Open("colours");
    QVERIFY(form);
    SetSetting("chat_timestamps", "per_message_short");
    SetSetting("color_chat_timestamp", "\"><b>bold</b><font color=\"#ff0000");
    SetSetting("color_chat_username", "no colour");
    QVERIFY(Say(form, "bob", "hello"));
    QCOMPARE(LastLine(form), QString("[21:05:09][bob] hello"));
    const QString html = View(form)->toHtml();
    QVERIFY(html.contains("color:#0066ff;\">21:05:09<"));
    QVERIFY(html.contains("color:#0033ff;\">bob<"));
    QVERIFY(!html.contains(">bold<"));
    QVERIFY(!html.contains("#ff0000"));
    SetSetting("color_chat_timestamp", "#0066ff");
    SetSetting("color_chat_username", "#0033ff");
}

void TestRoomChat::activityMarks()
{
    SetSetting("chat_timestamps", "activity_based");
    RoomForm* form = Open("bursts");
    QVERIFY(form);
    // An action is no chat activity.
    QVERIFY(Say(form, "bob", "/me waves"));
    QCOMPARE(Lines(form), QStringList{"* bob waves"});
    QCOMPARE(LastLogLine("bursts"), QString("[Mar 7 9:05:09 pm] * bob waves"));
    form->CheckChatInactivity();

    QVERIFY(Say(form, "bob", "first"));
    m_now = m_now.addSecs(120);
    QVERIFY(Say(form, "carol", "second"));
    QCOMPARE(Lines(form),
             (QStringList{"* bob waves", "* Chat started Mar 7 9:05:09 pm", "[bob] first", "[carol] second"}));

    // Ticks of the half-minute timer: the burst ends on the first at least five minutes after
    // its last line, and the mark carries that line's time.
    m_now = m_now.addSecs(299);
    form->CheckChatInactivity();
    QCOMPARE(Lines(form).size(), 4);
    m_now = m_now.addSecs(1);
    form->CheckChatInactivity();
    QCOMPARE(LastLine(form), QString("* Chat ended Mar 7 9:07:09 pm"));
    m_now = m_now.addSecs(30);
    form->CheckChatInactivity();
    QCOMPARE(Lines(form).size(), 5);

    // The next line starts a new burst; without activity marks the burst still runs and ends,
    // only unmarked.
    SetSetting("chat_timestamps", "no_timestamps");
    QVERIFY(Say(form, "bob", "third"));
    SetSetting("chat_timestamps", "activity_based");
    QVERIFY(Say(form, "bob", "fourth"));
    QCOMPARE(Lines(form).mid(5), (QStringList{"[bob] third", "[bob] fourth"}));
    m_now = m_now.addSecs(330);
    form->CheckChatInactivity();
    QCOMPARE(LastLine(form), QString("* Chat ended Mar 7 9:12:39 pm"));
}

void TestRoomChat::actionsMarkupAndOtherRooms_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("logged");
    QTest::newRow("action") << "bob" << "  /me  waves  " << "* bob waves" << "[Mar 7 9:05:09 pm] * bob waves";
    QTest::newRow("me alone") << "bob" << "/me" << "[bob] /me" << "[Mar 7 9:05:09 pm][bob] /me";
    QTest::newRow("capitals") << "bob" << "/ME waves" << "[bob] /ME waves" << "[Mar 7 9:05:09 pm][bob] /ME waves";
    QTest::newRow("markup") << "<i>bob</i>" << "<b>x</b> & y" << "[<i>bob</i>] <b>x</b> & y"
                            << "[Mar 7 9:05:09 pm][<i>bob</i>] <b>x</b> & y";
    QTest::newRow("markers") << "%1" << "%2 %3" << "[%1] %2 %3" << "[Mar 7 9:05:09 pm][%1] %2 %3";
    QTest::newRow("action markers") << "%2" << "/me %1" << "* %2 %1" << "[Mar 7 9:05:09 pm] * %2 %1";
    QTest::newRow("action markup") << "bob" << "/me <i>bows</i>" << "* bob <i>bows</i>"
                                   << "[Mar 7 9:05:09 pm] * bob <i>bows</i>";
    // The view shows the breaks as it always did; the log keeps the message on one line.
    QTest::newRow("breaks") << "b\nob" << "one\r\n[Mar 7 9:05:09 pm][eve] two" << "[b ob] one [Mar 7 9:05:09 pm][eve] two"
                            << "[Mar 7 9:05:09 pm][b ob] one  [Mar 7 9:05:09 pm][eve] two";
}

void TestRoomChat::actionsMarkupAndOtherRooms()
{
    QFETCH(QString, user);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(QString, logged);
    SetSetting("chat_timestamps", "no_timestamps");
    RoomForm* form = TabOf("plaza") ? TabOf("plaza") : Open("plaza");
    QVERIFY(form);
    const int before = Lines(form).size();
    // The same line in another room first: this tab ignores it.
    m_fixture.server.SendRaw(ChatFrame("elsewhere", "eve", text));
    QVERIFY(Say(form, user, text));
    QCOMPARE(Lines(form).mid(before), QStringList{shown});
    QCOMPARE(LastLogLine("plaza"), logged);
}

void TestRoomChat::linkOpensInBrowserAndInputKeepsFocus()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("http", &catcher, "Open");
    SetSetting("chat_timestamps", "no_timestamps");
    RoomForm* form = Open("links");
    QVERIFY(form);
    mainWindow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mainWindow));
    QTRY_VERIFY(View(form)->isVisible());
    QVERIFY(Say(form, "bob", "see http://example.com/a?x=1&y=2 now"));
    QCOMPARE(LastLine(form), QString("[bob] see http://example.com/a?x=1&y=2 now"));

    const QTextCursor found = View(form)->document()->find("example.com");
    QVERIFY(!found.isNull());
    QTextCursor inside(View(form)->document());
    inside.setPosition(found.selectionStart() + 2);
    const QPoint at = View(form)->cursorRect(inside).center();
    QTest::mouseClick(View(form)->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl("http://example.com/a?x=1&y=2")});
    QCOMPARE(QApplication::focusWidget(), Input(form));
    // The view itself went nowhere.
    QCOMPARE(LastLine(form), QString("[bob] see http://example.com/a?x=1&y=2 now"));
    QDesktopServices::unsetUrlHandler("http");
}

void TestRoomChat::linkEndsWhereRawTextEndsIt()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("http", &catcher, "Open");
    SetSetting("chat_timestamps", "no_timestamps");
    RoomForm* form = Open("brackets");
    QVERIFY(form);
    mainWindow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mainWindow));
    QTRY_VERIFY(View(form)->isVisible());
    QVERIFY(Say(form, "bob", "<http://a.b> or \"http://c.d/?x=1&y=2\"&amp;"));
    QCOMPARE(LastLine(form), QString("[bob] <http://a.b> or \"http://c.d/?x=1&y=2\"&amp;"));

    for (const QString& shown : {QString("a.b"), QString("c.d")}) {
        const QTextCursor found = View(form)->document()->find(shown);
        QVERIFY(!found.isNull());
        QTextCursor inside(View(form)->document());
        inside.setPosition(found.selectionStart() + 1);
        QTest::mouseClick(View(form)->viewport(), Qt::LeftButton, {}, View(form)->cursorRect(inside).center());
    }
    QCOMPARE(catcher.urls, (QList<QUrl>{QUrl("http://a.b"), QUrl("http://c.d/?x=1&y=2")}));
    QDesktopServices::unsetUrlHandler("http");
}

void TestRoomChat::enterSendsAsTyped()
{
    RoomForm* form = Open("sends");
    QVERIFY(form);
    QVERIFY(m_fixture.Sync());
    QLineEdit* input = Input(form);
    QTest::keyClick(input, Qt::Key_Return);
    QVERIFY(m_fixture.FramesOf(13).isEmpty());

    QTest::keyClicks(input, "   ");
    QTest::keyClick(input, Qt::Key_Return);
    QTest::keyClicks(input, "/me <b>hi</b>");
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(input->text(), QString());
    const QList<FakeServer::Frame> sent = m_fixture.FramesOf(13);
    QCOMPARE(sent.size(), 2);
    // The room as u32 5 and "sends", the text as u32 3 and three blanks.
    QCOMPARE(sent.at(0).raw, QByteArray::fromHex("14000000 0d000000 05000000 73656e6473 03000000 202020"));
    QCOMPARE(sent.at(1).raw, QByteArray::fromHex("1e000000 0d000000 05000000 73656e6473 0d000000") +
                                 QByteArray("/me <b>hi</b>"));
    // Own lines show when the server hands them back, not before.
    QCOMPARE(Lines(form), QStringList());
}

void TestRoomChat::logGate()
{
    RoomForm* form = Open("gated");
    QVERIFY(form);
    QVERIFY(Say(form, "bob", "kept"));
    SetSetting("log_room_chat", "no");
    QVERIFY(Say(form, "bob", "not kept"));
    SetSetting("log_room_chat", "yes");
    QCOMPARE(LogLines("gated"), QStringList{"[Mar 7 9:05:09 pm][bob] kept"});
}

void TestRoomChat::busyViewIsCutAtLineBoundary()
{
    SetSetting("chat_timestamps", "no_timestamps");
    RoomForm* form = Open("busy");
    QVERIFY(form);
    const auto text = [](int n) { return QString("line %1 ").arg(n, 4, 10, QChar('0')) + QString(900, 'x'); };
    const auto shown = [&](int n) { return "[bob] " + text(n); };
    // Each line counts with the HTML appended for it: the view takes lines up to the bound.
    const int size = ChatLineHtml("no_timestamps", m_now, "bob", text(1)).size();
    const int fit = kChatViewMaxHtml / size;
    QByteArray frames;
    for (int n = 1; n <= fit; ++n)
        frames += ChatFrame("busy", "bob", text(n));
    m_fixture.server.SendRaw(frames);
    QTRY_COMPARE(LastLine(form), shown(fit));
    QCOMPARE(Lines(form).size(), fit);
    QCOMPARE(Lines(form).first(), shown(1));

    // The next one cuts whole lines from the top, at least kChatViewTrim characters of them,
    // and comes last; the rest stay in order.
    m_fixture.server.SendRaw(ChatFrame("busy", "bob", text(fit + 1)));
    QTRY_COMPARE(LastLine(form), shown(fit + 1));
    const int cut = (kChatViewTrim + size - 1) / size;
    QStringList expected;
    for (int n = cut + 1; n <= fit + 1; ++n)
        expected << shown(n);
    QCOMPARE(Lines(form), expected);
}

void TestRoomChat::actionAndStatusLinesCount()
{
    SetSetting("chat_timestamps", "no_timestamps");
    RoomForm* form = Open("actions");
    QVERIFY(form);
    const QString action = "waves " + QString(900, 'y');
    const int size = ChatStatusHtml("bob " + action).size();
    const int sent = 2 * kChatViewMaxHtml / size;
    QByteArray frames;
    for (int n = 0; n < sent; ++n)
        frames += ChatFrame("actions", "bob", "/me " + action);
    m_fixture.server.SendRaw(frames + ChatFrame("actions", "bob", "after"));
    QTRY_COMPARE(LastLine(form), QString("[bob] after"));
    // Action lines count as chat lines do: the view stays within the bound, the short last line
    // in the room left over by the long ones.
    QVERIFY2(Lines(form).size() <= kChatViewMaxHtml / size + 1, qPrintable(QString::number(Lines(form).size())));
    QCOMPARE(Lines(form).at(Lines(form).size() - 2), "* bob " + action);

    // A long line cuts as much as it needs, in one go.
    const QString longLine(kChatViewMaxHtml / 2, 'z');
    m_fixture.server.SendRaw(ChatFrame("actions", "bob", longLine));
    QTRY_COMPARE(LastLine(form), "[bob] " + longLine);
    int total = ChatLineHtml("no_timestamps", m_now, "bob", longLine).size();
    for (const QString& line : Lines(form).mid(0, Lines(form).size() - 1))
        total += line.startsWith("* ") ? size : ChatLineHtml("no_timestamps", m_now, "bob", "after").size();
    QVERIFY2(total <= kChatViewMaxHtml, qPrintable(QString::number(total)));
}

// Runs last: it logs out.
void TestRoomChat::notSentWhileLoggedOut()
{
    RoomForm* form = Open("offline");
    QVERIFY(form);
    gp_server->Disconnect();
    QLineEdit* input = Input(form);
    QTest::keyClicks(input, "anyone here");
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(LastLine(form), QString("* Message not sent: not connected to the server."));
    // The line waits in the input to be sent again.
    QCOMPARE(input->text(), QString("anyone here"));
}

QTEST_MAIN(TestRoomChat)
#include "tst_roomchat.moc"
#include "moc_urlcatcher.cpp"
