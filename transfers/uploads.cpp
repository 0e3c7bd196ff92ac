// The upload side: which files other users may queue from us, one entry per user and file, the
// queue order, starting uploads as slots free, and the life cycle of an entry once started.

#include "transfers/transferqueuemanager.h"

#include "model/helpers.h"
#include "model/log.h"
#include "model/settings.h"
#include "model/stream.h"
#include "peer/peermessenger.h"
#include "server/server.h"
#include "shares/sharedfoldersmanager.h"
#include "transfers/transferthreads.h"

#include <QFile>
#include <QTcpSocket>

#include <algorithm>
#include <tuple>
#include <vector>

namespace {

const char* const kCategory = "Transfer Queue";

// Names on direct connections are as claimed, so one host can queue under any number of them:
// the whole queue has a bound of its own besides the per-user one.
const int kMaxQueuedUploads = 10000;

ItemPtr UserItem(const QString& user)
{
    return d.GetType("user")->GetItem(Value(user));
}

bool IsActive(ItemPtr entry)
{
    ItemPtr status = entry["upload_entry_status"];
    return status && status.IsConnected("is_active");
}

QString StatusOf(ItemPtr entry)
{
    return entry["upload_entry_status"].AsString();
}

// Every upload entry whose status carries the active flag.
ItemSet ActiveUploads()
{
    ItemPtr flag = d.GetType("is_active")->GetGlobalNullItem();
    return flag.GetItems("upload_entry_status").GetItems("upload_entry");
}

bool HasActiveUpload(ItemPtr user)
{
    for (const ItemPtr& entry : user.GetItems("upload_entry"))
        if (IsActive(entry))
            return true;
    return false;
}

void SetOrder(ItemPtr entry, long long number)
{
    // Renumbering touches every entry of the queue; an unchanged number is left as it is.
    ItemPtr current = entry["effective_upload_order"];
    if (current && current.AsInt64() == number)
        return;
    static Type* const s_orderType = d.GetType("effective_upload_order");
    entry += s_orderType->GetItem(Value(number));
}

// The largest download priority among the user's groups; 0 outside the user list.
int GroupPriority(ItemPtr user)
{
    ItemPtr listed = user["in_user_list"];
    int priority = 0;
    if (!listed)
        return priority;
    for (const ItemPtr& group : listed.GetItems("user_list_group"))
        if (ItemPtr p = group["group_download_priority"])
            priority = std::max(priority, p.AsInt());
    return priority;
}

// Frees the position counter of a running upload and drops its cell, so that neither a status
// change nor a removal can leave it behind or free it a second time.
void FreeReadPosition(ItemPtr entry)
{
    ItemPtr cell = entry["read_position"];
    if (!cell)
        return;
    delete TransferQueueManager::Cell<qint64>(cell);
    cell.Remove();
}

}  // namespace

// The keys that order the upload queue, read once per entry.
struct TransferQueueManager::UploadSortKey
{
    int priority = 0;
    bool privileged = false;
    int order = 0;

    bool Before(const UploadSortKey& other) const
    {
        if (priority != other.priority)
            return priority > other.priority;
        if (privileged != other.privileged)
            return privileged;
        return order < other.order;
    }
};

TransferQueueManager::UploadSortKey TransferQueueManager::SortKeyOf(ItemPtr entry, UserKeys* io_users)
{
    UploadSortKey key;
    ItemPtr user = entry["user"];
    // A full pass meets each user many times; the user's part of the key is read once.
    auto known = io_users ? io_users->find(user) : UserKeys::iterator();
    if (io_users && known != io_users->end()) {
        key.priority = known->second.first;
        key.privileged = known->second.second;
    } else {
        key.priority = GroupPriority(user);
        key.privileged = user.IsConnected("is_privileged");
        if (io_users)
            io_users->emplace(user, std::make_pair(key.priority, key.privileged));
    }
    key.order = entry["upload_order"].AsInt();
    return key;
}

