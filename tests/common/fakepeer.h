// A stand-in for another client on 127.0.0.1. It either listens (the client dials it) or dials
// the client's listener, and speaks the peer frame: u32 little-endian body length and the body,
// optionally obfuscated (a fresh u32 key in the clear, then length and body XORed with the key,
// rotated left by one bit before every fourth byte). It collects every byte it receives and, until
// it is told the connection has left the framed protocol, cuts them into frames.
#pragma once

#include "common/fakeserver.h"

#include <QPair>
#include <QVector>

class FakePeer : public QObject
{
public:
    struct Frame
    {
        QByteArray body;  // decoded
        quint32 key = 0;  // the frame's key, 0 on a plain connection
        QByteArray raw;   // as it came over the wire
    };

    explicit FakePeer(bool obfuscated = false, QObject* parent = nullptr);
    ~FakePeer() override;

    bool IsObfuscated() const { return m_obfuscated; }
    // From now on what arrives is raw (after an init message and, on file connections, a ticket).
    void SetRaw(bool raw) { m_raw = raw; }

    // Listens on 127.0.0.1 on a port the system picks; the newest accepted connection is the current one.
    bool Listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    quint16 Port() const { return m_server.serverPort(); }
    int ConnectionCount() const { return m_connectionCount; }
    bool WaitForConnection(int timeoutMs = 5000);
    // Dials 127.0.0.1:port; true once connected.
    bool ConnectTo(quint16 port, int timeoutMs = 5000);

    bool IsConnected() const { return mp_socket && mp_socket->state() == QAbstractSocket::ConnectedState; }
    // True once the current connection has been closed by the client (or never stood).
    bool WaitForDisconnect(int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return !IsConnected(); }, timeoutMs);
    }
    void Close() { if (mp_socket) mp_socket->disconnectFromHost(); }
    QTcpSocket* Socket() const { return mp_socket; }

    // Sending on the current connection.
    void SendRaw(const QByteArray& bytes);
    void SendFrame(const QByteArray& body);  // obfuscated with a random key when set
    void SendFrame(const QByteArray& body, quint32 key);
    void SendMessage(quint32 code, const QByteArray& fields = QByteArray()) { SendFrame(U32(code) + fields); }
    void SendDirectInit(const QString& user, const QString& type, quint32 token = 0)
    {
        SendFrame(DirectInit(user, type, token));
    }

    // While not reading, what the client sends piles up in the system's buffers.
    void SetReading(bool reading);

    // What arrived.
    const QList<Frame>& Frames() const { return m_frames; }
    QList<Frame> TakeFrames() { QList<Frame> f; f.swap(m_frames); return f; }
    bool WaitForFrames(int count, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return m_frames.size() >= count; }, timeoutMs);
    }
    QByteArray Received() const { return m_received; }  // every byte, as it came

    // Builders (little-endian).
    static QByteArray U8(quint8 v) { return QByteArray(1, static_cast<char>(v)); }
    static QByteArray U32(quint32 v) { return FakeServer::U32(v); }
    static QByteArray I64(qint64 v) { return FakeServer::U32(quint32(v)) + FakeServer::U32(quint32(quint64(v) >> 32)); }
    static QByteArray Str(const QString& s) { return FakeServer::Str(s); }
    static QByteArray DirectInit(const QString& user, const QString& type, quint32 token = 0)
    {
        return U8(1) + Str(user) + Str(type) + U32(token);
    }
    static QByteArray IndirectInit(quint32 token) { return U8(0) + U32(token); }
    // A FileInfo record: flag 1, name, size, extension, its (code, value) pairs.
    static QByteArray File(const QString& name, qint64 size, const QByteArray& ext = QByteArray(),
                           const QVector<QPair<quint32, quint32>>& pairs = {})
    {
        QByteArray out = U8(1) + Str(name) + I64(size) + U32(quint32(ext.size())) + ext + U32(quint32(pairs.size()));
        for (const auto& p : pairs)
            out += U32(p.first) + U32(p.second);
        return out;
    }
    // compress2 level 9: a zlib stream as peers send it.
    static QByteArray Zip(const QByteArray& plain);
    static QByteArray PlainFrame(const QByteArray& body) { return U32(quint32(body.size())) + body; }
    static QByteArray ObfuscatedFrame(const QByteArray& body, quint32 key) { return U32(key) + Xor(PlainFrame(body), key); }
    // XORs the bytes of a frame's length and body (as one sequence) with the key.
    static QByteArray Xor(QByteArray bytes, quint32 key);

    // Two consecutive free ports on 127.0.0.1 (for a listening port and the obfuscated one).
    static quint16 FreePortPair();

private:
    void Adopt(QTcpSocket* socket);
    void OnNewConnection();
    void OnReadyRead();

    bool m_obfuscated;
    bool m_raw = false;
    bool m_reading = true;
    QTcpServer m_server;
    QPointer<QTcpSocket> mp_socket;
    QByteArray m_received;
    QByteArray m_pending;
    QList<Frame> m_frames;
    int m_connectionCount = 0;
};

// A port on 127.0.0.1 where a connection attempt neither succeeds nor fails for a long while:
// a listener with a full queue that never accepts, so the system drops further handshakes.
class BlackHole
{
public:
    BlackHole() = default;
    ~BlackHole();
    BlackHole(const BlackHole&) = delete;
    BlackHole& operator=(const BlackHole&) = delete;

    bool Open();
    quint16 Port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    QList<QTcpSocket*> m_fillers;
};
