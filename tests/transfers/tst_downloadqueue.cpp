// The download queue: adding, re-queueing when the peer comes online, the peer's notifications
// and offers, the empty-share check, the sweep, the answer to transfer requests and the file
// connections that follow, and the local folders, with a fake server and fake peers on
// 127.0.0.1 and files in a temporary folder.
#include "peertransferfixture.h"

#include <QtTest>

#include <algorithm>

namespace {

ItemPtr User(const QString& name) { return d.GetType("user")->GetItem(Value(name)); }
QString Status(ItemPtr entry) { return ValueOf(entry, "download_entry_status"); }
int Count(const QString& text, const QString& part) { return text.count(part); }
QString QueueLog() { return LogText(QStringLiteral("Transfer Queue")); }

// Peer message 41 as the client must write it (after the code).
QByteArray Allowed(quint32 id) { return U32(id) + FakePeer::U8(1); }
QByteArray Refused(quint32 id, const QString& reason) { return U32(id) + FakePeer::U8(0) + Str(reason); }

}  // namespace

class TestDownloadQueue : public QObject
{
    Q_OBJECT

    PeerTransferFixture f;

    QString Base() { return f.DownloadBase(); }
    QString Downloading(const QString& relative) { return f.Downloading(relative); }
    QString Complete(const QString& relative) { return f.Complete(relative); }
    QList<QByteArray> Sent(const QString& user, quint32 code) { return f.Sent(user, code); }

private slots:
    void initTestCase() { QVERIFY(f.SetUp()); }
    void cleanupTestCase() { f.TearDown(); }
    void cleanup() { QVERIFY(f.RemoveDownloads()); }

    void addDownload()
    {
        SetSetting("transfer_order_counter", "7");
        f.User("alice");
        SentSoFar(f.peer.env.fake);
        ItemPtr entry = transferQueueManager->AddDownload("alice", "a.mp3", "music\\Artist\\Album", 1234, 0);
        QCOMPARE(Status(entry), QStringLiteral("queued"));
        QCOMPARE(ValueOf(entry, "download_order"), QStringLiteral("7"));
        QCOMPARE(GetSetting("transfer_order_counter"), QStringLiteral("8"));
        QVERIFY(User("alice").IsConnected("next_place_in_line_request_time"));
        // Tracking the user asks the server to watch it (code 5) once.
        QVERIFY(SentSoFar(f.peer.env.fake).contains(F::MakeFrame(5, F::Str("alice"))));

        // The same key again: the same entry, untouched, and nothing sent.
        transferQueueManager->SetDownloadEntryStatus(entry, "denied");
        QCOMPARE(transferQueueManager->AddDownload("alice", "a.mp3", "music\\Artist\\Album", 99, 1), entry);
        QCOMPARE(Status(entry), QStringLiteral("denied"));

        // A file of that name in the complete folder is not this download's: it is asked for.
        QVERIFY(WriteFile(Base() + "/complete/Album/b.mp3", ""));
        ItemPtr other = transferQueueManager->AddDownload("alice", "b.mp3", "music\\Artist\\Album", 1, 0);
        QCOMPARE(Status(other), QStringLiteral("queued"));

        QCOMPARE(Sent("alice", 43),
                 (QList<QByteArray>{Str("music\\Artist\\Album\\a.mp3"), Str("music\\Artist\\Album\\b.mp3")}));
    }

