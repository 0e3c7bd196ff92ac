// MP3 analysis over files built here from frame headers: the votes, the bitrate tests, the chunk
// edges, dense header patterns, and a quit during a long scan.
#include "shares/mp3scanner.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

// FF FB 90 44: MPEG-1 Layer III, no CRC, 128 kbit/s, sampling index 0, joint stereo.
const QByteArray kMpeg1At128 = QByteArray::fromHex("FFFB9044");
const QByteArray kMpeg1At320 = QByteArray::fromHex("FFFBE044");

struct Run
{
    QByteArray header;
    int count;
};
typedef QList<Run> Runs;

// Each frame a header padded with zeros to 417 bytes.
QByteArray Frames(const Runs& runs)
{
    QByteArray out;
    for (const Run& run : runs)
        for (int k = 0; k < run.count; ++k)
            out += run.header + QByteArray(417 - run.header.size(), '\0');
    return out;
}

QByteArray At(int offset, const QByteArray& header, int size)
{
    QByteArray out(size, '\0');
    out.replace(offset, header.size(), header);
    return out;
}

long PeakResidentKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

bool IsOpenHere(const QString& path)
{
    for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == path)
            return true;
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Runs)

class TestMP3Scanner : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString Write(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath("f.mp3");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            return QString();
        return path;
    }
    QString Scan(const QByteArray& bytes) { return ScanFile(Write(bytes)); }
    // "version mode index cbr|vbr bitrate", or "none".
    static QString ScanFile(const QString& path)
    {
        MP3Scanner scanner;
        int version = 0, frequency = 0, bitrate = 0;
        bool vbr = false;
        QString mode;
        if (!scanner.ScanMP3(path, version, mode, frequency, vbr, bitrate))
            return "none";
        return QString("%1 %2 %3 %4 %5").arg(version).arg(mode).arg(frequency).arg(vbr ? "vbr" : "cbr").arg(bitrate);
    }

