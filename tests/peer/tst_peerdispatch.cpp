// Messages on an established messaging connection, end to end: a fake peer on 127.0.0.1 sends,
// the client's signals, stored results and replies are checked, and whether the connection stays.
#include "common/peerfixture.h"
#include "common/testfiles.h"
#include "model/zlibstream.h"
#include "shares/sharedfoldersmanager.h"
#include "transfers/transferqueuemanager.h"

#include <QDir>
#include <QFile>
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
    static QString Text(const QString& s) { return s; }
    static QString Text(const std::string& s) { return QString::fromStdString(s); }
    template <typename T>
    static QString Text(T v) { return QString::number(v); }
    // One signal as text: its name, then its fields.
    template <typename... A>
    void Add(const char* what, const A&... a) { m_events << (QStringList{what} << ... << Text(a)).join(' '); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_fx.SetUp());
        new SharedFoldersManager();
        new TransferQueueManager();
        using M = PeerMessenger;
        Record(&M::UserInfoRequested, [this](QString u) { Add("info request", u); });
        Record(&M::UserInfoReceived, [this](QString u, QString t, bool has, char* pic, int n, int upSlots, int queued, bool free) {
            Add("info", u, t, has, pic ? QString::fromLatin1(pic, n) : "null", n, upSlots, queued, free);
        });
        Record(&M::FileTransferRequested,
               [this](QString u, int dir, uint req, std::string f, qint64 s) { Add("transfer request", u, dir, req, f, s); });
        Record(&M::FileTransferResponse, [this](QString u, uint req, bool ok, bool hasSize, qint64 size, QString why) {
            Add("transfer response", u, req, ok, hasSize, size, why);
        });
        Record(&M::QueueUploadRequested, [this](QString u, QString f) { Add("queue upload", u, f); });
        Record(&M::DownloadPlaceInLine, [this](QString u, std::string f, int place) { Add("place", u, f, place); });
        Record(&M::UploadFailed, [this](QString u, std::string f) { Add("failed", u, f); });
        Record(&M::UploadDenied, [this](QString u, std::string f, QString why) { Add("denied", u, f, why); });
        Record(&M::UploadPlaceInLineRequested, [this](QString u, QString f) { Add("place request", u, f); });
        Record(&M::QueueDownloadRequested, [this](QString u, std::string f, qint64 s) { Add("queue download", u, f, s); });
        Record(&M::UserShare, [this](QString u, FileInfoMap& share, AttributeTranslationTable& table) {
            QStringList folders;
            for (const auto& f : share)
                folders << QString::fromStdString(f.first) + ":" + QString::number(f.second.size());
            Add("share", u, folders.join(','), int(table.size()));
        });
        Record(&M::SearchResults, [this](ItemPtr r) { Add("results", ValueOf(r, "user"), int(r.GetItems("search_result").size())); });

        m_root = QDir(m_fx.env.dir.filePath("disk")).absolutePath();
        QVERIFY(WriteFile(m_root + "/pub/River Song.mp3", QByteArray(3, 'x')));
        QVERIFY(WriteFile(m_root + "/pub/b.txt", QByteArray(2, 'x')));
        QDir().mkpath(m_root + "/pub/Empty");
        QVERIFY(WriteFile(m_root + "/friends/River Live.txt", QByteArray(4, 'x')));
        sharedFoldersManager->AddSharedFolder(m_root + "/pub").NewItem("shared_public");
        sharedFoldersManager->AddSharedFolder(m_root + "/friends").NewItem("shared_userlist");
        d.GetType("user")->GetItem("lisa").NewItem("in_user_list");
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
        const auto U8 = &P::U8;
        const auto U32 = &P::U32;
        const auto Str = &P::Str;
        const auto row = [](const char* name, const QByteArray& body, const char* event, bool stays) {
            QTest::newRow(name) << body << QString(event) << stays;
        };
        row("15", U32(15), "info request bob", true);
        row("16 with picture", U32(16) + Str("hi") + U8(1) + U32(3) + "abc" + U32(2) + U32(5) + U8(1),
            "info bob hi 1 abc 3 2 5 1", true);
        row("16 without", U32(16) + Str("hi") + U8(0) + U32(2) + U32(0) + U8(0), "info bob hi 0 null 0 2 0 0", true);
        row("16 picture beyond the end", U32(16) + Str("hi") + U8(1) + U32(0x7fffffff) + "abc", "", false);
        row("40 upload", U32(40) + U32(1) + U32(77) + Str("a\\b.mp3") + P::I64(1234), "transfer request bob 1 77 a\\b.mp3 1234", true);
        row("40 download", U32(40) + U32(0) + U32(78) + Str("x"), "transfer request bob 0 78 x 0", true);
        row("40 cut", U32(40) + U32(1) + U32(77) + Str("x") + U32(9), "", false);
        row("41 allowed, size", U32(41) + U32(5) + U8(1) + P::I64(99), "transfer response bob 5 1 1 99 ", true);
        row("41 allowed, no size", U32(41) + U32(5) + U8(1), "transfer response bob 5 1 0 0 ", true);
        row("41 refused", U32(41) + U32(6) + U8(0) + Str("Queued"), "transfer response bob 6 0 0 0 Queued", true);
        row("41 refused, no reason", U32(41) + U32(6) + U8(0), "", false);
        row("43", U32(43) + Str("f"), "queue upload bob f", true);
        row("44", U32(44) + Str("f") + U32(3), "place bob f 3", true);
        row("44 cut", U32(44) + Str("f") + U8(3), "", false);
        row("46", U32(46) + U32(3) + QByteArray("f\0g", 3), "failed bob f", true);
        row("50", U32(50) + Str("f") + Str("Banned"), "denied bob f Banned", true);
        row("50 cut", U32(50) + Str("f"), "", false);
        row("51", U32(51) + Str("f"), "place request bob f", true);
        row("60", U32(60) + Str("f") + P::I64(10), "queue download bob f 10", true);
        row("60 cut", U32(60) + Str("f"), "", false);
        row("string beyond the limit", U32(43) + U32(131073), "", false);
        row("empty body", QByteArray(), "", false);
        row("3 bytes", QByteArray("\x0f\0\0", 3), "", false);
        row("unknown", U32(999) + "junk", "", true);
        for (const char* ignored : {"37", "42", "47", "48"})
            row(ignored, U32(QByteArray(ignored).toUInt()) + "x", "", true);
        row("5 not zlib", U32(5) + "not zlib", "", false);
        row("5", U32(5) + P::Zip(U32(1) + Str("\\m") + U32(1) + P::File("a", 1) + U32(0)), "share bob \\m:1 0", true);
        row("5, 131073 folders", U32(5) + P::Zip(U32(131073)), "", false);
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

    // A share list that is refused tells whoever waits for it that it will not come: a small
    // frame that inflates past the cap (refused without inflating it all), one that parses into
    // more records than a list may hold, a damaged or cut one, and, while one is awaited, a
    // frame too long for the connection.
    void refusedShareLists_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("awaited");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<int>("failures");
        const QByteArray bomb = ZeroBomb(300);
        QTest::newRow("expands past the cap") << P::PlainFrame(P::U32(5) + bomb) << false
                                              << "expands beyond 268435456 bytes" << 1;
        // Records of a single byte (an absent file): 39 folders of 131072, past five million.
        QByteArray many = P::U32(39);
        for (int k = 0; k < 39; ++k)
            many += P::Str("f") + P::U32(131072) + QByteArray(131072, '\0');
        QTest::newRow("too many records") << P::PlainFrame(P::U32(5) + P::Zip(many)) << false
                                          << "holds more than 5000000 folders and files" << 1;
        QTest::newRow("damaged") << P::PlainFrame(P::U32(5) + "not a zlib stream") << false << "could not be read" << 1;
        QTest::newRow("cut short") << P::PlainFrame(P::U32(5) + P::Zip(P::U32(1) + P::Str("m") + P::U32(2) + P::File("a", 1)))
                                   << false << "could not be read" << 1;
        QTest::newRow("frame too long, list awaited") << P::U32(10485761) + QByteArray(64, '\5') << true
                                                      << "Refusing a frame of 10485761 bytes from user bob" << 1;
        QTest::newRow("frame too long, nothing awaited") << P::U32(10485761) + QByteArray(64, '\5') << false
                                                         << "Refusing a frame of 10485761 bytes from user bob" << 0;
    }
    void refusedShareLists()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, awaited);
        QFETCH(QString, logged);
        QFETCH(int, failures);
        QSignalSpy failed(peerMessenger, &PeerMessenger::UserShareFailed);
        P peer;
        QVERIFY(Connect(peer, "bob"));
        if (awaited)
            peerMessenger->GetUserSharedFiles("bob");
        const int before = PeerFixture::Log().count(logged);
        peer.SendRaw(frame);
        QVERIFY(peer.WaitForDisconnect(60000));
        QCOMPARE(m_events, QStringList());
        QCOMPARE(PeerFixture::Log().count(logged), before + 1);
        QCOMPARE(failed.size(), failures);
        if (failures)
            QCOMPARE(failed[0], QVariantList({"bob"}));
    }

    // A peer that does not read our replies gets no new ones built for its requests until it
    // has taken what already waits for it; the connection stays.
    void backloggedRequestsDropped()
    {
        QSignalSpy folderRequests(peerMessenger, &PeerMessenger::SharedFilesInFolderRequested);
        P peer;
        QVERIFY(Connect(peer, "hog"));
        peer.SetReading(false);
        MemStream big;
        big.Write(uint32_t(1));
        const QByteArray filler(32 * 1024 * 1024, 'x');
        big.WriteBuffer(filler.constData(), size_t(filler.size()));
        peerMessenger->SendMessage("hog", big);
        const int lists = LogText("Shared").count("Shared file list requested by user hog");
        peer.SendMessage(4);
        peer.SendMessage(36, P::U32(7) + P::Str(Wire(m_root + "/pub")));
        peer.SendMessage(15);
        QTRY_COMPARE(PeerFixture::Log().count("bytes still unsent to them"), 3);
        QVERIFY(PeerFixture::Log().contains("Dropping PM_GET_SHARED_FILE_LIST request from user hog"));
        QCOMPARE(LogText("Shared").count("Shared file list requested by user hog"), lists);
        QCOMPARE(folderRequests.size(), 0);
        QCOMPARE(m_events, QStringList());
        QVERIFY(PeerFixture::PeerSocketOf("hog"));

        peer.SetReading(true);
        QVERIFY(peer.WaitForFrames(1, 60000));
        QTRY_COMPARE(PeerFixture::PeerSocketOf("hog")->bytesToWrite(), qint64(0));
        peer.SendMessage(4);
        peer.SendMessage(15);
        QVERIFY(peer.WaitForFrames(2));
        QCOMPARE(peer.Frames()[1].body.left(4), P::U32(5));
        QTRY_COMPARE(m_events, QStringList({"info request hog"}));
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
        QVERIFY(peer.WaitForFrames(2));
        const QString pub = Wire(m_root + "/pub");
        QCOMPARE(InflatedBody(peer.Frames()[0].body, 5),
                 P::U32(2) + P::Str(pub) + P::U32(2) +
                     P::File("River Song.mp3", 3, "mp3") + P::File("b.txt", 2) + P::Str(pub + "\\Empty") + P::U32(0) +
                     P::U32(0));
        QCOMPARE(InflatedBody(peer.Frames()[1].body, 37), P::U32(7) + P::Str(pub) + P::U32(1) + P::Str(pub) + P::U32(2) +
                                                              P::File("River Song.mp3", 3) + P::File("b.txt", 2) + P::U32(0));
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
        QTest::newRow("own name") << "me" << "river" << QByteArray();
        QTest::newRow("no match") << "carol" << "ocean" << QByteArray();
        // However broad the match, a text of more tokens or bytes than a search needs is not
        // answered; up to the bound it is.
        QString tokens = "river";
        for (int k = 1; k < 64; ++k)
            tokens += QString(" -x%1").arg(k);
        const QByteArray song = P::U32(1) + P::File(Wire(m_root + "/pub/River Song.mp3"), 3, "mp3");
        QTest::newRow("64 tokens") << "carol" << tokens << song;
        QTest::newRow("65 tokens") << "carol" << tokens + " -x64" << QByteArray();
        const QString longText = "river -\"" + QString(4090, 'z') + "\"";
        QTest::newRow("4097 bytes") << "carol" << longText.left(4096) + "\"" << QByteArray();
        QTest::newRow("4096 bytes") << "carol" << longText.left(4095) + "\"" << song;
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
            if (text.size() > 100)
                QVERIFY(LogText("Search").contains("Not answering search from user carol"));
            return;
        }
        QVERIFY(peer.WaitForFrames(2));
        QCOMPARE(peer.Frames()[0].body, P::DirectInit("me", "P"));
        QCOMPARE(InflatedBody(peer.Frames()[1].body, 9),
                 P::Str("me") + P::U32(55) + files + P::U8(1) + P::U32(0) + P::U32(0) + P::U32(0));
        // A line carries a thousand characters at most.
        QVERIFY(LogText("Search").contains("Sending search results to user " + user + " for search string " + text.left(900)));
    }
};

QTEST_MAIN(TestPeerDispatch)
#include "tst_peerdispatch.moc"
