#include "peer/peermessenger.h"

#include "model/settings.h"
#include "model/timermanager.h"
#include "server/server.h"

PeerMessenger* peerMessenger = nullptr;
bool g_peerMessengerDeleted = false;

namespace {
const int kDefaultListeningPort = 2235;
}

PeerMessenger::PeerMessenger()
{
    peerMessenger = this;
    connect(gp_server, &Server::Connected, this, &PeerMessenger::OnConnectedToServer);
    CreateData();
    connect(gp_server, &Server::IndirectPeerConnectionFailure, this, &PeerMessenger::OnIndirectPeerConnectionFailure);
    connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &PeerMessenger::EveryHalfMinute);
    dataSaver->AddDataLoadedEventHandler(this);
}

PeerMessenger::~PeerMessenger()
{
    g_peerMessengerDeleted = true;
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    if (peerMessenger == this)
        peerMessenger = nullptr;
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
}

void PeerMessenger::GetUserSharedFiles(const QString& user)
{
    Q_UNUSED(user);
}

void PeerMessenger::OnConnectedToServer()
{
    gp_server->SetWaitPort(GetSettingInt("listening_port"), GetSettingInt("obfuscated_listening_port"));
}

void PeerMessenger::OnIndirectPeerConnectionFailure(uint i_req)
{
    Q_UNUSED(i_req);
}

void PeerMessenger::EveryHalfMinute()
{
}
