// Messages on an established messaging connection, end to end: a fake peer on 127.0.0.1 sends,
// the client's signals, stored results and replies are checked, and whether the connection stays.
#include "common/peerfixture.h"
#include "common/testfiles.h"
#include "model/zlibstream.h"
#include "shares/sharedfoldersmanager.h"
#include "transfers/transferqueuemanager.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <zlib.h>

namespace {

using P = FakePeer;

// A zlib stream of that many zero bytes (whole MiBs), made piece by piece: zeros shrink about a
// thousandfold, so the output buffer holds it all.
QByteArray ZeroBomb(int mebibytes)
{
    z_stream z{};
    deflateInit(&z, 9);
    static const QByteArray zeros(1 << 20, '\0');
    QByteArray out(mebibytes * 1100 + 4096, '\0');
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    for (int k = 0; k <= mebibytes; ++k) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.constData()));
        z.avail_in = k < mebibytes ? uInt(zeros.size()) : 0;
        deflate(&z, k < mebibytes ? Z_NO_FLUSH : Z_FINISH);
    }
    out.resize(int(z.total_out));
    deflateEnd(&z);
    return out;
}

// The body of a received message after its code, inflated.
QByteArray InflatedBody(const QByteArray& body, quint32 code)
{
    if (body.left(4) != P::U32(code))
        return "code " + body.left(4).toHex();
    std::string out;
    if (Inflate(body.constData() + 4, size_t(body.size() - 4), out) != InflateResult::Inflated)
        return "does not inflate";
    return QByteArray::fromStdString(out);
}

QString Wire(QString path)
{
    return path.replace('/', '\\');
}

} // namespace

class TestPeerDispatch : public QObject
{
    Q_OBJECT

    PeerFixture m_fx;
    QStringList m_events;  // every signal of the dispatch, as text
    QString m_root;

    bool Connect(P& peer, const QString& user) { return m_fx.Messaging(peer, user); }
    // Sends a user-info request behind whatever was sent and waits for it: everything before
    // it has been handled then, and the connection still stands.
    bool StillStands(P& peer)
    {
        const int before = m_events.size();
        peer.SendMessage(15);
        return QTest::qWaitFor([&] { return m_events.size() > before && m_events.last().startsWith("info request"); },
                               5000) &&
               (m_events.removeLast(), true);
    }
    template <typename Signal, typename Slot>
    void Record(Signal signal, Slot slot)
    {
        QObject::connect(peerMessenger, signal, this, slot);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_fx.SetUp());
        new SharedFoldersManager();
        new TransferQueueManager();
        auto bytes = [](const std::string& s) { return QString::fromStdString(s); };
        Record(&PeerMessenger::UserInfoRequested, [this](QString u) { m_events << "info request " + u; });
        Record(&PeerMessenger::UserInfoReceived,
               [this](QString u, QString text, bool has, char* picture, int length, int uploadSlots, int queued, bool free) {
                   m_events << QString("info %1 %2 %3 %4 %5 %6 %7 %8")
                                   .arg(u, text)
                                   .arg(int(has))
                                   .arg(picture ? QString::fromLatin1(picture, length) : "null")
                                   .arg(length)
                                   .arg(uploadSlots)
                                   .arg(queued)
                                   .arg(int(free));
               });
        Record(&PeerMessenger::FileTransferRequested, [this, bytes](QString u, int dir, uint req, std::string f, qint64 s) {
            m_events << QString("transfer request %1 %2 %3 %4 %5").arg(u).arg(dir).arg(req).arg(bytes(f)).arg(s);
        });
        Record(&PeerMessenger::FileTransferResponse,
               [this](QString u, uint req, bool ok, bool hasSize, qint64 size, QString reason) {
                   m_events << QString("transfer response %1 %2 %3 %4 %5 %6")
                                   .arg(u)
                                   .arg(req)
                                   .arg(int(ok))
                                   .arg(int(hasSize))
                                   .arg(size)
                                   .arg(reason);
               });
        Record(&PeerMessenger::QueueUploadRequested, [this](QString u, QString f) { m_events << "queue upload " + u + " " + f; });
        Record(&PeerMessenger::DownloadPlaceInLine, [this, bytes](QString u, std::string f, int place) {
            m_events << QString("place %1 %2 %3").arg(u, bytes(f)).arg(place);
        });
        Record(&PeerMessenger::UploadFailed, [this, bytes](QString u, std::string f) { m_events << "failed " + u + " " + bytes(f); });
        Record(&PeerMessenger::UploadDenied, [this, bytes](QString u, std::string f, QString why) {
            m_events << "denied " + u + " " + bytes(f) + " " + why;
        });
        Record(&PeerMessenger::UploadPlaceInLineRequested,
               [this](QString u, QString f) { m_events << "place request " + u + " " + f; });
        Record(&PeerMessenger::QueueDownloadRequested, [this, bytes](QString u, std::string f, qint64 s) {
            m_events << QString("queue download %1 %2 %3").arg(u, bytes(f)).arg(s);
        });
        Record(&PeerMessenger::UserShare, [this](QString u, FileInfoMap& share, AttributeTranslationTable& table) {
            QStringList folders;
            for (const auto& f : share)
                folders << QString::fromStdString(f.first) + ":" + QString::number(f.second.size());
            m_events << QString("share %1 %2 %3").arg(u, folders.join(',')).arg(table.size());
        });
        Record(&PeerMessenger::SearchResults, [this](ItemPtr r) {
            m_events << QString("results %1 %2").arg(ValueOf(r, "user")).arg(r.GetItems("search_result").size());
        });

