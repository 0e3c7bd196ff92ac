#include "common/relayserver.h"

#include <QHostAddress>
#include <QtEndian>

namespace {

QByteArray U8(quint8 v) { return QByteArray(1, static_cast<char>(v)); }
QByteArray U16(quint16 v) { v = qToLittleEndian(v); return QByteArray(reinterpret_cast<char*>(&v), 2); }
QByteArray U32(quint32 v) { v = qToLittleEndian(v); return QByteArray(reinterpret_cast<char*>(&v), 4); }
QByteArray Str(const QString& s) { const QByteArray b = s.toUtf8(); return U32(quint32(b.size())) + b; }

const quint32 kLoopback = 0x7f000001;  // 127.0.0.1, first octet in the high byte as on the wire

// Reads the fields of one message in order; a short message leaves the rest empty or zero.
class Reader
{
public:
    explicit Reader(const QByteArray& bytes) : m_bytes(bytes) {}
    quint32 U32()
    {
        if (m_bytes.size() - m_pos < 4)
            return m_pos = m_bytes.size(), 0;
        const quint32 v = qFromLittleEndian<quint32>(m_bytes.constData() + m_pos);
        m_pos += 4;
        return v;
    }
    QString Str()
    {
        const quint32 n = U32();
        if (n > quint32(m_bytes.size() - m_pos))
            return m_pos = m_bytes.size(), QString();
        const QString s = QString::fromUtf8(m_bytes.constData() + m_pos, int(n));
        m_pos += int(n);
        return s;
    }

private:
    QByteArray m_bytes;
    int m_pos = 0;
};

// Joins two sockets: what one receives goes out on the other, and a close on one side closes
// the other once what is still on its way has been written. The byte counts grow as data passes.
class Pipe : public QObject
{
public:
    Pipe(QTcpSocket* dialler, quint16 target, qint64* bytesIn, qint64* bytesOut, QObject* parent)
        : QObject(parent), mp_dialler(dialler), mp_bytesIn(bytesIn), mp_bytesOut(bytesOut)
    {
        dialler->setParent(this);
        mp_target = new QTcpSocket(this);
        connect(mp_target, &QTcpSocket::connected, this, [this] {
            mp_target->write(m_early);
            m_early.clear();
            if (m_diallerGone)
                mp_target->disconnectFromHost();
        });
        connect(dialler, &QTcpSocket::readyRead, this, [this] {
            const QByteArray bytes = mp_dialler->readAll();
            *mp_bytesIn += bytes.size();
            if (mp_target->state() == QAbstractSocket::ConnectedState)
                mp_target->write(bytes);
            else
                m_early += bytes;
        });
        connect(mp_target, &QTcpSocket::readyRead, this, [this] {
            const QByteArray bytes = mp_target->readAll();
            *mp_bytesOut += bytes.size();
            mp_dialler->write(bytes);
        });
        connect(dialler, &QTcpSocket::disconnected, this, [this] {
            m_diallerGone = true;
            if (mp_target->state() == QAbstractSocket::ConnectedState)
                mp_target->disconnectFromHost();
            Finish();
        });
        connect(mp_target, &QTcpSocket::disconnected, this, [this] {
            m_targetGone = true;
            mp_dialler->disconnectFromHost();
            Finish();
        });
        connect(mp_target, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError && mp_target->state() != QAbstractSocket::ConnectedState) {
                m_targetGone = true;
                mp_dialler->abort();
                m_diallerGone = true;
                Finish();
            }
        });
        mp_target->connectToHost(QHostAddress::LocalHost, target);
    }

private:
    void Finish()
    {
        if (m_diallerGone && m_targetGone)
            deleteLater();
    }

    QTcpSocket* mp_dialler;
    QTcpSocket* mp_target;
    qint64* mp_bytesIn;
    qint64* mp_bytesOut;
    QByteArray m_early;
    bool m_diallerGone = false;
    bool m_targetGone = false;
};

}  // namespace

RelayServer::RelayServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &RelayServer::OnNewConnection);
}

RelayServer::~RelayServer()
{
    // The pipes count into the forwarders' records: they go first.
    for (const QPointer<QObject>& pipe : m_pipes)
        delete pipe.data();
    // Taken out first: an abort reports the disconnection at once.
    const QList<Client*> clients = m_clients;
    m_clients.clear();
    for (Client* c : clients) {
        if (c->socket) {
            c->socket->disconnect(this);
            c->socket->abort();
        }
        delete c;
    }
    qDeleteAll(m_forwarders);
}

bool RelayServer::Listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

bool RelayServer::IsReady(const QString& user) const
{
    for (const Client* c : m_clients)
        if (c->user == user && c->port != 0 && c->socket && c->socket->state() == QAbstractSocket::ConnectedState)
            return true;
    return false;
}

RelayServer::Client* RelayServer::ClientOf(const QString& user)
{
    // The newest login of a name is the one that counts.
    for (int k = m_clients.size() - 1; k >= 0; --k)
        if (m_clients[k]->user == user && m_clients[k]->socket)
            return m_clients[k];
    return nullptr;
}

