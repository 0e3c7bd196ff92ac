// The distributed search network over real sockets on 127.0.0.1: what the server is told, how a
// candidate becomes the parent, what the children receive, and the frames that are refused.
// Connections are handed over the way the peer messenger does it, by its two signals.
#include "common/deliver.h"
#include "common/serverfixture.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "server/server.h"
#include "shares/dnetmanager.h"
#include "shares/sharedfoldersmanager.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

QByteArray Frame(const QByteArray& body) { return F::U32(quint32(body.size())) + body; }
QByteArray Level(quint32 level) { return F::U8(4) + F::U32(level); }
QByteArray Leader(const QString& name) { return F::U8(5) + F::Str(name); }
QByteArray Depth(quint32 depth) { return F::U8(7) + F::U32(depth); }
QByteArray Search(const QString& user, quint32 token, const QString& text)
{
    return F::U8(3) + F::U32(49) + F::Str(user) + F::U32(token) + F::Str(text);
}

// The next count bytes that arrive, or what there is after five seconds.
QByteArray Receive(QTcpSocket* socket, int count)
{
    if (!QTest::qWaitFor([&] { return socket->bytesAvailable() >= count; }, 5000))
        return socket->readAll();
    return socket->read(count);
}

bool Closed(QTcpSocket* far)
{
    return QTest::qWaitFor([&] { return far->state() == QAbstractSocket::UnconnectedState; }, 5000);
}

} // namespace

class TestDNetManager : public QObject
{
    Q_OBJECT

    ServerFixture m_env;
    QTcpServer m_listener;
    QTcpSocket* mp_parent = nullptr;  // the far end of the parent p
    QTcpSocket* mp_child = nullptr;   // the far end of the child c

