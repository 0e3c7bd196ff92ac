// The download queue: adding, re-queueing when the peer comes online, the peer's notifications
// and offers, the empty-share check, and the local folders, with a fake server and a fake peer
// on 127.0.0.1 and files under a temporary home.
#include "transfers/transferfixture.h"

#include "common/deliver.h"
#include "common/fakepeer.h"
#include "common/peerfixture.h"
#include "model/settings.h"
#include "peer/peermessenger.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

ItemPtr User(const QString& name) { return d.GetType("user")->GetItem(Value(name)); }
QString Status(ItemPtr entry) { return ValueOf(entry, "download_entry_status"); }
int Count(const QString& text, const QString& part) { return text.count(part); }
QString QueueLog() { return LogText(QStringLiteral("Transfer Queue")); }

// Code 43 as the fake peer sees it: the u32 body length, the code, the counted path bytes.
QByteArray QueueFrame(const QByteArray& path)
{
    return FakePeer::U32(quint32(8 + path.size())) + FakePeer::U32(43) + FakePeer::U32(quint32(path.size())) + path;
}

}  // namespace

class TestDownloadQueue : public QObject
{
    Q_OBJECT

    TransferFixture f;
    FakePeer alice;
    FakePeer bob;

    QString Base() { return GetSetting("download_folder"); }
    // The server says the user is online: the engine's online handler runs inside.
    void GoOnline(const QString& user)
    {
        QVERIFY(Deliver(f.server.fake, 5, F::Str(user) + F::U8(1) + F::I32(2) + Stats(0, 0) + F::Str("NL")));
        QVERIFY(User(user).IsConnected("is_online"));
    }
    // The messages that reached the peer since the last call, raw frames back to back, init
    // messages left out. A place-in-line request for a marker entry is sent last and cut off, so
    // nothing still on its way is missed.
    QByteArray SentTo(FakePeer& peer, const QString& user)
    {
        ItemPtr marker = d.GetType("download_entry")->NewItem();
        marker += User(user);
        marker += d.GetType("file_name")->GetItem("marker");
        marker += d.GetType("remote_folder")->GetItem("");
        transferQueueManager->RequestDownloadPlaceInLine(marker);
        marker.Remove();
        // Code 51: the u32 body length 15, the code, the counted path "\marker".
        const QByteArray end = Hex("0f000000 33000000 07000000") + "\\marker";
        QByteArray all;
        const bool seen = QTest::qWaitFor(
            [&] {
                for (const FakePeer::Frame& frame : peer.TakeFrames())
                    if (!frame.body.startsWith(FakePeer::DirectInit("me", "P").chopped(4)))
                        all += frame.raw;
                return all.endsWith(end);
            },
            5000);
        if (!seen)
            return "marker not seen: " + all.toHex();
        all.chop(end.size());
        return all;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(f.SetUp(true));
        QVERIFY(alice.Listen() && bob.Listen());
        PeerFixture::StoreAddress("alice", alice.Port());
        PeerFixture::StoreAddress("bob", bob.Port());
    }

    void cleanup()
    {
        for (ItemPtr entry : d.GetType("download_entry")->GetItems())
            transferQueueManager->RemoveDownload(entry);
        QVERIFY(QDir(Base()).removeRecursively());
    }

    // Connections left standing would outlive the process with their records unfreed.
    void cleanupTestCase() { PeerFixture::Clear(); }

    void addDownload()
    {
        SetSetting("transfer_order_counter", "7");
        GoOnline("alice");
        f.server.fake.ClearFrames();
        ItemPtr entry = transferQueueManager->AddDownload("alice", "a.mp3", "music\\Artist\\Album", 1234, 0);
        QCOMPARE(Status(entry), QStringLiteral("queued"));
        QCOMPARE(ValueOf(entry, "download_order"), QStringLiteral("7"));
        QCOMPARE(GetSetting("transfer_order_counter"), QStringLiteral("8"));
        QCOMPARE(ValueOf(entry, "file_size"), QStringLiteral("1234"));
        QVERIFY(User("alice").IsConnected("next_place_in_line_request_time"));
        // Tracking the user asks the server to watch it (code 5) once.
        QVERIFY(SentSoFar(f.server.fake).contains(F::MakeFrame(5, F::Str("alice"))));

        // The same key again: the same entry, untouched, and nothing sent.
        transferQueueManager->SetDownloadEntryStatus(entry, "denied");
        QCOMPARE(transferQueueManager->AddDownload("alice", "a.mp3", "music\\Artist\\Album", 99, 1), entry);
        QCOMPARE(Status(entry), QStringLiteral("denied"));

        // A finished copy in the complete folder: complete at once, nothing asked for.
        QVERIFY(WriteFile(Base() + "/complete/Album/b.mp3", ""));
        ItemPtr done = transferQueueManager->AddDownload("alice", "b.mp3", "music\\Artist\\Album", 1, 0);
        QCOMPARE(Status(done), QStringLiteral("complete"));

        // Code 43: the u32 body length 32, the code, the path's 24 stored bytes with their count.
        QCOMPARE(SentTo(alice, "alice"), Hex("20000000 2b000000 18000000") + "music\\Artist\\Album\\a.mp3");
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
        GoOnline("bob");
        QCOMPARE(Count(QueueLog(), "Requeueing downloads from user bob"), before + 1);
        QCOMPARE(SentTo(bob, "bob"), QueueFrame("f\\local error.mp3") + QueueFrame("f\\queued.mp3") +
                                         QueueFrame("f\\aborted.mp3"));
        QCOMPARE(Status(entries[0]), QStringLiteral("queued"));
        QCOMPARE(Status(entries[2]), QStringLiteral("denied"));
        QCOMPARE(Status(entries[4]), QStringLiteral("complete"));
    }