void TransferQueueManager::OnQueueUploadRequested(QString i_user, QString i_file)
{
    ItemPtr user = UserItem(i_user);
    Log(kCategory, 1, QString("Queue upload requested by %1 for file %2").arg(i_user, i_file), user);

    ItemPtr sharedFile = FindSharedFileFor(i_user, i_file);
    if (!sharedFile) {
        Log(kCategory, 2, "Denied, file not shared", user);
        peerMessenger->DenyUpload(i_user, i_file, "File not shared.");
        return;
    }
    if (ItemPtr existing = d.GetItem(user, sharedFile, "upload_entry")) {
        RequeueExistingUpload(existing);
        return;
    }

    if (QueuedUploadCount() >= kMaxQueuedUploads) {
        Log(kCategory, 2, QString("Denied, %1 files already queued in total").arg(kMaxQueuedUploads), user);
        peerMessenger->DenyUpload(i_user, i_file, "Too many files");
        return;
    }
    int queued = 0;
    for (const ItemPtr& entry : user.GetItems("upload_entry"))
        if (StatusOf(entry) == "queued")
            ++queued;
    if (queued >= GetSettingInt("max_queued_uploads_per_user")) {
        Log(kCategory, 2, "Denied, too many files already queued by user", user);
        peerMessenger->DenyUpload(i_user, i_file, "Too many files");
        return;
    }

    NewUploadEntry(user, sharedFile, i_file);

    if (GetSetting("check_for_empty_shares") == "yes" && !user.IsConnected("empty_share_check_status") &&
        !user.IsConnected("in_user_list")) {
        peerMessenger->GetUserSharedFiles(i_user);
        user += d.GetType("empty_share_check_status")->GetItem(Value("requested"));
    }
    StartNewUploads();
}

void TransferQueueManager::AddUpload(QString i_user, QString i_file)
{
    ItemPtr user = UserItem(i_user);
    Log(kCategory, 1, QString("Initiating upload to %1 of file %2").arg(i_user, i_file), user);
    ItemPtr sharedFile = FindSharedFileFor(i_user, i_file);
    if (!sharedFile) {
        Log(kCategory, 2, "Can't upload, file is either not shared or not shared with that particular user.", user);
        return;
    }
    peerMessenger->QueueUpload(i_user, i_file, sharedFile["shared_file_size"].AsInt64());
    if (ItemPtr existing = d.GetItem(user, sharedFile, "upload_entry")) {
        RequeueExistingUpload(existing);
        return;
    }
    NewUploadEntry(user, sharedFile, i_file);
    StartNewUploads();
}

ItemPtr TransferQueueManager::FindSharedFileFor(const QString& i_user, const QString& i_file)
{
    // The peer's text only finds the indexed file; it never becomes a path of its own.
    QString path = i_file;
    path.replace('\\', '/');
    ItemPtr sharedFile = sharedFoldersManager->GetSharedFileItem(path);
    if (!sharedFile || !sharedFoldersManager->IsFileSharedWithUser(sharedFile, i_user))
        return ItemPtr();
    return sharedFile;
}

void TransferQueueManager::RequeueExistingUpload(ItemPtr entry)
{
    ItemPtr user = entry["user"];
    const QString status = StatusOf(entry);
    if (status != "queued" && !IsActive(entry)) {
        Log(kCategory, 2, QString("%1, re-queueing").arg(status), user);
        SetUploadEntryStatus(entry, "queued");
        StartNewUploads();
    } else {
        Log(kCategory, 2, "Already queued", user);
    }
}

ItemPtr TransferQueueManager::NewUploadEntry(ItemPtr user, ItemPtr sharedFile, const QString& file)
{
    ItemPtr entry = d.GetType("upload_entry")->NewItem();
    entry += user;
    entry += sharedFile;
    entry += d.GetType("filename_as_requested")->GetItem(Value(file));
    SetUploadEntryStatus(entry, "queued");
    const long long counter = GetSetting("transfer_order_counter").toLongLong();
    entry += d.GetType("upload_order")->GetItem(Value(counter));
    SetSetting("transfer_order_counter", Value(counter + 1));
    OrderNewUpload(entry);
    Log(kCategory, 2, "Queued", user);
    gp_server->TrackUser(user.AsString());
    return entry;
}

bool TransferQueueManager::UploadEntrySortCompare(ItemPtr a, ItemPtr b)
{
    return SortKeyOf(a).Before(SortKeyOf(b));
}

int TransferQueueManager::GetUserGroupDownloadPriority(QString i_user)
{
    return GroupPriority(d.GetType("user")->HasItem(Value(i_user)));
}

std::vector<ItemPtr> TransferQueueManager::UploadsInEffectiveOrder()
{
    const std::list<ItemPtr> sorted = g("upload_entry").SortNumericBy("effective_upload_order", true);
    std::vector<ItemPtr> list;
    list.reserve(sorted.size());
    for (const ItemPtr& entry : sorted)
        if (entry.IsConnected("effective_upload_order"))
            list.push_back(entry);
    return list;
}

