// The half-minute maintenance: stalled upload handshakes are aborted, and the peers we wait on
// are asked again to queue our downloads and to tell us our places in their queues.

#include "transfers/transferqueuemanager.h"

#include "model/helpers.h"
#include "model/log.h"

namespace {

const qint64 kHandshakeLimitMs = 29999;
const qint64 kRequeueIntervalMs = 600000;
const int kPlaceInLineIntervalS = 600;

std::function<QDateTime()>& Clock()
{
    static std::function<QDateTime()> clock;
    return clock;
}

// Stored times have whole seconds; a missing or unreadable one counts as never.
QDateTime StoredTime(ItemPtr item)
{
    return item ? StoredTimeFromText(item.AsString()) : QDateTime();
}

}  // namespace

QDateTime TransferQueueManager::Now()
{
    return Clock() ? Clock()() : QDateTime::currentDateTime();
}

QString TransferQueueManager::NowText()
{
    return Clock() ? StoredTimeText(Clock()()) : CurrentTimeText();
}

void TransferQueueManager::SetClock(std::function<QDateTime()> i_clock)
{
    Clock() = std::move(i_clock);
}

void TransferQueueManager::EveryHalfMinute()
{
    // Step 1: handshakes that have waited too long.
    ItemSet handshakes;
    for (const char* word : {"requesting", "connecting", "waiting for offset"})
        if (ItemPtr status = d.GetType("upload_entry_status")->HasItem(Value(word)))
            handshakes.Add(status.GetItems("upload_entry"));
    const QDateTime now = Now();
    bool aborted = false;
    for (const ItemPtr& entry : handshakes) {
        const QDateTime since = StoredTime(entry["last_status_change_time"]);
        if (since.isValid() && since.msecsTo(now) <= kHandshakeLimitMs)
            continue;
        Log("Transfer Queue", 1,
            QString("Upload of %1 to %2 timed out in %3 phase, aborting")
                .arg(entry["shared_file"]["shared_file_name"].AsString(), entry["user"].AsString(),
                     entry["upload_entry_status"].AsString()));
        SetUploadEntryStatus(entry, "aborted");
        aborted = true;
    }
    if (aborted)
        StartNewUploads();

    // The users taken once for steps 2 and 3: online, with a download queued.
    ItemSet users;
    if (ItemPtr queued = d.GetType("download_entry_status")->HasItem(Value("queued")))
        for (const ItemPtr& user : queued.GetItems("download_entry").GetItems("user"))
            if (user.IsConnected("is_online"))
                users.insert(user);

    // Step 2: queue requests repeated every ten minutes.
    for (const ItemPtr& user : users) {
        if (IsActivelyDownloadingFromUser(user.AsString()))
            continue;
        const QDateTime last = StoredTime(user["last_queue_request_time"]);
        if (last.isValid() && last.msecsTo(now) < kRequeueIntervalMs)
            continue;
        RequeueUserDownloads(user);
    }

    // Step 3: places in line when due.
    for (ItemPtr user : users) {
        if (IsActivelyDownloadingFromUser(user.AsString()))
            continue;
        const QDateTime due = StoredTime(user["next_place_in_line_request_time"]);
        if (due.isValid() && due > now)
            continue;
        ItemSet queued;
        for (const ItemPtr& entry : user.GetItems("download_entry"))
            if (entry["download_entry_status"].AsString() == "queued")
                queued.insert(entry);
        for (const ItemPtr& entry : queued.SortNumericBy("download_order", true))
            RequestDownloadPlaceInLine(entry);
        user += d.GetType("next_place_in_line_request_time")
                    ->GetItem(Value(StoredTimeText(now.addSecs(kPlaceInLineIntervalS))));
    }
}
