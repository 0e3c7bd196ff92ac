// Running downloads: a real worker thread receiving from a connection on 127.0.0.1, the move into
// the "complete" folder, the completed-download records, the clean-up of emptied folders,
// stopping a running download, and removal; real files under a temporary home.
#include "transfers/downloadfeed.h"
#include "transfers/transferfixture.h"

#include "common/deliver.h"
#include "model/settings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

QString Status(ItemPtr entry) { return ValueOf(entry, "download_entry_status"); }
ItemSet Records(const QString& name)
{
    ItemPtr nameItem = d.GetType("complete_download_filename")->HasItem(Value(name));
    return nameItem ? nameItem.GetItems("complete_download") : ItemSet();
}

}  // namespace

class TestDownloadCompletion : public QObject
{
    Q_OBJECT

    TransferFixture f;
    QTcpServer m_listener;

    QString Base() { return GetSetting("download_folder"); }

    // Hands the engine a file connection for the entry as the messenger does once a peer sent
    // the entry's ticket. Returns the far end, which plays the uploading peer.
    QTcpSocket* Start(ItemPtr entry) { return FeedDownload(m_listener, entry, this); }
    bool Finish(ItemPtr entry, const QByteArray& data, const char* status = "complete")
    {
        QTcpSocket* far = Start(entry);
        if (!far)
            return false;
        far->write(data);
        return QTest::qWaitFor([&] { return Status(entry) == status; }, 5000);
    }
    ItemPtr Add(const char* user, const char* name, const char* folder, int level, qint64 size)
    {
        return transferQueueManager->AddDownload(user, name, folder, size, level);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(f.SetUp(false));
        QVERIFY(m_listener.listen(QHostAddress::LocalHost, 0));
    }

    void cleanup()
    {
        for (ItemPtr entry : d.GetType("download_entry")->GetItems())
            transferQueueManager->RemoveDownload(entry);
        d.GetType("complete_download")->GetItems().Remove();
        QVERIFY(QDir(Base()).removeRecursively());
    }

    void completion()
    {
        QSignalSpy added(transferQueueManager, &TransferQueueManager::CompleteDownloadAdded);
        ItemPtr a = Add("alice", "a.mp3", "music\\Artist\\Album", 0, 6);
        ItemPtr b = Add("bob", "b.mp3", "music\\Artist\\Album", 0, 0);
        ItemPtr c = Add("alice", "c.mp3", "pop\\Artist\\Album", 1, 2);
        const QString downloading = Base() + "/downloading";
        QVERIFY(Finish(a, "abcdef"));
        QCOMPARE(ReadFile(Base() + "/complete/Album/a.mp3"), QByteArray("abcdef"));
        // bob's download of the same remote folder still needs the folder.
        QVERIFY(QDir(downloading + "/Album").exists());
        QVERIFY(Finish(b, ""));
        QVERIFY(!QDir(downloading + "/Album").exists());
        QVERIFY(QDir(downloading).exists());
        QVERIFY(Finish(c, "xy"));
        QCOMPARE(ReadFile(Base() + "/complete/Artist/Album/c.mp3"), QByteArray("xy"));
        QVERIFY(!QDir(downloading + "/Artist").exists());

        QCOMPARE(added.count(), 3);
        ItemPtr record = Records("a.mp3");
        QCOMPARE(added.at(0).at(0).value<ItemPtr>(), record);
        QCOMPARE(ValueOf(record, "user"), QStringLiteral("alice"));
        QCOMPARE(ValueOf(record, "complete_download_folder"),
                 QString(Base() + "/complete/Album").replace('/', '\\'));
        QCOMPARE(ValueOf(record, "complete_download_relative_folder"), QStringLiteral("Album"));
        QCOMPARE(ValueOf(record, "complete_download_file_size"), QStringLiteral("6"));
        QCOMPARE(ValueOf(Records("c.mp3"), "complete_download_relative_folder"), QStringLiteral("Artist\\Album"));
        QVERIFY(!transferQueueManager->IsActivelyDownloadingFromUser("alice"));
        for (const char* cell : {"download_thread", "download_socket", "download_file", "write_position"})
            QVERIFY2(!a[cell], cell);

        // The records come back from the save file.
        QVERIFY(dataSaver->Save());
        d.GetType("complete_download")->GetItems().Remove();
        QCOMPARE(dataSaver->Load(), DataSaver::LoadResult::Loaded);
        QCOMPARE(ValueOf(Records("a.mp3"), "complete_download_relative_folder"), QStringLiteral("Album"));
        QCOMPARE(ValueOf(Records("c.mp3"), "user"), QStringLiteral("alice"));
    }

