// Throughput of the peer messenger's receive path over loopback. A writer thread dials the
// messenger's plain or obfuscated port, sends a direct init message for a messaging connection,
// then a batch of frames (code 1, filler) and last a user-info request, whose signal marks the
// moment the messenger has handled the batch. The same bytes read by a bare QTcpSocket into a
// fixed buffer give the figure of the socket alone.
#include "bench/benchutil.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstring>
#include <thread>

using namespace benchutil;

namespace {

const uint32_t kLargeBody = 10485760;
const int kLargeFrames = 100;
const uint32_t kSmallBody = 100;
const int kSmallFrames = 1000000;

void PutString(std::vector<char>& out, const char* s)
{
    PutU32(out, static_cast<quint32>(strlen(s)));
    out.insert(out.end(), s, s + strlen(s));
}

// One frame of the body, obfuscated with a key of its own when asked.
void PutFrame(std::vector<char>& out, const std::vector<char>& body, bool obfuscated, uint32_t key)
{
    const size_t start = out.size();
    if (obfuscated)
        PutU32(out, key);
    PutU32(out, static_cast<quint32>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (obfuscated)
        PeerMessenger::XorSequence(out.data() + start + 4, body.size() + 4, key, 0);
}

std::vector<char> Body(uint32_t code, uint32_t length)
{
    std::vector<char> body;
    PutU32(body, code);
    body.resize(length, 'x');
    return body;
}

// Dials the port and writes the init (unless bare), the batch repeated, and the closing request.
void Write(quint16 port, bool obfuscated, bool bare, uint32_t bodyLength, int frames)
{
    const int fd = DialLoopback(port);
    if (fd < 0)
        return;
    std::vector<char> head;
    if (!bare) {
        std::vector<char> init;
        init.push_back(1);
        PutString(init, "bench");
        PutString(init, "P");
        PutU32(init, 0);
        PutFrame(head, init, obfuscated, 0x1234567u);
    }
    // A block of frames with keys of their own, written again and again.
    const int perBlock = bodyLength > 65536 ? 1 : 1000;
    std::vector<char> block;
    const std::vector<char> body = Body(1, bodyLength);
    for (int k = 0; k < perBlock; ++k)
        PutFrame(block, body, obfuscated, 0x9e3779b9u * static_cast<uint32_t>(k + 1));
    std::vector<char> tail;
    PutFrame(tail, Body(15, 4), obfuscated, 0x7654321u);

    WriteAll(fd, head.data(), head.size());
    for (int sent = 0; sent < frames; sent += perBlock)
        WriteAll(fd, block.data(), block.size());
    WriteAll(fd, tail.data(), tail.size());
    // Held open until the reader is done, so the close is not part of the figure.
    char byte;
    ::read(fd, &byte, 1);
    ::close(fd);
}

// The bytes of one batch read straight from a socket into a fixed buffer.
double BareRead(uint32_t bodyLength, int frames, bool obfuscated)
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const qint64 total = qint64(frames) * (bodyLength + (obfuscated ? 8 : 4)) + 8 + (obfuscated ? 4 : 0);
    qint64 got = 0;
    std::vector<char> buffer(1 << 20);
    QEventLoop loop;
    QElapsedTimer clock;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, [&, socket] {
            qint64 n;
            while ((n = socket->read(buffer.data(), qint64(buffer.size()))) > 0)
                got += n;
            if (got >= total)
                loop.quit();
        });
    });
    clock.start();
    std::thread writer(Write, server.serverPort(), obfuscated, true, bodyLength, frames);
    loop.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    for (QTcpSocket* socket : server.findChildren<QTcpSocket*>())
        socket->close();
    writer.join();
    return seconds;
}

double MessengerRead(quint16 port, bool obfuscated, uint32_t bodyLength, int frames)
{
    QEventLoop loop;
    QElapsedTimer clock;
    const QMetaObject::Connection done =
        QObject::connect(peerMessenger, &PeerMessenger::UserInfoRequested, [&] { loop.quit(); });
    clock.start();
    std::thread writer(Write, obfuscated ? port + 1 : port, obfuscated, false, bodyLength, frames);
    loop.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    QObject::disconnect(done);
    for (ItemPtr record : d.GetType("peer_socket")->GetItems())
        peerMessenger->DisposeOfSocket(ItemObject<QTcpSocket>(record));
    writer.join();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return seconds;
}


} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    Server* server = StartCore(dir);
    const quint16 port = StartListeningMessenger();
    if (!port) {
        std::fprintf(stderr, "cannot listen on a free port pair\n");
        return 1;
    }

    struct Batch
    {
        const char* name;
        uint32_t body;
        int frames;
    };
    for (const Batch& batch : {Batch{"10 MiB frames", kLargeBody, kLargeFrames},
                               Batch{"100-byte frames", kSmallBody, kSmallFrames}}) {
        const double bytes = double(batch.frames) * batch.body;
        for (bool obfuscated : {false, true}) {
            const double bare = BareRead(batch.body, batch.frames, obfuscated);
            const double messenger = MessengerRead(port, obfuscated, batch.body, batch.frames);
            std::printf("%-16s %-10s  messenger %7.3f s: %9.0f frames/s %8.1f MB/s   socket alone %7.3f s: %8.1f MB/s\n",
                        batch.name, obfuscated ? "obfuscated" : "plain", messenger, batch.frames / messenger,
                        bytes / messenger / 1e6, bare, bytes / bare / 1e6);
        }
    }
    delete peerMessenger;
    delete server;
    return 0;
}
