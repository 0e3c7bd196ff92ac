#include "peer/peermessenger.h"

#include "model/helpers.h"
#include "model/log.h"
#include "model/settings.h"
#include "model/timermanager.h"
#include "peer/peeritems.h"
#include "server/server.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <cstdlib>
#include <ctime>

PeerMessenger* peerMessenger = nullptr;
bool g_peerMessengerDeleted = false;

using peeritems::kCategory;

namespace {
const int kDefaultListeningPort = 2235;

// A user's address and ports: a request is dialled, and a waiting attempt resumes, once all are in.
void AddAddressNodes(PathNode* user)
{
    new PathNode(user, "user_address", PathConnected);
    new PathNode(user, "user_port", PathConnected);
    new PathNode(user, "user_obfuscated_port", PathConnected);
}

std::function<QDateTime()>& Clock()
{
    static std::function<QDateTime()> s_clock;
    return s_clock;
}

std::set<QString> g_inFunctions;
} // namespace

QDateTime PeerMessenger::Now()
{
    return Clock() ? Clock()() : QDateTime::currentDateTime();
}

QString PeerMessenger::NowText()
{
    // Every queued message is stamped: a burst of them takes the text made once per second.
    return Clock() ? StoredTimeText(Clock()()) : CurrentTimeText();
}

void PeerMessenger::SetClock(std::function<QDateTime()> clock)
{
    Clock() = std::move(clock);
}

PeerMessenger::PeerMessenger()
{
    peerMessenger = this;
    connect(gp_server, &Server::Connected, this, &PeerMessenger::OnConnectedToServer);
    CreateData();

    AddHandler(d.GetType("peer_socket")->itemAdded, this, &PeerMessenger::OnPeerSocketItemAdded);
    AddHandler(d.GetType("peer_socket")->itemRemoved, this, &PeerMessenger::OnPeerSocketItemRemoved);
    AddHandler(d.GetType("peer_connection_request")->itemRemoved, this, &PeerMessenger::OnPeerConnectionRequestRemoved);
    AddHandler(d.GetType("unsent_message")->itemRemoved, this, &PeerMessenger::OnUnsentMessageRemoved);

    auto* request = new PathNode(&d, "peer_connection_request");
    new PathNode(request, "peer_connection_request_id", PathConnected);
    new PathNode(request, "peer_connection_type", PathConnected);
    AddAddressNodes(new PathNode(request, "user", PathConnected));
    auto* onRequest = new EventHandler<PeerMessenger, ItemPtr>(this, &PeerMessenger::OnPeerConnectionRequest);
    AddDataHandler(onRequest);
    d.AddPathEventHandler(request, onRequest);

    auto* user = new PathNode(&d, "user");
    AddAddressNodes(user);
    auto* onAddress = new EventHandler<PeerMessenger, ItemPtr>(this, &PeerMessenger::OnUserAddress);
    AddDataHandler(onAddress);
    d.AddPathEventHandler(user, onAddress);

    connect(gp_server, &Server::IndirectPeerConnectionFailure, this, &PeerMessenger::OnIndirectPeerConnectionFailure);
    connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &PeerMessenger::EveryHalfMinute);
    dataSaver->AddDataLoadedEventHandler(this);
    srand(static_cast<unsigned>(time(nullptr)));
}

PeerMessenger::~PeerMessenger()
{
    // First: sockets that die with the listeners below report their end, and nothing may act on it.
    g_peerMessengerDeleted = true;
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    FreeAtShutDown();
    if (peerMessenger == this)
        peerMessenger = nullptr;
}

void PeerMessenger::FreeAtShutDown()
{
    // Nothing is reported any more: the sockets still open, the queued messages and the
    // activity stamps are simply freed, with the records that point at them.
    Data::Scope scope(&d);
    std::set<QTcpSocket*> sockets;
    for (const char* kind :
         {"peer_connection_request_socket", "uninitialized_socket", "peer_socket", "connect_to_peer_request_socket"})
        for (ItemPtr record : d.GetType(kind)->GetItems()) {
            sockets.insert(peeritems::SocketOf(record));
            record.Remove();
        }
    // File sockets waiting for their ticket have a receive state and no record.
    for (const auto& entry : m_socketBuffers)
        if (!entry.second.m_handedOff)
            sockets.insert(entry.first);
    m_socketBuffers.clear();
    for (QTcpSocket* socket : sockets) {
        socket->disconnect(this);
        delete socket;
    }
    for (ItemPtr item : d.GetType("unsent_message")->GetItems())
        DropUnsentMessage(item);
}