    // A finished file already in the complete folder is kept; the new one takes a free name and
    // a record of its own.
    void nameTaken()
    {
        QSignalSpy added(transferQueueManager, &TransferQueueManager::CompleteDownloadAdded);
        QVERIFY(Finish(Add("alice", "a.mp3", "x\\Album", 0, 3), "one"));
        QVERIFY(Finish(Add("bob", "a.mp3", "y\\Album", 0, 3), "two"));
        QCOMPARE(ReadFile(Base() + "/complete/Album/a.mp3"), QByteArray("one"));
        QCOMPARE(ReadFile(Base() + "/complete/Album/a (1).mp3"), QByteArray("two"));
        QCOMPARE(ValueOf(Records("a (1).mp3"), "user"), QStringLiteral("bob"));
        QCOMPARE(added.count(), 2);
    }

    // A file that cannot be moved stays where it is, and the download says so.
    void moveFails()
    {
        QSignalSpy added(transferQueueManager, &TransferQueueManager::CompleteDownloadAdded);
        QVERIFY(WriteFile(Base() + "/complete/Blocked", ""));  // a file where the folder should go
        ItemPtr entry = Add("alice", "f.bin", "x\\Blocked", 0, 4);
        QVERIFY(Finish(entry, "data", "local error"));
        QCOMPARE(ReadFile(Base() + "/downloading/Blocked/f.bin"), QByteArray("data"));
        QVERIFY(Records("f.bin").empty());
        QCOMPARE(added.count(), 0);
    }

    // Folders and a name from the peer that point out of the download folder stay inside it.
    void peerPathsStayInside()
    {
        ItemPtr entry = Add("mallory", ".bashrc", "..\\..", 1, 5);
        QCOMPARE(ValueOf(entry, "file_name"), QStringLiteral(".bashrc"));
        QVERIFY(Finish(entry, "evil\n"));
        QVERIFY(!QFile::exists(f.Home() + "/.bashrc"));
        QCOMPARE(ReadFile(Base() + "/complete/_/_/.bashrc"), QByteArray("evil\n"));
        QCOMPARE(ValueOf(Records(".bashrc"), "complete_download_relative_folder"), QStringLiteral("_\\_"));
        QVERIFY(!QDir(Base() + "/downloading/_").exists());
    }

    void transferError()
    {
        ItemPtr entry = Add("alice", "e.bin", "x", 0, 100);
        QTcpSocket* far = Start(entry);
        QVERIFY(far);
        far->write("part");
        far->close();
        QTRY_COMPARE(Status(entry), QStringLiteral("aborted"));
        QVERIFY(!entry["download_thread"]);
    }

    // A denial and a removal end a running download at once: the worker is told to stop before
    // it is waited for, rather than left to receive until the peer stops sending.
    void stopRunning_data()
    {
        QTest::addColumn<bool>("remove");
        QTest::newRow("denied") << false;
        QTest::newRow("removed") << true;
    }
    void stopRunning()
    {
        QFETCH(bool, remove);
        ItemPtr entry = Add("alice", "big.bin", "x\\Big", 0, qint64(1) << 40);
        QTcpSocket* far = Start(entry);
        QVERIFY(far);
        far->write(QByteArray(8192, 'z'));
        QTRY_VERIFY(*TransferQueueManager::Cell<qint64>(entry, "write_position") == 8192);
        QElapsedTimer clock;
        clock.start();
        if (remove) {
            transferQueueManager->RemoveDownload(entry);
        } else {
            emit peerMessenger->UploadDenied("alice", "x\\Big\\big.bin", "Cancelled");
            QCOMPARE(Status(entry), QStringLiteral("denied"));
            QCOMPARE(ValueOf(entry, "denial_reason"), QStringLiteral("Cancelled"));
            for (const char* cell : {"download_thread", "download_socket", "download_file", "write_position"})
                QVERIFY2(!entry[cell], cell);
        }
        // Every cell of the running download went where it stopped, not with a later clean-up.
        for (const char* cell : {"last_receipt_time", "last_speed_measurement_time", "bytes_per_second",
                                 "bytes_since_last_receipt"})
            QVERIFY2(d.GetType(cell)->ItemCount() == 0, cell);
        // The worker would otherwise sit out its whole read wait for data that never comes.
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(far->waitForDisconnected(5000) || far->state() == QAbstractSocket::UnconnectedState);
        QCOMPARE(ReadFile(Base() + "/downloading/Big/big.bin"), QByteArray(8192, 'z'));
        QCOMPARE(d.GetType("download_entry")->ItemCount(), remove ? size_t(0) : size_t(1));
    }
};

QTEST_MAIN(TestDownloadCompletion)
#include "tst_downloadcompletion.moc"
