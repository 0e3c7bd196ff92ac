// Private conversations: one tab per user, opened in the background by a message and tracked
// once; lines in every time-stamp mode, actions, the log, typed lines, periods of activity, away
// notices, pending events, the log viewer, the replayed empty-share warning, and a line typed
// while logged out.

#include "mainwindowfixture.h"
#include "urlcatcher.h"

#include "app/eventtoolbar.h"
#include "app/focus.h"
#include "app/tabwidget.h"
#include "model/settings.h"
#include "ui/chat/chatdisplay.h"
#include "ui/chat/chatform.h"
#include "ui/chat/chatlog.h"
#include "ui/chat/chatlogform.h"
#include "ui/chat/messagelistform.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextEdit>

namespace {

const QDateTime kEvening(QDate(2026, 3, 7), QTime(21, 5, 9));

QByteArray PrivateMessage(quint32 id, const QString& user, const QString& text)
{
    return FakeServer::U32(id) + FakeServer::I32(1700000000) + FakeServer::Str(user) + FakeServer::Str(text) +
           FakeServer::U8(1);
}

QStringList LogLines(const QString& user)
{
    QFile file(ChatLogPath(ChatLogKind::User, user));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

}  // namespace

class TestPrivateChat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void messagesFromNewUserShareOneBackgroundTab();
    void burstOfNewSendersAndCloseMark();
    void burstLeavesTheOpenConversationAlone();
    void linesShownAndLogged_data();
    void linesShownAndLogged();
    void typedLinesGoOut();
    void eventMessage_data();
    void eventMessage();
    void pendingEventWhileHidden();
    void trayAlertIsPlainText();
    void awayAndAvailable();
    void activityPeriods();
    void chatLogViewer();
    void emptyShareWarningReplayed();
    void contextMenuAndLinks();
    void notSentWhileLoggedOut();
    void cleanupTestCase();

private:
    int TabOf(const QString& user);
    ChatForm* FormOf(const QString& user);
    QTextBrowser* View(const QString& user) { return FormOf(user)->findChild<QTextBrowser*>("chatView"); }
    QLineEdit* Edit(ChatForm* form) { return form->findChild<QLineEdit*>("chatEdit"); }
    QString Text(const QString& user) { return View(user)->toPlainText(); }
    QStringList Lines(const QString& user);
    bool Receive(const QString& user, const QString& text);

    MainWindowFixture m_fixture;
    QTabWidget* mp_tabs = nullptr;
    QDateTime m_now;
    quint32 m_messageId = 100;
};

void TestPrivateChat::initTestCase()
{
    QVERIFY(m_fixture.Start());
    mp_tabs = Child<QTabWidget>("chatTabControl");
    SetChatClock([this] { return m_now; });
}

void TestPrivateChat::init()
{
    m_now = kEvening;
    SetSetting("chat_timestamps", "per_message_short");
}

void TestPrivateChat::cleanupTestCase()
{
    SetChatClock({});
    delete mainWindow;
}

namespace {

// Counts the resizes a widget gets.
class ResizeCounter : public QObject
{
public:
    explicit ResizeCounter(QWidget* widget) { widget->installEventFilter(this); }
    int resizes = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            ++resizes;
        return false;
    }
};

}  // namespace

// The index of the only tab of `user`; -1 for none, -2 for several.
int TestPrivateChat::TabOf(const QString& user)
{
    int found = -1;
    for (int k = 0; k < mp_tabs->count(); ++k)
        if (qobject_cast<ChatForm*>(mp_tabs->widget(k)))
            found = mp_tabs->tabText(k) != user ? found : found == -1 ? k : -2;
    return found;
}

ChatForm* TestPrivateChat::FormOf(const QString& user)
{
    const int index = TabOf(user);
    return index >= 0 ? qobject_cast<ChatForm*>(mp_tabs->widget(index)) : nullptr;
}

QStringList TestPrivateChat::Lines(const QString& user)
{
    QStringList lines;
    for (QTextBlock b = View(user)->document()->begin(); b.isValid(); b = b.next())
        lines << b.text().trimmed();
    // A view without lines holds one empty paragraph.
    if (lines == QStringList{QString()})
        lines.clear();
    return lines;
}

