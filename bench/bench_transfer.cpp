// The transfer threads against a plain copy, and the upload speed limit.
//
//   bench_transfer copy [MiB]               a file (default 1024 MiB) over 127.0.0.1 through
//                                           UploadThread and DownloadThread, with the progress
//                                           reports going to the engine as in a real transfer,
//                                           next to a plain blocking TCP copy of the same file;
//                                           worker and GUI thread CPU, peak resident memory and
//                                           the lateness of a 10 ms GUI timer
//   bench_transfer limit KiB uploads [s]    that many uploads under that limit for s seconds
//                                           (default 30); the total rate received
#include "bench/benchutil.h"
#include "transfers/transferthreads.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

using namespace benchutil;

namespace {

struct Pair
{
    std::unique_ptr<QTcpSocket> near;
    std::unique_ptr<QTcpSocket> far;
};

Pair Connect()
{
    QTcpServer server;
    Pair pair;
    server.listen(QHostAddress::LocalHost, 0);
    pair.near = std::make_unique<QTcpSocket>();
    pair.near->connectToHost(QHostAddress::LocalHost, server.serverPort());
    server.waitForNewConnection(5000);
    pair.near->waitForConnected(5000);
    pair.far.reset(server.nextPendingConnection());
    pair.far->setParent(nullptr);
    return pair;
}

QByteArray I64(qint64 v)
{
    v = qToLittleEndian(v);
    return QByteArray(reinterpret_cast<const char*>(&v), 8);
}

void MakeFile(const QString& path, qint64 size)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (int k = 0; k < block.size(); ++k)
        block[k] = static_cast<char>(k * 7919 >> 3);
    for (qint64 left = size; left > 0; left -= block.size())
        file.write(block.constData(), qMin<qint64>(left, block.size()));
}

bool SameFiles(const QString& a, const QString& b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd())
        if (fa.read(1 << 20) != fb.read(1 << 20))
            return false;
    return true;
}

// The engine's environment, without a server to talk to.
void BuildEngine(const QTemporaryDir& dir)
{
    qputenv("HOME", dir.path().toLocal8Bit());
    StartEngine(dir);
}

// With reports, the progress signals reach the engine as in a real transfer; without, nothing
// receives them, which shows what their delivery costs.
double EngineCopy(const QString& source, const QString& target, qint64 size, bool reports)
{
    QFile::remove(target);
    Pair pair = Connect();
    QFile in(source), out(target);
    in.open(QIODevice::ReadOnly);
    out.open(QIODevice::WriteOnly | QIODevice::Append);
    UploadThread uploader(pair.near.get(), &in, 42);
    DownloadThread downloader(pair.far.get(), &out, size, 0);

    // Entries as the engine keeps them, so the progress reports do their real work.
    auto entry = [](const char* entryType, const char* threadType, const char* positionType, QThread* thread) {
        ItemPtr e = d.GetType(entryType)->NewItem();
        e += d.GetType(threadType)->GetItem(Value(thread));
        e += d.GetType(positionType)->GetItem(Value(new qint64(0)));
        e += d.GetType("bytes_per_second")->GetItem(Value(new int(0)));
        e += d.GetType("last_receipt_time")->GetItem(Value(new QDateTime()));
    };
    entry("upload_entry", "upload_thread", "read_position", &uploader);
    entry("download_entry", "download_thread", "write_position", &downloader);
    if (reports) {
        QObject::connect(&uploader, &UploadThread::UploadProgress, transferQueueManager,
                         &TransferQueueManager::OnUploadProgress);
        QObject::connect(&downloader, &DownloadThread::DownloadProgress, transferQueueManager,
                         &TransferQueueManager::OnDownloadProgress);
    }
    int ended = 0;
    QEventLoop loop;
    auto done = [&] {
        if (++ended == 2)
            loop.quit();
    };
    QObject::connect(&uploader, &UploadThread::UploadComplete, &loop, done);
    QObject::connect(&uploader, &UploadThread::UploadError, &loop, done);
    QObject::connect(&downloader, &DownloadThread::DownloadComplete, &loop, done);
    QObject::connect(&downloader, &DownloadThread::DownloadError, &loop, done);

    const Cpu before = Cpu::Now();
    QElapsedTimer clock;
    clock.start();
    Latency latency;
    pair.near->moveToThread(&uploader);
    uploader.start();
    pair.far->waitForReadyRead(5000);
    pair.far->read(4);
    pair.far->write(I64(0));
    pair.far->flush();
    pair.far->moveToThread(&downloader);
    downloader.start();
    loop.exec();
    uploader.wait();
    downloader.wait();
    const double seconds = clock.elapsed() / 1000.0;
    const Cpu after = Cpu::Now();
    const double gui = after.thread - before.thread;
    std::printf("engine%s: %.2f s, %.0f MiB/s; CPU: workers %.2f s, GUI thread %.2f s\n",
                reports ? "" : " (reports unreceived)", seconds,
                size / 1048576.0 / seconds, after.process - before.process - gui, gui);
    latency.Report();
    g("upload_thread").Remove();
    g("download_thread").Remove();
    g("upload_entry").Remove();
    g("download_entry").Remove();
    d.RemoveDisconnectedItems();
    if (!SameFiles(source, target))
        std::printf("  TARGET DIFFERS\n");
    return seconds;
}

