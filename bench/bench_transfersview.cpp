// A download through the engine with the Transfers page following it, against a plain copy.
//
//   bench_transfersview [MiB] [queued]   a download of MiB (default 1024) over 127.0.0.1 into
//                                        the download folder, first with the Transfers page
//                                        shown, then hidden, with `queued` (default 1000) more
//                                        downloads of the same user queued in the tree; beside a
//                                        plain blocking copy in 64 KiB pieces. Throughput, CPU of
//                                        the process and of the GUI thread, and the lateness of a
//                                        10 ms GUI timer.
#include "bench/benchutil.h"
#include "bench/transfersviewbench.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <thread>

using namespace benchutil;

namespace {

// Sends size bytes in 64 KiB pieces on a blocking socket, after skipping `skip` bytes of
// handshake the receiver writes first.
void Send(int fd, qint64 size, size_t skip)
{
    std::vector<char> buffer(65536);
    for (size_t k = 0; k < buffer.size(); ++k)
        buffer[k] = static_cast<char>(k * 7919 >> 3);
    if (skip)
        ReadAll(fd, buffer.data(), skip);
    for (qint64 left = size; left > 0;) {
        const size_t n = static_cast<size_t>(qMin<qint64>(left, buffer.size()));
        if (!WriteAll(fd, buffer.data(), n))
            break;
        left -= n;
    }
    ::close(fd);
}

double PlainCopy(const QString& target, qint64 size)
{
    quint16 port = 0;
    const int listener = ListenLoopback(port);
    const Cpu before = Cpu::Now();
    QElapsedTimer clock;
    clock.start();
    std::thread sender([&] { Send(DialLoopback(port), size, 0); });
    const int fd = ::accept(listener, nullptr, nullptr);
    QFile out(target);
    out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    std::vector<char> buffer(65536);
    qint64 total = 0;
    for (ssize_t n; total < size && (n = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0; total += n)
        out.write(buffer.data(), n);
    sender.join();
    ::close(fd);
    ::close(listener);
    const double seconds = clock.elapsed() / 1000.0;
    std::printf("plain copy, 64 KiB pieces: %.2f s, %.0f MiB/s; CPU %.2f s\n", seconds, size / 1048576.0 / seconds,
                Cpu::Now().process - before.process);
    QFile::remove(target);
    return seconds;
}

double EngineDownload(int round, qint64 size, bool shown, QWidget* page)
{
    page->window()->setVisible(shown);
    QCoreApplication::processEvents();
    const QString name = QString("big%1.bin").arg(round);
    ItemPtr entry = transferQueueManager->AddDownload("peer", name.toStdString(), "music\\Queue", size, 0);
    entry += d.GetType("remote_transfer_req")->GetItem(Value(1000 + round));
    QTcpServer listener;
    listener.listen(QHostAddress::LocalHost, 0);
    const int fd = DialLoopback(listener.serverPort());
    listener.waitForNewConnection(5000);
    QTcpSocket* near = listener.nextPendingConnection();
    near->setParent(nullptr);

    const Cpu before = Cpu::Now();
    QElapsedTimer clock;
    clock.start();
    Latency latency;
    std::thread sender([&] { Send(fd, size, 8); });
    transferQueueManager->OnFileConnection("peer", near, 1000 + round);
    while (entry["download_entry_status"].AsString() == "downloading")
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    sender.join();
    const double seconds = clock.elapsed() / 1000.0;
    const Cpu after = Cpu::Now();
    const double gui = after.thread - before.thread;
    std::printf("engine, page %s: %s, %.2f s, %.0f MiB/s; CPU: process %.2f s, GUI thread %.2f s\n",
                shown ? "shown" : "hidden", qPrintable(entry["download_entry_status"].AsString()), seconds,
                size / 1048576.0 / seconds, after.process - before.process, gui);
    latency.Report();
    QFile::remove(transferQueueManager->GetDownloadTargetPath(entry, true).replace('\\', '/'));
    transferQueueManager->RemoveDownload(entry);
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    const int queued = argc > 2 ? QByteArray(argv[2]).toInt() : 1000;
    const qint64 size = mib << 20;

    QTemporaryDir dir;
    qputenv("HOME", dir.path().toLocal8Bit());
    TransfersForm* form = nullptr;
    QTabWidget* tabs = benchutil::NewTransfersView(dir, &form);
    for (int k = 0; k < queued; ++k)
        transferQueueManager->AddDownload("peer", QString("q%1.bin").arg(k).toStdString(), "music\\Queue", 1 << 20,
                                          0);
    QElapsedTimer fill;
    fill.start();
    transferQueueManager->DataLoaded();
    std::printf("%d queued downloads shown in %lld ms\n", queued, fill.elapsed());

    std::printf("%lld MiB over 127.0.0.1\n", mib);
    double plain = 1e9, shown = 1e9, hidden = 1e9;
    for (int round = 0; round < 2; ++round) {
        plain = qMin(plain, PlainCopy(dir.filePath("plain"), size));
        shown = qMin(shown, EngineDownload(2 * round, size, true, form));
        hidden = qMin(hidden, EngineDownload(2 * round + 1, size, false, form));
    }
    std::printf("best engine / best plain speed: page shown %.2f, page hidden %.2f\n", plain / shown,
                plain / hidden);
    delete tabs;
    return 0;
}