// A message from `user` through the fake server, once the client has taken it in.
bool TestPrivateChat::Receive(const QString& user, const QString& text)
{
    int received = 0;
    const QMetaObject::Connection counter = connect(gp_server, &Server::PrivateChat, this, [&] { ++received; });
    m_fixture.server.Send(22, PrivateMessage(++m_messageId, user, text));
    const bool arrived = QTest::qWaitFor([&] { return received > 0; });
    disconnect(counter);
    return arrived;
}

void TestPrivateChat::messagesFromNewUserShareOneBackgroundTab()
{
    // A conversation the user is looking at.
    mainWindow->OpenChatForm("erin");
    QCOMPARE(mp_tabs->currentIndex(), TabOf("erin"));
    QVERIFY(m_fixture.Sync());

    m_fixture.server.Send(22, PrivateMessage(7, "dave", "hello <b>there</b>"));
    QTRY_VERIFY(FormOf("dave"));
    // In the background: the current conversation stays.
    QCOMPARE(mp_tabs->currentIndex(), TabOf("erin"));
    QVERIFY(Text("dave").contains("hello <b>there</b>"));
    const QList<FakeServer::Frame> tracks = m_fixture.FramesOf(5);
    QCOMPARE(tracks.size(), 1);
    QCOMPARE(tracks.first().raw, QByteArray::fromHex("0c000000 05000000 04000000") + "dave");

    QVERIFY(m_fixture.Sync());
    const int tabs = mp_tabs->count();
    ChatForm* form = FormOf("dave");
    m_fixture.server.Send(22, PrivateMessage(8, "dave", "second"));
    m_fixture.server.Send(22, PrivateMessage(9, "dave", "third"));
    QTRY_VERIFY(Text("dave").contains("third"));
    QCOMPARE(mp_tabs->count(), tabs);
    QCOMPARE(FormOf("dave"), form);
    QVERIFY(m_fixture.FramesOf(5).isEmpty());
}

void TestPrivateChat::burstOfNewSendersAndCloseMark()
{
    Child<QTabWidget>("tabControl")->setCurrentWidget(Child<QWidget>("chatTab"));
    QVERIFY(m_fixture.Sync());
    const int before = mp_tabs->count();
    // In one read, as a burst comes.
    const QStringList senders{"burst zoë", " spaced  out ", "Burst", "burst", "名前", "burst 6", "burst 7"};
    QByteArray burst;
    for (const QString& sender : senders)
        burst += FakeServer::MakeFrame(22, PrivateMessage(++m_messageId, sender, "hi"));
    m_fixture.server.SendRaw(burst);
    QTRY_COMPARE(mp_tabs->count(), before + senders.size());
    for (int k = 0; k < senders.size(); ++k)
        QCOMPARE(mp_tabs->tabText(before + k), senders[k]);

    auto* bar = qobject_cast<ChatTabBar*>(mp_tabs->tabBar());
    QVERIFY(bar);
    // The fixed Messages page has none.
    QVERIFY(bar->CloseMarkRect(mp_tabs->indexOf(mp_tabs->findChild<MessageListForm*>())).isNull());
    const int index = TabOf("burst");
    mp_tabs->setCurrentIndex(index);
    const QPointer<ChatForm> form = FormOf("burst");
    const QRect mark = bar->CloseMarkRect(index);
    QVERIFY(bar->rect().contains(mark));
    // Pressed on the mark, released off it: nothing, as with a button.
    QTest::mousePress(bar, Qt::LeftButton, {}, mark.center());
    QTest::mouseRelease(bar, Qt::LeftButton, {}, mark.bottomRight() + QPoint(3, 3));
    QCOMPARE(TabOf("burst"), index);
    QTest::mouseClick(bar, Qt::LeftButton, {}, mark.center());
    QVERIFY(!form);
    QCOMPARE(TabOf("burst"), -1);
    QCOMPARE(mp_tabs->count(), before + senders.size() - 1);
    QCOMPARE(TabOf("Burst"), index - 1);
}