void PeerMessenger::CreateData()
{
    // Sockets.
    Type* uninitializedSocket = d.NewType("uninitialized_socket", PrimacyRoot, false, false);
    Type* peerSocket = d.NewType("peer_socket", PrimacyRoot, false, false);
    Type* connectionOpenTime = d.NewType("connection_open_time", PrimacyLeaf, false, true);
    Type* lastActivityTime = d.NewType("last_activity_time", PrimacyRoot, false, true);
    Type* isObfuscated = d.NewType("is_obfuscated", PrimacyLeaf, true, true);
    Type* user = d.GetType("user");
    peerSocket->RelateToType(user, Many, One, false);
    peerSocket->RelateToType(connectionOpenTime, Many, One, false);
    peerSocket->RelateToType(lastActivityTime, Many, One, false);
    peerSocket->RelateToType(isObfuscated, Many, One, false);
    uninitializedSocket->RelateToType(isObfuscated, Many, One, false);

    // Connection requests relayed by the server, and the addresses they carry.
    Type* request = d.NewType("peer_connection_request", PrimacyRoot, true, false);
    Type* requestId = d.NewType("peer_connection_request_id", PrimacyLeaf, false, true);
    Type* connectionType = d.NewType("peer_connection_type", PrimacyLeaf, false, true);
    Type* requestSocket = d.NewType("peer_connection_request_socket", PrimacyRoot, false, false);
    Type* userAddress = d.NewType("user_address", PrimacyLeaf, false, true);
    Type* userPort = d.NewType("user_port", PrimacyLeaf, false, true);
    Type* userObfuscatedPort = d.NewType("user_obfuscated_port", PrimacyLeaf, false, true);
    Type* socketCreationTime = d.NewType("socket_creation_time", PrimacyLeaf, false, true);
    request->RelateToType(requestId, Many, One, false);
    request->RelateToType(requestSocket, One, One, false);
    request->RelateToType(user, Many, One, false);
    request->RelateToType(connectionType, Many, One, false);
    request->RelateToType(isObfuscated, Many, One, false);
    requestSocket->RelateToType(socketCreationTime, Many, One, false);
    user->RelateToType(userAddress, Many, One, false);
    user->RelateToType(userPort, Many, One, false);
    user->RelateToType(userObfuscatedPort, Many, One, false);

    // Searches, their results and the server's related searches.
    Type* searchRequest = d.NewType("search_request", PrimacyRoot, false, false);
    Type* searchText = d.NewType("search_request_text", PrimacyRoot, false, true);
    Type* wishlistSearch = d.NewType("wishlist_search", PrimacyLeaf, true, true);
    Type* searchResults = d.NewType("search_results", PrimacyRoot, true, true);
    Type* searchResult = d.NewType("search_result", PrimacyReachable, true, true);
    Type* userAvailable = d.NewType("search_results_user_available", PrimacyLeaf, false, true);
    Type* userSpeed = d.NewType("search_results_user_speed", PrimacyLeaf, false, true);
    Type* uploadsInQueue = d.NewType("search_results_uploads_in_queue", PrimacyLeaf, false, true);
    Type* fileName = d.NewType("search_result_file_name", PrimacyLeaf, false, true);
    Type* fileFolder = d.NewType("search_result_file_folder", PrimacyLeaf, false, true);
    Type* fileSize = d.NewType("file_size", PrimacyLeaf, false, true);
    searchRequest->RelateToType(searchText, Many, One, false);
    searchRequest->RelateToType(wishlistSearch, Many, One, false);
    searchRequest->RelateToType(searchResults, One, Many, true);
    searchResults->RelateToType(searchResult, One, Many, true);
    searchResults->RelateToType(user, Many, One, false);
    searchResults->RelateToType(userAvailable, Many, One, false);
    searchResults->RelateToType(userSpeed, Many, One, false);
    searchResults->RelateToType(uploadsInQueue, Many, One, false);
    searchResult->RelateToType(fileName, Many, One, false);
    searchResult->RelateToType(fileFolder, Many, One, false);
    searchResult->RelateToType(fileSize, Many, One, false);
    Type* correlation = d.NewType("search_correlation", PrimacyReachable, true, true);
    Type* correlationText = d.NewType("correlation_text", PrimacyLeaf, false, true);
    Type* correlationRank = d.NewType("correlation_rank", PrimacyLeaf, false, true);
    searchText->RelateToType(correlation, One, Many, false);
    correlation->RelateToType(correlationText, Many, One, false);
    correlation->RelateToType(correlationRank, Many, One, false);
    d.NewType("mpeg_version", PrimacyLeaf, false, true);
    d.NewType("channel_mode", PrimacyLeaf, false, true);
    d.NewType("audio_frequency", PrimacyLeaf, false, true);
    Type* bitrateMode = d.NewType("bitrate_mode", PrimacyLeaf, false, true);
    Type* bitrate = d.NewType("bitrate", PrimacyLeaf, false, true);
    Type* lengthSeconds = d.NewType("length_seconds", PrimacyLeaf, false, true);
    searchResult->RelateToType(bitrateMode, Many, One, false);
    searchResult->RelateToType(bitrate, Many, One, false);
    searchResult->RelateToType(lengthSeconds, Many, One, false);

    // Messages waiting for a connection.
    Type* unsentMessage = d.NewType("unsent_message", PrimacyRoot, false, true);
    Type* sendOrder = d.NewType("send_order", PrimacyLeaf, false, true);
    Type* sendTime = d.NewType("send_time", PrimacyLeaf, false, true);
    unsentMessage->RelateToType(user, Many, One, false);
    unsentMessage->RelateToType(sendOrder, One, One, false);
    unsentMessage->RelateToType(sendTime, Many, One, false);

    // Outgoing connection attempts.
    Type* attempt = d.NewType("connect_to_peer_request", PrimacyRoot, true, true);
    Type* attemptStatus = d.NewType("connect_to_peer_request_status", PrimacyLeaf, false, true);
    Type* attemptSocket = d.NewType("connect_to_peer_request_socket", PrimacyRoot, false, true);
    Type* indirectAttempt = d.NewType("indirect_connect_to_peer_request", PrimacyRoot, false, true);
    attempt->RelateToType(attemptStatus, Many, One, false);
    attempt->RelateToType(attemptSocket, One, One, false);
    attempt->RelateToType(user, Many, One, false);
    attempt->RelateToType(connectionType, Many, One, false);
    attempt->RelateToType(indirectAttempt, One, One, false);
    attemptSocket->RelateToType(socketCreationTime, Many, One, false);
    indirectAttempt->RelateToType(sendTime, Many, One, false);
    attemptSocket->RelateToType(user, Many, One, false);
    attemptSocket->RelateToType(connectionType, Many, One, false);
    attemptSocket->RelateToType(isObfuscated, Many, One, false);
    indirectAttempt->RelateToType(user, Many, One, false);
    indirectAttempt->RelateToType(connectionType, Many, One, false);
}

