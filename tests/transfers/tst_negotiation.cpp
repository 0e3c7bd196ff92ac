// The downloader's side of a transfer against fake peers on 127.0.0.1 and real files: the answer
// to a peer's transfer request, and the file connection that arrives with the ticket, gets the
// resume offset and fills the partial file.

#include "peertransferfixture.h"
#include "common/testfiles.h"

#include "model/settings.h"

#include <QtTest>

namespace {

QString StatusOf(ItemPtr entry)
{
    return entry["download_entry_status"].AsString();
}

// Peer message 41 as the client must write it (after the code).
QByteArray Allowed(quint32 id) { return U32(id) + FakePeer::U8(1); }
QByteArray Refused(quint32 id, const QString& reason) { return U32(id) + FakePeer::U8(0) + Str(reason); }

// A file connection opened by the peer: the direct init, then the ticket.
struct FileConnection
{
    FakePeer peer;

    bool Open(const QString& user, quint32 ticket)
    {
        if (!peer.ConnectTo(peerMessenger->ListeningPort(false)))
            return false;
        peer.SetRaw(true);
        peer.SendRaw(FakePeer::PlainFrame(FakePeer::DirectInit(user, "F")) + U32(ticket));
        return true;
    }
    // The resume offset the client wrote, or -1 when none came.
    qint64 Offset(int timeoutMs = 5000)
    {
        if (!QTest::qWaitFor([&] { return peer.Received().size() >= 8; }, timeoutMs))
            return -1;
        return qFromLittleEndian<qint64>(peer.Received().constData());
    }
};

}  // namespace

class TestNegotiation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(f.SetUp()); }
    void cleanupTestCase() { f.TearDown(); }
    void allowedRequestResumesPartialFile()
    {
        const QByteArray bytes = RandomBytes(300000);
        const int held = 123457;
        QVERIFY(WriteFile(Downloading("dir/f.bin"), bytes.left(held)));
        f.User("kate");
        ItemPtr entry = transferQueueManager->AddDownload("kate", "f.bin", "dir", bytes.size(), 0);
        QCOMPARE(StatusOf(entry), QString("queued"));

        emit peerMessenger->FileTransferRequested("kate", 1, 77, "dir\\f.bin", bytes.size());
        QCOMPARE(f.WaitFor("kate", 41).value(0), Allowed(77));
        QCOMPARE(StatusOf(entry), QString("queued"));

        FileConnection connection;
        QVERIFY(connection.Open("kate", 77));
        QCOMPARE(connection.Offset(), qint64(held));
        QTRY_COMPARE(StatusOf(entry), QString("downloading"));
        connection.peer.SendRaw(bytes.mid(held));
        QTRY_COMPARE_WITH_TIMEOUT(StatusOf(entry), QString("complete"), 10000);
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
        QCOMPARE(StatusOf(wanted), QString("queued"));
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
        QCOMPARE(StatusOf(entry), QString("aborted"));
        QCOMPARE(f.WaitFor("mia", 41, 2).value(1), Allowed(81));

        FileConnection stale;
        QVERIFY(stale.Open("mia", 80));
        QVERIFY(stale.peer.WaitForDisconnect());
        QCOMPARE(stale.peer.Received(), QByteArray());

        FileConnection second;
        QVERIFY(second.Open("mia", 81));
        QCOMPARE(second.Offset(), qint64(sent));
        second.peer.SendRaw(bytes.mid(sent));
        QTRY_COMPARE_WITH_TIMEOUT(StatusOf(entry), QString("complete"), 10000);
        QCOMPARE(ReadFile(Complete("dir/g.bin")), bytes);
    }
    void secondConnectionForSameFileIsClosed()
    {
        const QByteArray bytes = RandomBytes(200000);
        f.User("ned");
        f.User("ola");
        ItemPtr first = transferQueueManager->AddDownload("ned", "h.bin", "same", bytes.size(), 0);
        ItemPtr other = transferQueueManager->AddDownload("ola", "h.bin", "same", bytes.size(), 0);
        emit peerMessenger->FileTransferRequested("ned", 1, 90, "same\\h.bin", bytes.size());
        emit peerMessenger->FileTransferRequested("ola", 1, 91, "same\\h.bin", bytes.size());
        FileConnection running;
        QVERIFY(running.Open("ned", 90));
        QCOMPARE(running.Offset(), qint64(0));
        QTRY_COMPARE(StatusOf(first), QString("downloading"));

        // Another connection for the running download, and one for another download into the
        // same local file: both are closed without an offset and change nothing.
        FileConnection again, sameFile;
        QVERIFY(again.Open("ned", 90));
        QVERIFY(sameFile.Open("ola", 91));
        QVERIFY(again.peer.WaitForDisconnect());
        QVERIFY(sameFile.peer.WaitForDisconnect());
        QCOMPARE(again.peer.Received() + sameFile.peer.Received(), QByteArray());
        QCOMPARE(StatusOf(first), QString("downloading"));
        QCOMPARE(StatusOf(other), QString("queued"));

        running.peer.SendRaw(bytes);
        QTRY_COMPARE_WITH_TIMEOUT(StatusOf(first), QString("complete"), 10000);
        QCOMPARE(ReadFile(Complete("same/h.bin")), bytes);
    }
    void partialFileLargerThanExpected()
    {
        const QByteArray held = RandomBytes(5000);
        QVERIFY(WriteFile(Downloading("big/p.bin"), held));
        f.User("pia");
        ItemPtr entry = transferQueueManager->AddDownload("pia", "p.bin", "big", 4000, 0);
        emit peerMessenger->FileTransferRequested("pia", 1, 95, "big\\p.bin", 4000);
        FileConnection connection;
        QVERIFY(connection.Open("pia", 95));
        QVERIFY(connection.peer.WaitForDisconnect());
        QCOMPARE(connection.peer.Received(), QByteArray());
        QCOMPARE(StatusOf(entry), QString("local error"));
        QVERIFY(LogText("Transfer Queue").contains("partial file larger than expected size"));
        QCOMPARE(ReadFile(Downloading("big/p.bin")), held);
    }

private:
    QString Downloading(const QString& relative) const { return f.files.filePath("downloads/downloading/" + relative); }
    QString Complete(const QString& relative) const { return f.files.filePath("downloads/complete/" + relative); }

    PeerTransferFixture f;
};

QTEST_MAIN(TestNegotiation)
#include "tst_negotiation.moc"
