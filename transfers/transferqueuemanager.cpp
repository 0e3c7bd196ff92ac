#include "transfers/transferqueuemanager.h"

#include "model/settings.h"
#include "model/timermanager.h"

#include <QDir>

TransferQueueManager* transferQueueManager = nullptr;

TransferQueueManager::TransferQueueManager()
{
    transferQueueManager = this;

    if (!HasSetting("download_folder"))
        SetSetting("download_folder", QDir::homePath() + "/Tavrinel Downloads");
    if (!HasSetting("transfer_order_counter"))
        SetSetting("transfer_order_counter", "1");
    SetSetting("transfer_req_counter", "1");
    if (!HasSetting("upload_speed_limit")) {
        SetSetting("upload_speed_limit", "0");
        SetSetting("upload_speed_limit_enabled", "no");
    }
    SetSetting("upload_slots", "1");
    SetSetting("check_for_empty_shares", "no");
    SetSetting("empty_share_message",
               "It looks like you're not sharing any files. Please share something before downloading "
               "anything from my own shares. Thanks.");
    SetSetting("max_queued_uploads_per_user", "200");

    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    if (timerManager) {
        connect(timerManager->everyFiveMinutes(), &QTimer::timeout, this, &TransferQueueManager::PeriodicCheck);
        connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &TransferQueueManager::EveryHalfMinute);
    }
}

TransferQueueManager::~TransferQueueManager()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
}

void TransferQueueManager::DataLoaded()
{
}

void TransferQueueManager::EveryHalfMinute()
{
}

void TransferQueueManager::PeriodicCheck()
{
}
