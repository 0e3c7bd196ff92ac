// The upload side against fake peers on 127.0.0.1 and real shared files: queue requests become
// transfer requests in queue order as slots free, an allowed request becomes a file connection
// that carries the ticket and the file from the peer's offset, and every way an upload can end.

#include "peertransferfixture.h"
#include "common/testfiles.h"

#include "model/settings.h"

#include <algorithm>
#include <QtTest>

namespace {

// Peer message 40 as the client must write it (after the code).
QByteArray TransferRequest(quint32 id, const QString& name, qint64 size)
{
    return U32(1) + U32(id) + Str(name) + I64(size);
}

}  // namespace

class TestUploadQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(f.SetUp());
    }
    void cleanupTestCase() { f.TearDown(); }
    void cleanup()
    {
        for (const ItemPtr& entry : d.GetType("upload_entry")->GetItems())
            transferQueueManager->RemoveUpload(entry);
        SetSetting("upload_slots", Value(1));
        SetSetting("max_queued_uploads_per_user", Value(200));
    }
    void queuedFileTravelsFromPeersOffset()
    {
        // More than the system's buffers take at once, so the pause below is part of the measured time.
        const QByteArray bytes = RandomBytes(12 * 1048576 + 5000);
        QVERIFY(f.Share("dir/f.bin", bytes));
        const QString name = f.RemoteName("dir/f.bin");
        SetSetting("transfer_req_counter", Value(500));
        f.User("bob");

        emit peerMessenger->QueueUploadRequested("bob", name);
        QCOMPARE(f.WaitFor("bob", 40).value(0), TransferRequest(500, name, bytes.size()));
        QCOMPARE(UploadStatusOf("bob", name), QString("requesting"));

        emit peerMessenger->FileTransferResponse("bob", 500, true, false, 0, QString());
        QCOMPARE(f.AnswerFileConnection("bob", 1000), 500u);
        // A pause in reading, so that the measured speed cannot round down to nothing.
        f.FilesOf("bob").SetReading(false);
        QTest::qWait(100);
        f.FilesOf("bob").SetReading(true);
        QVERIFY(f.FilesOf("bob").Received().startsWith(FakePeer::PlainFrame(FakePeer::DirectInit("me", "F"))));
        QTRY_COMPARE_WITH_TIMEOUT(f.DataAfterTicket("bob").size(), bytes.size() - 1000, 10000);
        QVERIFY(f.DataAfterTicket("bob") == bytes.mid(1000));
        f.FilesOf("bob").Close();
        QTRY_COMPARE_WITH_TIMEOUT(UploadStatusOf("bob", name), QString("complete"), 10000);
        // More than 1 MiB: the speed goes to the server.
        QVERIFY(f.peer.env.Sync());
        QVERIFY(f.peer.env.fake.Codes().contains(121));
    }
    void slotsOrderAndLimits()
    {
        for (const char* file : {"a", "b", "c", "d", "e", "g", "h"})
            QVERIFY(f.Share(QString("q/%1.bin").arg(file), RandomBytes(100)));
        SetSetting("transfer_req_counter", Value(600));
        for (const char* user : {"carol", "dave", "erin"})
            f.Clear(user);

        emit peerMessenger->QueueUploadRequested("carol", f.RemoteName("q/a.bin"));
        emit peerMessenger->QueueUploadRequested("carol", f.RemoteName("q/b.bin"));
        emit peerMessenger->QueueUploadRequested("dave", f.RemoteName("q/c.bin"));
        emit peerMessenger->QueueUploadRequested("erin", f.RemoteName("q/d.bin"));
        // One slot: one request, for the first file queued.
        QCOMPARE(f.WaitFor("carol", 40).size(), 1);
        QCOMPARE(f.Received("carol", 40).first(), TransferRequest(600, f.RemoteName("q/a.bin"), 100));
        QVERIFY(f.peer.env.Sync());
        QCOMPARE(f.Received("dave", 40).size() + f.Received("erin", 40).size(), 0);

        // Places answer the name exactly as queued; a slash-for-backslash variant gets nothing.
        emit peerMessenger->UploadPlaceInLineRequested("erin", f.RemoteName("q/d.bin"));
        QCOMPARE(f.WaitFor("erin", 44).value(0), Str(f.RemoteName("q/d.bin")) + U32(3));
        emit peerMessenger->UploadPlaceInLineRequested("erin", f.SharePath() + "/q/d.bin");

        // Per-user limit counts queued entries; a path outside the shares is not shared.
        SetSetting("max_queued_uploads_per_user", Value(2));
        emit peerMessenger->QueueUploadRequested("dave", f.RemoteName("q/e.bin"));
        emit peerMessenger->QueueUploadRequested("dave", f.RemoteName("q/g.bin"));
        emit peerMessenger->QueueUploadRequested("dave", "\\elsewhere\\secret.txt");
        // A file beside the share, reached by climbing out of it, is not shared either.
        QVERIFY(WriteFile(f.files.filePath("beside.txt"), "x"));
        emit peerMessenger->QueueUploadRequested("dave", f.RemoteName("q/../../beside.txt"));
        QCOMPARE(f.WaitFor("dave", 50, 3),
                 (QList<QByteArray>{Str(f.RemoteName("q/g.bin")) + Str("Too many files"),
                                    Str("\\elsewhere\\secret.txt") + Str("File not shared."),
                                    Str(f.RemoteName("q/../../beside.txt")) + Str("File not shared.")}));
        QCOMPARE(f.Received("erin", 44).size(), 1);

        // Three slots: two more start, none of them carol's second file while her first is active.
        transferQueueManager->SetUploadSlots(3);
        QCOMPARE(f.WaitFor("dave", 40).value(0), TransferRequest(601, f.RemoteName("q/c.bin"), 100));
        QCOMPARE(f.WaitFor("erin", 40).value(0), TransferRequest(602, f.RemoteName("q/d.bin"), 100));
        QVERIFY(f.peer.env.Sync());
        QCOMPARE(f.Received("carol", 40).size(), 1);
        QCOMPARE(UploadStatusOf("carol", f.RemoteName("q/b.bin")), QString("queued"));

        // Her first upload ends: the second goes at once.
        emit peerMessenger->FileTransferResponse("carol", 600, true, false, 0, QString());
        QCOMPARE(f.AnswerFileConnection("carol", 0), 600u);
        QTRY_COMPARE(f.DataAfterTicket("carol").size(), 100);
        f.FilesOf("carol").Close();
        QCOMPARE(f.WaitFor("carol", 40, 2).value(1), TransferRequest(603, f.RemoteName("q/b.bin"), 100));
    }
    void refusalsTimeoutsAndBreaks()
    {
        // Larger than what the system's buffers hold, so the upload is still sending when the peer goes.
        const QByteArray big = RandomBytes(24 * 1024 * 1024);
        QVERIFY(f.Share("r/big.bin", big));
        for (const char* file : {"a", "b"})
            QVERIFY(f.Share(QString("r/%1.bin").arg(file), RandomBytes(10)));
        SetSetting("transfer_req_counter", Value(700));
        for (const char* user : {"gina", "hank", "ivan"})
            f.User(user);
        emit peerMessenger->QueueUploadRequested("gina", f.RemoteName("r/a.bin"));
        emit peerMessenger->QueueUploadRequested("hank", f.RemoteName("r/b.bin"));
        emit peerMessenger->QueueUploadRequested("ivan", f.RemoteName("r/big.bin"));
        QCOMPARE(f.WaitFor("gina", 40).size(), 1);

        // Refused: denied with the reason, and the next user is asked at once.
        emit peerMessenger->FileTransferResponse("gina", 700, false, false, 0, "Queued");
        QCOMPARE(UploadStatusOf("gina", f.RemoteName("r/a.bin")), QString("denied"));
        QCOMPARE(UploadOf("gina", f.RemoteName("r/a.bin"))["denial_reason"].AsString(), QString("Queued"));
        QCOMPARE(f.WaitFor("hank", 40).size(), 1);

        // No answer: still waiting after 29 s, aborted with 46 after 31, and the next one starts.
        f.Sweep(29);
        QCOMPARE(UploadStatusOf("hank", f.RemoteName("r/b.bin")), QString("requesting"));
        f.Sweep(2);
        QCOMPARE(UploadStatusOf("hank", f.RemoteName("r/b.bin")), QString("aborted"));
        QCOMPARE(f.WaitFor("hank", 46).value(0), Str(f.RemoteName("r/b.bin")));
        QCOMPARE(f.WaitFor("ivan", 40).size(), 1);

        // The peer goes away in the middle of the file: one 46.
        emit peerMessenger->FileTransferResponse("ivan", 702, true, false, 0, QString());
        QCOMPARE(f.AnswerFileConnection("ivan", 0), 702u);
        f.FilesOf("ivan").SetReading(false);
        QTest::qWait(200);
        QCOMPARE(UploadStatusOf("ivan", f.RemoteName("r/big.bin")), QString("uploading"));
        f.FilesOf("ivan").Socket()->abort();
        QTRY_COMPARE_WITH_TIMEOUT(UploadStatusOf("ivan", f.RemoteName("r/big.bin")), QString("aborted"), 10000);
        QCOMPARE(f.WaitFor("ivan", 46).size(), 1);
        f.Sweep(31);
        QVERIFY(f.peer.env.Sync());
        QCOMPARE(f.Received("ivan", 46).size(), 1);
        QCOMPARE(f.Received("hank", 46).size(), 1);
    }
    void unshareStopsAndRemoves()
    {
        const QByteArray big = RandomBytes(8 * 1024 * 1024);
        QVERIFY(f.Share("u/big.bin", big));
        QVERIFY(f.Share("u/small.bin", RandomBytes(10)));
        SetSetting("upload_slots", Value(2));
        SetSetting("transfer_req_counter", Value(800));
        f.User("jack");
        emit peerMessenger->QueueUploadRequested("jack", f.RemoteName("u/big.bin"));
        emit peerMessenger->QueueUploadRequested("jack", f.RemoteName("u/small.bin"));
        QCOMPARE(f.WaitFor("jack", 40).size(), 1);
        emit peerMessenger->FileTransferResponse("jack", 800, true, false, 0, QString());
        // The peer takes the first bytes and then reads no more: the upload stays running.
        f.FilesOf("jack").SetReading(false);
        QVERIFY(QTest::qWaitFor([&] { return f.FilesOf("jack").Socket() != nullptr; }, 5000));
        f.FilesOf("jack").SendRaw(I64(0));
        QTRY_COMPARE(UploadStatusOf("jack", f.RemoteName("u/big.bin")), QString("uploading"));
        QVERIFY(UploadOf("jack", f.RemoteName("u/big.bin"))["read_position"]);

        QElapsedTimer timer;
        timer.start();
        transferQueueManager->UnshareUser("jack");
        QVERIFY(timer.elapsed() < 5000);
        // One refusal per entry, in no particular order.
        QList<QByteArray> refusals = f.WaitFor("jack", 50, 2);
        std::sort(refusals.begin(), refusals.end());
        QList<QByteArray> expected{Str(f.RemoteName("u/big.bin")) + Str("File not shared."),
                                   Str(f.RemoteName("u/small.bin")) + Str("File not shared.")};
        std::sort(expected.begin(), expected.end());
        QCOMPARE(refusals, expected);
        QVERIFY(!UploadOf("jack", f.RemoteName("u/big.bin")));
        QVERIFY(!UploadOf("jack", f.RemoteName("u/small.bin")));
        QVERIFY(f.FilesOf("jack").WaitForDisconnect(10000));
        // Unshared: a new request is refused until the shares come back.
        emit peerMessenger->QueueUploadRequested("jack", f.RemoteName("u/small.bin"));
        QCOMPARE(f.WaitFor("jack", 50, 3).size(), 3);
        transferQueueManager->ReshareUser("jack");
        emit peerMessenger->QueueUploadRequested("jack", f.RemoteName("u/small.bin"));
        QCOMPARE(f.WaitFor("jack", 40, 2).size(), 2);
    }
    void localNameWithBackslashOpensIndexedFile()
    {
        // A local name may hold a backslash; the file opened is the one the index holds.
        QVERIFY(f.Share("odd\\name.bin", RandomBytes(10)));
        ItemPtr shared = f.IndexedFile("odd\\name.bin");
        QVERIFY(shared);
        ItemPtr entry = d.GetType("upload_entry")->NewItem();
        entry += d.GetType("user")->GetItem(Value("kim"));
        entry += shared;
        entry += d.GetType("filename_as_requested")->GetItem(Value("odd\\name.bin"));
        transferQueueManager->SetUploadEntryStatus(entry, "requesting");
        entry += d.GetType("transfer_req")->GetItem(Value(900u));
        f.User("kim");
        emit peerMessenger->FileTransferResponse("kim", 900, true, false, 0, QString());
        QCOMPARE(entry["upload_entry_status"].AsString(), QString("connecting"));
    }

private:
    PeerTransferFixture f;
};

QTEST_MAIN(TestUploadQueue)
#include "tst_uploadqueue.moc"
