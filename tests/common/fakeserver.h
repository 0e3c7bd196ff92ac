// A stand-in central server on 127.0.0.1: accepts the client's connection, cuts what it receives
// into frames (u32 length, u32 code, fields) and sends frames or raw bytes back.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

class FakeServer : public QObject
{
public:
    struct Frame
    {
        quint32 code = 0;
        QByteArray fields;  // what follows the code
        QByteArray raw;     // the whole frame, length prefix included
    };

    explicit FakeServer(QObject* parent = nullptr);
    ~FakeServer() override { if (mp_client) mp_client->abort(); }

    // Listens on 127.0.0.1 on a port the system picks.
    bool Listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    quint16 Port() const { return m_server.serverPort(); }
    // The connection accepted last, while it is open.
    bool HasClient() const { return mp_client && mp_client->state() == QAbstractSocket::ConnectedState; }
    int ConnectionCount() const { return m_connectionCount; }
    // Waits (running the event loop) until a connection is accepted that was not there before.
    bool WaitForConnection(int timeoutMs = 5000)
    {
        const int before = m_connectionCount;
        return QTest::qWaitFor([&] { return m_connectionCount > before; }, timeoutMs);
    }

    const QList<Frame>& Frames() const { return m_frames; }
    QList<Frame> TakeFrames() { QList<Frame> f; f.swap(m_frames); return f; }
    void ClearFrames() { m_frames.clear(); }
    void Keep(const Frame& frame) { m_frames << frame; }  // back at the end of the collected ones
    bool WaitForFrames(int count, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return m_frames.size() >= count; }, timeoutMs);
    }
    QByteArray RawBytes() const  // all collected frames, back to back
    {
        QByteArray all;
        for (const Frame& f : m_frames)
            all += f.raw;
        return all;
    }
    QList<quint32> Codes() const
    {
        QList<quint32> codes;
        for (const Frame& f : m_frames)
            codes << f.code;
        return codes;
    }

    void Send(quint32 code, const QByteArray& fields = QByteArray()) { SendRaw(MakeFrame(code, fields)); }
    void SendRaw(const QByteArray& bytes) { if (mp_client) mp_client->write(bytes), mp_client->flush(); }
    // Closes the client connection from the server's side.
    void DropClient() { if (mp_client) mp_client->disconnectFromHost(); }

    // Field builders (little-endian).
    static QByteArray U8(quint8 v) { return QByteArray(1, static_cast<char>(v)); }
    static QByteArray U16(quint16 v) { v = qToLittleEndian(v); return QByteArray(reinterpret_cast<char*>(&v), 2); }
    static QByteArray U32(quint32 v) { v = qToLittleEndian(v); return QByteArray(reinterpret_cast<char*>(&v), 4); }
    static QByteArray I32(qint32 v) { return U32(static_cast<quint32>(v)); }
    static QByteArray Str(const QString& s) { const QByteArray b = s.toUtf8(); return U32(quint32(b.size())) + b; }
    static QByteArray MakeFrame(quint32 code, const QByteArray& fields = QByteArray())
    {
        return U32(static_cast<quint32>(fields.size() + 4)) + U32(code) + fields;
    }
    // A login reply: accepted (greeting, address, a further text) or refused with a reason.
    static QByteArray LoginAccepted(const QString& greeting = QStringLiteral("welcome"))
    {
        return MakeFrame(1, U8(1) + Str(greeting) + U32(0x0100007f) + Str(QString()));
    }
    static QByteArray LoginRefused(const QString& reason) { return MakeFrame(1, U8(0) + Str(reason)); }

private:
    void OnNewConnection();
    void OnReadyRead();

    QTcpServer m_server;
    QPointer<QTcpSocket> mp_client;
    QByteArray m_pending;
    QList<Frame> m_frames;
    int m_connectionCount = 0;
};
