#include "server/server.h"

#include "model/data.h"
#include "model/datasaver.h"
#include "model/settings.h"

void Server::CreateData()
{
    Type* user = d.NewType("user", PrimacyRoot, false, true);
    Type* isOnline = d.NewType("is_online", PrimacyLeaf, true, true);
    Type* isTracked = d.NewType("is_tracked", PrimacyLeaf, true, true);
    Type* isPrivileged = d.NewType("is_privileged", PrimacyLeaf, true, true);
    Type* isAway = d.NewType("is_away", PrimacyLeaf, true, true);
    Type* room = d.NewType("room", PrimacyRoot, false, true);
    Type* roomAutojoin = d.NewType("room_autojoin", PrimacyLeaf, true, true);
    Type* userCount = d.NewType("user_count", PrimacyLeaf, false, true);
    Type* isPrivate = d.NewType("is_private", PrimacyLeaf, true, true);
    Type* isMember = d.NewType("is_member", PrimacyLeaf, true, true);
    Type* inRoom = d.NewType("in_room", PrimacyLeaf, true, true);
    Type* roomOwner = d.NewType("room_owner", PrimacyReachable, true, true);
    Type* roomOperators = d.NewType("room_operators", PrimacyReachable, true, true);
    Type* roomMembers = d.NewType("room_members", PrimacyReachable, true, true);
    Type* isOwner = d.NewType("is_owner", PrimacyLeaf, true, true);
    Type* isOperator = d.NewType("is_operator", PrimacyLeaf, true, true);
    Type* averageSpeed = d.NewType("average_download_speed", PrimacyLeaf, false, true);
    Type* sharedFiles = d.NewType("shared_files_count", PrimacyLeaf, false, true);
    Type* countryCode = d.NewType("country_code", PrimacyLeaf, false, true);
    Type* inUserList = d.NewType("in_user_list", PrimacyLeaf, true, true);
    Type* group = d.NewType("user_list_group", PrimacyRoot, false, true);
    Type* groupPriority = d.NewType("group_download_priority", PrimacyLeaf, false, true);
    Type* isIgnored = d.NewType("is_ignored", PrimacyLeaf, true, true);
    Type* acceptUploads = d.NewType("accept_uploads", PrimacyLeaf, true, true);

    user->RelateToType(isOnline, Many, One, false);
    user->RelateToType(isTracked, Many, One, false);
    user->RelateToType(isPrivileged, Many, One, false);
    user->RelateToType(averageSpeed, Many, One, false);
    user->RelateToType(sharedFiles, Many, One, false);
    user->RelateToType(countryCode, Many, One, false);
    user->RelateToType(inUserList, One, One, false);
    user->RelateToType(isIgnored, Many, One, false);
    user->RelateToType(isAway, Many, One, false);
    inUserList->RelateToType(group, Many, Many, false);
    group->RelateToType(groupPriority, Many, One, false);
    group->RelateToType(acceptUploads, Many, One, false);
    room->RelateToType(user, Many, Many, false);
    room->RelateToType(userCount, Many, One, false);
    room->RelateToType(inRoom, Many, One, false);
    room->RelateToType(roomAutojoin, Many, One, false);
    room->RelateToType(roomOwner, One, One, false);
    room->RelateToType(roomOperators, One, One, false);
    room->RelateToType(roomMembers, One, One, false);
    roomOwner->RelateToType(user, Many, One, false);
    roomOperators->RelateToType(user, Many, Many, false);
    roomMembers->RelateToType(user, Many, Many, false);
    room->RelateToType(isPrivate, Many, One, false);
    room->RelateToType(isOwner, Many, One, false);
    room->RelateToType(isOperator, Many, One, false);
    room->RelateToType(isMember, Many, One, false);

    Type* addressRequest = d.NewType("user_address_request", PrimacyLeaf, true, true);
    addressRequest->RelateToType(user, One, Many, false);

    // The save file keeps the auto-join rooms, the user list with its groups and the ignore
    // list; everything else is told again by the server after each login.
    dataSaver->AddSavedType("room_autojoin");
    dataSaver->AddSavedByConnectionType("room", "room_autojoin");
    dataSaver->AddSavedType("in_user_list");
    dataSaver->AddSavedByConnectionType("user", "in_user_list");
    dataSaver->AddSavedType("user_list_group");
    dataSaver->AddSavedType("is_ignored");
    dataSaver->AddSavedByConnectionType("user", "is_ignored");
    dataSaver->AddSavedType("group_download_priority");
    dataSaver->AddSavedType("accept_uploads");

    SetSetting("availability_status", Value("available"));
    // The central server's endpoint is a setting, so a save file can point the client elsewhere.
    SetSetting("server_host", Value(kDefaultHost));
    SetSetting("server_port", Value(kDefaultPort));
}