void TransferQueueManager::OrderNewUpload(ItemPtr entry)
{
    std::vector<ItemPtr> list;
    bool built = false;
    if (!m_lastUploadEntry) {
        list = UploadsInEffectiveOrder();
        built = true;
        if (list.empty()) {
            SetOrder(entry, 1);
            m_lastUploadEntry = entry;
            return;
        }
        m_lastUploadEntry = list.back();
    }
    const UploadSortKey key = SortKeyOf(entry);
    // The common case: the newcomer belongs at the end, one comparison and one number.
    if (SortKeyOf(m_lastUploadEntry).Before(key)) {
        SetOrder(entry, m_lastUploadEntry["effective_upload_order"].AsInt64() + 1);
        m_lastUploadEntry = entry;
        return;
    }
    if (!built) {
        list = UploadsInEffectiveOrder();
        m_lastUploadEntry = list.back();
    }
    UserKeys users;
    auto at = std::find_if(list.begin(), list.end(),
                           [&](const ItemPtr& other) { return key.Before(SortKeyOf(other, &users)); });
    list.insert(at, entry);
    long long number = 1;
    for (const ItemPtr& e : list)
        SetOrder(e, number++);
}

void TransferQueueManager::DetermineUploadsEffectiveOrder()
{
    std::vector<std::pair<UploadSortKey, ItemPtr>> keyed;
    UserKeys users;
    for (const ItemPtr& entry : g("upload_entry"))
        keyed.emplace_back(SortKeyOf(entry, &users), entry);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first.Before(b.first); });
    long long number = 0;
    for (const auto& k : keyed)
        SetOrder(k.second, number++);
}

void TransferQueueManager::StartNewUploads()
{
    int free = GetSettingInt("upload_slots") - static_cast<int>(ActiveUploads().size());
    if (free <= 0)
        return;
    ItemPtr queuedStatus = d.GetType("upload_entry_status")->HasItem(Value("queued"));
    if (!queuedStatus || !queuedStatus.IsConnected("upload_entry"))
        return;
    // Every queued entry is numbered, offline users' too, so that no two users are told the same
    // place; equal numbers left by earlier placements go by the queue order itself.
    const ItemSet& queued = queuedStatus.GetItems("upload_entry");
    // Nothing can start while every waiting user is offline; the numbers then stay as they are.
    if (std::none_of(queued.begin(), queued.end(),
                     [](const ItemPtr& entry) { return entry["user"].IsConnected("is_online"); }))
        return;
    std::vector<std::tuple<long long, UploadSortKey, ItemPtr>> waiting;
    waiting.reserve(queued.size());
    UserKeys users;
    for (const ItemPtr& entry : queued)
        waiting.emplace_back(entry["effective_upload_order"].AsInt64(), SortKeyOf(entry, &users), entry);
    std::sort(waiting.begin(), waiting.end(), [](const auto& a, const auto& b) {
        if (std::get<0>(a) != std::get<0>(b))
            return std::get<0>(a) < std::get<0>(b);
        return std::get<1>(a).Before(std::get<1>(b));
    });

    long long number = 0;
    for (const auto& w : waiting) {
        ItemPtr entry = std::get<2>(w);
        SetOrder(entry, number++);
        ItemPtr user = entry["user"];
        if (free <= 0 || !user.IsConnected("is_online") || HasActiveUpload(user))
            continue;
        // Sharing may have changed, or the file gone from the index, since the request came.
        if (!StillShared(entry)) {
            --number;
            continue;
        }
        const uint id = peerMessenger->RequestUpload(user.AsString(), entry["filename_as_requested"].AsString(),
                                                     entry["shared_file"]["shared_file_size"].AsInt64());
        SetUploadEntryStatus(entry, "requesting");
        entry += d.GetType("transfer_req")->GetItem(Value(id));
        --free;
        DetermineUploadSpeedLimit();
    }
}

bool TransferQueueManager::StillShared(ItemPtr entry)
{
    ItemPtr user = entry["user"];
    ItemPtr shared = entry["shared_file"];
    if (shared && sharedFoldersManager->IsFileSharedWithUser(shared, user.AsString()))
        return true;
    Log(kCategory, 2,
        shared ? "Denied, file no longer shared with user" : "Denied, file no longer in the shared folders", user);
    peerMessenger->DenyUpload(user.AsString(), entry["filename_as_requested"].AsString(), "File not shared.");
    RemoveUpload(entry);
    return false;
}

