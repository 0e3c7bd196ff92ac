// What happens to each message that arrives on an established messaging connection.
#include "peer/peermessenger.h"

#include "model/helpers.h"
#include "model/log.h"
#include "model/zlibstream.h"
#include "peer/peeritems.h"
#include "peer/peerreaders.h"
#include "shares/searchparser.h"
#include "shares/sharedfoldersmanager.h"

#include <QDateTime>

#include <vector>

using namespace peeritems;

QString PeerMessenger::MessageCodeToString(int i_code)
{
    switch (i_code) {
    case 1: return "PM_SAY";
    case 4: return "PM_GET_SHARED_FILE_LIST";
    case 5: return "PM_SHARED_FILE_LIST";
    case 8: return "PM_FILE_SEARCH_REQUEST";
    case 9: return "PM_FILE_SEARCH_RESULT";
    case 10: return "PM_INVITE_USER_TO_ROOM";
    case 14: return "PM_CANCELLED_QUEUED_TRANSFER";
    case 15: return "PM_USER_INFO_REQUEST";
    case 16: return "PM_USER_INFO_REPLY";
    case 33: return "PM_SEND_CONNECT_TOKEN";
    case 34: return "PM_MOVE_DOWNLOAD_TO_TOP";
    case 36: return "PM_GET_SHARED_FILES_IN_FOLDER";
    case 37: return "PM_SHARED_FILES_IN_FOLDER";
    case 40: return "PM_TRANSFER_REQUEST";
    case 41: return "PM_TRANSFER_RESPONSE";
    case 42: return "PM_PLACEHOLD_UPLOAD";
    case 43: return "PM_QUEUE_UPLOAD";
    case 44: return "PM_UPLOAD_PLACE_IN_LINE";
    case 46: return "PM_UPLOAD_FAILED";
    case 47: return "PM_EXACT_FILE_SEARCH_REQUEST";
    case 48: return "PM_QUEUED_DOWNLOADS";
    case 49: return "PM_INDIRECT_FILE_SEARCH_REQUEST";
    case 50: return "PM_UPLOAD_DENIED";
    case 51: return "PM_UPLOAD_PLACE_IN_LINE_REQUEST";
    case 52: return "PM_NOTHING";
    default: return QString::number(i_code) + " (unknown)";
    }
}

ShareListResult ReadShareList(InputStream& stream, FileInfoMap& share, AttributeTranslationTable& table,
                              size_t maxRecords, size_t* o_longPaths)
{
    share.clear();
    if (o_longPaths)
        *o_longPaths = 0;
    uint32_t folders;
    if (!stream.ReadCount(folders))
        return ShareListResult::Malformed;
    // Counted from what each header announces, before its records are read.
    size_t records = folders;
    if (records > maxRecords)
        return ShareListResult::TooManyRecords;
    for (uint32_t k = 0; k < folders; ++k) {
        std::string path;
        uint32_t count;
        if (!stream.Read(path) || !stream.ReadCount(count))
            return ShareListResult::Malformed;
        records += count;
        if (records > maxRecords)
            return ShareListResult::TooManyRecords;
        const bool tooLong = path.size() > kMaxSharePathBytes;
        std::set<FileInfo> files;
        for (uint32_t f = 0; f < count; ++f) {
            FileInfo file;
            if (!stream.Read(file))
                return ShareListResult::Malformed;
            if (!tooLong)
                files.insert(std::move(file));
        }
        if (tooLong) {
            if (o_longPaths)
                ++*o_longPaths;
            continue;
        }
        // A folder given twice keeps the later set.
        share[std::move(path)] = std::move(files);
    }
    if (!stream.Read(table))
        table.clear();
    return ShareListResult::Read;
}

