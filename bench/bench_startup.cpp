// Start-up of the real program sharing 1,000,000 files (a generated tree of sparse files): how
// long until its window is up and its event loop answers, and its peak memory. Twice: the first
// start walks the tree from nothing; the second loads the save file the first one wrote at
// shut-down and rescans. "Answering" is the program's reply to a login accepted by a server
// this benchmark plays on 127.0.0.1: the program reads it only once start-up has returned to its
// event loop.
//
// The program runs with a home of its own whose save file turns UPnP off and points every host
// at 127.0.0.1.
//
//   bench_startup [folder] [program]   (default: a fresh folder under /tmp, the built program)
#include "bench/benchutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <poll.h>
#include <string>

using namespace benchutil;

namespace {

const int kArtists = 100;
const int kAlbums = 100;  // per artist: 10,000 folders
const int kTracks = 100;  // per album: 1,000,000 files

void PutInt(QByteArray& out, qint32 v)
{
    char b[4];
    qToLittleEndian<qint32>(v, b);
    out.append(b, 4);
}

void PutString(QByteArray& out, const QByteArray& s)
{
    PutInt(out, s.size());
    out.append(s);
}

// Settings (each key linked to its value) and one folder shared with everyone.
QByteArray SaveFile(const QList<QPair<QByteArray, QByteArray>>& settings, const QByteArray& share)
{
    QByteArray out;
    PutInt(out, 4);
    qint32 id = 0;
    PutString(out, "global");
    out.append('\0');
    PutInt(out, settings.size());
    for (const auto& s : settings) {
        PutInt(out, ++id);
        PutString(out, s.first);
    }
    PutString(out, "global_value");
    out.append('\0');
    PutInt(out, settings.size());
    for (const auto& s : settings) {
        PutInt(out, ++id);
        PutString(out, s.second);
    }
    PutString(out, "shared_folder");
    out.append('\0');
    PutInt(out, 1);
    PutInt(out, ++id);
    PutString(out, share);
    PutString(out, "shared_public");
    out.append('\1');
    PutInt(out, 1);
    PutInt(out, ++id);
    PutInt(out, settings.size() + 1);
    for (qint32 k = 1; k <= settings.size(); ++k) {
        PutInt(out, k);
        PutInt(out, k + settings.size());
    }
    PutInt(out, id - 1);
    PutInt(out, id);
    return out;
}

QByteArray Frame(quint32 code, const QByteArray& fields)
{
    QByteArray out;
    PutInt(out, static_cast<qint32>(fields.size() + 4));
    PutInt(out, static_cast<qint32>(code));
    return out + fields;
}

long HighWaterKiB(pid_t pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// One start of the program: the time until it answers, its peak memory then and at its end.
void Start(const char* what, const QString& program, const QString& home, int listener)
{
    QElapsedTimer t;
    t.start();
    fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("HOME", QFile::encodeName(home).constData(), 1);
        setenv("TMPDIR", QFile::encodeName(home).constData(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const QByteArray path = QFile::encodeName(program);
        execl(path.constData(), path.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, 600000) != 1) {
        printf("%s: the program never connected\n", what);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return;
    }
    const int fd = accept(listener, nullptr, nullptr);
    const double connected = Ms(t);
    // Login accepted: the reply (the request for the own privileges, among others) comes from the
    // event loop.
    QByteArray accepted;
    accepted.append('\1');
    PutString(accepted, "welcome");
    PutInt(accepted, 0x0100007f);
    PutString(accepted, QByteArray());
    const QByteArray frame = Frame(1, accepted);
    char header[8];
    bool answered = false;
    if (WriteAll(fd, frame.constData(), static_cast<size_t>(frame.size()))) {
        // The login request is read first; any frame after it is an answer.
        for (int frames = 0; frames < 2 && !answered; ++frames) {
            if (!ReadAll(fd, header, 8))
                break;
            const quint32 length = qFromLittleEndian<quint32>(header);
            std::string body(length - 4, '\0');
            if (length < 4 || length > (1 << 20) || !ReadAll(fd, &body[0], body.size()))
                break;
            answered = frames == 1;
        }
    }
    const double answer = Ms(t);
    const long peakAtAnswer = HighWaterKiB(pid);
    t.restart();
    kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    ::close(fd);
    printf("%s: connected to the server at %.0f ms, %s at %.0f ms, peak %ld KiB then; shut-down with the "
           "save %.0f ms, peak %ld KiB, exit %d\n",
           what, connected, answered ? "answering" : "NOT answering", answer, peakAtAnswer, Ms(t),
           usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp(QDir::tempPath() + "/bench_startup-XXXXXX");
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    const QString program =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QCoreApplication::applicationDirPath() + "/../tavrinel";
    const QString share = folder + "/share";
    const QString home = folder + "/home";
    QDir().mkpath(home);

    QElapsedTimer t;
    t.start();
    if (!QFileInfo::exists(share))
        GenerateShare(share, kArtists, kAlbums, kTracks);
    printf("%d files in %d folders ready: %.0f ms\n", kArtists * kAlbums * kTracks, kArtists * kAlbums, Ms(t));

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        perror("listen");
        return 1;
    }
    const QByteArray port = QByteArray::number(ntohs(address.sin_port));

    QFile save(home + "/.Tavrinel");
    if (!save.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    save.write(SaveFile({{"use_upnp", "no"},
                         {"server_host", "127.0.0.1"},
                         {"server_port", port},
                         {"web_host", "127.0.0.1:1"},
                         {"username", "bench"},
                         {"password", "bench"}},
                        QFile::encodeName(share)));
    save.close();

    {
        QElapsedTimer find;
        find.start();
        // Joined rather than filled in with arg(), which would leave "%%" as it is: find would print
        // that text for every file without reading its size.
        const QString command = "find '" + share + "' -printf '%s %p\\n' > /dev/null";
        if (system(command.toLocal8Bit().constData()) != 0)
            printf("find failed\n");
        printf("find -printf over the tree: %.0f ms\n", Ms(find));
    }
    Start("first start (the tree walked from nothing)", program, home, listener);
    printf("save file: %lld bytes\n", static_cast<long long>(QFileInfo(home + "/.Tavrinel").size()));
    Start("second start (the save loaded, the tree rescanned)", program, home, listener);
    Start("third start", program, home, listener);
    ::close(listener);
    return 0;
}