void TestPrivateChat::burstLeavesTheOpenConversationAlone()
{
    // The user reads the end of a conversation on the Chat page; the event bar already shows
    // (its first button would make room for it, as it always has).
    Child<QTabWidget>("tabControl")->setCurrentWidget(Child<QWidget>("chatTab"));
    QVERIFY(Receive("waiting", "hi"));
    QVERIFY(eventToolBar->isVisible());
    mainWindow->OpenChatForm("reader");
    ChatForm* reading = FormOf("reader");
    for (int k = 0; k < 80; ++k)
        reading->AddChat("reader", QString("line %1").arg(k));
    QVERIFY(m_fixture.Sync());
    // Laid out in full (the view does it bit by bit in the background), then read to the end.
    View("reader")->document()->documentLayout()->documentSize();
    QScrollBar* scroll = View("reader")->verticalScrollBar();
    const int bottom = scroll->maximum();
    QVERIFY(bottom > 0);
    scroll->setValue(bottom);
    const QSize pageSize = reading->size();
    ResizeCounter page(reading);
    ResizeCounter view(View("reader"));

    const int before = mp_tabs->count();
    QByteArray burst;
    for (int k = 0; k < 40; ++k)
        burst += FakeServer::MakeFrame(22, PrivateMessage(++m_messageId, QString("crowd %1").arg(k), "hi"));
    m_fixture.server.SendRaw(burst);
    QTRY_COMPARE(mp_tabs->count(), before + 40);
    QVERIFY(m_fixture.Sync());
    QCOMPARE(mp_tabs->tabText(before + 39), QString("crowd 39"));

    // Neither resized, not even for a moment, and the end of the conversation still in view.
    QCOMPARE(page.resizes, 0);
    QCOMPARE(view.resizes, 0);
    QCOMPARE(reading->size(), pageSize);
    QCOMPARE(scroll->maximum(), bottom);
    QCOMPARE(scroll->value(), bottom);
    QCOMPARE(mp_tabs->currentWidget(), reading);
    // The row already stands where laying it out afresh puts it.
    QTabBar* row = mp_tabs->tabBar();
    const QRect placed = row->geometry();
    const QRect current = row->tabRect(mp_tabs->currentIndex());
    mp_tabs->setTabText(0, mp_tabs->tabText(0));
    QCOMPARE(row->geometry(), placed);
    QCOMPARE(row->tabRect(mp_tabs->currentIndex()), current);
}

