// Which local files belong to which download. Two downloads may well map to the same local path
// (the same last folder and file name from two users); each resumes only the partial file it
// wrote itself, and counts as complete only through the finished file it moved there itself.
#include "transfers/transferqueuemanager.h"

#include "model/log.h"
#include "transfers/downloadpaths.h"

#include <QFile>
#include <QFileInfo>

#include <map>

namespace {

const QString kCategory = QStringLiteral("Transfer Queue");

bool Exists(const QString& path) { return QFileInfo::exists(path) || QFileInfo(path).isSymLink(); }

}  // namespace

bool TransferQueueManager::IsPartialNameTaken(ItemPtr entry, const QString& folder, const QString& name)
{
    ItemPtr nameItem = d.GetType("download_partial_name")->HasItem(Value(name));
    if (!nameItem)
        return false;
    for (const ItemPtr& other : nameItem.GetItems("download_entry"))
        if (other != entry && DownloadLocalPath(GetDownloadTargetFolder(other, false)) == folder)
            return true;
    return false;
}

QString TransferQueueManager::ClaimPartialFile(ItemPtr entry)
{
    const QString folder = DownloadLocalPath(GetDownloadTargetFolder(entry, false));
    if (ItemPtr claimed = entry["download_partial_name"]) {
        const QString name = SafeDownloadComponent(claimed.AsString());
        if (!IsPartialNameTaken(entry, folder, name))
            return folder + QLatin1Char('/') + name;
    }
    // A file already there that no download claims is left over from something else (a removed
    // download, another user's file of that name): it is never resumed as this one.
    const QString wanted = SafeDownloadComponent(entry["file_name"].AsString());
    QString name = wanted;
    for (int k = 1; Exists(folder + QLatin1Char('/') + name) || IsPartialNameTaken(entry, folder, name); ++k) {
        if (k > 9999)
            return QString();
        const int dot = wanted.lastIndexOf(QLatin1Char('.'));
        name = dot > 0 ? QStringLiteral("%1 (%2)%3").arg(wanted.left(dot), QString::number(k), wanted.mid(dot))
                       : QStringLiteral("%1 (%2)").arg(wanted, QString::number(k));
    }
    if (name != wanted)
        Log(kCategory, 2, QStringLiteral("%1 is taken, downloading into %2").arg(wanted, name), entry["user"]);
    entry += d.GetType("download_partial_name")->GetItem(Value(name));
    return folder + QLatin1Char('/') + name;
}

void TransferQueueManager::DropPartialFile(ItemPtr entry, bool removeFile)
{
    ItemPtr claimed = entry["download_partial_name"];
    if (!claimed)
        return;
    if (removeFile) {
        const QString path = DownloadLocalPath(GetDownloadTargetPath(entry, false));
        if (!path.isEmpty() && QFile::exists(path) && !IsPathBeingDownloaded(path, entry))
            QFile::remove(path);
    }
    entry.Disconnect(claimed);
}

void TransferQueueManager::StartDownloadOver(ItemPtr entry, qint64 size)
{
    Log(kCategory, 2,
        QStringLiteral("File size changed from %1 to %2, downloading %3 anew")
            .arg(entry["file_size"].AsString(), QString::number(size), entry["file_name"].AsString()),
        entry["user"]);
    DropPartialFile(entry, true);
    entry += d.GetType("file_size")->GetItem(Value(static_cast<long long>(size)));
}

void TransferQueueManager::AdoptUnclaimedPartialFiles()
{
    // Only where exactly one unfinished download maps to an existing partial file is it known
    // whose it is; where several do, none of them resumes it.
    std::map<QString, std::vector<ItemPtr>> byPath;
    for (const ItemPtr& entry : g("download_entry")) {
        if (entry.IsConnected("download_partial_name") || entry["download_entry_status"].AsString() == "complete")
            continue;
        const QString path = DownloadLocalPath(GetDownloadTargetPath(entry, false));
        if (!path.isEmpty())
            byPath[path].push_back(entry);
    }
    for (const auto& candidates : byPath) {
        const QString& path = candidates.first;
        if (candidates.second.size() != 1 || !QFileInfo(path).isFile())
            continue;
        ItemPtr entry = candidates.second.front();
        const QString name = QFileInfo(path).fileName();
        if (!IsPartialNameTaken(entry, QFileInfo(path).path(), name))
            entry += d.GetType("download_partial_name")->GetItem(Value(name));
    }
}
