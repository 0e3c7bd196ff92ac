// Which local files a download may take for its own: downloads that map to the same local path,
// a restart in between, a peer's file that changed size, finished files under free names, a
// ticket used twice, a download that can only fail again, and files listed without a folder.
// Fake peers on 127.0.0.1 and real files in a temporary folder.
#include "peertransferfixture.h"

#include <QtTest>

namespace {

QString Status(ItemPtr entry) { return ValueOf(entry, "download_entry_status"); }

QByteArray Allowed(quint32 id) { return U32(id) + FakePeer::U8(1); }

}  // namespace

class TestDownloadOwnership : public QObject
{
    Q_OBJECT

    PeerTransferFixture f;

    // The peer asks to send the file (message 40) and, once allowed, opens the file connection
    // with the same ticket. Returns the offset the client asked for, -1 when none came.
    qint64 Connect(FileConnection& connection, const QString& user, const std::string& path, qint64 size)
    {
        static quint32 s_ticket = 100;
        const quint32 ticket = ++s_ticket;
        const int before = f.Received(user, 41).size();
        emit peerMessenger->FileTransferRequested(user, 1, ticket, path, size);
        if (f.WaitFor(user, 41, before + 1).value(before) != Allowed(ticket) || !connection.Open(user, ticket))
            return -1;
        m_lastTicket = ticket;
        return connection.Offset();
    }
    // A whole download: the peer's request, its connection from offset 0, all the bytes.
    bool DownloadWhole(ItemPtr entry, const QString& user, const std::string& path, const QByteArray& bytes)
    {
        FileConnection connection;
        if (Connect(connection, user, path, bytes.size()) != 0)
            return false;
        connection.peer.SendRaw(bytes);
        return QTest::qWaitFor([&] { return Status(entry) == "complete"; }, 5000);
    }
    // Sends part of the file (whole pieces of 8 KiB, so that all of it reaches the disk) and
    // breaks the connection off.
    bool SendPart(FileConnection& connection, ItemPtr entry, const QByteArray& part)
    {
        connection.peer.SendRaw(part);
        if (!QTest::qWaitFor([&] { return Cell(entry) == part.size(); }, 5000))
            return false;
        connection.peer.Socket()->abort();
        return QTest::qWaitFor([&] { return Status(entry) == "aborted"; }, 5000);
    }
    static qint64 Cell(ItemPtr entry)
    {
        const qint64* position = TransferQueueManager::Cell<qint64>(entry, "write_position");
        return position ? *position : -1;
    }
    quint32 m_lastTicket = 0;

private slots:
    void initTestCase() { QVERIFY(f.SetUp()); }
    void cleanupTestCase() { f.TearDown(); }
    void cleanup() { QVERIFY(f.RemoveDownloads()); }