void TestPrivateChat::linesShownAndLogged_data()
{
    QTest::addColumn<QString>("partner");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<QString>("html");  // a piece of the view's markup, when it matters

    const QString stamp = "[Mar 7 9:05:09 pm]";
    QTest::newRow("short") << "bob" << "per_message_short" << "hello" << "[21:05:09][bob] hello"
                           << stamp + "[bob] hello" << "";
    QTest::newRow("long") << "bob" << "per_message_long" << "hello" << stamp + "[bob] hello" << stamp + "[bob] hello"
                          << "";
    QTest::newRow("activity") << "bob" << "activity_based" << "hello" << "[bob] hello" << stamp + "[bob] hello" << "";
    QTest::newRow("none") << "bob" << "no_timestamps" << "hello" << "[bob] hello" << stamp + "[bob] hello" << "";
    QTest::newRow("unknown mode") << "bob" << "hourly" << "hello" << "[bob] hello" << stamp + "[bob] hello" << "";
    QTest::newRow("action") << "bob" << "per_message_short" << "/me waves" << "* bob waves" << stamp + " * bob waves"
                            << "#339933";
    QTest::newRow("action in blanks") << "bob" << "per_message_long" << "  /me  waves  " << "* bob waves"
                                      << stamp + " * bob waves" << "";
    QTest::newRow("no blank") << "bob" << "no_timestamps" << "/mewaves" << "[bob] /mewaves"
                              << stamp + "[bob] /mewaves" << "";
    QTest::newRow("upper case") << "bob" << "no_timestamps" << "/ME waves" << "[bob] /ME waves"
                                << stamp + "[bob] /ME waves" << "";
    QTest::newRow("me alone") << "bob" << "no_timestamps" << "/me " << "[bob] /me" << stamp + "[bob] /me " << "";
    QTest::newRow("markup") << "bob" << "no_timestamps" << "a < b & <i>c</i>" << "[bob] a < b & <i>c</i>"
                            << stamp + "[bob] a < b & <i>c</i>" << "a &lt; b &amp; &lt;i&gt;c&lt;/i&gt;";
    QTest::newRow("link") << "bob" << "no_timestamps" << "see http://example.org/x" << "[bob] see http://example.org/x"
                          << stamp + "[bob] see http://example.org/x" << "href=\"http://example.org/x\"";
    // Markers in a name or text reach the file as they are.
    QTest::newRow("markers") << "%1%2" << "per_message_short" << "%3 and %1" << "[21:05:09][%1%2] %3 and %1"
                             << stamp + "[%1%2] %3 and %1" << "";
    QTest::newRow("action markers") << "%2" << "no_timestamps" << "/me %1" << "* %2 %1" << stamp + " * %2 %1" << "";
    // The view shows the breaks as it always did; the log keeps the message on one line.
    QTest::newRow("breaks") << "bob" << "no_timestamps" << "one\r\n[Mar 7 9:05:09 pm][eve] two"
                            << "[bob] one [Mar 7 9:05:09 pm][eve] two" << stamp + "[bob] one  [Mar 7 9:05:09 pm][eve] two"
                            << "";
}

void TestPrivateChat::linesShownAndLogged()
{
    QFETCH(QString, partner);
    QFETCH(QString, mode);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(QString, logged);
    QFETCH(QString, html);
    SetSetting("chat_timestamps", mode);
    QVERIFY(Receive(partner, text));
    QCOMPARE(Lines(partner).last(), shown);
    QCOMPARE(LogLines(partner).last(), logged);
    QVERIFY(View(partner)->toHtml().contains(html));
    if (partner == "bob")
        QVERIFY(QFile::exists(QDir::homePath() + "/Tavrinel Chat Logs/Users/bob.log"));
}

void TestPrivateChat::typedLinesGoOut()
{
    mainWindow->OpenChatForm("carol");
    QLineEdit* edit = Edit(FormOf("carol"));
    QVERIFY(m_fixture.Sync());
    QTest::keyClicks(edit, "hi there");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(Lines("carol").last(), QString("[21:05:09][alice] hi there"));
    QCOMPARE(LogLines("carol").last(), QString("[Mar 7 9:05:09 pm][alice] hi there"));
    QCOMPARE(edit->text(), QString());

    // Nothing for an empty line; an action goes out as typed.
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClicks(edit, "/me waves");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(Lines("carol").last(), QString("* alice waves"));
    QCOMPARE(LogLines("carol").last(), QString("[Mar 7 9:05:09 pm] * alice waves"));
    const QList<FakeServer::Frame> sent = m_fixture.FramesOf(22);
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent[0].raw, QByteArray::fromHex("19000000 16000000 05000000 6361726f6c 08000000 6869207468657265"));
    QCOMPARE(sent[1].raw, QByteArray::fromHex("1a000000 16000000 05000000 6361726f6c 09000000 2f6d65207761766573"));
}

void TestPrivateChat::eventMessage_data()
{
    QTest::addColumn<QString>("author");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    const QString hundred = QString(50, 'a') + QString(50, 'b');
    QTest::newRow("250") << "bob" << hundred + QString(150, 'c') << "[bob] " + hundred + " ...";
    QTest::newRow("101") << "bob" << hundred + "c" << "[bob] " + hundred + " ...";
    QTest::newRow("100") << "bob" << hundred << "[bob] " + hundred;
    QTest::newRow("markers") << "%2" << "%1" << "[%2] %1";
}

void TestPrivateChat::eventMessage()
{
    QFETCH(QString, author);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QCOMPARE(ChatForm::EventMessage(author, text), message);
}