private slots:
    void votes_data()
    {
        QTest::addColumn<Runs>("runs");
        QTest::addColumn<QString>("result");
        const QByteArray mpeg2 = QByteArray::fromHex("FFF39044");    // MPEG-2: index 9 is 80 kbit/s
        const QByteArray mpeg25 = QByteArray::fromHex("FFE39044");   // MPEG-2.5
        const QByteArray layer2 = QByteArray::fromHex("FFFD9044");   // Layer II
        const QByteArray stereo = QByteArray::fromHex("FFFB9004");
        const QByteArray dual = QByteArray::fromHex("FFFB9084");
        const QByteArray mono = QByteArray::fromHex("FFFB90C4");
        const QByteArray index2 = QByteArray::fromHex("FFFB9844");
        QTest::newRow("99.0 % is constant") << Runs{{kMpeg1At128, 990}, {kMpeg1At320, 10}}
                                            << "1 joint stereo 0 cbr 128";
        QTest::newRow("98.9 % is variable") << Runs{{kMpeg1At128, 989}, {kMpeg1At320, 11}}
                                            << "1 joint stereo 0 vbr 130";
        QTest::newRow("MPEG-2 wins a tie") << Runs{{kMpeg1At128, 50}, {mpeg2, 50}} << "2 joint stereo 0 cbr 80";
        QTest::newRow("joint stereo wins a tie") << Runs{{stereo, 50}, {kMpeg1At128, 50}}
                                                 << "1 joint stereo 0 cbr 128";
        QTest::newRow("mono wins a tie") << Runs{{mono, 50}, {dual, 50}} << "1 mono 0 cbr 128";
        QTest::newRow("dual channel") << Runs{{dual, 50}} << "1 dual mono 0 cbr 128";
        QTest::newRow("index 2 wins a tie") << Runs{{kMpeg1At128, 50}, {index2, 50}} << "1 joint stereo 2 cbr 128";
        QTest::newRow("MPEG-2.5 wins") << Runs{{kMpeg1At128, 50}, {mpeg25, 50}} << "none";
        // Layer II headers vote on the version, so they outvote Layer III ones there.
        QTest::newRow("layer II votes on the version") << Runs{{mpeg2, 10}, {layer2, 20}} << "none";
        QTest::newRow("layer II only") << Runs{{layer2, 100}} << "none";
        QTest::newRow("empty") << Runs{} << "none";
    }
    void votes()
    {
        QFETCH(Runs, runs);
        QTEST(Scan(Frames(runs)), "result");
    }

    void chunkEdges_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("result");
        const QString found = "1 joint stereo 0 cbr 128";
        QTest::newRow("ends on the second-to-last byte") << At(65531, kMpeg1At128, 70000) << found;
        QTest::newRow("ends on the last byte") << At(65532, kMpeg1At128, 70000) << "none";
        QTest::newRow("spans two chunks") << At(65534, kMpeg1At128, 70000) << "none";
        QTest::newRow("starts the second chunk") << At(65536, kMpeg1At128, 70000) << found;
        QTest::newRow("ends the file") << At(96, kMpeg1At128, 100) << "none";
        QTest::newRow("one byte before the file's end") << At(95, kMpeg1At128, 100) << found;
    }
    void chunkEdges()
    {
        QFETCH(QByteArray, bytes);
        QTEST(Scan(bytes), "result");
    }

    // Garbage rich in sync bytes: whatever is found is a value the analysis can give.
    void randomBytes()
    {
        QRandomGenerator random(3);
        const QRegularExpression valid("^[12] (stereo|joint stereo|dual mono|mono) [012] [cv]br \\d+$");
        for (int k = 0; k < 60; ++k) {
            QByteArray bytes(int(random.bounded(2 * 65536 + 10)), '\0');
            for (char& c : bytes)
                c = char(random.bounded(4) == 0 ? 0xFF : random.bounded(256));
            const QString found = Scan(bytes);
            const int bitrate = found.section(' ', -1).toInt();
            QVERIFY2(found == "none" || (valid.match(found).hasMatch() && bitrate >= 8 && bitrate <= 320), qPrintable(found));
        }
    }

    // 25 million headers back to back: 32-bit percentages overflow at 21.5 million, and a record
    // per header would take half a gigabyte.
    void denseHeadersInFixedMemory()
    {
        const QString path = m_dir.filePath("dense.mp3");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QByteArray block;
            for (int k = 0; k < (1 << 18); ++k)
                block += kMpeg1At128;
            for (int k = 0; k < 96; ++k)
                QCOMPARE(file.write(block), qint64(block.size()));
        }
        const long before = PeakResidentKiB();
        QCOMPARE(ScanFile(path), QString("1 joint stereo 0 cbr 128"));
        QVERIFY2(PeakResidentKiB() - before < 16 * 1024, qPrintable(QString::number(PeakResidentKiB() - before)));
        QFile::remove(path);
    }

    void quitEndsALongScan()
    {
        // A terabyte with no data blocks: whole, it would take minutes to read.
        const QString path = m_dir.filePath("long.mp3");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(Frames({{kMpeg1At128, 100}}));
            QVERIFY(file.resize(qint64(1) << 40));
        }
        QThread thread;
        MP3Scanner scanner;
        scanner.moveToThread(&thread);
        thread.start();
        // Whatever happens, the thread must end: an emptied file ends the scan at its next read.
        struct Stop
        {
            QThread& thread;
            QString path;
            ~Stop()
            {
                QFile(path).resize(0);
                thread.exit(0);
                thread.wait();
            }
        } stop{thread, path};

        QSignalSpy results(&scanner, &MP3Scanner::MP3Scanned);
        QMetaObject::invokeMethod(&scanner, "OnMP3ScanRequired", Qt::QueuedConnection, Q_ARG(QString, path));
        QTRY_VERIFY(IsOpenHere(path));
        scanner.Quit();
        QTRY_VERIFY_WITH_TIMEOUT(!IsOpenHere(path), 10000);
        QCoreApplication::processEvents();
        QCOMPARE(results.size(), 0);

        // Requests after the quit never open their files.
        QMetaObject::invokeMethod(&scanner, "OnMP3ScanRequired", Qt::BlockingQueuedConnection,
                                  Q_ARG(QString, Write(Frames({{kMpeg1At128, 100}}))));
        QCoreApplication::processEvents();
        QCOMPARE(results.size(), 0);
    }
};

QTEST_MAIN(TestMP3Scanner)
#include "tst_mp3scanner.moc"