    // Entries nobody could ask for or store are refused with a line in the log.
    void refusedEntries_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::newRow("empty user") << "" << "a.mp3" << qint64(1);
        QTest::newRow("empty name") << "alice" << "" << qint64(1);
        QTest::newRow("negative size") << "alice" << "a.mp3" << qint64(-1);
    }
    void refusedEntries()
    {
        QFETCH(QString, user);
        QFETCH(QString, name);
        QFETCH(qint64, size);
        const int lines = Count(QueueLog(), "Refused download");
        QVERIFY(transferQueueManager->AddDownload(user, name.toStdString(), "x", size, 0).IsNull());
        QCOMPARE(d.GetType("download_entry")->ItemCount(), size_t(0));
        QCOMPARE(Count(QueueLog(), "Refused download"), lines + 1);
    }

    // Coming online asks again for queued, aborted and failed downloads, in their order, and
    // leaves denied and complete ones alone.
    void onlineRequeues()
    {
        const QStringList statuses = {"local error", "queued", "denied", "aborted", "complete"};
        QList<ItemPtr> entries;
        for (const QString& status : statuses) {
            entries << transferQueueManager->AddDownload("bob", (status + ".mp3").toStdString(), "f", 1, 0);
            transferQueueManager->SetDownloadEntryStatus(entries.last(), status);
        }
        const int before = Count(QueueLog(), "Requeueing downloads from user bob");
        f.User("bob");
        QCOMPARE(Count(QueueLog(), "Requeueing downloads from user bob"), before + 1);
        QCOMPARE(Sent("bob", 43), (QList<QByteArray>{Str("f\\local error.mp3"), Str("f\\queued.mp3"),
                                                     Str("f\\aborted.mp3")}));
        QCOMPARE(Status(entries[0]), QStringLiteral("queued"));
        QCOMPARE(Status(entries[2]), QStringLiteral("denied"));
        QCOMPARE(Status(entries[4]), QStringLiteral("complete"));
    }

    // Coming online before a messaging connection stands, a user with more queued downloads than
    // the unsent queue keeps per user is still asked for every one of them, in their order.
    void onlineRequeueAsksForEveryEntry()
    {
        QList<QByteArray> expected;
        for (int k = 0; k < 1100; ++k) {
            const QString name = QString::number(k) + ".mp3";
            transferQueueManager->AddDownload("cleo", name.toStdString(), "f", 1, 0);
            expected << Str("f\\" + name);
        }
        User("cleo").NewItem("is_online");
        FakePeer cleo;
        QVERIFY(f.peer.Messaging(cleo, "cleo"));
        QList<QByteArray> asked;
        (void)QTest::qWaitFor([&] {
            asked.clear();
            for (const FakePeer::Frame& frame : cleo.Frames())
                if (frame.body.startsWith(U32(43)))
                    asked << frame.body.mid(4);
            return asked.size() >= expected.size();
        });
        QCOMPARE(asked, expected);
    }

    // A user who comes online with no messaging connection to us is asked for one; once it stands,
    // what is still queued then is asked for, and a later connection of that user asks nothing again.
    void onlineRequeueWaitsForConnection()
    {
        QList<ItemPtr> entries;
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"})
            entries << transferQueueManager->AddDownload("gus", name, "f", 1, 0);
        f.peer.ServerFrames();
        QVERIFY(Deliver(f.peer.env.fake, 7, Str("gus") + U32(2) + FakePeer::U8(0)));
        QCOMPARE(User("gus").GetItems("unsent_message").size(), size_t(0));
        // The address and the relayed request, in either order; the relay's token is the client's own.
        QList<QByteArray> toServer;
        for (const FakeServer::Frame& frame : f.peer.ServerFrames())
            if (frame.code == 3 || frame.code == 18)
                toServer << U32(frame.code) + frame.fields.mid(frame.code == 18 ? 4 : 0);
        std::sort(toServer.begin(), toServer.end());
        QCOMPARE(toServer, (QList<QByteArray>{U32(3) + Str("gus"), U32(18) + Str("gus") + Str("P")}));

        // Meanwhile one download fails and another is removed.
        transferQueueManager->SetDownloadEntryStatus(entries[1], "aborted");
        transferQueueManager->RemoveDownload(entries[2]);

        // The queue requests a connection got: a place in line sent behind them marks their end.
        const auto asked = [](FakePeer& peer) {
            peerMessenger->SendUploadPlaceInLine("gus", "marker", 0);
            QList<QByteArray> found;
            const bool ended = QTest::qWaitFor([&] {
                found.clear();
                for (const FakePeer::Frame& frame : peer.Frames()) {
                    if (frame.body == U32(44) + Str("marker") + U32(0))
                        return true;
                    if (frame.body.startsWith(U32(43)))
                        found << frame.body.mid(4);
                }
                return false;
            });
            return ended ? found : QList<QByteArray>{"marker not seen"};
        };
        FakePeer gus;
        QVERIFY(gus.Listen());
        QVERIFY(Deliver(f.peer.env.fake, 3, Str("gus") + U32(0x7f000001) + U32(gus.Port()) + U32(0) + F::U16(0)));
        QVERIFY(gus.WaitForFrames(1));
        QCOMPARE(gus.Frames()[0].body, FakePeer::DirectInit("me", "P"));
        QCOMPARE(asked(gus), (QList<QByteArray>{Str("f\\a.mp3"), Str("f\\d.mp3")}));

        // The peer comes back on a new connection.
        gus.Close();
        QTRY_VERIFY(!PeerFixture::PeerSocketOf("gus"));
        FakePeer again;
        QVERIFY(f.peer.Messaging(again, "gus"));
        QCOMPARE(asked(again), QList<QByteArray>());
    }

    // The peer's notices arrive as peer messages on its messaging connection.
    void peerNotifications()
    {
        FakePeer& alice = f.User("alice");
        ItemPtr entry = transferQueueManager->AddDownload("alice", "a.mp3", "music\\Album", 5, 0);
        ItemPtr failed = transferQueueManager->AddDownload("alice", "b.mp3", "music\\Album", 5, 0);
        transferQueueManager->SetDownloadEntryStatus(failed, "local error");
        Sent("alice", 43);
        const auto path = [](const char* name) { return Str(QStringLiteral("music\\Album\\") + name); };

        alice.SendMessage(44, path("a.mp3") + U32(12));
        // An upload failure at the peer asks again while the peer is online, but not for a
        // download that failed here.
        alice.SendMessage(46, path("a.mp3"));
        alice.SendMessage(46, path("b.mp3"));
        alice.SendMessage(46, path("unknown.mp3"));
        QTRY_VERIFY(QueueLog().contains("Download not found."));
        QCOMPARE(ValueOf(entry, "place_in_line"), QStringLiteral("12"));
        QCOMPARE(Sent("alice", 43), QList<QByteArray>{Str("music\\Album\\a.mp3")});

        alice.SendMessage(50, path("a.mp3") + Str("Too many files"));
        QTRY_COMPARE(Status(entry), QStringLiteral("denied"));
        QCOMPARE(ValueOf(entry, "denial_reason"), QStringLiteral("Too many files"));
    }

    // A peer may push a file to us only when it is in our user list and its uploads are taken.
    void offers_data()
    {
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("allListed");
        QTest::addColumn<bool>("groupAccepts");
        QTest::addColumn<bool>("added");
        QTest::newRow("not listed") << false << true << false << false;
        QTest::newRow("listed, list accepted") << true << true << false << true;
        QTest::newRow("listed, nothing accepted") << true << false << false << false;
        QTest::newRow("listed, group accepts") << true << false << true << true;
    }
    void offers()
    {
        QFETCH(bool, listed);
        QFETCH(bool, allListed);
        QFETCH(bool, groupAccepts);
        QFETCH(bool, added);
        const QString name = QStringLiteral("carol%1").arg(QTest::currentDataTag()).remove(' ').remove(',');
        ItemPtr user = User(name);
        if (listed) {
            ItemPtr entry = user.NewItem("in_user_list");
            ItemPtr group = d.GetType("user_list_group")->GetItem(Value(name + "s"));
            entry += group;
            if (groupAccepts)
                group.NewItem("accept_uploads");
        }
        SetSetting("accept_userlist_uploads", allListed ? "yes" : "no");
        emit peerMessenger->QueueDownloadRequested(name, "share\\pushed.bin", 77);
        ItemPtr entry = transferQueueManager->GetDownloadEntry(name, "pushed.bin", "share");
        QCOMPARE(!entry.IsNull(), added);
        if (added)
            QCOMPARE(Status(entry), QStringLiteral("queued"));
    }

    void emptyShareCheck()
    {
        const auto share = [](const QString& user, bool empty) {
            FileInfoMap files;
            if (!empty)
                files["music"];
            AttributeTranslationTable table;
            emit peerMessenger->UserShare(user, files, table);
        };
        const auto check = [](const QString& user) { User(user) += d.GetType("empty_share_check_status")->GetItem("requested"); };
        SetSetting("check_for_empty_shares", "yes");
        SetSetting("empty_share_message", "Share something");
        const QByteArray message = F::MakeFrame(22, F::Str("dave") + F::Str("Share something"));

        share("dave", true);  // not asked for: nothing
        check("dave");
        share("dave", true);
        share("dave", true);  // once only, until asked for again
        QCOMPARE(ValueOf(User("dave"), "empty_share_check_status"), QStringLiteral("empty"));
        QCOMPARE(ValueOf(User("dave"), "sent_empty_share_warning_message"), QStringLiteral("Share something"));
        QCOMPARE(SentSoFar(f.peer.env.fake).count(message), 1);

        check("dave");
        share("dave", false);
        QCOMPARE(ValueOf(User("dave"), "empty_share_check_status"), QStringLiteral("not_empty"));
        User("dave").NewItem("in_user_list");
        check("dave");
        share("dave", true);
        QCOMPARE(ValueOf(User("dave"), "empty_share_check_status"), QStringLiteral("empty"));
        QCOMPARE(SentSoFar(f.peer.env.fake).count(message), 0);

        // Logged out, the warning cannot go out: it is not recorded as said.
        QVERIFY(f.peer.env.Reset());
        check("erin");
        share("erin", true);
        QCOMPARE(ValueOf(User("erin"), "empty_share_check_status"), QStringLiteral("empty"));
        QVERIFY(!User("erin").IsConnected("sent_empty_share_warning_message"));
        QVERIFY(f.peer.env.LogIn());
    }

    // The half-minute sweep on the engine's clock: queue requests repeated every ten minutes,
    // places in line asked when due, both held back while a download from that peer runs or the
    // peer is offline.
    void sweepRequeuesAndAsksPlacesWhenDue()
    {
        f.User("quin");
        const auto sent = [&] {
            const auto counts = f.Settle("quin")
                                    ? qMakePair(f.Received("quin", 43).size(), f.Received("quin", 51).size())
                                    : qMakePair(-1, -1);
            f.Clear("quin");
            return counts;
        };
        ItemPtr a = transferQueueManager->AddDownload("quin", "a.bin", "s", 10, 0);
        transferQueueManager->AddDownload("quin", "b.bin", "s", 10, 0);
        QCOMPARE(sent(), qMakePair(2, 0));

        // Never re-queued before: at once; the places follow 30 s later, then every ten minutes.
        f.Sweep(5);
        QCOMPARE(sent(), qMakePair(2, 0));
        f.Sweep(29);
        QCOMPARE(sent(), qMakePair(0, 0));
        f.Sweep(1);
        QCOMPARE(sent(), qMakePair(0, 2));
        f.Sweep(565);
        QCOMPARE(sent(), qMakePair(0, 0));
        f.Sweep(5);
        QCOMPARE(sent(), qMakePair(2, 0));

        // While a download from the peer runs, neither; nor while the peer is offline.
        transferQueueManager->SetDownloadEntryStatus(a, "downloading");
        f.Sweep(1300);
        QCOMPARE(sent(), qMakePair(0, 0));
        transferQueueManager->SetDownloadEntryStatus(a, "queued");
        User("quin").Disconnect("is_online");
        f.Sweep(1300);
        QCOMPARE(sent(), qMakePair(0, 0));
        // Back online: asked again at once, and the places half a minute later.
        User("quin").NewItem("is_online");
        QCOMPARE(sent(), qMakePair(2, 0));
        f.Sweep(31);
        QCOMPARE(sent(), qMakePair(0, 2));
    }

    // The answer to a peer's transfer request, and the file connection that arrives with the
    // ticket, gets the resume offset and fills the partial file.
    void allowedRequestResumesPartialFile()
    {
        const QByteArray bytes = RandomBytes(300000);
        const int held = 123457;
        QVERIFY(WriteFile(Downloading("dir/f.bin"), bytes.left(held)));
        f.User("kate");
        ItemPtr entry = transferQueueManager->AddDownload("kate", "f.bin", "dir", bytes.size(), 0);
        // The partial file is the entry's own, as its saved record says.
        entry += d.GetType("download_partial_name")->GetItem(Value("f.bin"));
        QCOMPARE(Status(entry), QString("queued"));

        emit peerMessenger->FileTransferRequested("kate", 1, 77, "dir\\f.bin", bytes.size());
        QCOMPARE(f.WaitFor("kate", 41).value(0), Allowed(77));
        QCOMPARE(Status(entry), QString("queued"));

        FileConnection connection;
        QVERIFY(connection.Open("kate", 77));
        QCOMPARE(connection.Offset(), qint64(held));
        QTRY_COMPARE(Status(entry), QString("downloading"));
        connection.peer.SendRaw(bytes.mid(held));
        QTRY_COMPARE_WITH_TIMEOUT(Status(entry), QString("complete"), 10000);
        QCOMPARE(ReadFile(Complete("dir/f.bin")), bytes);
    }
    void refusalsAndQueueing()
    {
        QVERIFY(f.Share("q.bin", RandomBytes(10)));
        f.Clear("leo");
        // Nobody we take pushes from, an unknown file: refused, nothing made.
        const int entries = int(d.GetType("download_entry")->GetItems().size());
        emit peerMessenger->FileTransferRequested("leo", 1, 5, "up\\pushed.bin", 10);
        // A negative size is never allowed, not even for a download we asked for.
        ItemPtr wanted = transferQueueManager->AddDownload("leo", "neg.bin", "up", 10, 0);
        emit peerMessenger->FileTransferRequested("leo", 1, 6, "up\\neg.bin", -1);
        // A file we already have.
        ItemPtr done = transferQueueManager->AddDownload("leo", "done.bin", "up", 10, 0);
        transferQueueManager->SetDownloadEntryStatus(done, "complete");
        emit peerMessenger->FileTransferRequested("leo", 1, 7, "up\\done.bin", 10);
        // Direction 0: the peer wants a file from us; it is queued instead.
        emit peerMessenger->FileTransferRequested("leo", 0, 8, f.RemoteName("q.bin").toStdString(), 0);

        QCOMPARE(f.WaitFor("leo", 41, 4),
                 (QList<QByteArray>{Refused(5, "Cancelled"), Refused(6, "Cancelled"), Refused(7, "Complete"),
                                    Refused(8, "Queued")}));
        QCOMPARE(int(d.GetType("download_entry")->GetItems().size()), entries + 2);
        QCOMPARE(Status(wanted), QString("queued"));
        QVERIFY(!QFileInfo::exists(Downloading("up/pushed.bin")));
        QCOMPARE(f.WaitFor("leo", 40).size(), 1);
        QVERIFY(f.Received("leo", 40).value(0).contains(Str(f.RemoteName("q.bin"))));
    }
    void secondRequestAbortsRunningDownload()
    {
        const QByteArray bytes = RandomBytes(1000000);
        f.User("mia");
        ItemPtr entry = transferQueueManager->AddDownload("mia", "g.bin", "dir", bytes.size(), 0);
        emit peerMessenger->FileTransferRequested("mia", 1, 80, "dir\\g.bin", bytes.size());
        FileConnection first;
        QVERIFY(first.Open("mia", 80));
        QCOMPARE(first.Offset(), qint64(0));
        // Whole pieces, so that all that was sent is on disk when the download stops.
        const int sent = 12 * 8192;
        first.peer.SendRaw(bytes.left(sent));
        QTRY_VERIFY(TransferQueueManager::Cell<qint64>(entry, "write_position") &&
                    *TransferQueueManager::Cell<qint64>(entry, "write_position") == sent);

        // The peer starts the file anew while the old connection hangs: no long wait.
        QElapsedTimer timer;
        timer.start();
        emit peerMessenger->FileTransferRequested("mia", 1, 81, "dir\\g.bin", bytes.size());
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString("took %1 ms").arg(timer.elapsed())));
        QCOMPARE(Status(entry), QString("aborted"));
        QCOMPARE(f.WaitFor("mia", 41, 2).value(1), Allowed(81));

        FileConnection stale;
        QVERIFY(stale.Open("mia", 80));
        QVERIFY(stale.peer.WaitForDisconnect());
        QCOMPARE(stale.peer.Received(), QByteArray());

        FileConnection second;
        QVERIFY(second.Open("mia", 81));
        QCOMPARE(second.Offset(), qint64(sent));
        second.peer.SendRaw(bytes.mid(sent));
        QTRY_COMPARE_WITH_TIMEOUT(Status(entry), QString("complete"), 10000);
        QCOMPARE(ReadFile(Complete("dir/g.bin")), bytes);
    }
    void secondConnectionForSameFileIsClosed()
    {
        const QByteArray bytes = RandomBytes(200000), otherBytes = RandomBytes(150000);
        f.User("ned");
        f.User("ola");
        ItemPtr first = transferQueueManager->AddDownload("ned", "h.bin", "same", bytes.size(), 0);
        ItemPtr other = transferQueueManager->AddDownload("ola", "h.bin", "same", otherBytes.size(), 0);
        emit peerMessenger->FileTransferRequested("ned", 1, 90, "same\\h.bin", bytes.size());
        emit peerMessenger->FileTransferRequested("ola", 1, 91, "same\\h.bin", otherBytes.size());
        FileConnection running;
        QVERIFY(running.Open("ned", 90));
        QCOMPARE(running.Offset(), qint64(0));
        QTRY_COMPARE(Status(first), QString("downloading"));

        // Another connection for the running download is closed without an offset and changes
        // nothing; another download into the same local path gets a partial file of its own.
        FileConnection again, sameFile;
        QVERIFY(again.Open("ned", 90));
        QVERIFY(again.peer.WaitForDisconnect());
        QCOMPARE(again.peer.Received(), QByteArray());
        QCOMPARE(Status(first), QString("downloading"));
        QVERIFY(sameFile.Open("ola", 91));
        QCOMPARE(sameFile.Offset(), qint64(0));
        QTRY_COMPARE(Status(other), QString("downloading"));

        running.peer.SendRaw(bytes);
        QTRY_COMPARE_WITH_TIMEOUT(Status(first), QString("complete"), 10000);
        sameFile.peer.SendRaw(otherBytes);
        QTRY_COMPARE_WITH_TIMEOUT(Status(other), QString("complete"), 10000);
        QCOMPARE(ReadFile(Complete("same/h.bin")), bytes);
        QCOMPARE(ReadFile(Complete("same/h (1).bin")), otherBytes);
    }
    void partialFileLargerThanExpected()
    {
        const QByteArray held = RandomBytes(5000);
        QVERIFY(WriteFile(Downloading("big/p.bin"), held));
        f.User("pia");
        ItemPtr entry = transferQueueManager->AddDownload("pia", "p.bin", "big", 4000, 0);
        entry += d.GetType("download_partial_name")->GetItem(Value("p.bin"));
        emit peerMessenger->FileTransferRequested("pia", 1, 95, "big\\p.bin", 4000);
        FileConnection connection;
        QVERIFY(connection.Open("pia", 95));
        QVERIFY(connection.peer.WaitForDisconnect());
        QCOMPARE(connection.peer.Received(), QByteArray());
        QCOMPARE(Status(entry), QString("local error"));
        QVERIFY(LogText("Transfer Queue").contains("partial file larger than expected size"));
        QCOMPARE(ReadFile(Downloading("big/p.bin")), held);
    }

    // The folders follow the setting at every use, and keep what the peer sends inside them.
    void folders()
    {
        const QString original = Base();
        const QString base = QString(original).replace('/', '\\');
        ItemPtr entry = transferQueueManager->AddDownload("erin", "a.mp3", "music\\Artist\\Album", 1, 1);
        QCOMPARE(transferQueueManager->GetDownloadTargetPath(entry, false), base + "\\downloading\\Artist\\Album\\a.mp3");
        QCOMPARE(transferQueueManager->GetDownloadRelativeDownloadFolder(entry), QStringLiteral("Artist\\Album"));
        SetSetting("download_folder", f.files.filePath("elsewhere"));
        QCOMPARE(transferQueueManager->GetDownloadTargetFolder(entry, true),
                 QString(f.files.filePath("elsewhere")).replace('/', '\\') + "\\complete\\Artist\\Album");
        SetSetting("download_folder", original);

        // The stored names stay as the peer sent them; only the local path is cleaned.
        ItemPtr evil = transferQueueManager->AddDownload("erin", "..", "..\\..", 1, 1);
        QCOMPARE(ValueOf(evil, "remote_folder"), QStringLiteral("..\\.."));
        QCOMPARE(transferQueueManager->GetDownloadTargetPath(evil, true), base + "\\complete\\_\\_\\_");
        QCOMPARE(Status(evil), QStringLiteral("queued"));
        QVERIFY(WriteFile(Base() + "/complete/_/_/_", ""));
        QVERIFY(!transferQueueManager->DoesDownloadItemCompleteFilenameExist(evil));
    }
};

QTEST_MAIN(TestDownloadQueue)
#include "tst_downloadqueue.moc"