SearchReplyResult StoreSearchReply(const QString& connectionUser, InputStream& stream, ItemPtr& o_results)
{
    o_results = ItemPtr();
    QString user;
    uint32_t token;
    if (!stream.Read(user) || !stream.Read(token) || user != connectionUser)
        return SearchReplyResult::Refused;
    ItemPtr request = d.GetType("search_request")->HasItem(Value(token));
    if (!request)
        return SearchReplyResult::Dropped;
    SearchParser parser;
    parser.SetSearchText(request["search_request_text"].AsString());

    std::vector<FileInfo> files;
    if (!stream.Read(files))
        return SearchReplyResult::Refused;
    // What follows the files is optional: an older peer stops early.
    uint8_t freeSlot = 0;
    uint32_t speed = 0;
    uint32_t queued = 0;
    AttributeTranslationTable table;
    if (stream.Read(freeSlot) && stream.Read(speed))
        if (stream.Read(queued))
            stream.Read(table);

    Type* nameType = d.GetType("search_result_file_name");
    Type* folderType = d.GetType("search_result_file_folder");
    Type* resultType = d.GetType("search_result");
    Type* resultsType = d.GetType("search_results");
    ItemPtr userItem = UserItem(user);
    ItemPtr results = resultsType->NewItem();
    for (const FileInfo& file : files) {
        if (!parser.IsMatch(ToQString(file.name))) {
            Log("Search", 1, QString("Filtered out search result %1 from user %2").arg(ToQString(file.name), user));
            continue;
        }
        ItemPtr name = nameType->GetItem(GetFileName(file.name));
        ItemPtr folder = folderType->GetItem(GetRemoteFolder(file.name));
        bool listedBefore = false;
        for (const ItemPtr& earlier : d.GetItems(name, folder, "search_result")) {
            ItemPtr earlierResults = earlier["search_results"];
            if (earlierResults && earlierResults.IsConnected(userItem)) {
                listedBefore = true;
                break;
            }
        }
        if (listedBefore)
            continue;
        ItemPtr result = resultType->NewItem();
        for (const auto& attribute : file.attributes.attributes) {
            const int value = static_cast<int>(attribute.second);
            switch (attribute.first) {
            case 0: result += d.GetType("bitrate")->GetItem(value); break;
            case 1: result += d.GetType("length_seconds")->GetItem(value); break;
            case 2: result += d.GetType("bitrate_mode")->GetItem(value == 0 ? "cbr" : "vbr"); break;
            default: break;
            }
        }
        result += results;
        result += name;
        result += folder;
        result += d.GetType("file_size")->GetItem(Value(static_cast<long long>(file.size)));
    }
    if (!results.IsConnected(resultType)) {
        results.Remove();
        return SearchReplyResult::Dropped;
    }
    results += request;
    results += userItem;
    results += d.GetType("search_results_user_available")->GetItem(freeSlot ? "yes" : "no");
    results += d.GetType("search_results_user_speed")->GetItem(speed);
    results += d.GetType("search_results_uploads_in_queue")->GetItem(queued);
    o_results = results;
    return SearchReplyResult::Stored;
}

void PeerMessenger::ShareListFailed(const QString& i_user)
{
    m_shareListsAwaited.erase(i_user);
    emit UserShareFailed(i_user);
}