void PeerMessenger::DataLoaded()
{
    if (GetSettingInt("listening_port") == 0) {
        SetSetting("listening_port", Value(kDefaultListeningPort));
        SetSetting("obfuscated_listening_port", Value(kDefaultListeningPort + 1));
    }
    if (GetSettingInt("obfuscated_listening_port") == 0)
        SetSetting("obfuscated_listening_port", Value(GetSettingInt("listening_port") + 1));

    // A port chosen in the dialog takes effect at the start after the choice, and once only.
    ItemPtr newPort = d.GetType("global")->HasItem(Value("new_listening_port"));
    if (newPort && newPort["global_value"]) {
        ItemPtr value = newPort["global_value"];
        d.GetType("global")->GetItem(Value("listening_port")) += value;
        SetSetting("obfuscated_listening_port", Value(value.AsInt() + 1));
        newPort.Remove();
    }

    const int port = GetSettingInt("listening_port");
    const int obfuscatedPort = GetSettingInt("obfuscated_listening_port");
    // A second load (never in a normal run) rebinds instead of failing.
    m_listener.close();
    m_obfuscatedListener.close();
    if (!m_listener.listen(QHostAddress::Any, static_cast<quint16>(port)))
        Log(kCategory, 1, QString("Could not listen on port %1: %2").arg(port).arg(m_listener.errorString()));
    // Taken as 16 bits, port 65536 would become 0: any free port, which no peer is told of.
    if (obfuscatedPort < 1 || obfuscatedPort > 65535)
        Log(kCategory, 1, QString("Obfuscated listening port %1 is out of range, not listening for obfuscated "
                                  "connections")
                              .arg(obfuscatedPort));
    else if (!m_obfuscatedListener.listen(QHostAddress::Any, static_cast<quint16>(obfuscatedPort)))
        Log(kCategory, 1,
            QString("Could not listen on obfuscated port %1: %2").arg(obfuscatedPort).arg(m_obfuscatedListener.errorString()));

    connect(&m_listener, &QTcpServer::newConnection, this, &PeerMessenger::OnNewConnection, Qt::UniqueConnection);
    connect(&m_obfuscatedListener, &QTcpServer::newConnection, this, &PeerMessenger::OnNewObfuscatedConnection,
            Qt::UniqueConnection);
}

