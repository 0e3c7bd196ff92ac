// A stand-in central server on 127.0.0.1: accepts the client's connection, cuts what it receives
// into frames (u32 length, u32 code, fields) and sends frames or raw bytes back.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

class FakeServer : public QObject
{
    Q_OBJECT

public:
    struct Frame
    {
        quint32 code = 0;
        QByteArray fields;  // what follows the code
        QByteArray raw;     // the whole frame, length prefix included
    };

    explicit FakeServer(QObject* parent = nullptr);
    ~FakeServer() override;

    // Listens on 127.0.0.1 on a port the system picks.
    bool Listen();
    quint16 Port() const { return m_server.serverPort(); }

    // The connection accepted last; null before the first one and after it closed.
    QTcpSocket* Client() const { return mp_client; }
    bool HasClient() const { return mp_client && mp_client->state() == QAbstractSocket::ConnectedState; }
    int ConnectionCount() const { return m_connectionCount; }
    // Waits (running the event loop) until a connection is accepted that was not there before.
    bool WaitForConnection(int timeoutMs = 5000);

    const QList<Frame>& Frames() const { return m_frames; }
    QList<Frame> TakeFrames();
    void ClearFrames() { m_frames.clear(); }
    // Puts a frame back at the end of the collected ones.
    void Keep(const Frame& frame) { m_frames << frame; }
    // Waits until at least count frames have been collected.
    bool WaitForFrames(int count, int timeoutMs = 5000);
    // All collected frames, raw, back to back.
    QByteArray RawBytes() const;
    QList<quint32> Codes() const;

    // Sends the frame of a code and its fields; SendRaw writes the bytes as they are.
    void Send(quint32 code, const QByteArray& fields = QByteArray());
    void SendRaw(const QByteArray& bytes);
    // Closes the client connection from the server's side.
    void DropClient();

    // Field builders (little-endian).
    static QByteArray U8(quint8 v);
    static QByteArray U16(quint16 v);
    static QByteArray U32(quint32 v);
    static QByteArray I32(qint32 v) { return U32(static_cast<quint32>(v)); }
    static QByteArray Str(const QString& s);
    static QByteArray MakeFrame(quint32 code, const QByteArray& fields = QByteArray());
    // A login reply: accepted (greeting, address, a further text) or refused with a reason.
    static QByteArray LoginAccepted(const QString& greeting = QStringLiteral("welcome"));
    static QByteArray LoginRefused(const QString& reason);

signals:
    void FrameReceived();
    void ClientConnected();

private:
    void OnNewConnection();
    void OnReadyRead();

    QTcpServer m_server;
    QPointer<QTcpSocket> mp_client;
    QByteArray m_pending;
    QList<Frame> m_frames;
    int m_connectionCount = 0;
};
