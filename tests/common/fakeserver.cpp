#include "common/fakeserver.h"

#include <QTest>

FakeServer::FakeServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeServer::OnNewConnection);
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
