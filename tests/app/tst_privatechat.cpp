// Private conversations: one tab per user, opened in the background by a message, tracked once,
// with the online dot following the user, and closed tabs making room for fresh ones.

#include "mainwindowfixture.h"

#include "ui/chat/chatform.h"

#include <QTabWidget>
#include <QTextBrowser>

namespace {

ItemPtr User(const QString& name)
{
    return d.GetType("user")->GetItem(Value(name));
}

QImage IconImage(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

QByteArray PrivateMessage(quint32 id, const QString& user, const QString& text)
{
    return FakeServer::U32(id) + FakeServer::I32(1700000000) + FakeServer::Str(user) + FakeServer::Str(text) +
           FakeServer::U8(1);
}

}  // namespace

class TestPrivateChat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void messageFromNewUserOpensBackgroundTab();
    void furtherMessagesReuseTheTab();
    void dotFollowsOnlineState();
    void openChatFormSelectsExistingTab();
    void closedTabThenMessageMakesFreshTab();
    void cleanupTestCase();

private:
    int TabOf(const QString& user);
    ChatForm* FormOf(const QString& user);

    MainWindowFixture m_fixture;
    QTabWidget* mp_tabs = nullptr;
};

void TestPrivateChat::initTestCase()
{
    QVERIFY(m_fixture.Start());
    mp_tabs = MainWindowFixture::Child<QTabWidget>("chatTabControl");
}

int TestPrivateChat::TabOf(const QString& user)
{
    int found = -1;
    for (int k = 0; k < mp_tabs->count(); ++k)
        if (mp_tabs->tabText(k) == user)
            found = found == -1 ? k : -2;
    return found;
}

ChatForm* TestPrivateChat::FormOf(const QString& user)
{
    const int index = TabOf(user);
    return index >= 0 ? qobject_cast<ChatForm*>(mp_tabs->widget(index)) : nullptr;
}

void TestPrivateChat::messageFromNewUserOpensBackgroundTab()
{
    // A conversation the user is looking at.
    mainWindow->OpenChatForm("erin");
    QVERIFY(FormOf("erin"));
    QCOMPARE(mp_tabs->currentIndex(), TabOf("erin"));
    QVERIFY(m_fixture.Sync());
    QVERIFY(!d.GetType("user")->HasItem(Value("dave")));

    m_fixture.server.Send(22, PrivateMessage(7, "dave", "hello <b>there</b>"));
    QTRY_VERIFY(FormOf("dave"));
    // In the background: the current conversation stays.
    QCOMPARE(mp_tabs->currentIndex(), TabOf("erin"));
    QCOMPARE(IconImage(mp_tabs->tabIcon(TabOf("dave"))), IconImage(QIcon(":/icons/offline_dot_icon")));
    QVERIFY(User("dave").IsConnected("user_chat_widget"));
    QVERIFY(FormOf("dave")->findChild<QTextBrowser*>("chatView")->toPlainText().contains("hello <b>there</b>"));

    const QList<FakeServer::Frame> tracks = m_fixture.FramesOf(5);
    QCOMPARE(tracks.size(), 1);
    QCOMPARE(tracks.first().raw, QByteArray::fromHex("0c000000 05000000 04000000") + "dave");
    QVERIFY(User("dave").IsConnected("is_tracked"));
}

void TestPrivateChat::furtherMessagesReuseTheTab()
{
    QVERIFY(m_fixture.Sync());
    const int tabs = mp_tabs->count();
    ChatForm* form = FormOf("dave");
    m_fixture.server.Send(22, PrivateMessage(8, "dave", "second"));
    m_fixture.server.Send(22, PrivateMessage(9, "dave", "third"));
    QTRY_VERIFY(form->findChild<QTextBrowser*>("chatView")->toPlainText().contains("third"));
    QCOMPARE(mp_tabs->count(), tabs);
    QCOMPARE(FormOf("dave"), form);
    QVERIFY(m_fixture.FramesOf(5).isEmpty());
}

void TestPrivateChat::dotFollowsOnlineState()
{
    const QImage online = IconImage(QIcon(":/icons/online_dot_icon"));
    const QImage offline = IconImage(QIcon(":/icons/offline_dot_icon"));
    QVERIFY(online != offline);

    User("dave").NewItem("is_online");
    QCOMPARE(IconImage(mp_tabs->tabIcon(TabOf("dave"))), online);
    QCOMPARE(IconImage(mp_tabs->tabIcon(TabOf("erin"))), offline);
    User("dave").Disconnect("is_online");
    QCOMPARE(IconImage(mp_tabs->tabIcon(TabOf("dave"))), offline);

    // A user without a conversation is ignored; one already online gets the online dot.
    User("frank").NewItem("is_online");
    QCOMPARE(TabOf("frank"), -1);
    QVERIFY(mainWindow->GetChatForm("frank"));
    QCOMPARE(IconImage(mp_tabs->tabIcon(TabOf("frank"))), online);
}

void TestPrivateChat::openChatFormSelectsExistingTab()
{
    const int tabs = mp_tabs->count();
    MainWindowFixture::Child<QTabWidget>("tabControl")->setCurrentIndex(0);
    mp_tabs->setCurrentIndex(TabOf("erin"));
    mainWindow->OpenChatForm("dave");
    QCOMPARE(mp_tabs->count(), tabs);
    QCOMPARE(mp_tabs->currentIndex(), TabOf("dave"));
    QCOMPARE(MainWindowFixture::Child<QTabWidget>("tabControl")->currentWidget(),
             MainWindowFixture::Child<QWidget>("chatTab"));

    // GetChatForm alone neither selects nor creates.
    mainWindow->GetChatForm("erin");
    QCOMPARE(mp_tabs->currentIndex(), TabOf("dave"));
    QCOMPARE(mp_tabs->count(), tabs);
}

void TestPrivateChat::closedTabThenMessageMakesFreshTab()
{
    QVERIFY(m_fixture.Sync());
    QPointer<ChatForm> old = FormOf("dave");
    mainWindow->OnChatTabClosed(TabOf("dave"));
    QVERIFY(old.isNull());
    QCOMPARE(TabOf("dave"), -1);
    QVERIFY(!User("dave").IsConnected("user_chat_widget"));

    m_fixture.server.Send(22, PrivateMessage(10, "dave", "back again"));
    QTRY_VERIFY(FormOf("dave"));
    QVERIFY(FormOf("dave")->findChild<QTextBrowser*>("chatView")->toPlainText().contains("back again"));
    QVERIFY(!FormOf("dave")->findChild<QTextBrowser*>("chatView")->toPlainText().contains("second"));
    // Still tracked from the first time: the server is not asked twice.
    QVERIFY(User("dave").IsConnected("is_tracked"));
    QVERIFY(m_fixture.FramesOf(5).isEmpty());

    // Closing an index without a tab does nothing.
    const int tabs = mp_tabs->count();
    mainWindow->OnChatTabClosed(tabs + 3);
    QCOMPARE(mp_tabs->count(), tabs);
}

void TestPrivateChat::cleanupTestCase()
{
    delete mainWindow;
}

QTEST_MAIN(TestPrivateChat)
#include "tst_privatechat.moc"
