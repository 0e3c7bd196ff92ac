// Private conversations: one tab per user, opened in the background by a message and tracked
// once; further messages reuse it.

#include "mainwindowfixture.h"

#include "ui/chat/chatform.h"

#include <QTabWidget>
#include <QTextBrowser>

namespace {

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
    void messagesFromNewUserShareOneBackgroundTab();
    void cleanupTestCase() { delete mainWindow; }

private:
    int TabOf(const QString& user);
    ChatForm* FormOf(const QString& user);
    QString Text(const QString& user) { return FormOf(user)->findChild<QTextBrowser*>("chatView")->toPlainText(); }

    MainWindowFixture m_fixture;
    QTabWidget* mp_tabs = nullptr;
};

void TestPrivateChat::initTestCase()
{
    QVERIFY(m_fixture.Start());
    mp_tabs = Child<QTabWidget>("chatTabControl");
}

// The index of the only tab of `user`; -1 for none, -2 for several.
int TestPrivateChat::TabOf(const QString& user)
{
    int found = -1;
    for (int k = 0; k < mp_tabs->count(); ++k)
        found = mp_tabs->tabText(k) != user ? found : found == -1 ? k : -2;
    return found;
}

ChatForm* TestPrivateChat::FormOf(const QString& user)
{
    const int index = TabOf(user);
    return index >= 0 ? qobject_cast<ChatForm*>(mp_tabs->widget(index)) : nullptr;
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

QTEST_MAIN(TestPrivateChat)
#include "tst_privatechat.moc"
