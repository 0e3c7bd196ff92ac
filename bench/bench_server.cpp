// Parse throughput of the server connection's receive loop. A loopback server on 127.0.0.1
// answers the login, then streams 1,000,000 small frames (code 5000, 8-byte bodies) and 1,000
// frames with 1 MiB bodies from a thread of its own; each batch ends with a code 92 frame whose
// signal marks the moment the client has handled the batch.
#include "bench/benchutil.h"

#include <QCoreApplication>
#include <QTcpServer>

#include <fcntl.h>
#include <thread>

using namespace benchutil;

namespace {

const int kSmallFrames = 1000000;
const int kLargeFrames = 1000;
const int kLargeBody = 1024 * 1024;

// A frame whose body is the code followed by filler up to the body length.
void PutFrame(std::vector<char>& out, quint32 code, quint32 bodyLength)
{
    PutU32(out, bodyLength);
    PutU32(out, code);
    out.insert(out.end(), bodyLength - 4, 'x');
}

// Blocking writer on the accepted descriptor: reads the login, accepts it, streams the batches.
void Stream(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    char prefix[4];
    if (!ReadAll(fd, prefix, 4))
        return;
    std::vector<char> login(qFromLittleEndian<quint32>(prefix));
    if (!ReadAll(fd, login.data(), login.size()))
        return;

    std::vector<char> reply;
    PutU32(reply, 4 + 1 + 4 + 4 + 4);
    PutU32(reply, 1);
    reply.push_back(1);
    PutU32(reply, 0);
    PutU32(reply, 0);
    PutU32(reply, 0);
    WriteAll(fd, reply.data(), reply.size());

    const int perBlock = 10000;
    std::vector<char> block;
    for (int k = 0; k < perBlock; ++k)
        PutFrame(block, 5000, 8);
    for (int sent = 0; sent < kSmallFrames; sent += perBlock)
        if (!WriteAll(fd, block.data(), block.size()))
            return;
    std::vector<char> marker;
    PutU32(marker, 8);
    PutU32(marker, 92);
    PutU32(marker, 1);
    WriteAll(fd, marker.data(), marker.size());

    std::vector<char> large;
    PutFrame(large, 5000, kLargeBody);
    for (int k = 0; k < kLargeFrames; ++k)
        if (!WriteAll(fd, large.data(), large.size()))
            return;
    marker.clear();
    PutU32(marker, 8);
    PutU32(marker, 92);
    PutU32(marker, 2);
    WriteAll(fd, marker.data(), marker.size());
}

class StreamingServer : public QTcpServer
{
public:
    ~StreamingServer() override
    {
        if (m_writer.joinable())
            m_writer.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }

protected:
    void incomingConnection(qintptr fd) override
    {
        m_fd = static_cast<int>(fd);
        m_writer = std::thread(Stream, m_fd);
    }

private:
    std::thread m_writer;
    int m_fd = -1;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;

    Server* server = StartCore(dir);

    StreamingServer listener;
    if (!listener.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    SetSetting("use_upnp", Value("no"));
    SetSetting("username", Value("bench"));
    SetSetting("password", Value("bench"));
    SetSetting("server_host", Value("127.0.0.1"));
    SetSetting("server_port", Value(static_cast<int>(listener.serverPort())));

    QElapsedTimer clock;
    qint64 smallDone = 0;
    QObject::connect(server, &Server::Connected, [&] { clock.start(); });
    QObject::connect(server, &Server::ReceivedOwnPrivilegesStatus, [&](int batch) {
        if (batch == 1) {
            smallDone = clock.nsecsElapsed();
            clock.restart();
            return;
        }
        const qint64 largeDone = clock.nsecsElapsed();
        const double smallSeconds = smallDone / 1e9;
        const double largeSeconds = largeDone / 1e9;
        const double smallBytes = double(kSmallFrames) * 12;
        const double largeBytes = double(kLargeFrames) * (kLargeBody + 4);
        std::printf("small frames: %d of 12 bytes in %.3f s: %.0f frames/s, %.1f MB/s\n", kSmallFrames,
                    smallSeconds, kSmallFrames / smallSeconds, smallBytes / smallSeconds / 1e6);
        std::printf("large frames: %d of 1 MiB in %.3f s: %.0f frames/s, %.1f MB/s\n", kLargeFrames, largeSeconds,
                    kLargeFrames / largeSeconds, largeBytes / largeSeconds / 1e6);
        app.quit();
    });
    QObject::connect(server, &Server::ConnectionFailed, [&](const QString& reason) {
        std::fprintf(stderr, "connection failed: %s\n", qPrintable(reason));
        app.exit(1);
    });

    server->Connect();
    const int rc = app.exec();
    server->Disconnect();
    return rc;
}
