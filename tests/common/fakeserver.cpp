#include "common/fakeserver.h"

#include <QHostAddress>
#include <QTest>
#include <QtEndian>

FakeServer::FakeServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeServer::OnNewConnection);
}

bool FakeServer::WaitForConnection(int timeoutMs)
{
    const int before = m_connectionCount;
    return QTest::qWaitFor([&] { return m_connectionCount > before; }, timeoutMs);
}

bool FakeServer::WaitForFrames(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_frames.size() >= count; }, timeoutMs);
}

QByteArray FakeServer::RawBytes() const
{
    QByteArray all;
    for (const Frame& f : m_frames)
        all += f.raw;
    return all;
}

QList<quint32> FakeServer::Codes() const
{
    QList<quint32> codes;
    for (const Frame& f : m_frames)
        codes << f.code;
    return codes;
}

void FakeServer::SendRaw(const QByteArray& bytes)
{
    if (!mp_client)
        return;
    mp_client->write(bytes);
    mp_client->flush();
}

QByteArray FakeServer::U16(quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    return QByteArray(b, 2);
}

QByteArray FakeServer::U32(quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    return QByteArray(b, 4);
}

QByteArray FakeServer::Str(const QString& s)
{
    const QByteArray bytes = s.toUtf8();
    return U32(static_cast<quint32>(bytes.size())) + bytes;
}

QByteArray FakeServer::MakeFrame(quint32 code, const QByteArray& fields)
{
    return U32(static_cast<quint32>(fields.size() + 4)) + U32(code) + fields;
}

QByteArray FakeServer::LoginAccepted(const QString& greeting)
{
    return MakeFrame(1, U8(1) + Str(greeting) + U32(0x0100007f) + Str(QString()));
}

void FakeServer::OnNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        // The newest connection is the client's current one; an older one is gone or going.
        if (mp_client) {
            mp_client->disconnect(this);
            mp_client->abort();
            mp_client->deleteLater();
        }
        mp_client = socket;
        m_pending.clear();
        ++m_connectionCount;
        connect(socket, &QTcpSocket::readyRead, this, &FakeServer::OnReadyRead);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void FakeServer::OnReadyRead()
{
    if (sender() != mp_client)
        return;
    m_pending += mp_client->readAll();
    while (m_pending.size() >= 8) {
        const quint32 length = qFromLittleEndian<quint32>(m_pending.constData());
        if (static_cast<quint32>(m_pending.size()) - 4 < length)
            break;
        Frame f;
        f.raw = m_pending.left(static_cast<int>(length) + 4);
        f.code = qFromLittleEndian<quint32>(m_pending.constData() + 4);
        f.fields = f.raw.mid(8);
        m_frames << f;
        m_pending.remove(0, static_cast<int>(length) + 4);
    }
}
