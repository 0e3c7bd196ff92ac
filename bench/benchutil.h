// What several benchmarks need alike: the core objects the program makes at start, frame bytes,
// blocking loopback sockets, and figures of memory and time.
#pragma once

#include "model/data.h"
#include "model/datasaver.h"
#include "model/settings.h"
#include "model/timermanager.h"
#include "peer/peermessenger.h"
#include "server/server.h"
#include "server/upnpgateway.h"
#include "shares/sharedfoldersmanager.h"
#include "transfers/transferqueuemanager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QRandomGenerator>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QTemporaryDir>
#include <QtEndian>

#include <arpa/inet.h>
#include <fcntl.h>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace benchutil {

// The timers, the save file (in dir), the settings and the server connection (not connected), in
// the order the program makes them.
inline Server* StartCore(const QTemporaryDir& dir)
{
    new TimerManager();
    new DataSaver(&d, dir.filePath("save"));
    DeclareSettingTypes();
    auto* server = new Server();
    server->CreateData();
    return server;
}

// The core, the peer messenger, the shares and the transfer engine, with UPnP off: no server is
// reached and nothing is sent off the machine.
inline void StartEngine(const QTemporaryDir& dir)
{
    StartCore(dir);
    SetSetting("use_upnp", Value("no"));
    new PeerMessenger();
    new SharedFoldersManager();
    new TransferQueueManager();
}

inline double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

// CPU time of the process and of the calling thread.
struct Cpu
{
    double process = 0;
    double thread = 0;
    static Cpu Now()
    {
        rusage self{}, thread{};
        getrusage(RUSAGE_SELF, &self);
        getrusage(RUSAGE_THREAD, &thread);
        return {Seconds(self.ru_utime) + Seconds(self.ru_stime), Seconds(thread.ru_utime) + Seconds(thread.ru_stime)};
    }
};

// GUI event loop latency: how late each tick of a 10 ms timer comes.
struct Latency : QObject
{
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    std::vector<qint64> lateUs;
    Latency()
    {
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, [this] {
            const qint64 now = clock.nsecsElapsed() / 1000;
            lateUs.push_back(qMax<qint64>(0, now - last - 10000));
            last = now;
        });
        clock.start();
        timer.start(10);
    }
    void Report()
    {
        std::sort(lateUs.begin(), lateUs.end());
        double sum = 0;
        for (qint64 v : lateUs)
            sum += v;
        const size_t n = lateUs.size();
        std::printf("  GUI 10 ms timer: %zu ticks, late by mean %.2f ms, p99 %.2f ms, max %.2f ms\n", n,
                    n ? sum / n / 1000 : 0, n ? lateUs[n * 99 / 100] / 1000.0 : 0, n ? lateUs.back() / 1000.0 : 0);
    }
};

inline void PutU32(std::vector<char>& out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.insert(out.end(), b, b + 4);
}

inline bool WriteAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