        m_root = QDir(m_fx.env.dir.filePath("disk")).absolutePath();
        QVERIFY(WriteFile(m_root + "/pub/River Song.mp3", QByteArray(3, 'x')));
        QVERIFY(WriteFile(m_root + "/pub/b.txt", QByteArray(2, 'x')));
        QDir().mkpath(m_root + "/pub/Empty");
        QVERIFY(WriteFile(m_root + "/friends/River Live.txt", QByteArray(4, 'x')));
        sharedFoldersManager->AddSharedFolder(m_root + "/pub").NewItem("shared_public");
        sharedFoldersManager->AddSharedFolder(m_root + "/friends").NewItem("shared_userlist");
        d.GetType("user")->GetItem("lisa").NewItem("in_user_list");
        for (int k = 1; k <= 201; ++k)
            QVERIFY(WriteFile(m_root + QString("/many/tune %1.txt").arg(k, 3, 10, QChar('0')), QByteArray(1, 'x')));
        sharedFoldersManager->AddSharedFolder(m_root + "/many").NewItem("shared_public");
    }
    void init() { m_events.clear(); }
    void cleanup() { m_fx.Clear(); }
    void cleanupTestCase()
    {
        delete transferQueueManager;
        delete sharedFoldersManager;
    }

    void signalsAndFate_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("event");  // empty: no signal
        QTest::addColumn<bool>("stays");
        QTest::newRow("15") << P::U32(15) << "info request bob" << true;
        QTest::newRow("16 with picture") << P::U32(16) + P::Str("hi") + P::U8(1) + P::U32(3) + "abc" + P::U32(2) +
                                                P::U32(5) + P::U8(1)
                                         << "info bob hi 1 abc 3 2 5 1" << true;
        QTest::newRow("16 without") << P::U32(16) + P::Str("hi") + P::U8(0) + P::U32(2) + P::U32(0) + P::U8(0)
                                    << "info bob hi 0 null 0 2 0 0" << true;
        QTest::newRow("16 picture beyond the end")
            << P::U32(16) + P::Str("hi") + P::U8(1) + P::U32(0x7fffffff) + "abc" << "" << false;
        QTest::newRow("40 upload") << P::U32(40) + P::U32(1) + P::U32(77) + P::Str("a\\b.mp3") + P::I64(1234)
                                   << "transfer request bob 1 77 a\\b.mp3 1234" << true;
        QTest::newRow("40 download") << P::U32(40) + P::U32(0) + P::U32(78) + P::Str("x")
                                     << "transfer request bob 0 78 x 0" << true;
        QTest::newRow("40 cut") << P::U32(40) + P::U32(1) + P::U32(77) + P::Str("x") + P::U32(9) << "" << false;
        QTest::newRow("41 allowed, size") << P::U32(41) + P::U32(5) + P::U8(1) + P::I64(99)
                                          << "transfer response bob 5 1 1 99 " << true;
        QTest::newRow("41 allowed, no size") << P::U32(41) + P::U32(5) + P::U8(1) << "transfer response bob 5 1 0 0 "
                                             << true;
        QTest::newRow("41 refused") << P::U32(41) + P::U32(6) + P::U8(0) + P::Str("Queued")
                                    << "transfer response bob 6 0 0 0 Queued" << true;
        QTest::newRow("41 refused, no reason") << P::U32(41) + P::U32(6) + P::U8(0) << "" << false;
        QTest::newRow("43") << P::U32(43) + P::Str("f") << "queue upload bob f" << true;
        QTest::newRow("44") << P::U32(44) + P::Str("f") + P::U32(3) << "place bob f 3" << true;
        QTest::newRow("44 cut") << P::U32(44) + P::Str("f") + P::U8(3) << "" << false;
        QTest::newRow("46") << P::U32(46) + P::U32(3) + QByteArray("f\0g", 3) << "failed bob f" << true;
        QTest::newRow("50") << P::U32(50) + P::Str("f") + P::Str("Banned") << "denied bob f Banned" << true;
        QTest::newRow("50 cut") << P::U32(50) + P::Str("f") << "" << false;
        QTest::newRow("51") << P::U32(51) + P::Str("f") << "place request bob f" << true;
        QTest::newRow("60") << P::U32(60) + P::Str("f") + P::I64(10) << "queue download bob f 10" << true;
        QTest::newRow("60 cut") << P::U32(60) + P::Str("f") << "" << false;
        QTest::newRow("string beyond the limit") << P::U32(43) + P::U32(131073) << "" << false;
        QTest::newRow("empty body") << QByteArray() << "" << false;
        QTest::newRow("3 bytes") << QByteArray("\x0f\0\0", 3) << "" << false;
        QTest::newRow("unknown") << P::U32(999) + "junk" << "" << true;
        for (quint32 ignored : {37u, 42u, 47u, 48u})
            QTest::newRow(qPrintable(QString::number(ignored))) << P::U32(ignored) + "x" << "" << true;
        QTest::newRow("5 not zlib") << P::U32(5) + "not zlib" << "" << false;
        QTest::newRow("5") << P::U32(5) + P::Zip(P::U32(1) + P::Str("\\m") + P::U32(1) + P::File("a", 1) + P::U32(0))
                           << "share bob \\m:1 0" << true;
        QTest::newRow("5, 131073 folders") << P::U32(5) + P::Zip(P::U32(131073)) << "" << false;
    }
    void signalsAndFate()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, event);
        QFETCH(bool, stays);
        P peer;
        QVERIFY(Connect(peer, "bob"));
        peer.SendFrame(body);
        if (stays) {
            QVERIFY(StillStands(peer));
        } else {
            // An empty frame that ends what has arrived waits for the next bytes to be handled.
            peer.SendMessage(15);
            QVERIFY(peer.WaitForDisconnect());
        }
        QCOMPARE(m_events.join(';'), event);
    }

    void codeNamedInTheLog()
    {
        P peer;
        QVERIFY(Connect(peer, "bob"));
        peer.SendMessage(0xffffffffu);
        peer.SendMessage(60, P::Str("f") + P::I64(1));
        QVERIFY(StillStands(peer));
        QVERIFY(PeerFixture::Log().contains("Received -1 (unknown) message from user bob"));
        QVERIFY(PeerFixture::Log().contains("Received 60 (unknown) message from user bob"));
        QVERIFY(PeerFixture::Log().contains("Received PM_USER_INFO_REQUEST message from user bob"));
    }

    // A small frame that inflates past the cap is refused without inflating it all.
    void decompressionBomb()
    {
        const QByteArray bomb = ZeroBomb(300);
        QVERIFY(bomb.size() < 10485760);
        P peer;
        QVERIFY(Connect(peer, "bob"));
        peer.SendMessage(5, bomb);
        QVERIFY(peer.WaitForDisconnect(20000));
        QCOMPARE(m_events, QStringList());
        QCOMPARE(PeerFixture::Log().count("expands beyond 268435456 bytes"), 1);
    }

    // Random fields behind every handled code, plain and compressed: each message is either
    // acted on or ends its connection, and nothing crashes.
    void randomFields()
    {
        QRandomGenerator random(1607);
        const quint32 codes[] = {4, 5, 9, 15, 16, 36, 40, 41, 43, 44, 46, 50, 51, 60};
        P* peer = nullptr;
        for (int k = 0; k < 100; ++k) {
            if (!peer || !peer->IsConnected()) {
                delete peer;
                peer = new P;
                QVERIFY(Connect(*peer, "fuzz"));
            }
            QByteArray fields(int(random.bounded(40)), Qt::Uninitialized);
            for (char& c : fields)
                c = char(random.bounded(256));
            const quint32 code = codes[random.bounded(int(sizeof codes / sizeof *codes))];
            peer->SendMessage(code, (code == 5 || code == 9) && k % 2 ? P::Zip(fields) : fields);
            const int before = m_events.size();
            peer->SendMessage(15);
            QVERIFY(QTest::qWaitFor([&] { return !peer->IsConnected() || m_events.size() > before; }, 5000));
        }
        delete peer;
    }

    void searchReplies()
    {
        ItemPtr request = d.GetType("search_request")->NewItem(Value(31u));
        request += d.GetType("search_request_text")->GetItem("river");
        const QByteArray trailer = P::U8(1) + P::U32(100) + P::U32(0) + P::U32(0);
        const QByteArray files = P::U32(2) + P::File("\\m\\River.mp3", 1) + P::File("\\m\\Lake.mp3", 2);
        P peer;
        QVERIFY(Connect(peer, "bob"));
        peer.SendMessage(9, P::Zip(P::Str("bob") + P::U32(31) + files + trailer));
        peer.SendMessage(9, P::Zip(P::Str("bob") + P::U32(32) + files + trailer));  // not our search
        QVERIFY(StillStands(peer));
        QCOMPARE(m_events, QStringList({"results bob 1"}));
        peer.SendMessage(9, P::Zip(P::Str("mallory") + P::U32(31) + files + trailer));
        QVERIFY(peer.WaitForDisconnect());
        QCOMPARE(m_events, QStringList({"results bob 1"}));
    }

    void browseRequests()
    {
        P peer;
        QVERIFY(Connect(peer, "bob"));
        peer.TakeFrames();
        peer.SendMessage(4);
        peer.SendMessage(36, P::U32(7) + P::Str(Wire(m_root + "/pub")));
        peer.SendMessage(36, P::U32(8) + P::Str(Wire(m_root + "/friends")));
        QVERIFY(peer.WaitForFrames(3));
        const QString pub = Wire(m_root + "/pub");
        const QString many = Wire(m_root + "/many");
        QByteArray manyFiles;
        for (int k = 1; k <= 201; ++k)
            manyFiles += P::File(QString("tune %1.txt").arg(k, 3, 10, QChar('0')), 1);
        QCOMPARE(InflatedBody(peer.Frames()[0].body, 5),
                 P::U32(3) + P::Str(many) + P::U32(201) + manyFiles + P::Str(pub) + P::U32(2) +
                     P::File("River Song.mp3", 3, "mp3") + P::File("b.txt", 2) + P::Str(pub + "\\Empty") + P::U32(0) +
                     P::U32(0));
        QCOMPARE(InflatedBody(peer.Frames()[1].body, 37), P::U32(7) + P::Str(pub) + P::U32(1) + P::Str(pub) + P::U32(2) +
                                                              P::File("River Song.mp3", 3) + P::File("b.txt", 2) + P::U32(0));
        QCOMPARE(InflatedBody(peer.Frames()[2].body, 37),
                 P::U32(8) + P::Str(Wire(m_root + "/friends")) + P::U32(1) + P::Str(Wire(m_root + "/friends")) +
                     P::U32(0) + P::U32(0));
    }

    // Searches relayed by the server are answered over a peer connection formed for the answer.
    void searchAnswers_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("files");  // empty: nothing is sent
        QTest::newRow("answered") << "lisa" << "river"
                                  << P::U32(2) + P::File(Wire(m_root + "/friends/River Live.txt"), 4) +
                                         P::File(Wire(m_root + "/pub/River Song.mp3"), 3, "mp3");
        QTest::newRow("stranger") << "carol" << "river" << P::U32(1) + P::File(Wire(m_root + "/pub/River Song.mp3"), 3, "mp3");
        QTest::newRow("own name") << "me" << "river" << QByteArray();
        QTest::newRow("no match") << "carol" << "ocean" << QByteArray();
        QTest::newRow("201 matches") << "carol" << "tune" << QByteArray();
        QTest::newRow("parts only") << "carol" << "*river" << QByteArray();
    }
    void searchAnswers()
    {
        QFETCH(QString, user);
        QFETCH(QString, text);
        QFETCH(QByteArray, files);
        P peer;
        QVERIFY(peer.Listen());
        PeerFixture::StoreAddress(user, peer.Port());
        QVERIFY(Deliver(m_fx.env.fake, 26, F::Str(user) + F::U32(55) + F::Str(text)));
        if (files.isEmpty()) {
            QCOMPARE(PeerFixture::Count("unsent_message"), size_t(0));
            QCOMPARE(PeerFixture::Count("connect_to_peer_request"), size_t(0));
            return;
        }
        QVERIFY(peer.WaitForFrames(2));
        QCOMPARE(peer.Frames()[0].body, P::DirectInit("me", "P"));
        QCOMPARE(InflatedBody(peer.Frames()[1].body, 9),
                 P::Str("me") + P::U32(55) + files + P::U8(1) + P::U32(0) + P::U32(0) + P::U32(0));
        QVERIFY(LogText("Search").contains("Sending search results to user " + user + " for search string " + text));
    }
};

QTEST_MAIN(TestPeerDispatch)
#include "tst_peerdispatch.moc"
