// The worker threads over real loopback connections and real files: the bytes on the file
// connection, resuming, stopping, the speed limit and the progress cells; last, the engine's
// shut-down while transfers wait on silent peers.
#include "common/testfiles.h"
#include "transfers/transferfixture.h"
#include "transfers/transferthreads.h"

#include "model/settings.h"

#include <QPointer>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <memory>
#include <vector>

namespace {

// Both ends of one loopback connection, parentless, as the engine gets them.
struct SocketPair
{
    std::unique_ptr<QTcpSocket> near;
    std::unique_ptr<QTcpSocket> far;
};

SocketPair Connected()
{
    QTcpServer server;
    SocketPair pair;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return pair;
    pair.near = std::make_unique<QTcpSocket>();
    pair.near->connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!server.waitForNewConnection(5000) || !pair.near->waitForConnected(5000))
        return SocketPair();
    pair.far.reset(server.nextPendingConnection());
    pair.far->setParent(nullptr);
    return pair;
}

QByteArray I64(qint64 v) { return FakePeer::I64(v); }

// What a thread reported, received on the test's thread.
struct Outcome : QObject
{
    int completions = 0;
    int errors = 0;
    QString reason;
    int lastSpeed = -1;
    int reports = 0;
    qint64 lastOffset = -1;

    void Watch(UploadThread* thread)
    {
        connect(thread, &UploadThread::UploadComplete, this, [this] { ++completions; });
        connect(thread, &UploadThread::UploadError, this, [this] { ++errors; });
        connect(thread, &UploadThread::UploadProgress, this, &Outcome::Progress);
    }
    void Watch(DownloadThread* thread)
    {
        connect(thread, &DownloadThread::DownloadComplete, this, [this] { ++completions; });
        connect(thread, &DownloadThread::DownloadError, this, [this](const QString& r) { ++errors, reason = r; });
        connect(thread, &DownloadThread::DownloadProgress, this, &Outcome::Progress);
    }
    void Progress(qint64 offset, int speed)
    {
        ++reports;
        lastOffset = offset;
        lastSpeed = speed;
    }
    // Each report needs a mebibyte or a tenth of a second since the one before, but the last.
    bool Paced(qint64 bytes, qint64 elapsedMs) const
    {
        return reports <= bytes / kProgressReportBytes + elapsedMs / kProgressReportMs + 1;
    }
    bool Ended() const { return completions + errors > 0; }
};

template <typename Thread>
void Start(Thread* thread, QTcpSocket* socket)
{
    socket->moveToThread(thread);
    thread->start();
}

// An entry with the cells a running transfer has, tied to its thread.
ItemPtr RunningEntry(const char* entryType, const char* threadType, const char* positionType, QThread* thread,
                     const char* status)
{
    ItemPtr entry = d.GetType(entryType)->NewItem();
    entry += d.GetType(threadType)->GetItem(Value(thread));
    entry += d.GetType(positionType)->GetItem(Value(new qint64(0)));
    entry += d.GetType("bytes_per_second")->GetItem(Value(new int(0)));
    entry += d.GetType("last_receipt_time")->GetItem(Value(new QDateTime()));
    entry += d.GetType(std::string(entryType) == "upload_entry" ? "upload_entry_status" : "download_entry_status")
                 ->GetItem(status);
    return entry;
}

} // namespace

class TestTransferThreads : public QObject
{
    Q_OBJECT