    // A connection on 127.0.0.1: the client's end, as the peer messenger hands it over, and the
    // far end, which plays the other client.
    QPair<QTcpSocket*, QTcpSocket*> Link()
    {
        auto* far = new QTcpSocket(this);
        far->connectToHost(QHostAddress::LocalHost, m_listener.serverPort());
        if (!m_listener.waitForNewConnection(5000) || !far->waitForConnected(5000))
            return {};
        QTcpSocket* mine = m_listener.nextPendingConnection();
        mine->setParent(nullptr);
        return {mine, far};
    }
    // The far end has written bytes that the client's end holds before it is handed over.
    static bool Buffered(QTcpSocket* mine, QTcpSocket* far, const QByteArray& bytes)
    {
        far->write(bytes);
        return QTest::qWaitFor([&] { return mine->bytesAvailable() >= bytes.size(); }, 5000);
    }
    // What the client told the server of its place in the network since the last look: searches
    // answered on the way also ask the server for connections, and those are left out.
    QByteArray Sent()
    {
        if (!m_env.Sync())
            return "no sync";
        QByteArray reports;
        for (const FakeServer::Frame& f : m_env.fake.TakeFrames())
            if (QList<quint32>({71, 100, 126, 127, 129}).contains(f.code))
                reports += f.raw;
        return reports;
    }
    static QString LogLines() { return LogText("Distributed Network"); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.SetUp(true, false));
        new PeerMessenger();
        new DNetManager();
        new SharedFoldersManager();
        m_env.SetLogin("me", "secret");
        const QString folder = m_env.dir.filePath("shared");
        QVERIFY(QDir().mkpath(folder));
        QFile file(folder + "/needle.txt");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("data") == 4);
        file.close();
        sharedFoldersManager->AddSharedFolder(folder).NewItem("shared_public");
        QVERIFY(m_listener.listen(QHostAddress::LocalHost, 0));
    }

    void loginReportsNoParent()
    {
        QVERIFY(m_env.LogIn(true));
        QVERIFY(m_env.Sync());
        QVERIFY(m_env.fake.RawBytes().contains(Hex("05000000 47000000 01")));
        // Nothing else of the network: no level, leader, or true status to repeat.
        for (quint32 code : {100u, 126u, 127u, 129u})
            QVERIFY(!m_env.fake.Codes().contains(code));
        m_env.fake.ClearFrames();
    }

    void canParentFromServerFigures()
    {
        QVERIFY(Deliver(m_env.fake, 83, F::I32(10)));
        QVERIFY(Deliver(m_env.fake, 36, F::Str("me") + Stats(10239, 0)));
        QVERIFY(!LogLines().contains("Determining"));  // the ratio is still missing
        QVERIFY(Deliver(m_env.fake, 84, F::I32(2)));
        QCOMPARE(Sent(), QByteArray());
        QVERIFY(Deliver(m_env.fake, 36, F::Str("me") + Stats(10240, 0)));
        QCOMPARE(Sent(), Hex("05000000 64000000 01"));
        QVERIFY(LogLines().contains("Currently have 0 child connections, max capacity 50"));
    }

    // Figures whose products leave 32 bits, and ratios that cannot be divided by.
    void capacityArithmetic_data()
    {
        QTest::addColumn<int>("minSpeed");
        QTest::addColumn<int>("ratio");
        QTest::addColumn<int>("speed");
        QTest::addColumn<bool>("canParent");
        QTest::newRow("below minimum") << 10 << 2 << 10239 << false;
        QTest::newRow("speed times 10 past 32 bits") << 1 << 1 << 300000000 << true;
        QTest::newRow("minimum times 1024 past 32 bits") << 3000000 << 1 << 100000 << false;
        QTest::newRow("ratio 0") << 10 << 0 << 10240000 << false;
        QTest::newRow("exactly the minimum") << 10 << 2 << 10240 << true;
        QTest::newRow("negative ratio") << 10 << -3 << 10240000 << false;
    }
    void capacityArithmetic()
    {
        QFETCH(int, minSpeed);
        QFETCH(int, ratio);
        QFETCH(int, speed);
        QFETCH(bool, canParent);
        dnetManager->OnDNetParentMinSpeed(minSpeed);
        dnetManager->OnDNetParentSpeedConnectionRatio(ratio);
        SetSetting("upload_speed", Value(speed));
        QCOMPARE(dnetManager->CanParent(), canParent);
        if (ratio <= 0)
            QVERIFY(LogLines().contains(QString("Parent speed connection ratio %1 is not positive").arg(ratio)));
    }

    void possibleParentsAskedForOnce()
    {
        const QByteArray entry = F::Str("p") + F::U32(0x7f000001) + F::I32(4321);
        QVERIFY(Deliver(m_env.fake, 102, F::U32(1) + entry));
        ItemPtr p = Find("user", "p");
        QCOMPARE(ValueOf(p, "user_address"), QString("2130706433"));
        QCOMPARE(ValueOf(p, "user_port"), QString("4321"));
        QVERIFY(p.IsConnected("attempted_dnet_connection"));
        QVERIFY(Deliver(m_env.fake, 102, F::U32(1) + entry));
        QVERIFY(LogLines().contains("Already attempted parent connection to p, skipping"));
    }

    void firstCandidateToSearchBecomesParent()
    {
        m_env.fake.ClearFrames();
        auto early = Link();  // a child from before there was a parent
        QVERIFY(early.first);
        emit peerMessenger->DNetConnectionRequested("early", early.first);
        auto p = Link();
        auto q = Link();
        QVERIFY(p.first && q.first);
        mp_parent = p.second;
        // Sent right behind the init message: already buffered when the socket is handed over,
        // so no readyRead will ever tell of it.
        QVERIFY(Buffered(p.first, p.second, Frame(Level(4)) + Frame(Leader("L"))));
        emit peerMessenger->DNetConnectionAccepted("p", p.first);
        emit peerMessenger->DNetConnectionAccepted("q", q.first);
        ItemPtr candidate = Find("dnet_parent_candidate", QString::number(quintptr(p.first)));
        QVERIFY(candidate);
        QTRY_COMPARE(ValueOf(candidate, "dnet_candidate_level"), QString("5"));
        QCOMPARE(ValueOf(candidate, "dnet_candidate_leader"), QString("L"));
        QVERIFY(!dnetManager->HasParent());

        QSignalSpy searches(dnetManager, &DNetManager::DNetSearchRequest);
        const QByteArray search = Search("u", 7, "needle");
        p.second->write(Frame(search));
        QTRY_COMPARE(searches.size(), 1);
        QCOMPARE(searches[0], QVariantList({"u", 7u, "needle"}));
        QVERIFY(LogText("Search").contains("Sending search results to user u for search string needle"));
        QVERIFY(dnetManager->HasParent());
        QCOMPARE(Sent(), Hex("08000000 7e000000 05000000"
                             "09000000 7f000000 01000000 4c"
                             "05000000 47000000 00"));
        QVERIFY(Closed(q.second));
        QCOMPARE(d.GetType("dnet_parent_candidate")->ItemCount(), size_t(0));
        // The new parent's level and leader reach the children before the search.
        const QByteArray expected = Frame(Level(5)) + Frame(Leader("L")) + Frame(search);
        QCOMPARE(Receive(early.second, expected.size()), expected);
        QTest::qWait(20);
        QCOMPARE(p.second->bytesAvailable(), qint64(0));
    }

    void childGetsStateAndRelays()
    {
        auto c = Link();
        QVERIFY(c.first);
        mp_child = c.second;
        // A depth sent with the init message is read without waiting for more bytes.
        QVERIFY(Buffered(c.first, c.second, Frame(Depth(0))));
        emit peerMessenger->DNetConnectionRequested("c", c.first);
        QCOMPARE(Receive(c.second, 19), Hex("05000000 04 05000000" "06000000 05 01000000 4c"));
        QTRY_VERIFY(LogLines().contains("Received child depth 0 from c"));
        QVERIFY(LogLines().contains("Received message from child, code 7"));
        QCOMPARE(Sent(), Hex("05000000 81000000 01"));
        c.second->write(Frame(Depth(0)));
        QTRY_COMPARE(LogLines().count("Received child depth 0 from c"), 2);
        QCOMPARE(Sent(), QByteArray());

        QSignalSpy searches(dnetManager, &DNetManager::DNetSearchRequest);
        const QByteArray fromParent = Search("u", 8, "hay");
        mp_parent->write(Frame(fromParent));
        QCOMPARE(Receive(c.second, fromParent.size() + 4), Frame(fromParent));
        const QByteArray fromServer = Search("s", 9, "straw");
        QVERIFY(Deliver(m_env.fake, 93, fromServer));
        QCOMPARE(Receive(c.second, fromServer.size() + 4), Frame(fromServer));
        QCOMPARE(searches.size(), 2);
        // Another inner code is passed on whole, whatever follows it, and not answered.
        const QByteArray other = F::U8(3) + F::U32(50) + "anything";
        QVERIFY(Deliver(m_env.fake, 93, other));
        mp_parent->write(Frame(other));
        QCOMPARE(Receive(c.second, 2 * (other.size() + 4)), Frame(other) + Frame(other));
        QCOMPARE(searches.size(), 2);
    }

    void levelFromParent()
    {
        m_env.fake.ClearFrames();
        mp_parent->write(Frame(Level(0xFFFFFFFF)));
        QCOMPARE(Receive(mp_child, 9), Hex("05000000 04 ffffffff"));
        QCOMPARE(Sent(), Hex("08000000 7e000000 ffffffff"));
        mp_parent->write(Frame(Level(7)) + Frame(Level(7)));
        QCOMPARE(Receive(mp_child, 9), Hex("05000000 04 08000000"));
        QCOMPARE(Sent(), Hex("08000000 7e000000 08000000"));
        // A level with no successor in 32 bits is refused, not wrapped.
        mp_parent->write(Frame(Level(0x7FFFFFFF)));
        QTRY_VERIFY(LogLines().contains("Refusing level 2147483647 from parent"));
        QCOMPARE(Sent(), QByteArray());
        QCOMPARE(mp_child->bytesAvailable(), qint64(0));
    }

    void parentLoss()
    {
        mp_parent->disconnectFromHost();
        QTRY_VERIFY(!dnetManager->HasParent());
        QCOMPARE(Sent(), Hex("05000000 47000000 01"
                             "08000000 7f000000 00000000"
                             "08000000 7e000000 ffffffff"));
    }

    void refusedFrameLengths_data()
    {
        QTest::addColumn<bool>("child");
        QTest::addColumn<quint32>("length");
        for (bool child : {false, true}) {
            const char* who = child ? "child" : "candidate";
            QTest::addRow("%s, 2 GiB", who) << child << 0x7FFFFFFFu;
            QTest::addRow("%s, negative", who) << child << 0x80000000u;
            QTest::addRow("%s, one past the limit", who) << child << 10485761u;
        }
    }
    void refusedFrameLengths()
    {
        QFETCH(bool, child);
        QFETCH(quint32, length);
        auto link = Link();
        QVERIFY(link.first);
        if (child)
            emit peerMessenger->DNetConnectionRequested("x", link.first);
        else
            emit peerMessenger->DNetConnectionAccepted("x", link.first);
        link.second->write(F::U32(length) + QByteArray(64, '\3'));
        QVERIFY(Closed(link.second));
        QVERIFY(LogLines().contains(QString("Refusing a frame of %1 bytes").arg(length)));
        QVERIFY(!Find(child ? "dnet_child" : "dnet_parent_candidate", QString::number(quintptr(link.first))));
    }

    void largestFrameAccepted()
    {
        auto link = Link();
        QVERIFY(link.first);
        emit peerMessenger->DNetConnectionAccepted("big", link.first);
        QByteArray body(10485760, '\0');
        body[0] = 9;  // a code nobody reads: dropped once whole
        link.second->write(Frame(body) + Frame(Level(1)));
        ItemPtr candidate = Find("dnet_parent_candidate", QString::number(quintptr(link.first)));
        QTRY_COMPARE(ValueOf(candidate, "dnet_candidate_level"), QString("2"));
    }

    void childThatNeverReadsIsDropped()
    {
        auto slow = Link();
        QVERIFY(slow.first);
        slow.second->setReadBufferSize(1);  // stops taking bytes off the wire
        emit peerMessenger->DNetConnectionRequested("slow", slow.first);
        connect(mp_child, &QTcpSocket::readyRead, mp_child, [this] { mp_child->readAll(); });
        MemStream message;
        message.Write(uint8_t(3));
        message.Write(uint32_t(50));
        const QByteArray filler(1024 * 1024, 'x');
        message.WriteBuffer(filler.constData(), size_t(filler.size()));
        // The far end takes nothing more, so it will not see the end either: the client's side
        // is watched instead.
        const QString slowChild = QString::number(quintptr(slow.first));
        for (int k = 0; k < 64 && Find("dnet_child", slowChild); ++k) {
            dnetManager->SendMessageToChildren(message);
            QTest::qWait(5);
        }
        QVERIFY(!Find("dnet_child", slowChild));
        QVERIFY(LogLines().contains("Child slow is not reading"));
        QCOMPARE(mp_child->state(), QAbstractSocket::ConnectedState);
        QVERIFY(Find("user", "c")["dnet_child"]);
    }

    // Garbage from the server and from candidates: read, refused or relayed, never a crash.
    void randomMessages()
    {
        auto* random = QRandomGenerator::global();
        auto bytes = [random](int n) {
            QByteArray b(n, '\0');
            for (char& c : b)
                c = char(random->bounded(256));
            if (n > 0 && random->bounded(2))
                b[0] = "\3\4\5\7"[random->bounded(4)];
            return b;
        };
        for (int k = 0; k < 5000; ++k) {
            MemStream message;
            message.Write(uint32_t(93));
            const QByteArray body = bytes(random->bounded(48));
            message.WriteBuffer(body.constData(), size_t(body.size()));
            uint32_t code = 0;
            message.Read(code);
            dnetManager->HandleMessage(nullptr, message);
        }
        for (int k = 0; k < 20; ++k) {
            auto link = Link();
            QVERIFY(link.first);
            emit peerMessenger->DNetConnectionAccepted("r", link.first);
            const QByteArray body = bytes(random->bounded(64));
            link.second->write(Frame(body) + bytes(random->bounded(64)));
        }
        QTest::qWait(50);
        QCOMPARE(mp_child->state(), QAbstractSocket::ConnectedState);
    }
};

QTEST_MAIN(TestDNetManager)
#include "tst_dnetmanager.moc"