quint16 PeerMessenger::ListeningPort(bool obfuscated) const
{
    const QTcpServer& listener = obfuscated ? m_obfuscatedListener : m_listener;
    return listener.isListening() ? listener.serverPort() : 0;
}

size_t PeerMessenger::ReceiveBufferCapacity(QTcpSocket* socket) const
{
    auto it = m_socketBuffers.find(socket);
    return it == m_socketBuffers.end() ? 0 : it->second.m_buffer.GetBufferSize();
}

void PeerMessenger::OnConnectedToServer()
{
    gp_server->SetWaitPort(GetSettingInt("listening_port"), GetSettingInt("obfuscated_listening_port"));
}

void PeerMessenger::OnNewConnection()
{
    AcceptConnection(m_listener, false);
}

void PeerMessenger::OnNewObfuscatedConnection()
{
    AcceptConnection(m_obfuscatedListener, true);
}

void PeerMessenger::AcceptConnection(QTcpServer& listener, bool obfuscated)
{
    QTcpSocket* socket = listener.nextPendingConnection();
    if (!socket)
        return;
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    WatchSocket(socket);
    ItemPtr record = d.GetType("uninitialized_socket")->NewItem(Value(socket));
    if (obfuscated)
        record.NewItem("is_obfuscated");
    // Made now rather than at the first bytes, so a peer that never sends any is still timed.
    ReceiveState(socket, obfuscated).m_waitingSince = Now();
}

void PeerMessenger::WatchSocket(QTcpSocket* socket)
{
    connect(socket, &QTcpSocket::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
    connect(socket, &QTcpSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
    connect(socket, &QTcpSocket::disconnected, this, &PeerMessenger::OnSocketClosed);
}

void PeerMessenger::OnSocketClosed()
{
    DisposeOfSocket(qobject_cast<QTcpSocket*>(sender()));
}

void PeerMessenger::OnSocketError(QAbstractSocket::SocketError i_error)
{
    Q_UNUSED(i_error);
    DisposeOfSocket(qobject_cast<QTcpSocket*>(sender()));
}

int PeerMessenger::GetUserPort(ItemPtr i_user, bool& o_obfuscated)
{
    const int obfuscatedPort = i_user["user_obfuscated_port"].AsInt();
    o_obfuscated = obfuscatedPort != 0;
    return o_obfuscated ? obfuscatedPort : i_user["user_port"].AsInt();
}

void PeerMessenger::OnPeerSocketItemAdded(ItemPtr i_item)
{
    auto* lastActivity = new QDateTime(Now());
    i_item += d.GetType("last_activity_time")->GetItem(Value(lastActivity));
}

void PeerMessenger::OnPeerSocketItemRemoved(ItemPtr i_item)
{
    ItemPtr lastActivity = i_item["last_activity_time"];
    if (!lastActivity)
        return;
    auto* time = ItemObject<QDateTime>(lastActivity);
    lastActivity.Remove();
    delete time;
}

// ---------------------------------------------------------------------------- function markers

InFunction::InFunction(const char* name) : m_functionName(QString::fromLatin1(name))
{
    g_inFunctions.insert(m_functionName);
}

InFunction::~InFunction()
{
    Dispose();
}

void InFunction::Dispose()
{
    if (m_disposed)
        return;
    g_inFunctions.erase(m_functionName);
    m_disposed = true;
}

bool IsInFunction(const char* name)
{
    return g_inFunctions.count(QString::fromLatin1(name)) != 0;
}
