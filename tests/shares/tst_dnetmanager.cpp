// The distributed search network with a fake server and fake peers on 127.0.0.1: what the server
// is told, how a candidate becomes the parent, what the children receive, and the frames that are
// refused. The peer messenger forms the connections; a few cases hand sockets over by its signals.
#include "common/peerfixture.h"
#include "shares/dnetmanager.h"
#include "shares/sharedfoldersmanager.h"

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

} // namespace

class TestDNetManager : public QObject
{
    Q_OBJECT

    PeerFixture m_env;
    QTcpServer m_listener;
    FakePeer m_parent;  // p, proposed by the server and dialled
    FakePeer m_other;   // q, proposed too, reached only through the server's relay
    FakePeer m_early;   // a child from before there was a parent
    FakePeer m_child;   // c

    FakeServer& Fake() { return m_env.env.fake; }

    QPair<QTcpSocket*, QTcpSocket*> Link() { return PeerFixture::Link(m_listener, this); }
    // What the client told the server of its place in the network since the last look: searches
    // answered on the way also ask the server for connections, and those are left out.
    QByteArray Sent()
    {
        if (!m_env.env.Sync())
            return "no sync";
        QByteArray reports;
        for (const FakeServer::Frame& f : Fake().TakeFrames())
            if (QList<quint32>({71, 100, 126, 127, 129}).contains(f.code))
                reports += f.raw;
        return reports;
    }
    // The frames the client sent the server since the last look, all of them.
    QList<FakeServer::Frame> ServerFrames()
    {
        if (!m_env.env.Sync())
            return {};
        return Fake().TakeFrames();
    }
    static QString LogLines() { return LogText("Distributed Network"); }
    static ItemPtr Candidate(const QString& user)
    {
        ItemSet candidates = Find("user", user).GetItems("dnet_parent_candidate");
        return candidates.empty() ? ItemPtr() : *candidates.begin();
    }
    // Waits for the next frames a fake peer receives; their raw bytes, back to back.
    static QByteArray Next(FakePeer& peer, int count)
    {
        if (!peer.WaitForFrames(count))
            return "missing frames";
        QByteArray raw;
        for (const FakePeer::Frame& f : peer.TakeFrames())
            raw += f.raw;
        return raw;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.SetUp(false));
        new DNetManager();
        new SharedFoldersManager();
        const QString folder = m_env.env.dir.filePath("shared");
        QVERIFY(QDir().mkpath(folder));
        QFile file(folder + "/needle.txt");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("data") == 4);
        file.close();
        sharedFoldersManager->AddSharedFolder(folder).NewItem("shared_public");
        QVERIFY(m_listener.listen(QHostAddress::LocalHost, 0));
    }

    // Answers to searches may still wait for their users' addresses.
    void cleanupTestCase() { m_env.Clear(); }

    void loginReportsNoParent()
    {
        QVERIFY(m_env.env.LogIn(true));
        QCOMPARE(Sent(), Hex("05000000 47000000 01"));  // no level, leader or capacity to repeat
    }

    void canParentFromServerFigures()
    {
        QVERIFY(Deliver(Fake(), 83, F::I32(10)));
        QVERIFY(Deliver(Fake(), 36, F::Str("me") + Stats(10239, 0)));
        QVERIFY(Deliver(Fake(), 84, F::I32(2)));
        QCOMPARE(Sent(), QByteArray());
        QVERIFY(Deliver(Fake(), 36, F::Str("me") + Stats(10240, 0)));
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
        QTest::newRow("speed times 10 past 32 bits") << 1 << 1 << 300000000 << true;
        QTest::newRow("minimum times 1024 past 32 bits") << 3000000 << 1 << 100000 << false;
        QTest::newRow("ratio 0") << 10 << 0 << 10240000 << false;
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
        if (ratio == 0)
            QVERIFY(LogLines().contains("Parent speed connection ratio 0 is not positive"));
    }

    void possibleParentsDialledOnce()
    {
        ServerFrames();
        QVERIFY(m_parent.Listen());
        QTcpServer closed;  // q's own port takes no connection: q is reached through the relay
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 closedPort = closed.serverPort();
        closed.close();
        const QByteArray p = F::Str("p") + F::U32(0x7f000001) + F::I32(m_parent.Port());
        const QByteArray q = F::Str("q") + F::U32(0x7f000001) + F::I32(closedPort);
        QVERIFY(Deliver(Fake(), 102, F::U32(2) + p + q));
        const QList<FakeServer::Frame> sent = ServerFrames();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[0].code, 18u);
        QCOMPARE(sent[0].fields.mid(4), F::Str("p") + F::Str("D"));
        QCOMPARE(sent[1].fields.mid(4), F::Str("q") + F::Str("D"));
        QCOMPARE(Next(m_parent, 1), FakePeer::PlainFrame(FakePeer::DirectInit("me", "D")));
        QTRY_VERIFY(Candidate("p"));

        // q answers the relayed request and speaks at once, in the same packet as its init.
        QVERIFY(m_other.ConnectTo(m_env.port));
        m_other.SendRaw(FakePeer::PlainFrame(FakePeer::IndirectInit(qFromLittleEndian<quint32>(sent[1].fields.constData()))) +
                        Frame(Level(9)) + Frame(Leader("Q")));
        QTRY_COMPARE(ValueOf(Candidate("q"), "dnet_candidate_level"), QString("10"));
        QCOMPARE(ValueOf(Candidate("q"), "dnet_candidate_leader"), QString("Q"));

        QVERIFY(Deliver(Fake(), 102, F::U32(1) + p));
        QCOMPARE(ServerFrames().size(), 0);
        QCOMPARE(m_parent.ConnectionCount(), 1);
    }

    void firstCandidateToSearchBecomesParent()
    {
        QVERIFY(m_early.ConnectTo(m_env.port));
        m_early.SendDirectInit("early", "D");
        QTRY_VERIFY(Find("user", "early")["dnet_child"]);
        m_parent.SendFrame(Level(4));
        m_parent.SendFrame(Leader("L"));
        QTRY_COMPARE(ValueOf(Candidate("p"), "dnet_candidate_leader"), QString("L"));
        QVERIFY(!dnetManager->HasParent());

        // The search is answered: u has no connection yet, so the reply waits for u's address.
        FakePeer u;
        QVERIFY(u.Listen());
        QSignalSpy searches(dnetManager, &DNetManager::DNetSearchRequest);
        const QByteArray search = Search("u", 7, "needle");
        m_parent.SendFrame(search);
        QTRY_COMPARE(searches.size(), 1);
        QCOMPARE(searches[0], QVariantList({"u", 7u, "needle"}));
        QVERIFY(dnetManager->HasParent());
        QVERIFY(Deliver(Fake(), 3, F::Str("u") + F::U32(0x7f000001) + F::U32(u.Port()) + F::U32(0) + F::U16(0)));
        QVERIFY(u.WaitForFrames(2));
        QCOMPARE(u.Frames()[1].body.left(4), F::U32(9));
        QCOMPARE(LogText("Search").count("Sending search results to user u"), 1);

        QCOMPARE(Sent(), Hex("08000000 7e000000 05000000"
                             "09000000 7f000000 01000000 4c"
                             "05000000 47000000 00"));
        QVERIFY(m_other.WaitForDisconnect());
        // The new parent's level and leader reach the children before the search.
        QCOMPARE(Next(m_early, 3), Frame(Level(5)) + Frame(Leader("L")) + Frame(search));
        QTest::qWait(20);
        QCOMPARE(m_parent.Received(), FakePeer::PlainFrame(FakePeer::DirectInit("me", "D")));
    }

    void childGetsStateAndRelays()
    {
        // A depth sent in the same packet as the init message is read without waiting for more.
        QVERIFY(m_child.ConnectTo(m_env.port));
        m_child.SendRaw(FakePeer::PlainFrame(FakePeer::DirectInit("c", "D")) + Frame(Depth(0)));
        QCOMPARE(Next(m_child, 2), Hex("05000000 04 05000000" "06000000 05 01000000 4c"));
        QTRY_VERIFY(LogLines().contains("Received child depth 0 from c"));
        QCOMPARE(Sent(), Hex("05000000 81000000 01"));
        m_child.SendFrame(Depth(0));
        QTRY_COMPARE(LogLines().count("Received child depth 0 from c"), 2);
        QCOMPARE(Sent(), QByteArray());

        QSignalSpy searches(dnetManager, &DNetManager::DNetSearchRequest);
        const QByteArray fromParent = Search("u", 8, "hay");
        m_parent.SendFrame(fromParent);
        QCOMPARE(Next(m_child, 1), Frame(fromParent));
        const QByteArray fromServer = Search("s", 9, "straw");
        QVERIFY(Deliver(Fake(), 93, fromServer));
        QCOMPARE(Next(m_child, 1), Frame(fromServer));
        QCOMPARE(searches.size(), 2);
        // Another inner code is passed on whole, whatever follows it, and not answered.
        const QByteArray other = F::U8(3) + F::U32(50) + "anything";
        QVERIFY(Deliver(Fake(), 93, other));
        m_parent.SendFrame(other);
        QCOMPARE(Next(m_child, 2), Frame(other) + Frame(other));
        QCOMPARE(searches.size(), 2);
    }

    void levelFromParent()
    {
        ServerFrames();
        m_parent.SendFrame(Level(0xFFFFFFFF));
        QCOMPARE(Next(m_child, 1), Hex("05000000 04 ffffffff"));
        QCOMPARE(Sent(), Hex("08000000 7e000000 ffffffff"));
        m_parent.SendFrame(Level(7));
        m_parent.SendFrame(Level(7));
        QCOMPARE(Next(m_child, 1), Hex("05000000 04 08000000"));
        QCOMPARE(Sent(), Hex("08000000 7e000000 08000000"));
        // A level with no successor in 32 bits is refused, not wrapped.
        m_parent.SendFrame(Level(0x7FFFFFFF));
        QTRY_VERIFY(LogLines().contains("Refusing level 2147483647 from parent"));
        QCOMPARE(Sent(), QByteArray());
        QCOMPARE(m_child.Frames().size(), 0);
    }

    void parentLoss()
    {
        m_parent.Close();
        QTRY_VERIFY(!dnetManager->HasParent());
        QCOMPARE(Sent(), Hex("05000000 47000000 01"
                             "08000000 7f000000 00000000"
                             "08000000 7e000000 ffffffff"));
    }

    // Lengths beyond the limit close the connection; one at the limit is read whole.
    void frameLengths_data()
    {
        QTest::addColumn<bool>("child");
        QTest::addColumn<quint32>("length");
        for (bool child : {false, true}) {
            const char* who = child ? "child" : "candidate";
            QTest::addRow("%s, 2 GiB", who) << child << 0x7FFFFFFFu;
            QTest::addRow("%s, negative", who) << child << 0x80000000u;
            QTest::addRow("%s, one past the limit", who) << child << 10485761u;
        }
        QTest::newRow("candidate, the limit") << false << 10485760u;
    }
    void frameLengths()
    {
        QFETCH(bool, child);
        QFETCH(quint32, length);
        auto link = Link();
        QVERIFY(link.first);
        if (child)
            emit peerMessenger->DNetConnectionRequested("x", link.first);
        else
            emit peerMessenger->DNetConnectionAccepted("x", link.first);
        const QString id = QString::number(quintptr(link.first));
        if (length == 10485760) {
            QByteArray body(int(length), '\0');
            body[0] = 9;  // a code nobody reads: dropped once whole
            link.second->write(Frame(body) + Frame(Level(1)));
            QTRY_COMPARE(ValueOf(Find("dnet_parent_candidate", id), "dnet_candidate_level"), QString("2"));
            return;
        }
        link.second->write(F::U32(length) + QByteArray(64, '\3'));
        QTRY_COMPARE(link.second->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(LogLines().contains(QString("Refusing a frame of %1 bytes").arg(length)));
        QVERIFY(!Find(child ? "dnet_child" : "dnet_parent_candidate", id));
    }

    // Every message cut short, from a candidate, a child and the server. The receive buffer
    // still holds the bytes of a whole message read before; a reader that ran past the cut
    // would find them and act on them. Nothing is signalled, relayed, adopted or recorded, the
    // socket is closed, and a whole message after them is still understood.
    void truncatedMessages()
    {
        m_child.TakeFrames();
        QSignalSpy searches(dnetManager, &DNetManager::DNetSearchRequest);
        const int adopted = LogLines().count("adopting as parent");
        const QList<QByteArray> whole = {Level(3), Leader("L"), Depth(2), Search("s", 9, "needle")};
        for (const QByteArray& message : whole) {
            for (int cut = 1; cut < message.size(); ++cut) {
                const QByteArray part = message.left(cut);
                MemStream fromServer;
                fromServer.WriteBuffer(message.constData(), size_t(message.size()));
                fromServer.Clear();
                fromServer.WriteBuffer(part.constData(), size_t(part.size()));
                dnetManager->HandleMessage(nullptr, fromServer);
                for (bool child : {false, true}) {
                    // The whole message first, from a child that only has it logged.
                    auto prime = Link();
                    QVERIFY(prime.first);
                    emit peerMessenger->DNetConnectionRequested("prime", prime.first);
                    const int primed = LogLines().count("Received message from child");
                    prime.second->write(Frame(message));
                    QTRY_COMPARE(LogLines().count("Received message from child"), primed + 1);
                    prime.second->abort();
                    delete prime.second;

                    auto link = Link();
                    QVERIFY(link.first);
                    const QString id = QString::number(quintptr(link.first));
                    if (child)
                        emit peerMessenger->DNetConnectionRequested("t", link.first);
                    else
                        emit peerMessenger->DNetConnectionAccepted("t", link.first);
                    // A child is read for its depth only, a candidate for the rest: the
                    // message cut short is the other side's, and is dropped whole.
                    const bool read = child == (message == Depth(2));
                    const int logged = LogLines().count("Received message from child");
                    link.second->write(Frame(part));
                    if (read) {
                        QTRY_COMPARE(link.second->state(), QAbstractSocket::UnconnectedState);
                        QVERIFY(!Find(child ? "dnet_child" : "dnet_parent_candidate", id));
                    } else if (child) {
                        QTRY_COMPARE(LogLines().count("Received message from child"), logged + 1);
                        QVERIFY(Find("dnet_child", id));
                    } else {
                        link.second->write(Frame(Level(1)));
                        QTRY_COMPARE(ValueOf(Find("dnet_parent_candidate", id), "dnet_candidate_level"), QString("2"));
                    }
                    link.second->abort();
                    delete link.second;
                }
                QCOMPARE(searches.size(), 0);
                QVERIFY(!dnetManager->HasParent());
                QVERIFY(!LogLines().contains("Received child depth 2 from t"));
                QCOMPARE(LogLines().count("adopting as parent"), adopted);
            }
        }
        QVERIFY(!d.GetType("dnet_candidate_level")->HasItem(Value(4)));
        QTest::qWait(20);
        QCOMPARE(m_child.Frames().size(), 0);

        auto link = Link();
        QVERIFY(link.first);
        emit peerMessenger->DNetConnectionAccepted("u", link.first);
        link.second->write(Frame(Level(1)));
        const QString id = QString::number(quintptr(link.first));
        QTRY_COMPARE(ValueOf(Find("dnet_parent_candidate", id), "dnet_candidate_level"), QString("2"));
        link.second->abort();
        delete link.second;
        const QByteArray search = Search("s", 9, "needle");
        MemStream fromServer;
        fromServer.WriteBuffer(search.constData(), size_t(search.size()));
        dnetManager->HandleMessage(nullptr, fromServer);
        QCOMPARE(searches.size(), 1);
        QCOMPARE(Next(m_child, 1), Frame(search));
    }

    void childThatNeverReadsIsDropped()
    {
        FakePeer slow;
        QVERIFY(slow.ConnectTo(m_env.port));
        slow.SendDirectInit("slow", "D");
        QTRY_VERIFY(Find("user", "slow")["dnet_child"]);
        slow.SetReading(false);
        MemStream message;
        message.Write(uint8_t(3));
        message.Write(uint32_t(50));
        const QByteArray filler(1024 * 1024, 'x');
        message.WriteBuffer(filler.constData(), size_t(filler.size()));
        ItemPtr c = Find("user", "c")["dnet_child"];
        QVERIFY(c);
        auto* socket = reinterpret_cast<QTcpSocket*>(quintptr(c.AsUInt64()));
        // c takes each message whole before the next is sent, however slow the machine: only the
        // child that reads nothing falls behind, by the bytes counted, not by a time.
        m_child.TakeFrames();
        int sent = 0;
        for (; sent < 64 && Find("user", "slow")["dnet_child"]; ++sent) {
            dnetManager->SendMessageToChildren(message);
            QTRY_COMPARE_WITH_TIMEOUT(socket->bytesToWrite(), qint64(0), 30000);
            QTRY_COMPARE_WITH_TIMEOUT(m_child.Frames().size(), 1, 30000);
            QCOMPARE(m_child.TakeFrames()[0].body.size(), int(message.GetWriteIndex()));
        }
        QVERIFY(!Find("user", "slow")["dnet_child"]);
        QVERIFY(LogLines().contains("Child slow is not reading"));
        QVERIFY(Find("user", "c")["dnet_child"]);
        QVERIFY(sent > 4);  // more than the backlog a child may have
    }

    // No way to become our own parent, or our child's child: our own name proposed as parent,
    // a connection naming us, a child among the candidates, our parent as a child.
    void selfLoopsRefused()
    {
        ServerFrames();
        m_child.TakeFrames();
        QVERIFY(!dnetManager->HasParent());
        QVERIFY(Deliver(Fake(), 102, F::U32(1) + F::Str("me") + F::U32(0x7f000001) + F::I32(m_env.port)));
        QCOMPARE(ServerFrames().size(), 0);
        QVERIFY(LogLines().contains("Own name me in possible parents list, skipping"));
        QVERIFY(!Find("user", "me"));

        FakePeer mirror;
        QVERIFY(mirror.ConnectTo(m_env.port));
        mirror.SendDirectInit("me", "D");
        QVERIFY(mirror.WaitForDisconnect());
        QVERIFY(!Find("user", "me") || !Find("user", "me")["dnet_child"]);
        QVERIFY(LogLines().contains("Child connection names ourselves, closing connection."));
        // The same when the server has us dial back a request in our own name.
        auto dialledBack = Link();
        QVERIFY(dialledBack.first);
        emit peerMessenger->DNetConnectionRequested("me", dialledBack.first);
        QTRY_COMPARE(dialledBack.second->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!Find("user", "me") || !Find("user", "me")["dnet_child"]);
        delete dialledBack.second;

        // k is our child, and also offers itself as parent.
        auto asChild = Link();
        auto asCandidate = Link();
        QVERIFY(asChild.first && asCandidate.first);
        emit peerMessenger->DNetConnectionRequested("k", asChild.first);
        emit peerMessenger->DNetConnectionAccepted("k", asCandidate.first);
        QSignalSpy searches(dnetManager, &DNetManager::DNetSearchRequest);
        asCandidate.second->write(Frame(Search("u", 3, "needle")));
        QTRY_COMPARE(asCandidate.second->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(LogLines().contains("Parent candidate k is one of our children, closing connection"));
        QCOMPARE(searches.size(), 0);
        QVERIFY(!dnetManager->HasParent());
        QVERIFY(!Find("user", "k")["dnet_parent_candidate"]);
        QVERIFY(Find("user", "k")["dnet_child"]);
        QTest::qWait(20);
        QCOMPARE(m_child.Frames().size(), 0);
        QCOMPARE(asChild.second->bytesAvailable(), qint64(0));

        // pp becomes our parent, then asks to be our child.
        auto parent = Link();
        auto parentAsChild = Link();
        QVERIFY(parent.first && parentAsChild.first);
        emit peerMessenger->DNetConnectionAccepted("pp", parent.first);
        parent.second->write(Frame(Search("u", 4, "needle")));
        QTRY_VERIFY(dnetManager->HasParent());
        emit peerMessenger->DNetConnectionRequested("pp", parentAsChild.first);
        QTRY_COMPARE(parentAsChild.second->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!Find("user", "pp")["dnet_child"]);
        QVERIFY(LogLines().contains("Child is our parent, closing connection."));
        parent.second->abort();
        QTRY_VERIFY(!dnetManager->HasParent());
        for (auto* far : {asChild.second, asCandidate.second, parent.second, parentAsChild.second})
            delete far;
    }
};

QTEST_MAIN(TestDNetManager)
#include "tst_dnetmanager.moc"