    TransferFixture m_env;
    QTemporaryDir m_files;

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.SetUp() && m_files.isValid());
    }

    void cleanup()
    {
        // Thread records are kept until removed, and their threads are gone after each case.
        g("upload_thread").Remove();
        g("download_thread").Remove();
        // Read positions are freed by the upload's life cycle, not by their removal.
        for (ItemPtr position : g("read_position"))
            delete TransferQueueManager::Cell<qint64>(position);
        g("download_entry").Remove();
        g("upload_entry").Remove();
        d.RemoveDisconnectedItems();
        SetSetting("upload_speed_limit_enabled", "no");
        if (transferQueueManager)
            transferQueueManager->DetermineUploadSpeedLimit();
    }

    void transfer_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("partial");
        for (qint64 size : {0, 1, 8191, 8192, 8193, 5 * 1024 * 1024})
            QTest::addRow("%lld bytes", size) << size << qint64(0);
        QTest::newRow("resume 8193 from 100") << qint64(8193) << qint64(100);
        QTest::newRow("resume 5 MiB from 8192") << qint64(5 * 1024 * 1024) << qint64(8192);
        QTest::newRow("resume at the end") << qint64(20000) << qint64(20000);
    }

    // The uploader's ticket and the downloader's offset on the wire, then exactly the missing
    // bytes appended, with every progress report recorded in the entries' cells.
    void transfer()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, partial);
        const QByteArray source = RandomBytes(int(size));
        const QString sourcePath = m_files.filePath("source");
        const QString partPath = m_files.filePath("part");
        QVERIFY(WriteFile(sourcePath, source) && WriteFile(partPath, source.left(static_cast<int>(partial))));

        SocketPair pair = Connected();
        QVERIFY(pair.near && pair.far);
        QFile sourceFile(sourcePath);
        QFile partFile(partPath);
        QVERIFY(sourceFile.open(QIODevice::ReadOnly) && partFile.open(QIODevice::WriteOnly | QIODevice::Append));

        UploadThread uploader(pair.near.get(), &sourceFile, 0x01020304);
        Outcome up;
        up.Watch(&uploader);
        ItemPtr upload = RunningEntry("upload_entry", "upload_thread", "read_position", &uploader, "uploading");
        connect(&uploader, &UploadThread::UploadProgress, transferQueueManager, &TransferQueueManager::OnUploadProgress);
        QSignalSpy uploadProgressed(transferQueueManager, &TransferQueueManager::UploadProgressed);
        QElapsedTimer clock;
        clock.start();
        Start(&uploader, pair.near.get());

        // The downloader's side of the hand-shake, as the engine does it on its own thread.
        QTcpSocket* far = pair.far.get();
        QTRY_VERIFY(far->bytesAvailable() >= 4 || far->waitForReadyRead(100));
        QCOMPARE(far->read(4).toHex(), QByteArray("04030201"));
        far->write(I64(partial));
        far->flush();

        DownloadThread downloader(far, &partFile, size, partial);
        Outcome down;
        down.Watch(&downloader);
        ItemPtr download = RunningEntry("download_entry", "download_thread", "write_position", &downloader, "downloading");
        connect(&downloader, &DownloadThread::DownloadProgress, transferQueueManager,
                &TransferQueueManager::OnDownloadProgress);
        QSignalSpy downloadProgressed(transferQueueManager, &TransferQueueManager::DownloadProgressed);
        Start(&downloader, far);

        QTRY_VERIFY_WITH_TIMEOUT(up.Ended() && down.Ended(), 20000);
        QVERIFY(uploader.wait(5000) && downloader.wait(5000));
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(up.completions, 1);
        QCOMPARE(down.completions, 1);
        // Reports come at a readable rate, and the last one carries the whole file.
        QCOMPARE(up.lastOffset, size);
        QCOMPARE(down.lastOffset, size);
        QVERIFY2(up.Paced(size - partial, elapsed) && down.Paced(size - partial, elapsed),
                 qPrintable(QString("%1 and %2 reports in %3 ms").arg(up.reports).arg(down.reports).arg(elapsed)));
        QCOMPARE(ReadFile(partPath), source);
        QCOMPARE(pair.near->thread(), thread());
        QCOMPARE(far->thread(), thread());

        QCOMPARE(*TransferQueueManager::Cell<qint64>(upload, "read_position"), size);
        QCOMPARE(*TransferQueueManager::Cell<qint64>(download, "write_position"), size);
        QVERIFY(TransferQueueManager::Cell<QDateTime>(download, "last_receipt_time")->isValid());
        QVERIFY(!uploadProgressed.isEmpty() && !downloadProgressed.isEmpty());
        QCOMPARE(downloadProgressed.last().at(0).value<ItemPtr>(), download);
    }

    void uploadRefusesOffset_data()
    {
        QTest::addColumn<QByteArray>("offset");
        QTest::newRow("one past the end") << I64(101);
        QTest::newRow("negative") << I64(-1);
    }

    void uploadRefusesOffset()
    {
        QFETCH(QByteArray, offset);
        const QString path = m_files.filePath("hundred");
        QVERIFY(WriteFile(path, QByteArray(100, 'x')));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        SocketPair pair = Connected();
        UploadThread uploader(pair.near.get(), &file, 7);
        Outcome up;
        up.Watch(&uploader);
        Start(&uploader, pair.near.get());
        pair.far->write(offset);
        pair.far->flush();
        QTRY_VERIFY(up.Ended());
        QVERIFY(uploader.wait(5000));
        QCOMPARE(up.errors, 1);
        QCOMPARE(pair.far->readAll(), QByteArray::fromHex("07000000"));
    }

    // An upload stalled on a peer that reads nothing has reported every whole piece that went
    // out: what the peer gets once the upload is stopped exceeds it by the piece it was sending at most.
    void stalledUploadReportsWhatWentOut()
    {
        const qint64 size = 64 * 1024 * 1024;
        const QString path = m_files.filePath("stalled");
        QVERIFY(WriteFile(path, QByteArray(size, 's')));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        SocketPair pair = Connected();
        QVERIFY(pair.near && pair.far);
        // The peer takes a few bytes into its buffer and then no more: the kernel's fill up.
        pair.far->setReadBufferSize(4096);
        UploadThread uploader(pair.near.get(), &file, 3);
        Outcome up;
        up.Watch(&uploader);
        Start(&uploader, pair.near.get());
        pair.far->write(I64(0));
        pair.far->flush();

        // Reports until the stall, then one for what went out before it, then none: two seconds
        // without a report mean the stall has come.
        QTRY_VERIFY_WITH_TIMEOUT(up.reports > 0, 10000);
        for (int before = -1, windows = 0; before != up.reports && windows < 20; ++windows) {
            before = up.reports;
            QTest::qWait(2000);
        }
        QVERIFY(!up.Ended());
        const qint64 reported = up.lastOffset;

        uploader.SignalExit();
        QVERIFY(uploader.wait(5000));
        QTRY_VERIFY(up.Ended());
        QCOMPARE(up.lastOffset, reported);
        pair.far->setReadBufferSize(0);
        qint64 received = pair.far->readAll().size();
        while (pair.far->waitForReadyRead(500))
            received += pair.far->readAll().size();
        received -= 4;  // the ticket
        QVERIFY2(received >= reported && received - reported <= kTransferPieceSize,
                 qPrintable(QString("%1 bytes received, %2 reported").arg(received).arg(reported)));
    }

    // A stop reaches a thread waiting on a silent peer within a fraction of a second, not after
    // the whole 30-second wait.
    void stopWhileWaiting()
    {
        QFile part(m_files.filePath("stop.part"));
        QVERIFY(part.open(QIODevice::WriteOnly | QIODevice::Append));
        SocketPair pair = Connected();
        DownloadThread downloader(pair.near.get(), &part, 10, 0);
        Outcome down;
        down.Watch(&downloader);
        Start(&downloader, pair.near.get());
        QTest::qWait(300);
        QVERIFY(!down.Ended());

        QElapsedTimer clock;
        clock.start();
        downloader.SignalExit();
        QVERIFY(downloader.wait(5000));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY(down.Ended());
        QCOMPARE(down.errors, 1);
        QCOMPARE(down.reason, QString("Exit requested."));
    }

    void downloadFailures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("position");
        QTest::addColumn<QString>("reason");
        QTest::newRow("partial file longer than the file")
            << "longer" << qint64(10) << qint64(20) << "The partial file holds 20 bytes, more than the file's 10.";
        // The byte fits in the file's buffer; only the flush at the end finds the disk full.
        QTest::newRow("disk full") << "/dev/full" << qint64(1) << qint64(0) << "Writing to file failed. Error string: ";
    }

    void downloadFailures()
    {
        QFETCH(QString, path);
        QFETCH(qint64, size);
        QFETCH(qint64, position);
        QFETCH(QString, reason);
        if (path.startsWith('/') && !QFile::exists(path))
            QSKIP("no such device here");
        QFile file(path.startsWith('/') ? path : m_files.filePath(path));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        SocketPair pair = Connected();
        pair.far->write("z");
        pair.far->flush();
        DownloadThread downloader(pair.near.get(), &file, size, position);
        Outcome down;
        down.Watch(&downloader);
        Start(&downloader, pair.near.get());
        QTRY_VERIFY(down.Ended());
        QVERIFY(downloader.wait(5000));
        QCOMPARE(down.errors, 1);
        QVERIFY2(down.reason.startsWith(reason), qPrintable(down.reason));
    }

    void speedLimits_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("active");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("each");
        QTest::newRow("10 over 3") << 10 << true << 3 << 10 << 3;
        QTest::newRow("2 over 3") << 2 << true << 3 << 2 << 1;
        QTest::newRow("no active upload") << 10 << true << 0 << 10 << 10;
        QTest::newRow("disabled") << 10 << false << 3 << 0 << 0;
        QTest::newRow("negative") << -5 << true << 1 << 0 << 0;
    }

    // Handshakes count as active uploads; queued and finished ones do not.
    void speedLimits()
    {
        QFETCH(int, limit);
        QFETCH(bool, enabled);
        QFETCH(int, active);
        QFETCH(int, total);
        QFETCH(int, each);
        const char* statuses[] = {"requesting", "waiting for offset", "uploading"};
        for (int k = 0; k < active; ++k)
            d.GetType("upload_entry")->NewItem() += d.GetType("upload_entry_status")->GetItem(statuses[k % 3]);
        for (const char* idle : {"queued", "complete", "aborted"})
            d.GetType("upload_entry")->NewItem() += d.GetType("upload_entry_status")->GetItem(idle);
        transferQueueManager->SetUploadSpeedLimit(limit);
        transferQueueManager->EnableUploadSpeedLimit(enabled);
        QCOMPARE(GetSetting("upload_speed_limit"), QString::number(limit));
        QCOMPARE(GetSetting("upload_speed_limit_enabled"), QString(enabled ? "yes" : "no"));
        QCOMPARE(transferQueueManager->GetUploadSpeed(), total);
        QCOMPARE(transferQueueManager->PerUploadSpeedLimit(), each);
    }

    void uploadSlots()
    {
        for (int ignored : {0, 100, -3})
            transferQueueManager->SetUploadSlots(ignored);
        QCOMPARE(GetSetting("upload_slots"), QString("1"));
        transferQueueManager->SetUploadSlots(99);
        QCOMPARE(GetSetting("upload_slots"), QString("99"));
    }

    // Large limits and long intervals overflow 32 bits.
    void creditArithmetic()
    {
        QCOMPARE(UploadThread::Credit(10, 500, 100), qint64(10 * 1024 * 500 / 1000 - 100));
        QCOMPARE(UploadThread::Credit(2097152, 1000, 0), qint64(2147483648LL));
        QCOMPARE(UploadThread::Credit(INT_MAX, 30000, 0), qint64(INT_MAX) * 1024 * 30);
    }

    // One upload at 256 KiB/s takes about half a second for 128 KiB, and reports about that speed.
    void limitedUpload()
    {
        ItemPtr entry = d.GetType("upload_entry")->NewItem();
        entry += d.GetType("upload_entry_status")->GetItem("uploading");
        SetSetting("upload_speed_limit", "256");
        transferQueueManager->EnableUploadSpeedLimit(true);
        QCOMPARE(transferQueueManager->PerUploadSpeedLimit(), 256);

        const QString path = m_files.filePath("limited");
        QVERIFY(WriteFile(path, RandomBytes(128 * 1024)));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        SocketPair pair = Connected();
        UploadThread uploader(pair.near.get(), &file, 9);
        Outcome up;
        up.Watch(&uploader);
        QElapsedTimer clock;
        clock.start();
        Start(&uploader, pair.near.get());
        pair.far->write(I64(0));
        QByteArray received;
        while (received.size() < 4 + 128 * 1024 && pair.far->waitForReadyRead(5000))
            received += pair.far->readAll();
        const qint64 elapsed = clock.elapsed();
        pair.far->close();
        QVERIFY(uploader.wait(5000));
        QTRY_COMPARE(up.completions, 1);
        QCOMPARE(received.size(), 4 + 128 * 1024);
        QVERIFY2(elapsed > 400 && elapsed < 5000, qPrintable(QString::number(elapsed)));
        QVERIFY2(up.lastSpeed > 100 * 1024 && up.lastSpeed < 320 * 1024, qPrintable(QString::number(up.lastSpeed)));
    }

    // A report that arrives after its thread and entry are gone changes nothing; the sender's
    // address is only looked up, never followed.
    void lateProgressReport()
    {
        auto* thread = new DownloadThread(nullptr, nullptr, 0, 0);
        ItemPtr entry = RunningEntry("download_entry", "download_thread", "write_position", thread, "downloading");
        connect(thread, &DownloadThread::DownloadProgress, transferQueueManager,
                &TransferQueueManager::OnDownloadProgress, Qt::QueuedConnection);
        QSignalSpy progressed(transferQueueManager, &TransferQueueManager::DownloadProgressed);
        emit thread->DownloadProgress(5, 5);
        entry["download_thread"].Remove();
        delete thread;
        QCoreApplication::processEvents();
        QCOMPARE(progressed.count(), 0);
        QCOMPARE(*TransferQueueManager::Cell<qint64>(entry, "write_position"), qint64(0));
    }

    // Last: the engine goes. Every thread is told at once and none waits out a silent peer; the
    // peers see nothing sent and nothing closed.
    void shutDownWithSilentPeers()
    {
        const QString path = m_files.filePath("silent");
        QVERIFY(WriteFile(path, QByteArray(10, 'x')));
        std::vector<SocketPair> pairs;
        std::vector<std::unique_ptr<QFile>> files;
        // The engine ends and frees the workers it holds at shut-down.
        std::vector<QPointer<QThread>> threads;
        for (int k = 0; k < 16; ++k) {
            pairs.push_back(Connected());
            QVERIFY(pairs.back().near && pairs.back().far);
            QTcpSocket* socket = pairs.back().near.get();
            if (k == 0) {
                files.push_back(std::make_unique<QFile>(path));
                QVERIFY(files.back()->open(QIODevice::ReadOnly));
                auto* up = new UploadThread(socket, files.back().get(), 3);
                threads.emplace_back(up);
                d.GetType("upload_entry")->NewItem() += d.GetType("upload_thread")->GetItem(Value(up));
            } else {
                files.push_back(std::make_unique<QFile>(m_files.filePath(QString("silent%1").arg(k))));
                QVERIFY(files.back()->open(QIODevice::WriteOnly | QIODevice::Append));
                auto* down = new DownloadThread(socket, files.back().get(), 10, 0);
                threads.emplace_back(down);
                d.GetType("download_entry")->NewItem() += d.GetType("download_thread")->GetItem(Value(down));
            }
            socket->moveToThread(threads.back());
            threads.back()->start();
        }
        QTRY_VERIFY(pairs[0].far->bytesAvailable() == 4 || pairs[0].far->waitForReadyRead(50));
        pairs[0].far->read(4);
        QTest::qWait(300);

        QElapsedTimer clock;
        clock.start();
        delete transferQueueManager;
        QVERIFY2(clock.elapsed() < 1200, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!transferQueueManager);
        for (auto& thread : threads)
            QVERIFY(thread.isNull());
        for (SocketPair& pair : pairs) {
            QVERIFY(!pair.far->waitForReadyRead(20));
            QCOMPARE(pair.far->bytesAvailable(), qint64(0));
            QCOMPARE(pair.far->state(), QAbstractSocket::ConnectedState);
        }
    }
};

QTEST_MAIN(TestTransferThreads)
#include "tst_transferthreads.moc"