void TransferQueueManager::SetUploadEntryStatus(ItemPtr i_entry, QString i_status)
{
    const bool wasActive = IsActive(i_entry);
    i_entry += d.GetType("upload_entry_status")->GetItem(Value(i_status));
    i_entry += d.GetType("last_status_change_time")->GetItem(Value(NowText()));
    if (!wasActive || IsActive(i_entry))
        return;

    if (auto* thread = TakeCell<UploadThread>(i_entry, "upload_thread")) {
        // Told first, so that the wait never lasts longer than a peer takes to send nothing.
        thread->SignalExit();
        thread->wait();
        thread->deleteLater();
    }
    if (auto* file = TakeCell<QFile>(i_entry, "upload_file")) {
        file->close();
        delete file;
    }
    if (auto* socket = TakeCell<QTcpSocket>(i_entry, "upload_socket")) {
        socket->close();
        socket->deleteLater();
    }
    FreeReadPosition(i_entry);
    RemoveSpeedCells(i_entry);

    if (i_status == "aborted") {
        ItemPtr user = i_entry["user"];
        MemStream message;
        message.Write(uint32_t(46));
        message.Write(i_entry["filename_as_requested"].AsString());
        Log(kCategory, 1,
            QString("Upload of %1 to %2 aborted, sending upload failed notification.")
                .arg(i_entry["shared_file"]["shared_file_name"].AsString(), user.AsString()),
            user);
        peerMessenger->SendMessage(user.AsString(), message);
    }
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::OnUploadComplete()
{
    ItemPtr entry = EntryOfSendingThread("upload_thread", "upload_entry");
    if (!entry)
        return;
    int speed = 0;
    if (const int* p = Cell<int>(entry, "bytes_per_second"))
        speed = *p;
    Log(kCategory, 1, QString("Recording upload speed of %1").arg(speed));
    if (entry["shared_file"]["shared_file_size"].AsInt64() > 1048576 && speed > 0)
        gp_server->SendUploadSpeed(speed);
    SetUploadEntryStatus(entry, "complete");
    StartNewUploads();
}

void TransferQueueManager::OnUploadError()
{
    ItemPtr entry = EntryOfSendingThread("upload_thread", "upload_entry");
    if (!entry)
        return;
    SetUploadEntryStatus(entry, "aborted");
    StartNewUploads();
}

void TransferQueueManager::RemoveUpload(ItemPtr i_entry)
{
    // Deleted later: its last reports are still queued, and a thread made meanwhile must not get
    // its address, or they would be taken for that thread's.
    if (auto* thread = TakeCell<UploadThread>(i_entry, "upload_thread")) {
        thread->SignalExit();
        thread->wait();
        thread->deleteLater();
    }
    if (ItemPtr cell = i_entry["upload_socket"]) {
        auto* socket = Cell<QTcpSocket>(cell);
        socket->disconnect();
        cell.Remove();
        socket->close();
        // The socket may be inside one of its own signals further up the stack.
        socket->deleteLater();
    }
    if (ItemPtr cell = i_entry["upload_file"]) {
        auto* file = Cell<QFile>(cell);
        file->close();
        delete file;
        cell.Remove();
    }
    FreeReadPosition(i_entry);
    RemoveSpeedCells(i_entry);
    if (m_lastUploadEntry == i_entry)
        m_lastUploadEntry = ItemPtr();
    i_entry.Remove();
}

void TransferQueueManager::UnshareUser(QString i_user)
{
    ItemPtr user = UserItem(i_user);
    user += d.GetType("unshared")->GetGlobalNullItem();
    for (ItemPtr entry : user.GetItems("upload_entry")) {
        peerMessenger->DenyUpload(i_user, entry["filename_as_requested"].AsString(), "File not shared.");
        RemoveUpload(entry);
    }
}

void TransferQueueManager::ReshareUser(QString i_user)
{
    UserItem(i_user).Disconnect("unshared");
}

void TransferQueueManager::OnUploadPlaceInLineRequested(QString i_user, QString i_fileName)
{
    ItemPtr user = d.GetType("user")->HasItem(Value(i_user));
    ItemPtr name = d.GetType("filename_as_requested")->HasItem(Value(i_fileName));
    if (!user || !name)
        return;
    ItemPtr entry = d.GetItem(user, name, "upload_entry");
    if (ItemPtr place = entry["effective_upload_order"])
        peerMessenger->SendUploadPlaceInLine(i_user, i_fileName, place.AsInt());
}