    // The peer's notices arrive as peer messages on the connection the engine's request opened.
    void peerNotifications()
    {
        GoOnline("alice");
        ItemPtr entry = transferQueueManager->AddDownload("alice", "a.mp3", "music\\Album", 5, 0);
        ItemPtr failed = transferQueueManager->AddDownload("alice", "b.mp3", "music\\Album", 5, 0);
        transferQueueManager->SetDownloadEntryStatus(failed, "local error");
        SentTo(alice, "alice");
        const auto path = [](const char* name) { return FakePeer::Str(QStringLiteral("music\\Album\\") + name); };

        alice.SendMessage(44, path("a.mp3") + FakePeer::U32(12));
        // An upload failure at the peer asks again while the peer is online, but not for a
        // download that failed here.
        alice.SendMessage(46, path("a.mp3"));
        alice.SendMessage(46, path("b.mp3"));
        alice.SendMessage(46, path("unknown.mp3"));
        QTRY_VERIFY(QueueLog().contains("Download not found."));
        QCOMPARE(ValueOf(entry, "place_in_line"), QStringLiteral("12"));
        QVERIFY(QueueLog().contains("Download status local error, not re-queueing music\\Album\\b.mp3"));
        QCOMPARE(SentTo(alice, "alice"), QueueFrame("music\\Album\\a.mp3"));

        alice.SendMessage(50, path("a.mp3") + FakePeer::Str("Too many files"));
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
        QCOMPARE(SentSoFar(f.server.fake).count(message), 1);

        check("dave");
        share("dave", false);
        QCOMPARE(ValueOf(User("dave"), "empty_share_check_status"), QStringLiteral("not_empty"));
        User("dave").NewItem("in_user_list");
        check("dave");
        share("dave", true);
        QCOMPARE(ValueOf(User("dave"), "empty_share_check_status"), QStringLiteral("empty"));
        QCOMPARE(SentSoFar(f.server.fake).count(message), 0);
    }

    // The folders follow the setting at every use, and keep what the peer sends inside them.
    void folders()
    {
        ItemPtr entry = transferQueueManager->AddDownload("erin", "a.mp3", "music\\Artist\\Album", 1, 1);
        QString base = f.Home() + "/Tavrinel Downloads";
        QCOMPARE(Base(), base);
        base.replace('/', '\\');
        QCOMPARE(transferQueueManager->GetDownloadTargetPath(entry, false), base + "\\downloading\\Artist\\Album\\a.mp3");
        QCOMPARE(transferQueueManager->GetDownloadRelativeDownloadFolder(entry), QStringLiteral("Artist\\Album"));
        SetSetting("download_folder", f.Home() + "/elsewhere");
        QCOMPARE(transferQueueManager->GetDownloadTargetFolder(entry, true),
                 QString(f.Home() + "/elsewhere").replace('/', '\\') + "\\complete\\Artist\\Album");
        SetSetting("download_folder", f.Home() + "/Tavrinel Downloads");

        // The stored names stay as the peer sent them; only the local path is cleaned.
        ItemPtr evil = transferQueueManager->AddDownload("erin", "..", "..\\..", 1, 1);
        QCOMPARE(ValueOf(evil, "remote_folder"), QStringLiteral("..\\.."));
        QCOMPARE(transferQueueManager->GetDownloadTargetPath(evil, true), base + "\\complete\\_\\_\\_");
        QCOMPARE(Status(evil), QStringLiteral("queued"));
        QVERIFY(WriteFile(Base() + "/complete/_/_/_", ""));
        QVERIFY(transferQueueManager->DoesDownloadItemCompleteFilenameExist(evil));
    }
};

QTEST_MAIN(TestDownloadQueue)
#include "tst_downloadqueue.moc"
