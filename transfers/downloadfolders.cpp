// Where a download's partial and finished files live: below the "downloading" and "complete"
// folders of the download folder setting, which is read anew at every use.
#include "transfers/transferqueuemanager.h"

#include "model/log.h"
#include "model/settings.h"
#include "transfers/downloadpaths.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

QString RemoteFolderOf(ItemPtr entry) { return entry["remote_folder"].AsString(); }

int LevelOf(ItemPtr entry) { return entry["subfolder_save_level"].AsInt(); }

}  // namespace

QString TransferQueueManager::GetDownloadTargetFolder(ItemPtr entry, bool complete)
{
    return DownloadFolderText(GetSetting("download_folder"), complete, RemoteFolderOf(entry), LevelOf(entry));
}

QString TransferQueueManager::GetDownloadTargetPath(ItemPtr entry, bool complete)
{
    // The names the entry's own files took (a free one where another download's file was in the
    // way) stand in for the peer's name.
    ItemPtr own = entry[complete ? "download_final_name" : "download_partial_name"];
    const QString name = own ? own.AsString() : entry["file_name"].AsString();
    const QString path = GetDownloadTargetFolder(entry, complete) + QLatin1Char('\\') + SafeDownloadComponent(name);
    // Every component from the peer has been made safe; this holds the line should the base
    // folder or the cleaning ever let a way out through.
    const QString branch = DownloadFolderText(GetSetting("download_folder"), complete, QString(), 0);
    if (!LiesInsideFolder(DownloadLocalPath(branch), DownloadLocalPath(path))) {
        Log(QStringLiteral("Transfer Queue"), 1,
            QStringLiteral("Refused local path %1: it is not inside %2").arg(DownloadLocalPath(path), DownloadLocalPath(branch)),
            entry["user"]);
        return QString();
    }
    return path;
}

QString TransferQueueManager::GetDownloadRelativeDownloadFolder(ItemPtr entry)
{
    return KeptRemoteFolder(RemoteFolderOf(entry), LevelOf(entry)).mid(1);
}

bool TransferQueueManager::DoesDownloadItemCompleteFilenameExist(ItemPtr entry)
{
    // Only the file this entry completed counts: another download's file of the same name (or
    // the user's own) says nothing about this one.
    if (!entry.IsConnected("download_final_name"))
        return false;
    const QString path = DownloadLocalPath(GetDownloadTargetPath(entry, true));
    return !path.isEmpty() && (QFileInfo::exists(path) || QFileInfo(path).isSymLink());
}

void TransferQueueManager::RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr entry)
{
    if (!entry)
        return;
    for (const ItemPtr& other : entry["remote_folder"].GetItems("download_entry"))
        if (other["download_entry_status"].AsStdString() != "complete")
            return;
    // Only the folders that the kept part of the remote folder made (or "downloading" itself for a
    // download without one), innermost first; rmdir leaves any folder that still holds something.
    const QString kept = KeptRemoteFolder(RemoteFolderOf(entry), LevelOf(entry));
    const int made = std::max(1, static_cast<int>(kept.count(QLatin1Char('\\'))));
    QString path = DownloadLocalPath(GetDownloadTargetFolder(entry, false));
    for (int k = 0; k < made; ++k) {
        QDir().rmdir(path);
        path = QFileInfo(path).path();
    }
}