inline bool ReadAll(int fd, char* p, size_t n)
{
    while (n > 0) {
        const ssize_t r = ::read(fd, p, n);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// A blocking socket connected to 127.0.0.1:port, or -1.
inline int DialLoopback(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A blocking socket listening on 127.0.0.1 at a free port, which goes to o_port; -1 on failure.
inline int ListenLoopback(quint16& o_port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    o_port = ntohs(address.sin_port);
    return fd;
}

// Two consecutive free ports (a listening port and the obfuscated one), or 0.
inline quint16 FreePortPair()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpServer a, b;
        if (a.listen(QHostAddress::Any, 0) && a.serverPort() < 65535 && b.listen(QHostAddress::Any, a.serverPort() + 1))
            return a.serverPort();
    }
    return 0;
}

// A peer messenger listening on a free port pair with UPnP off; its plain port, or 0 when it
// does not listen.
inline quint16 StartListeningMessenger()
{
    new PeerMessenger();
    const quint16 port = FreePortPair();
    SetSetting("use_upnp", Value("no"));
    SetSetting("listening_port", Value(static_cast<int>(port)));
    SetSetting("obfuscated_listening_port", Value(static_cast<int>(port) + 1));
    peerMessenger->DataLoaded();
    return port && peerMessenger->ListeningPort(false) == port ? port : 0;
}

inline long PeakKiB()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

inline long CurrentKiB()
{
    long pages = 0, resident = 0;
    if (FILE* f = fopen("/proc/self/statm", "r")) {
        if (fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// With BENCH_MARKS set, the monotonic clock at a phase's start or end on standard error: a
// profile recorded with `perf record -k CLOCK_MONOTONIC` is then cut to one phase with
// `perf report --time start,end`.
inline void Mark(const char* what)
{
    if (!getenv("BENCH_MARKS"))
        return;
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    fprintf(stderr, "mark %s %ld.%06ld\n", what, static_cast<long>(ts.tv_sec), ts.tv_nsec / 1000);
}

inline double Ms(QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e6;
}

// CPU time of this process in ms: on a shared machine the figure that holds, wall time beside it.
inline double ProcessCpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Runs one phase in a child process, so its peak resident size is its own; the child prints
// its own figures.
// With BENCH_FIRST_PHASE set, the first phase runs in this process, which then ends: heap
// profilers that do not follow forks see it whole.
inline void Phase(const std::function<void()>& body)
{
    if (getenv("BENCH_FIRST_PHASE")) {
        body();
        fflush(stdout);
        _exit(0);
    }
    fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

// The given number of bytes written (with fsync) and read back through plain stdio in pieces of
// the given size: the floor any saver of the same bytes is measured against.
struct PlainIoTimes
{
    double writeMs = 0;
    double readMs = 0;
    qint64 bytesRead = 0;
};

inline PlainIoTimes PlainIo(const QByteArray& path, qint64 bytes, size_t piece)
{
    PlainIoTimes times;
    std::vector<char> block(piece, 'x');
    QElapsedTimer t;
    t.start();
    FILE* f = fopen(path.constData(), "wb");
    if (!f)
        return times;
    for (qint64 left = bytes; left > 0;) {
        const size_t n = static_cast<size_t>(std::min<qint64>(left, static_cast<qint64>(piece)));
        fwrite(block.data(), 1, n, f);
        left -= static_cast<qint64>(n);
    }
    fflush(f);
    fsync(fileno(f));
    fclose(f);
    times.writeMs = Ms(t);
    t.restart();
    if (!(f = fopen(path.constData(), "rb")))
        return times;
    size_t n;
    while ((n = fread(block.data(), 1, piece, f)) > 0)
        times.bytesRead += static_cast<qint64>(n);
    fclose(f);
    times.readMs = Ms(t);
    return times;
}

// A music collection of artists x albums x tracks sparse files of 1 to 64 KiB (sizes to record,
// nothing to write), named from a vocabulary so that search tokens repeat the way they do in
// such a collection; mp3 and four other extensions in turn.
inline void GenerateShare(const QString& root, int artists, int albums, int tracks)
{
    QStringList words;
    QRandomGenerator vocabulary(7);
    for (int k = 0; k < 3000; ++k) {
        QString word;
        const int length = 3 + int(vocabulary.bounded(7));
        for (int c = 0; c < length; ++c)
            word += QChar('a' + int(vocabulary.bounded(26)));
        word[0] = word[0].toUpper();
        words << word;
    }
    const char* const extensions[] = {"mp3", "flac", "ogg", "jpg", "txt"};
    QRandomGenerator random(11);
    auto pick = [&] { return words[int(random.bounded(words.size()))]; };
    for (int a = 0; a < artists; ++a) {
        const QString artist = QString("%1 %2 %3").arg(pick(), pick()).arg(a);
        for (int b = 0; b < albums; ++b) {
            const QString folder = QString("%1/%2/(%3) %4 %5").arg(root, artist).arg(1970 + b).arg(pick(), pick());
            QDir().mkpath(folder);
            for (int t = 0; t < tracks; ++t) {
                const QString name = QString("%1 - %2 %3 %4.%5")
                                         .arg(t + 1, 2, 10, QChar('0'))
                                         .arg(pick(), pick(), pick())
                                         .arg(extensions[t % 5]);
                const QByteArray path = QFile::encodeName(folder + "/" + name);
                const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0 || ::ftruncate(fd, 1024 + random.bounded(63 * 1024)) != 0)
                    perror("generate");
                ::close(fd);
            }
        }
    }
}

// HOME and TMPDIR in folders of dir, before the application object is made: the save file and the
// temporary files of a window made for a benchmark stay out of the user's.
inline void UseHomeIn(const QTemporaryDir& dir)
{
    QDir(dir.path()).mkpath("home");
    QDir(dir.path()).mkpath("tmp");
    qputenv("HOME", dir.filePath("home").toLocal8Bit());
    qputenv("TMPDIR", dir.filePath("tmp").toLocal8Bit());
}

// Finds no gateway: nothing leaves the machine.
class NoGateway : public UpnpGateway
{
public:
    QList<UpnpDevice> Discover(int, int* op_error) override
    {
        *op_error = -1;
        return {};
    }
    bool ReadDescription(const UpnpDevice&, QByteArray*, QByteArray*) override { return false; }
    int AddPortMapping(const QByteArray&, const QByteArray&, const QByteArray&, const QByteArray&, const QByteArray&,
                       const QByteArray&) override
    {
        return -1;
    }
    int DeletePortMapping(const QByteArray&, const QByteArray&, const QByteArray&, const QByteArray&) override
    {
        return -1;
    }
};

// A little-endian 32-bit number and a length-prefixed UTF-8 string, as frames carry them.
inline QByteArray U32(quint32 v)
{
    v = qToLittleEndian(v);
    return QByteArray(reinterpret_cast<const char*>(&v), 4);
}

inline QByteArray Str(const QString& s)
{
    const QByteArray b = s.toUtf8();
    return U32(static_cast<quint32>(b.size())) + b;
}

// Takes the server connection's login from the listener on 127.0.0.1 and accepts it; true once
// the connection counts as logged in.
inline bool AcceptLogin(QTcpServer& listener)
{
    if (!listener.waitForNewConnection(5000))
        return false;
    QTcpSocket* peer = listener.nextPendingConnection();
    // The reply: code 1, accepted, an empty greeting, an address, an empty text.
    peer->write(U32(17) + U32(1) + QByteArray(1, '\1') + U32(0) + U32(0x0100007f) + U32(0));
    peer->flush();
    QElapsedTimer t;
    t.start();
    while (!gp_server->IsConnected() && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return gp_server->IsConnected();
}

} // namespace benchutil