    // Two users' CD1\01.mp3 share one local path: each download resumes only its own partial
    // file, also across a restart, and both finish whole under names of their own.
    void samePathTwoUsers()
    {
        const QByteArray mine = RandomBytes(50000), theirs = RandomBytes(70000);
        f.User("ann");
        f.User("ben");
        ItemPtr a = transferQueueManager->AddDownload("ann", "01.mp3", "music\\CD1", mine.size(), 0);
        ItemPtr b = transferQueueManager->AddDownload("ben", "01.mp3", "other\\CD1", theirs.size(), 0);

        FileConnection first, second;
        QCOMPARE(Connect(first, "ann", "music\\CD1\\01.mp3", mine.size()), qint64(0));
        QVERIFY(SendPart(first, a, mine.left(16384)));
        QCOMPARE(Connect(second, "ben", "other\\CD1\\01.mp3", theirs.size()), qint64(0));
        QVERIFY(SendPart(second, b, theirs.left(8192)));
        QCOMPARE(ReadFile(f.Downloading("CD1/01.mp3")), mine.left(16384));
        QCOMPARE(ReadFile(f.Downloading("CD1/01 (1).mp3")), theirs.left(8192));

        // A restart: the saved entries still know their own partial files.
        QVERIFY(dataSaver->Save());
        transferQueueManager->RemoveDownload(a);
        transferQueueManager->RemoveDownload(b);
        QCOMPARE(dataSaver->Load(), DataSaver::LoadResult::Loaded);
        a = transferQueueManager->GetDownloadEntry("ann", "01.mp3", "music\\CD1");
        b = transferQueueManager->GetDownloadEntry("ben", "01.mp3", "other\\CD1");
        QCOMPARE(Status(a), QString("queued"));

        FileConnection third, fourth;
        QCOMPARE(Connect(third, "ben", "other\\CD1\\01.mp3", theirs.size()), qint64(8192));
        third.peer.SendRaw(theirs.mid(8192));
        QTRY_COMPARE(Status(b), QString("complete"));
        QCOMPARE(Connect(fourth, "ann", "music\\CD1\\01.mp3", mine.size()), qint64(16384));
        fourth.peer.SendRaw(mine.mid(16384));
        QTRY_COMPARE(Status(a), QString("complete"));

        // ben finished first and took the peer's name; ann's file went beside it, and her
        // entry names that file, also after a restart.
        QCOMPARE(ReadFile(f.Complete("CD1/01.mp3")), theirs);
        QCOMPARE(ReadFile(f.Complete("CD1/01 (1).mp3")), mine);
        const QString own = QString(f.Complete("CD1/01 (1).mp3")).replace('/', '\\');
        QCOMPARE(transferQueueManager->GetDownloadTargetPath(a, true), own);
        QVERIFY(dataSaver->Save());
        transferQueueManager->RemoveDownload(a);
        QCOMPARE(dataSaver->Load(), DataSaver::LoadResult::Loaded);
        a = transferQueueManager->GetDownloadEntry("ann", "01.mp3", "music\\CD1");
        QCOMPARE(transferQueueManager->GetDownloadTargetPath(a, true), own);
        QCOMPARE(Status(a), QString("complete"));
    }

    // Another download's finished file of the same name says nothing about this one.
    void finishedFileOfAnotherDownload()
    {
        const QByteArray bytes = RandomBytes(1000);
        f.User("carl");
        f.User("dora");
        ItemPtr carl = transferQueueManager->AddDownload("carl", "01.mp3", "x\\CD1", bytes.size(), 0);
        QVERIFY(DownloadWhole(carl, "carl", "x\\CD1\\01.mp3", bytes));
        f.Sent("dora", 43);

        ItemPtr dora = transferQueueManager->AddDownload("dora", "01.mp3", "y\\CD1", 5000, 0);
        QCOMPARE(Status(dora), QString("queued"));
        QVERIFY(!transferQueueManager->DoesDownloadItemCompleteFilenameExist(dora));
        // As after a restart, when the user comes online again.
        transferQueueManager->SetDownloadEntryStatus(dora, "aborted");
        transferQueueManager->RequeueDownload(dora);
        QCOMPARE(Status(dora), QString("queued"));
        QCOMPARE(f.Sent("dora", 43), (QList<QByteArray>{Str("y\\CD1\\01.mp3"), Str("y\\CD1\\01.mp3")}));
        QVERIFY(transferQueueManager->DoesDownloadItemCompleteFilenameExist(carl));
    }

    // The peer's file changed size: the old bytes are dropped and the file comes anew.
    void sizeChangedStartsOver()
    {
        const QByteArray old = RandomBytes(30000), fresh = RandomBytes(25000);
        f.User("emil");
        ItemPtr entry = transferQueueManager->AddDownload("emil", "s.bin", "dir", old.size(), 0);
        FileConnection first, second;
        QCOMPARE(Connect(first, "emil", "dir\\s.bin", old.size()), qint64(0));
        QVERIFY(SendPart(first, entry, old.left(16384)));
        QCOMPARE(Connect(second, "emil", "dir\\s.bin", fresh.size()), qint64(0));
        QCOMPARE(ValueOf(entry, "file_size"), QString::number(fresh.size()));
        second.peer.SendRaw(fresh);
        QTRY_COMPARE(Status(entry), QString("complete"));
        QCOMPARE(ReadFile(f.Complete("dir/s.bin")), fresh);
        QVERIFY(LogText("Transfer Queue").contains("File size changed from 30000 to 25000"));
    }

