#include "server/server.h"

#include "model/data.h"
#include "model/log.h"
#include "model/md5.h"
#include "model/settings.h"
#include "model/timermanager.h"
#include "server/portforwarder.h"

#include <QTcpSocket>
#include <QtEndian>

Server* gp_server = nullptr;

const char* const Server::kDefaultHost = "server.tavrinel.net";
const char* const Server::kDefaultUsername = "TavrinelQT";
const char* const Server::kDefaultPassword = "MarrowLanternGlyph";

namespace {
// Socket data is copied through a scratch block of this size, so the body buffer grows with the
// bytes that have actually arrived rather than with what a frame announces.
const int kReadChunkSize = 64 * 1024;
// A body buffer that grew beyond this for one big frame is let go afterwards instead of being
// kept for the (small) frames that follow.
const size_t kKeptBodyCapacity = 4u * 1024u * 1024u;
}

Server::Server()
{
    mp_socket = new QTcpSocket(this);
    gp_server = this;
    m_readChunk.resize(kReadChunkSize);

    connect(mp_socket, &QTcpSocket::connected, this, &Server::OnConnected);
    connect(mp_socket, &QTcpSocket::readyRead, this, &Server::OnSocketReadyToRead);
    connect(mp_socket, &QTcpSocket::errorOccurred, this, &Server::OnSocketError);
    connect(mp_socket, &QTcpSocket::disconnected, this, &Server::OnSocketClosed);

    connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &Server::AttemptReconnect);
    connect(timerManager->everyHour(), &QTimer::timeout, this, &Server::RenewPortMapping);
    connect(timerManager->everyFiveMinutes(), &QTimer::timeout, this, &Server::EveryFiveMinutes);

    dataSaver->AddDataLoadedEventHandler(this);

    // Lives until the process ends, like its worker thread. One made earlier (with a stand-in
    // gateway) is used as it is.
    if (!portForwarder)
        new PortForwarder();
}

Server::~Server()
{
    // Destroying a connected socket emits its close signals; nothing here may react to them.
    mp_socket->disconnect(this);
    delete mp_socket;
    mp_socket = nullptr;
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    if (gp_server == this)
        gp_server = nullptr;
}

void Server::Connect()
{
    if (m_state != StateDisconnected)
        return;
    if (!HasSetting("username"))
        return;

    // A socket still closing from an earlier connection would refuse the new one; its close is
    // reported now, while the state still says disconnected.
    if (mp_socket->state() != QAbstractSocket::UnconnectedState)
        mp_socket->abort();
    ResetReceiveState();
    ++m_connectionSerial;

    m_state = StateConnecting;
    emit Connecting();

    QString host = GetSetting("server_host").trimmed();
    if (host.isEmpty())
        host = QString::fromLatin1(kDefaultHost);
    int port = GetSettingInt("server_port");
    if (port <= 0 || port > 65535)
        port = kDefaultPort;

    mp_socket->connectToHost(host, static_cast<quint16>(port), QIODevice::ReadWrite);
    Log("server", 1, QString("Attempting connection on port %1").arg(port));

    if (IsSettingOn("use_upnp"))
        portForwarder->Init();
}

void Server::OnConnected()
{
    Type* global = d.GetType("global");
    if (!global->HasItem(Value("username")) || !global->HasItem(Value("password"))) {
        SetSetting("username", Value(kDefaultUsername));
        SetSetting("password", Value(kDefaultPassword));
    }
    const QString username = GetSetting("username");
    const QString password = GetSetting("password");

    const QByteArray secret = username.toUtf8() + password.toUtf8();
    MD5 md5;
    md5.update(secret.constData(), static_cast<unsigned int>(secret.size()));
    md5.finalize();
    char* hex = md5.hex_digest();
    const QString digest = QString::fromLatin1(hex);
    delete[] hex;

    MemStream request;
    request.Write(uint32_t(1));
    request.Write(username);
    request.Write(password);
    request.Write(uint32_t(157));
    request.Write(digest);
    request.Write(uint32_t(100));
    SendMessage(request, true);

    m_reconnect = false;
}

void Server::OnConnectedToServer()
{
    if (m_firstLogin) {
        m_firstLogin = false;
        ItemSet rooms = g("room_autojoin").GetItems("room");
        for (const ItemPtr& room : rooms)
            EnterRoom(room.AsString(), false);
        if (IsSettingOn("use_upnp"))
            MapPorts();
    }

    // Sent as they stand: these repeat what the graph already records.
    if (GetSetting("availability_status") == "away")
        SendRequest(28, uint32_t(1));
    ItemSet tracked = g("is_tracked").GetItems("user");
    for (const ItemPtr& user : tracked)
        SendRequest(5, user.AsString());
    ItemSet pending = g("user_address_request").GetItems("user");
    for (const ItemPtr& user : pending)
        SendRequest(3, user.AsString());

    SetSetting("accept_room_list", Value("yes"));
}

