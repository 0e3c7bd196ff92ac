// The upload side against changes that happen while an upload waits: sharing narrowed or files
// gone from the index, a file rewritten after the scan, removal of a running upload, places in
// line of users that are offline, and a queue flooded under many names. Fake peers on 127.0.0.1
// and real shared files.

#include "peertransferfixture.h"
#include "common/testfiles.h"

#include "model/settings.h"
#include "transfers/transferthreads.h"

#include <QPointer>
#include <QtTest>

namespace {

QByteArray Denial(const QString& name, const QString& reason) { return Str(name) + Str(reason); }

// The peer's answer to a transfer request (message 40 as received, after the code).
void Answer(const QString& user, const QByteArray& request, bool allowed, const QString& reason = QString())
{
    emit peerMessenger->FileTransferResponse(user, qFromLittleEndian<quint32>(request.constData() + 4), allowed, false,
                                             0, reason);
}

}  // namespace

class TestUploadGuards : public QObject
{
    Q_OBJECT

    PeerTransferFixture f;

    // A second shared folder whose access a test may narrow or end without touching the others.
    ItemPtr m_narrow;
    QString NarrowPath() const { return f.files.filePath("narrow"); }
    QString NarrowName(const QString& file) const { return QString(NarrowPath() + "/" + file).replace('/', '\\'); }

    // Takes the one upload slot with a request that is then left unanswered.
    bool OccupySlot(const QString& file)
    {
        emit peerMessenger->QueueUploadRequested("busy", f.RemoteName(file));
        return !f.WaitFor("busy", 40).isEmpty() && UploadStatusOf("busy", f.RemoteName(file)) == "requesting";
    }
    // Frees the slot: the busy user refuses.
    void FreeSlot()
    {
        Answer("busy", f.Received("busy", 40).value(0), false, "Cancelled");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(f.SetUp());
        QVERIFY(QDir().mkpath(NarrowPath()));
        QVERIFY(f.Share("busy.bin", RandomBytes(10)));
    }
    void cleanupTestCase() { f.TearDown(); }
    void init()
    {
        m_narrow = sharedFoldersManager->AddSharedFolder(NarrowPath());
        m_narrow.Disconnect("shared_userlist");
        m_narrow.NewItem("shared_public");
        SetSetting("upload_slots", Value(1));
    }
    void cleanup()
    {
        for (const ItemPtr& entry : d.GetType("upload_entry")->GetItems())
            transferQueueManager->RemoveUpload(entry);
        for (const char* user : {"busy", "una", "vera", "walt", "pam", "quinn", "rand", "newbie"})
            f.Clear(user);
    }