// A plain blocking copy: file to socket on one thread, socket to file on another.
double PlainCopy(const QString& source, const QString& target, qint64 size, size_t piece)
{
    QFile::remove(target);
    quint16 port = 0;
    const int listener = ListenLoopback(port);

    const Cpu before = Cpu::Now();
    QElapsedTimer clock;
    clock.start();
    std::thread sender([&] {
        const int fd = DialLoopback(port);
        QFile in(source);
        in.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        std::vector<char> buffer(piece);
        for (qint64 n; (n = in.read(buffer.data(), buffer.size())) > 0;)
            for (qint64 sent = 0; sent < n;)
                sent += ::send(fd, buffer.data() + sent, static_cast<size_t>(n - sent), 0);
        ::close(fd);
    });
    const int fd = ::accept(listener, nullptr, nullptr);
    QFile out(target);
    out.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    std::vector<char> buffer(piece);
    qint64 total = 0;
    for (ssize_t n; total < size && (n = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0; total += n)
        out.write(buffer.data(), n);
    out.close();
    sender.join();
    ::close(fd);
    ::close(listener);
    const double seconds = clock.elapsed() / 1000.0;
    const Cpu after = Cpu::Now();
    std::printf("plain copy, %zu-byte pieces: %.2f s, %.0f MiB/s; CPU %.2f s\n", piece, seconds,
                size / 1048576.0 / seconds, after.process - before.process);
    if (!SameFiles(source, target))
        std::printf("  TARGET DIFFERS\n");
    return seconds;
}

int Copy(qint64 mib)
{
    QTemporaryDir dir;
    BuildEngine(dir);
    const qint64 size = mib << 20;
    const QString source = dir.filePath("source");
    const QString target = dir.filePath("target");
    MakeFile(source, size);
    std::printf("%lld MiB over 127.0.0.1\n", mib);
    double plain = 1e9, engine = 1e9;
    for (int round = 0; round < 3; ++round) {
        plain = qMin(plain, PlainCopy(source, target, size, 65536));
        PlainCopy(source, target, size, 8192);
        engine = qMin(engine, EngineCopy(source, target, size, true));
        EngineCopy(source, target, size, false);
    }
    std::printf("best engine / best plain (64 KiB) speed: %.2f\n", plain / engine);
    std::printf("peak resident memory: %ld MiB\n", PeakKiB() / 1024);
    return 0;
}

// Reads everything an uploader sends after answering its ticket with offset 0.
class Sink : public QThread
{
public:
    explicit Sink(QTcpSocket* socket) : mp_socket(socket) {}
    std::atomic<qint64> bytes{0};
    std::atomic<bool> stop{false};

protected:
    void run() override
    {
        qint64 skip = 4;
        mp_socket->write(I64(0));
        mp_socket->flush();
        while (!stop) {
            if (!mp_socket->bytesAvailable() && !mp_socket->waitForReadyRead(100)) {
                if (mp_socket->state() != QAbstractSocket::ConnectedState)
                    break;
                continue;
            }
            qint64 n = mp_socket->readAll().size();
            const qint64 ticket = qMin(skip, n);
            skip -= ticket;
            bytes += n - ticket;
        }
        mp_socket->moveToThread(QCoreApplication::instance()->thread());
    }

private:
    QTcpSocket* mp_socket;
};

int Limit(int kib, int uploads, int seconds)
{
    QTemporaryDir dir;
    BuildEngine(dir);
    const QString source = dir.filePath("source");
    MakeFile(source, qint64(kib) * 1024 * seconds * 2 + (1 << 20));
    for (int k = 0; k < uploads; ++k)
        d.GetType("upload_entry")->NewItem() += d.GetType("upload_entry_status")->GetItem("uploading");
    transferQueueManager->SetUploadSpeedLimit(kib);
    transferQueueManager->EnableUploadSpeedLimit(true);

    std::vector<Pair> pairs;
    std::vector<std::unique_ptr<QFile>> files;
    std::vector<std::unique_ptr<UploadThread>> uploaders;
    std::vector<std::unique_ptr<Sink>> sinks;
    for (int k = 0; k < uploads; ++k) {
        pairs.push_back(Connect());
        files.push_back(std::make_unique<QFile>(source));
        files.back()->open(QIODevice::ReadOnly);
        uploaders.push_back(std::make_unique<UploadThread>(pairs.back().near.get(), files.back().get(), k));
        sinks.push_back(std::make_unique<Sink>(pairs.back().far.get()));
        pairs.back().near->moveToThread(uploaders.back().get());
        pairs.back().far->moveToThread(sinks.back().get());
    }
    QElapsedTimer clock;
    clock.start();
    for (int k = 0; k < uploads; ++k) {
        sinks[k]->start();
        uploaders[k]->start();
    }
    auto total = [&] {
        qint64 sum = 0;
        for (auto& sink : sinks)
            sum += sink->bytes;
        return sum;
    };
    QThread::msleep(2000);
    const qint64 atTwo = total();
    const qint64 twoMs = clock.elapsed();
    QThread::msleep(static_cast<unsigned long>(seconds) * 1000 - 2000);
    const qint64 all = total();
    const qint64 ms = clock.elapsed();
    for (auto& uploader : uploaders)
        uploader->SignalExit();
    for (auto& uploader : uploaders)
        uploader->wait();
    for (auto& sink : sinks) {
        sink->stop = true;
        sink->wait();
    }
    const double whole = all * 1000.0 / ms / 1024;
    const double steady = (all - atTwo) * 1000.0 / (ms - twoMs) / 1024;
    const int each = transferQueueManager->PerUploadSpeedLimit();
    std::printf("limit %4d KiB/s, %d uploads (%d KiB/s each), %d s: whole run %.2f KiB/s (%+.1f%%), "
                "after 2 s %.2f KiB/s (%+.1f%% of the limit, %+.1f%% of %d x %d)\n",
                kib, uploads, each, seconds, whole, (whole / kib - 1) * 100, steady, (steady / kib - 1) * 100,
                (steady / (each * uploads) - 1) * 100, uploads, each);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 2 && args[1] == "copy")
        return Copy(args.size() >= 3 ? args[2].toLongLong() : 1024);
    if (args.size() >= 4 && args[1] == "limit")
        return Limit(args[2].toInt(), args[3].toInt(), args.size() >= 5 ? args[4].toInt() : 30);
    std::fprintf(stderr, "usage: bench_transfer copy [MiB] | limit KiB uploads [seconds]\n");
    return 2;
}