    // A ticket is good for one connection: replayed while the download waits for its rest
    // (queued again after an abort), it starts nothing and writes nothing; replayed after the
    // download finished, it writes no further copy.
    void ticketUsedOnce()
    {
        const QByteArray bytes = RandomBytes(30000);
        f.User("finn");
        ItemPtr entry = transferQueueManager->AddDownload("finn", "t.bin", "dir", bytes.size(), 0);
        FileConnection first;
        QCOMPARE(Connect(first, "finn", "dir\\t.bin", bytes.size()), qint64(0));
        const quint32 used = m_lastTicket;
        QVERIFY(SendPart(first, entry, bytes.left(8192)));
        transferQueueManager->RequeueDownload(entry);
        QCOMPARE(Status(entry), QString("queued"));

        FileConnection early;
        QVERIFY(early.Open("finn", used));
        QVERIFY(early.peer.WaitForDisconnect());
        QCOMPARE(early.peer.Received(), QByteArray());
        QCOMPARE(Status(entry), QString("queued"));
        QCOMPARE(ReadFile(f.Downloading("dir/t.bin")), bytes.left(8192));

        FileConnection rest;
        QCOMPARE(Connect(rest, "finn", "dir\\t.bin", bytes.size()), qint64(8192));
        rest.peer.SendRaw(bytes.mid(8192));
        QTRY_COMPARE(Status(entry), QString("complete"));

        FileConnection replay;
        QVERIFY(replay.Open("finn", m_lastTicket));
        QVERIFY(replay.peer.WaitForDisconnect());
        QCOMPARE(replay.peer.Received(), QByteArray());
        QCOMPARE(Status(entry), QString("complete"));
        QCOMPARE(QDir(f.DownloadBase() + "/complete/dir").entryList(QDir::Files), QStringList{"t.bin"});
        QCOMPARE(ReadFile(f.Complete("dir/t.bin")), bytes);
        QVERIFY(!QFileInfo::exists(f.Downloading("dir/t.bin")));
    }

    // A partial file larger than the peer's file is not asked for again until the user retries.
    void failedForGoodWaitsForRetry()
    {
        f.User("gail");
        ItemPtr entry = transferQueueManager->AddDownload("gail", "p.bin", "big", 4000, 0);
        entry += d.GetType("download_partial_name")->GetItem(Value("p.bin"));
        QVERIFY(WriteFile(f.Downloading("big/p.bin"), RandomBytes(5000)));
        FileConnection connection;
        QCOMPARE(Connect(connection, "gail", "big\\p.bin", 4000), qint64(-1));
        QTRY_COMPARE(Status(entry), QString("local error"));
        f.Sent("gail", 43);

        transferQueueManager->OnUserOnline(User("gail"));
        f.Sweep(601);
        QCOMPARE(f.Sent("gail", 43), QList<QByteArray>());
        transferQueueManager->RequeueDownload(entry);
        QCOMPARE(Status(entry), QString("queued"));
        QCOMPARE(f.Sent("gail", 43), QList<QByteArray>{Str("big\\p.bin")});
    }

    // A file listed without a folder is asked for, and found again, by its bare name.
    void bareName()
    {
        f.User("hugo");
        ItemPtr listed = User("hugo").NewItem("in_user_list");
        SetSetting("accept_userlist_uploads", "yes");
        emit peerMessenger->QueueDownloadRequested("hugo", "a.mp3", 10);
        ItemPtr entry = transferQueueManager->GetDownloadEntry("hugo", "a.mp3", "");
        QVERIFY(entry);
        QCOMPARE(ValueOf(entry, "remote_folder"), QString());
        QCOMPARE(f.Sent("hugo", 43), QList<QByteArray>{Str("a.mp3")});
        emit peerMessenger->DownloadPlaceInLine("hugo", "a.mp3", 4);
        QCOMPARE(ValueOf(entry, "place_in_line"), QString("4"));
        transferQueueManager->RequestDownloadPlaceInLine(entry);
        QCOMPARE(f.WaitFor("hugo", 51).value(0), Str("a.mp3"));

        // An offer nobody could store is refused with a line in the log, and nothing made.
        emit peerMessenger->QueueDownloadRequested("hugo", "share\\neg.bin", -5);
        QVERIFY(!transferQueueManager->GetDownloadEntry("hugo", "neg.bin", "share"));
        QVERIFY(LogText("Transfer Queue").contains("Offer of share\\neg.bin from hugo not taken"));
        listed.Remove();
    }

private:
    static ItemPtr User(const QString& name) { return d.GetType("user")->GetItem(Value(name)); }
};

QTEST_MAIN(TestDownloadOwnership)
#include "tst_downloadownership.moc"