void TestPrivateChat::pendingEventWhileHidden()
{
    QVERIFY(Receive("dora", QString(250, 'x')));
    ChatForm* form = FormOf("dora");
    QVERIFY(!form->isVisible());
    QAction* button = eventToolBar->EventAction(Edit(form));
    QVERIFY(button);
    QCOMPARE(button->text(), QString("dora"));
    // One button per tab.
    QVERIFY(Receive("dora", "more"));
    QCOMPARE(eventToolBar->EventAction(Edit(form)), button);

    FocusWidgetAndParents(form);
    QVERIFY(form->isVisible());
    QVERIFY(!eventToolBar->EventAction(Edit(form)));

    // Hidden again: an action is no news, an ordinary line is.
    mainWindow->OpenChatForm("carol");
    QVERIFY(!form->isVisible());
    QVERIFY(Receive("dora", "/me yawns"));
    QVERIFY(!eventToolBar->EventAction(Edit(form)));
    QVERIFY(Receive("dora", "hello?"));
    QVERIFY(eventToolBar->EventAction(Edit(form)));
}

void TestPrivateChat::trayAlertIsPlainText()
{
    QStringList bodies;
    const QMetaObject::Connection popped =
        connect(mainWindow, &MainWindow::AlertPopped, this, [&](const QString& body) { bodies << body; });
    QVERIFY(Receive("kim", "<b>hi</b> & <img src=\"x\">"));
    disconnect(popped);
    QVERIFY(!FormOf("kim")->isVisible());
    // Escaped for notification servers that read markup: it shows as the peer typed it.
    QCOMPARE(bodies, QStringList{"[kim] &lt;b&gt;hi&lt;/b&gt; &amp; &lt;img src=\"x\"&gt;"});
}

void TestPrivateChat::awayAndAvailable()
{
    const auto status = [this](quint32 code) {
        m_fixture.server.Send(7, FakeServer::Str("erwin") + FakeServer::U32(code) + FakeServer::U8(0));
    };
    status(1);
    QTRY_VERIFY(d.GetType("user")->GetItem(Value("erwin")).IsConnected("is_away"));
    mainWindow->OpenChatForm("erwin");
    QCOMPARE(Lines("erwin"), QStringList({"* erwin is away."}));
    status(2);
    QTRY_COMPARE(Lines("erwin"), QStringList({"* erwin is away.", "* erwin is available."}));
    status(1);
    QTRY_COMPARE(Lines("erwin").size(), 3);
    QCOMPARE(Lines("erwin").last(), QString("* erwin is away."));
    // Status lines are not logged.
    QVERIFY(LogLines("erwin").isEmpty());
}

void TestPrivateChat::activityPeriods()
{
    SetSetting("chat_timestamps", "activity_based");
    QVERIFY(Receive("fay", "one"));
    ChatForm* form = FormOf("fay");
    QCOMPARE(Lines("fay"), QStringList({"* Chat started Mar 7 9:05:09 pm", "[fay] one"}));

    m_now = kEvening.addSecs(240);
    QVERIFY(Receive("fay", "two"));
    m_now = kEvening.addSecs(240 + 299);
    form->CheckChatInactivity();
    QCOMPARE(Lines("fay").size(), 3);
    m_now = kEvening.addSecs(240 + 300);
    form->CheckChatInactivity();
    form->CheckChatInactivity();
    QCOMPARE(Lines("fay").mid(2), QStringList({"[fay] two", "* Chat ended Mar 7 9:09:09 pm"}));

    // Actions neither start nor prolong a period.
    QVERIFY(Receive("fay", "/me nods"));
    QCOMPARE(Lines("fay").last(), QString("* fay nods"));
    QCOMPARE(Lines("fay").size(), 5);

    // Without stamps the period still runs: switched back, it shows its end but no start.
    SetSetting("chat_timestamps", "no_timestamps");
    QVERIFY(Receive("fay", "three"));
    SetSetting("chat_timestamps", "activity_based");
    m_now = m_now.addSecs(60);
    QVERIFY(Receive("fay", "four"));
    m_now = m_now.addSecs(300);
    form->CheckChatInactivity();
    QCOMPARE(Lines("fay").mid(5), QStringList({"[fay] three", "[fay] four", "* Chat ended Mar 7 9:15:09 pm"}));
}