void RelayServer::OnNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        auto* client = new Client;
        client->socket = socket;
        m_clients << client;
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { OnDisconnected(socket); });
    }
}

void RelayServer::OnDisconnected(QTcpSocket* socket)
{
    for (int k = 0; k < m_clients.size(); ++k) {
        Client* c = m_clients[k];
        if (c->socket != socket)
            continue;
        const QString user = c->user;
        m_clients.removeAt(k);
        delete c;
        socket->deleteLater();
        if (!user.isEmpty() && !ClientOf(user))
            TellWatchers(user, false);
        return;
    }
}

void RelayServer::OnReadyRead(QTcpSocket* socket)
{
    Client* client = nullptr;
    for (Client* c : m_clients)
        if (c->socket == socket)
            client = c;
    if (!client)
        return;
    client->pending += socket->readAll();
    while (client->pending.size() >= 8) {
        const quint32 length = qFromLittleEndian<quint32>(client->pending.constData());
        if (length < 4 || length > 16u * 1024 * 1024) {
            socket->abort();
            return;
        }
        if (quint32(client->pending.size()) - 4 < length)
            break;
        const quint32 code = qFromLittleEndian<quint32>(client->pending.constData() + 4);
        const QByteArray fields = client->pending.mid(8, int(length) - 4);
        client->pending.remove(0, int(length) + 4);
        Handle(*client, code, fields);
        if (!m_clients.contains(client))
            return;
    }
}

void RelayServer::Send(QTcpSocket* socket, quint32 code, const QByteArray& fields)
{
    if (socket)
        socket->write(U32(quint32(fields.size() + 4)) + U32(code) + fields);
}

void RelayServer::Handle(Client& client, quint32 code, const QByteArray& fields)
{
    Reader in(fields);
    if (!client.user.isEmpty())
        m_codes[client.user] << code;
    switch (code) {
    case 1: {  // login: everybody is welcome
        client.user = in.Str();
        m_codes[client.user] << code;
        Send(client.socket, 1, U8(1) + Str("welcome") + U32(kLoopback) + Str(QString()));
        TellWatchers(client.user, true);
        break;
    }
    case 2: {  // the listening ports; only the plain one is handed out
        client.port = quint16(in.U32());
        ForwardPortOf(client.user);
        break;
    }
    case 3: {  // where a user can be reached
        const QString user = in.Str();
        Client* other = ClientOf(user);
        const bool reachable = other && other->port != 0;
        Send(client.socket, 3, Str(user) + U32(reachable ? kLoopback : 0) + U32(reachable ? ForwardPortOf(user) : 0) +
                                   U32(0) + U16(0));
        break;
    }
    case 5: {  // watch a user
        const QString user = in.Str();
        m_watchers[user].insert(client.user);
        const bool online = ClientOf(user) != nullptr;
        QByteArray reply = Str(user) + U8(1) + U32(online ? 2 : 0) + U32(0) + U32(0) + U32(0) + U32(0) + U32(0);
        if (online)
            reply += Str("XX");
        Send(client.socket, 5, reply);
        break;
    }
    case 6:
        m_watchers[in.Str()].remove(client.user);
        break;
    case 7: {
        const QString user = in.Str();
        Send(client.socket, 7, Str(user) + U32(ClientOf(user) ? 2 : 0) + U8(0));
        break;
    }
    case 18: {  // ask another user to dial back
        const quint32 token = in.U32();
        const QString user = in.Str();
        const QString type = in.Str();
        Client* other = ClientOf(user);
        if (!other || client.port == 0) {
            Send(client.socket, 1001, U32(token));
            break;
        }
        Send(other->socket, 18, Str(client.user) + Str(type) + U32(kLoopback) + U32(ForwardPortOf(client.user)) +
                                    U32(token) + U8(0) + U32(0));
        break;
    }
    case 1001: {  // a dial-back failed: the requester hears of it
        const quint32 token = in.U32();
        const QString user = in.Str();
        if (Client* other = ClientOf(user))
            Send(other->socket, 1001, U32(token));
        break;
    }
    default:
        break;
    }
}

void RelayServer::TellWatchers(const QString& user, bool online)
{
    for (const QString& watcher : m_watchers.value(user))
        if (Client* c = ClientOf(watcher))
            Send(c->socket, 7, Str(user) + U32(online ? 2 : 0) + U8(0));
}

quint16 RelayServer::ForwardPortOf(const QString& user)
{
    Client* client = ClientOf(user);
    Forwarder* f = m_forwarders.value(user);
    if (!f) {
        f = new Forwarder;
        f->owner = user;
        f->server = std::make_unique<QTcpServer>();
        f->server->listen(QHostAddress::LocalHost, 0);
        connect(f->server.get(), &QTcpServer::newConnection, this, [this, f] { OnForwardedConnection(f); });
        m_forwarders.insert(user, f);
    }
    if (client && client->port != 0)
        f->target = client->port;
    return f->server->serverPort();
}

void RelayServer::OnForwardedConnection(Forwarder* f)
{
    while (QTcpSocket* socket = f->server->nextPendingConnection()) {
        ++f->connections;
        m_pipes << new Pipe(socket, f->target, &f->bytesIn, &f->bytesOut, this);
    }
}
