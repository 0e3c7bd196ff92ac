#include "common/fakepeer.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

#include <zlib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

FakePeer::FakePeer(bool obfuscated, QObject* parent) : QObject(parent), m_obfuscated(obfuscated)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakePeer::OnNewConnection);
}

FakePeer::~FakePeer()
{
    if (mp_socket) {
        mp_socket->disconnect(this);
        mp_socket->abort();
        delete mp_socket;
    }
}

// Written from the rule as stated, byte by byte, independent of the client's word-wise version.
QByteArray FakePeer::Xor(QByteArray bytes, quint32 key)
{
    quint32 k = key;
    for (int i = 0; i < bytes.size(); ++i) {
        if (i % 4 == 0)
            k = (k << 1) | (k >> 31);
        bytes[i] = static_cast<char>(bytes[i] ^ static_cast<char>((k >> (8 * (i % 4))) & 0xff));
    }
    return bytes;
}

QByteArray FakePeer::Zip(const QByteArray& plain)
{
    uLongf n = compressBound(uLong(plain.size()));
    QByteArray out(int(n), '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(plain.constData()),
              uLong(plain.size()), 9);
    out.resize(int(n));
    return out;
}

quint16 FakePeer::FreePortPair()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpServer a, b;
        if (!a.listen(QHostAddress::Any, 0))
            continue;
        const quint16 port = a.serverPort();
        if (port < 65535 && b.listen(QHostAddress::Any, port + 1))
            return port;
    }
    return 0;
}

bool FakePeer::WaitForConnection(int timeoutMs)
{
    const int before = m_connectionCount;
    return QTest::qWaitFor([&] { return m_connectionCount > before; }, timeoutMs);
}

bool FakePeer::ConnectTo(quint16 port, int timeoutMs)
{
    auto* socket = new QTcpSocket();
    Adopt(socket);
    socket->connectToHost(QHostAddress::LocalHost, port);
    return QTest::qWaitFor([&] { return IsConnected(); }, timeoutMs);
}

void FakePeer::Adopt(QTcpSocket* socket)
{
    if (mp_socket) {
        mp_socket->disconnect(this);
        mp_socket->abort();
        mp_socket->deleteLater();
    }
    mp_socket = socket;
    m_received.clear();
    m_pending.clear();
    m_frames.clear();
    m_raw = false;
    ++m_connectionCount;
    connect(socket, &QTcpSocket::readyRead, this, &FakePeer::OnReadyRead);
}

void FakePeer::OnNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(nullptr);
        Adopt(socket);
    }
}

void FakePeer::SetReading(bool reading)
{
    m_reading = reading;
    if (mp_socket)
        mp_socket->setReadBufferSize(reading ? 0 : 1);
    if (reading)
        OnReadyRead();
}

void FakePeer::OnReadyRead()
{
    if (!mp_socket || !m_reading)
        return;
    const QByteArray bytes = mp_socket->readAll();
    m_received += bytes;
    m_pending += bytes;
    while (!m_raw) {
        const int head = m_obfuscated ? 8 : 4;
        if (m_pending.size() < head)
            break;
        Frame f;
        quint32 length;
        if (m_obfuscated) {
            f.key = qFromLittleEndian<quint32>(m_pending.constData());
            length = qFromLittleEndian<quint32>(Xor(m_pending.mid(4, 4), f.key).constData());
        } else {
            length = qFromLittleEndian<quint32>(m_pending.constData());
        }
        if (quint64(m_pending.size()) < quint64(head) + length)
            break;
        f.raw = m_pending.left(head + int(length));
        f.body = m_obfuscated ? Xor(f.raw.mid(4), f.key).mid(4) : f.raw.mid(4);
        m_frames << f;
        m_pending.remove(0, f.raw.size());
    }
}

void FakePeer::SendRaw(const QByteArray& bytes)
{
    if (mp_socket) {
        mp_socket->write(bytes);
        mp_socket->flush();
    }
}

void FakePeer::SendFrame(const QByteArray& body)
{
    SendFrame(body, QRandomGenerator::global()->generate() | 1u);
}

void FakePeer::SendFrame(const QByteArray& body, quint32 key)
{
    SendRaw(m_obfuscated ? ObfuscatedFrame(body, key) : PlainFrame(body));
}

BlackHole::~BlackHole()
{
    qDeleteAll(m_fillers);
    if (m_fd >= 0)
        ::close(m_fd);
}

bool BlackHole::Open()
{
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_fd, 0) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;
    m_port = ntohs(address.sin_port);
    // Fill the queue until a newcomer stays unanswered.
    for (int k = 0; k < 8; ++k) {
        auto* filler = new QTcpSocket();
        m_fillers << filler;
        filler->connectToHost(QHostAddress::LocalHost, m_port);
        // Not waitForConnected(): it gives up on the attempt when its time runs out.
        if (!QTest::qWaitFor([filler] { return filler->state() == QAbstractSocket::ConnectedState; }, 300))
            return filler->state() == QAbstractSocket::ConnectingState;
    }
    return false;
}