void TestPrivateChat::chatLogViewer()
{
    QVERIFY(Receive("gil", "first"));
    ChatForm* form = FormOf("gil");
    QVERIFY(MainWindowFixture::Trigger(form, "Chat Log"));
    QPointer<ChatLogForm> viewer = qobject_cast<ChatLogForm*>(mp_tabs->currentWidget());
    QVERIFY(viewer);
    QCOMPARE(mp_tabs->tabText(mp_tabs->currentIndex()), QString("gil"));
    const int tabs = mp_tabs->count();
    FocusWidgetAndParents(form);
    QVERIFY(MainWindowFixture::Trigger(form, "Chat Log"));
    QCOMPARE(mp_tabs->count(), tabs);
    QCOMPARE(mp_tabs->currentWidget(), viewer.data());

    // The viewer outlives the conversation and takes the lines of the next one.
    mainWindow->OnChatTabClosed(mp_tabs->indexOf(form));
    QVERIFY(viewer);
    QVERIFY(Receive("gil", "again"));
    QVERIFY(FormOf("gil"));
    QCOMPARE(viewer->findChild<QTextEdit*>("logEdit")->document()->lastBlock().text(),
             QString("[Mar 7 9:05:09 pm][gil] again"));
    mainWindow->OnChatTabClosed(mp_tabs->indexOf(viewer));
    QVERIFY(!viewer);
}

void TestPrivateChat::emptyShareWarningReplayed()
{
    SetSetting("chat_timestamps", "no_timestamps");
    d.GetType("user")->GetItem(Value("hal")) +=
        d.GetType("sent_empty_share_warning_message")->GetItem(Value("Please share something"));
    for (int round = 0; round < 2; ++round) {
        ChatForm* form = mainWindow->GetChatForm("hal");
        QCOMPARE(Lines("hal"), QStringList({"[alice] Please share something"}));
        QVERIFY(eventToolBar->EventAction(Edit(form)));
        mainWindow->OnChatTabClosed(mp_tabs->indexOf(form));
    }
    QCOMPARE(LogLines("hal").size(), 2);
}

void TestPrivateChat::contextMenuAndLinks()
{
    mainWindow->OpenChatForm("ivan");
    QTextBrowser* view = View("ivan");
    QStringList entries;
    QTimer::singleShot(0, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions())
                entries << action->text();
            menu->close();
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), view->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(view->viewport(), &event);
    QVERIFY(entries.contains("Message user"));
    QVERIFY(entries.contains("Add user to list"));

    UrlCatcher browser;
    QDesktopServices::setUrlHandler("http", &browser, "Open");
    mainWindow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mainWindow));
    view->setFocus();
    QCOMPARE(QApplication::focusWidget(), view);
    emit view->anchorClicked(QUrl("http://example.org/x"));
    QDesktopServices::unsetUrlHandler("http");
    QCOMPARE(browser.urls, QList<QUrl>{QUrl("http://example.org/x")});
    QCOMPARE(QApplication::focusWidget(), Edit(FormOf("ivan")));
}

// Runs last: it logs out, and logs in again after.
void TestPrivateChat::notSentWhileLoggedOut()
{
    mainWindow->OpenChatForm("jo");
    QLineEdit* edit = Edit(FormOf("jo"));
    gp_server->Disconnect();
    QSignalSpy sent(gp_server, &Server::PrivateChatSent);
    QTest::keyClicks(edit, "are you there");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(Lines("jo"), QStringList({"[21:05:09][alice] are you there",
                                       "* Message not sent: not connected to the server."}));
    QCOMPARE(sent.count(), 0);
    QVERIFY(!d.GetType("user")->GetItem(Value("jo")).IsConnected("private_message"));
}

QTEST_MAIN(TestPrivateChat)
#include "tst_privatechat.moc"
#include "moc_urlcatcher.cpp"
