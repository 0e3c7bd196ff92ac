// MP3 analysis speed over 500 MB of generated frames (ten files of 50 MB: Layer III headers every
// 417 bytes with random frame bodies, so false syncs occur as in real audio), next to `cat` of the
// same files with a warm cache; then resident memory and speed over a 2 GiB file made of nothing
// but headers (one every 4 bytes, the worst case for the analysis).
//
//   bench_shares_mp3 [folder]     (default: a fresh folder under /tmp; the files are removed)
#include "bench/benchutil.h"
#include "shares/mp3scanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

#include <sys/resource.h>

namespace {

using namespace benchutil;

const int kFiles = 10;
const qint64 kFileSize = 50 * 1000 * 1000;
const qint64 kLargeSize = qint64(2) << 30;

bool WriteFrames(const QString& path, qint64 size, QRandomGenerator& random)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    std::vector<quint32> frame((417 + 3) / 4);
    QByteArray block;
    while (file.size() < size) {
        block.clear();
        for (int k = 0; k < 2000; ++k) {
            random.fillRange(frame.data(), int(frame.size()));
            QByteArray bytes(reinterpret_cast<const char*>(frame.data()), 417);
            bytes.replace(0, 4, QByteArray::fromHex(k % 50 == 0 ? "FFFBE044" : "FFFB9044"));
            block += bytes;
        }
        if (file.write(block.left(int(qMin<qint64>(block.size(), size - file.size())))) < 0)
            return false;
    }
    return true;
}

bool WriteHeaders(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block;
    for (int k = 0; k < (1 << 18); ++k)
        block += QByteArray::fromHex("FFFB9044");
    for (qint64 left = size; left > 0; left -= block.size())
        if (file.write(block) != block.size())
            return false;
    return true;
}

double TimeCommand(const QString& command)
{
    QElapsedTimer t;
    t.start();
    if (system(command.toLocal8Bit().constData()) != 0)
        printf("command failed: %s\n", qPrintable(command));
    return Ms(t);
}

QString Describe(bool ok, int version, const QString& mode, int frequency, bool vbr, int bitrate)
{
    if (!ok)
        return "no result";
    return QString("MPEG-%1 %2, index %3, %4 %5").arg(version).arg(mode).arg(frequency).arg(vbr ? "vbr" : "cbr").arg(bitrate);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp(QDir::tempPath() + "/bench_shares_mp3-XXXXXX");
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    QRandomGenerator random(5);

    QStringList files;
    for (int k = 0; k < kFiles; ++k) {
        files << QString("%1/frames%2.mp3").arg(folder).arg(k);
        if (!WriteFrames(files.last(), kFileSize, random)) {
            printf("cannot write %s\n", qPrintable(files.last()));
            return 1;
        }
    }
    const double megabytes = kFiles * kFileSize / 1e6;
    const QString cat = QString("cat '%1'/frames*.mp3 > /dev/null").arg(folder);
    TimeCommand(cat);
    const double catMs = qMin(TimeCommand(cat), TimeCommand(cat));
    printf("cat of %.0f MB (warm, best of two): %.0f ms, %.0f MB/s\n", megabytes, catMs, megabytes / catMs * 1000);

    MP3Scanner scanner;
    for (int round = 0; round < 2; ++round) {
        QElapsedTimer t;
        t.start();
        QString result;
        for (const QString& file : files) {
            int version = 0, frequency = 0, bitrate = 0;
            bool vbr = false;
            QString mode;
            const bool ok = scanner.ScanMP3(file, version, mode, frequency, vbr, bitrate);
            result = Describe(ok, version, mode, frequency, vbr, bitrate);
        }
        printf("analysis of %.0f MB: %.0f ms, %.0f MB/s (%s), peak %ld KiB\n", megabytes, Ms(t),
               megabytes / Ms(t) * 1000, qPrintable(result), PeakKiB());
    }
    for (const QString& file : files)
        QFile::remove(file);

    const QString large = folder + "/headers.mp3";
    if (!WriteHeaders(large, kLargeSize)) {
        printf("cannot write %s\n", qPrintable(large));
        QFile::remove(large);
        return 1;
    }
    const long before = PeakKiB();
    QElapsedTimer t;
    t.start();
    int version = 0, frequency = 0, bitrate = 0;
    bool vbr = false;
    QString mode;
    const bool ok = scanner.ScanMP3(large, version, mode, frequency, vbr, bitrate);
    printf("2 GiB of headers (%lld headers): %.0f ms, %.0f MB/s, peak %ld KiB before, %ld KiB after (%s)\n",
           kLargeSize / 4, Ms(t), kLargeSize / 1e6 / Ms(t) * 1000, before, PeakKiB(),
           qPrintable(Describe(ok, version, mode, frequency, vbr, bitrate)));
    QFile::remove(large);
    return 0;
}