bool PeerMessenger::HandlePeerMessage(QTcpSocket* ip_socket, MemStream& i_message, ItemPtr i_peerSocket,
                                      const QString& i_user)
{
    Q_UNUSED(ip_socket);
    const QString& user = i_user;
    uint32_t code;
    if (!i_message.Read(code)) {
        Log(kCategory, 1,
            QString("Could not read message code on connection to user %1, disposing of socket").arg(user),
            UserItem(user));
        return false;
    }
    TouchActivity(i_peerSocket, Now());
    Log(kCategory, 1,
        QString("Received %1 message from user %2").arg(MessageCodeToString(static_cast<int>(code)), user),
        UserItem(user));

    MemStream& in = i_message;
    switch (code) {
    case 4: {
        if (!sharedFoldersManager || ReplyBacklogFull(user, code))
            return true;
        MemStream reply = sharedFoldersManager->GetSharedFilesMessage(user);
        if (reply.GetWriteIndex() > 0)
            SendMessage(user, reply);
        return true;
    }
    case 5:
    case 9: {
        std::string body;
        switch (Inflate(in.GetReadBuffer(), in.GetPendingReadLength(), body)) {
        case InflateResult::Inflated:
        case InflateResult::Damaged:  // an empty body: the first read fails
            break;
        case InflateResult::TooLarge:
            Log(kCategory, 1,
                QString("Compressed message from user %1 expands beyond %2 bytes, disposing of socket")
                    .arg(user)
                    .arg(kMaxInflatedSize));
            if (code == 5)
                ShareListFailed(user);
            return false;
        case InflateResult::OutOfMemory:
            Log(kCategory, 1, QString("Out of memory expanding a message from user %1, message dropped").arg(user));
            if (code == 5)
                ShareListFailed(user);
            return true;
        }
        BufferReader inflated(body);
        if (code == 5) {
            FileInfoMap share;
            AttributeTranslationTable table;
            size_t longPaths = 0;
            switch (ReadShareList(inflated, share, table, kMaxShareListRecords, &longPaths)) {
            case ShareListResult::Read:
                if (longPaths > 0)
                    Log(kCategory, 1,
                        QString("Share list from user %1: %2 folders with paths longer than %3 bytes left out")
                            .arg(user)
                            .arg(longPaths)
                            .arg(kMaxSharePathBytes),
                        UserItem(user));
                break;
            case ShareListResult::TooManyRecords:
                Log(kCategory, 1,
                    QString("Share list from user %1 holds more than %2 folders and files, disposing of socket")
                        .arg(user)
                        .arg(kMaxShareListRecords));
                ShareListFailed(user);
                return false;
            case ShareListResult::Malformed:
                Log(kCategory, 1, QString("Share list from user %1 could not be read, disposing of socket").arg(user));
                ShareListFailed(user);
                return false;
            }
            m_shareListsAwaited.erase(user);
            emit UserShare(user, share, table);
            return true;
        }
        ItemPtr results;
        const SearchReplyResult result = StoreSearchReply(user, inflated, results);
        if (result == SearchReplyResult::Stored)
            emit SearchResults(results);
        return result != SearchReplyResult::Refused;
    }
    case 15:
        if (!ReplyBacklogFull(user, code))
            emit UserInfoRequested(user);
        return true;
    case 16: {
        QString description;
        uint8_t hasPicture;
        if (!in.Read(description) || !in.Read(hasPicture))
            return false;
        std::vector<char> picture;
        if (hasPicture) {
            uint32_t length;
            // The length is checked against what arrived before anything is allocated.
            if (!in.Read(length) || length > in.GetPendingReadLength())
                return false;
            picture.resize(length);
            if (!in.ReadBuffer(picture.data(), length))
                return false;
        }
        uint32_t uploadSlots, queued;
        uint8_t freeSlot;
        if (!in.Read(uploadSlots) || !in.Read(queued) || !in.Read(freeSlot))
            return false;
        emit UserInfoReceived(user, description, hasPicture != 0, hasPicture ? picture.data() : nullptr,
                              static_cast<int>(picture.size()), static_cast<int>(uploadSlots), static_cast<int>(queued),
                              freeSlot != 0);
        return true;
    }
    case 36: {
        uint32_t request;
        QString folder;
        if (!in.Read(request) || !in.Read(folder))
            return false;
        if (!ReplyBacklogFull(user, code))
            emit SharedFilesInFolderRequested(user, request, folder);
        return true;
    }
    case 40: {
        uint32_t direction, request;
        std::string file;
        int64_t size = 0;
        if (!in.Read(direction) || !in.Read(request) || !in.Read(file))
            return false;
        if (direction == 1 && !in.Read(size))
            return false;
        emit FileTransferRequested(user, static_cast<int>(direction), request, file, size);
        return true;
    }
    case 41: {
        uint32_t request;
        uint8_t allowed;
        if (!in.Read(request) || !in.Read(allowed))
            return false;
        if (allowed) {
            int64_t size = 0;
            const bool hasSize = in.Read(size);
            emit FileTransferResponse(user, request, true, hasSize, hasSize ? size : 0, QString());
            return true;
        }
        QString reason;
        if (!in.Read(reason))
            return false;
        emit FileTransferResponse(user, request, false, false, 0, reason);
        return true;
    }
    case 43:
    case 51: {
        QString file;
        if (!in.Read(file))
            return false;
        if (code == 43)
            emit QueueUploadRequested(user, file);
        else
            emit UploadPlaceInLineRequested(user, file);
        return true;
    }
    case 44: {
        std::string file;
        uint32_t place;
        if (!in.Read(file) || !in.Read(place))
            return false;
        emit DownloadPlaceInLine(user, file, static_cast<int>(place));
        return true;
    }
    case 46: {
        std::string file;
        if (!in.Read(file))
            return false;
        emit UploadFailed(user, file);
        return true;
    }
    case 50: {
        std::string file;
        QString reason;
        if (!in.Read(file) || !in.Read(reason))
            return false;
        emit UploadDenied(user, file, reason);
        return true;
    }
    case 60: {
        std::string file;
        int64_t size;
        if (!in.Read(file) || !in.Read(size))
            return false;
        emit QueueDownloadRequested(user, file, size);
        return true;
    }
    default:
        return true;
    }
}