void Server::MapPorts()
{
    portForwarder->AddPortMapping(mp_socket, GetSettingInt("listening_port"));
    const int obfuscated = GetSettingInt("obfuscated_listening_port");
    if (obfuscated != 0)
        portForwarder->AddPortMapping(mp_socket, obfuscated);
}

bool Server::SendMessage(MemStream& message, bool forced)
{
    if (forced ? m_state == StateDisconnected : m_state != StateLoggedIn)
        return false;
    const uint32_t length = static_cast<uint32_t>(message.GetWriteIndex());
    QByteArray frame;
    frame.reserve(static_cast<int>(length) + 4);
    char prefix[4];
    qToLittleEndian<quint32>(length, prefix);
    frame.append(prefix, 4);
    frame.append(message.GetBuffer(), static_cast<int>(length));
    return mp_socket->write(frame) == frame.size();
}

void Server::OnSocketReadyToRead()
{
    const uint64_t serial = m_connectionSerial;
    // A handler may close the socket (a refused login) or a bad length may drop it; whatever is
    // still buffered then belongs to a dead connection and is not read.
    while (serial == m_connectionSerial && mp_socket->isOpen()) {
        const qint64 available = mp_socket->bytesAvailable();
        if (available <= 0)
            return;

        if (!m_lengthKnown) {
            if (available < 4)
                return;
            uchar prefix[4];
            if (mp_socket->read(reinterpret_cast<char*>(prefix), 4) != 4)
                return;
            const uint32_t length = qFromLittleEndian<quint32>(prefix);
            // Below 4 there is no room for the code; above the cap it is garbage or hostile.
            if (length < 4 || length > kMaxFrameLength) {
                DropConnection(QString("Received a frame of %1 bytes, outside 4 to %2; closing the connection.")
                                   .arg(length)
                                   .arg(kMaxFrameLength));
                return;
            }
            m_bodyLength = length;
            m_lengthKnown = true;
            continue;
        }

        const qint64 received = static_cast<qint64>(m_body.GetWriteIndex());
        const qint64 wanted = qMin<qint64>(qMin<qint64>(m_bodyLength - received, available), kReadChunkSize);
        const qint64 got = mp_socket->read(m_readChunk.data(), wanted);
        if (got <= 0)
            return;
        m_body.WriteBuffer(m_readChunk.constData(), static_cast<size_t>(got));
        if (received + got < static_cast<qint64>(m_bodyLength))
            continue;

        uint32_t code = 0;
        m_body.Read(code);
        m_lengthKnown = false;
        HandleMessage(static_cast<int>(code), m_body);
        if (m_body.GetBufferSize() > kKeptBodyCapacity)
            m_body = MemStream();
        else
            m_body.Clear();
    }
}

void Server::DropConnection(const QString& reason)
{
    Log("server", 1, reason);
    ResetReceiveState();
    // Handled like any socket failure: abort() reports the close at once.
    mp_socket->abort();
    if (m_state != StateDisconnected)
        ConnectionLost();
}

void Server::ResetReceiveState()
{
    m_lengthKnown = false;
    m_bodyLength = 0;
    if (m_body.GetBufferSize() > kKeptBodyCapacity)
        m_body = MemStream();
    else
        m_body.Clear();
}

void Server::OnSocketError(QAbstractSocket::SocketError i_error)
{
    Q_UNUSED(i_error);
    ConnectionLost();
}

void Server::OnSocketClosed()
{
    ConnectionLost();
}

void Server::ConnectionLost()
{
    // A frame cut short by the close must never be completed by bytes of the next connection.
    ResetReceiveState();
    ++m_connectionSerial;

    if (m_requestedClose) {
        m_requestedClose = false;
        return;
    }
    switch (m_state) {
    case StateConnecting:
        m_state = StateDisconnected;
        emit ConnectionFailed("socket error");
        break;
    case StateLoggedIn:
        m_reconnect = true;
        OnDisconnected();
        break;
    default:
        break;
    }
}

void Server::OnDisconnected()
{
    m_state = StateDisconnected;
    emit Disconnected();
    ItemSet online = g("is_online").GetItems("user");
    online.Disconnect("is_online");
}

void Server::Disconnect()
{
    if (m_state != StateLoggedIn)
        return;
    OnDisconnected();
    m_requestedClose = true;
    m_reconnect = false;
    mp_socket->close();
}

void Server::AttemptReconnect()
{
    if (m_reconnect)
        Connect();
}

void Server::EveryFiveMinutes()
{
    SendRequest(32);
}

void Server::RenewPortMapping()
{
    if (m_state != StateLoggedIn || !IsSettingOn("use_upnp"))
        return;
    Log("server", 1, "Renewing UPnP port mapping.");
    MapPorts();
}

void Server::DataLoaded()
{
    if (!d.GetType("global")->HasItem(Value("use_upnp")))
        SetSetting("use_upnp", Value("yes"));
}