    // Sharing is asked again when the upload starts and when the peer allows it: a file no
    // longer shared with the user is refused and its entry goes, without a transfer request.
    void sharingCheckedAgain_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("atResponse");
        for (const char* change : {"folder unshared", "narrowed to user list", "file gone"}) {
            QTest::addRow("%s, at start", change) << change << false;
            QTest::addRow("%s, at response", change) << change << true;
        }
    }
    void sharingCheckedAgain()
    {
        QFETCH(QString, change);
        QFETCH(bool, atResponse);
        static int s_file = 0;
        const QString file = QString("f%1.bin").arg(++s_file);
        QVERIFY(WriteFile(NarrowPath() + "/" + file, RandomBytes(10)));
        sharedFoldersManager->RescanShares();
        f.User("una");
        if (!atResponse)
            QVERIFY(OccupySlot("busy.bin"));
        emit peerMessenger->QueueUploadRequested("una", NarrowName(file));
        QCOMPARE(UploadStatusOf("una", NarrowName(file)), QString(atResponse ? "requesting" : "queued"));
        const QByteArray request = atResponse ? f.WaitFor("una", 40).value(0) : QByteArray();

        if (change == "folder unshared") {
            // As the options page stops sharing a folder: its item goes, the files stay indexed
            // until the next rescan.
            m_narrow.Remove();
        } else if (change == "narrowed to user list") {
            m_narrow.Disconnect("shared_public");
            m_narrow.NewItem("shared_userlist");
        } else {
            QVERIFY(QFile::remove(NarrowPath() + "/" + file));
            sharedFoldersManager->RescanShares();
        }
        if (atResponse) {
            QVERIFY(!request.isEmpty());
            Answer("una", request, true);
        } else {
            FreeSlot();
        }
        QCOMPARE(f.WaitFor("una", 50), QList<QByteArray>{Denial(NarrowName(file), "File not shared.")});
        QVERIFY(!UploadOf("una", NarrowName(file)));
        QVERIFY(f.peer.env.Sync());
        QCOMPARE(f.Received("una", 40).size(), atResponse ? 1 : 0);
        // Nothing was opened for it: no file connection was asked for.
        QCOMPARE(f.FilesOf("una").ConnectionCount(), 0);
    }

    // A file rewritten after the scan never goes out with other bytes than announced: the peer
    // is refused with a read error, and the index takes the new size for the next request.
    void rewrittenFileRefused()
    {
        const QByteArray before = RandomBytes(100), after = RandomBytes(150);
        QVERIFY(f.Share("rw/f.bin", before));
        const QString name = f.RemoteName("rw/f.bin");
        f.User("una");
        emit peerMessenger->QueueUploadRequested("una", name);
        const QByteArray request = f.WaitFor("una", 40).value(0);
        QCOMPARE(request.right(8), I64(100));
        QVERIFY(WriteFile(f.SharePath() + "/rw/f.bin", after));

        Answer("una", request, true);
        QCOMPARE(f.WaitFor("una", 50), QList<QByteArray>{Denial(name, "File read error.")});
        QCOMPARE(UploadStatusOf("una", name), QString("local error"));
        QCOMPARE(f.IndexedFile("rw/f.bin")["shared_file_size"].AsInt64(), qint64(150));

        // Asked again, the new size is announced and the whole new file travels.
        emit peerMessenger->QueueUploadRequested("una", name);
        const QByteArray again = f.WaitFor("una", 40, 2).value(1);
        QCOMPARE(again.right(8), I64(150));
        Answer("una", again, true);
        QVERIFY(f.AnswerFileConnection("una", 0) != 0);
        QTRY_COMPARE(f.DataAfterTicket("una"), after);
        f.FilesOf("una").Close();
        QTRY_COMPARE(UploadStatusOf("una", name), QString("complete"));
    }
    // Rewritten once the file is open, before its connection stands: the worker sends nothing.
    void rewrittenWhileConnecting()
    {
        QVERIFY(f.Share("rw/g.bin", RandomBytes(100)));
        const QString name = f.RemoteName("rw/g.bin");
        f.User("vera");
        QVERIFY(!f.QueueAndAllow("vera", name).isEmpty());
        QCOMPARE(UploadStatusOf("vera", name), QString("connecting"));
        QVERIFY(WriteFile(f.SharePath() + "/rw/g.bin", RandomBytes(150)));
        QVERIFY(f.AnswerFileConnection("vera", 0) != 0);
        QTRY_COMPARE(UploadStatusOf("vera", name), QString("aborted"));
        QCOMPARE(f.DataAfterTicket("vera"), QByteArray());
    }

    // A removed upload's worker outlives its own last reports, so no worker made meanwhile can
    // take its address and have those reports taken for its own.
    void removedWorkerReportsReachNobody()
    {
        QVERIFY(f.Share("rm/big.bin", RandomBytes(8 * 1024 * 1024)));
        const QString name = f.RemoteName("rm/big.bin");
        f.User("walt");
        QVERIFY(!f.QueueAndAllow("walt", name).isEmpty());
        QVERIFY(f.AnswerFileConnection("walt", 0) != 0);
        f.FilesOf("walt").SetReading(false);
        ItemPtr entry = UploadOf("walt", name);
        QTRY_VERIFY(entry["read_position"] && *TransferQueueManager::Cell<qint64>(entry, "read_position") > 0);
        QPointer<UploadThread> worker = TransferQueueManager::Cell<UploadThread>(entry, "upload_thread");
        QVERIFY(worker);

        transferQueueManager->RemoveUpload(entry);
        QVERIFY2(worker, "deleted while its reports were still queued");
        // A fresh upload whose worker is made before those reports are delivered.
        ItemPtr fresh = d.GetType("upload_entry")->NewItem();
        fresh += d.GetType("user")->GetItem(Value("pam"));
        fresh += d.GetType("filename_as_requested")->GetItem(Value("fresh"));
        transferQueueManager->SetUploadEntryStatus(fresh, "uploading");
        QPointer<UploadThread> other = new UploadThread(nullptr, nullptr, 0);
        fresh += d.GetType("upload_thread")->GetItem(Value(other.data()));
        QTRY_VERIFY(!worker);
        QCOMPARE(fresh["upload_entry_status"].AsString(), QString("uploading"));
        if (ItemPtr cell = d.GetType("upload_thread")->HasItem(Value(other.data())))
            cell.Remove();
        delete other.data();
    }

    // Every queued entry has a place of its own, offline users' too; only online users start.
    void placesOfOfflineUsers()
    {
        for (const char* file : {"o", "p", "q", "r"})
            QVERIFY(f.Share(QString("pl/%1.bin").arg(file), RandomBytes(10)));
        for (const char* user : {"pam", "quinn", "rand"})
            f.User(user);
        // olga is not online.
        QVERIFY(!d.GetType("user")->GetItem(Value("olga")).IsConnected("is_online"));
        QVERIFY(OccupySlot("busy.bin"));
        emit peerMessenger->QueueUploadRequested("olga", f.RemoteName("pl/o.bin"));
        emit peerMessenger->QueueUploadRequested("pam", f.RemoteName("pl/p.bin"));
        emit peerMessenger->QueueUploadRequested("quinn", f.RemoteName("pl/q.bin"));
        emit peerMessenger->QueueUploadRequested("rand", f.RemoteName("pl/r.bin"));
        FreeSlot();
        QCOMPARE(f.WaitFor("pam", 40).size(), 1);
        QCOMPARE(UploadStatusOf("olga", f.RemoteName("pl/o.bin")), QString("queued"));

        QList<qint64> places;
        for (const QString user : {"olga", "quinn", "rand"})
            places << UploadOf(user, f.RemoteName(QString("pl/%1.bin").arg(user[0])))["effective_upload_order"]
                          .AsInt64();
        QCOMPARE(places, (QList<qint64>{0, 2, 3}));
        emit peerMessenger->UploadPlaceInLineRequested("rand", f.RemoteName("pl/r.bin"));
        QCOMPARE(f.WaitFor("rand", 44).value(0), Str(f.RemoteName("pl/r.bin")) + U32(3));
    }

    // However many names one host claims, the queue as a whole stays bounded.
    void queueBoundedInTotal()
    {
        QVERIFY(f.Share("flood.bin", RandomBytes(10)));
        QVERIFY(OccupySlot("busy.bin"));
        Type* users = d.GetType("user");
        Type* entries = d.GetType("upload_entry");
        ItemPtr queued = d.GetType("upload_entry_status")->GetItem(Value("queued"));
        for (int k = 0; k < 9999; ++k) {
            ItemPtr entry = entries->NewItem();
            entry += users->GetItem(Value(QString("name%1").arg(k / 200)));
            entry += queued;
        }
        emit peerMessenger->QueueUploadRequested("newbie", f.RemoteName("flood.bin"));
        QCOMPARE(UploadStatusOf("newbie", f.RemoteName("flood.bin")), QString("queued"));
        emit peerMessenger->QueueUploadRequested("rand", f.RemoteName("flood.bin"));
        QCOMPARE(f.WaitFor("rand", 50), QList<QByteArray>{Denial(f.RemoteName("flood.bin"), "Too many files")});
        QVERIFY(!UploadOf("rand", f.RemoteName("flood.bin")));
    }
};

QTEST_MAIN(TestUploadGuards)
#include "tst_uploadguards.moc"
