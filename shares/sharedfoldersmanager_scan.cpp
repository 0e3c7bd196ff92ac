// The walk of the shared folders on disk into folder and file items.

#include "shares/sharedfoldersmanager.h"

#include "model/log.h"
#include "shares/sharedfileitems.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kAnalysisTypes[] = {"mpeg_version", "channel_mode", "audio_frequency",
                                      "bitrate_mode", "bitrate",      "is_scanned"};

// The file linked to both items, the smaller neighbour set walked.
ItemPtr CommonNeighbour(ItemPtr a, ItemPtr b, Type* type)
{
    const NeighbourSet* sa = a->Links(type);
    const NeighbourSet* sb = b->Links(type);
    if (!sa || !sb)
        return ItemPtr();
    if (sb->size() < sa->size())
        std::swap(sa, sb);
    for (const ItemPtr& p : *sa)
        if (sb->count(p))
            return p;
    return ItemPtr();
}

struct Entry
{
    QString name;
    QString folding;  // the name lower-cased, for the order
    bool isFolder;
    qint64 size;
};

// The sub-folders and files of a folder by name, letter case ignored. Links are followed (a link
// counts as what it leads to); names beginning with "." are hidden; broken links, sockets, pipes
// and devices are left out. Read straight from the directory: one stat per entry relative to the
// open folder, rather than a path lookup from the root and a file-info object per entry.
std::vector<Entry> ListFolder(const QString& folder)
{
    std::vector<Entry> entries;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return entries;
    const int fd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        struct stat st;
        if (::fstatat(fd, e->d_name, &st, 0) != 0)
            continue;
        const bool isFolder = S_ISDIR(st.st_mode);
        if (!isFolder && !S_ISREG(st.st_mode))
            continue;
        QString name = QFile::decodeName(e->d_name);
        QString folding = name.toLower();
        entries.push_back({std::move(name), std::move(folding), isFolder, qint64(st.st_size)});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const int c = a.folding.compare(b.folding);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    return entries;
}

bool IsMP3Name(const QString& name)
{
    return name.size() > 4 && (name.endsWith(QLatin1String(".mp3")) || name.endsWith(QLatin1String(".MP3")));
}

} // namespace

void SharedFoldersManager::RescanShares()
{
    m_filesAdded = 0;
    m_filesRemoved = 0;
    m_folderItemsWalked.clear();
    for (ItemPtr folder : mp_folderType->GetItems()) {
        folder.Disconnect("shared_file_folder");
        WalkSharedFolder(folder.AsString());
    }
    m_folderItemsWalked.clear();
    RemoveUnsharedFolders();
    d.RemoveDisconnectedItems();
    emit SharedFilesRescanned(m_filesAdded, m_filesRemoved);
}

// The folders no shared folder holds any more go with their files here, not only through the
// collection: a file name is reachable through every live file of the same name, and through it
// the files and folders of an unshared folder would stay, be counted again at every rescan and be
// told to the server at every login.
void SharedFoldersManager::RemoveUnsharedFolders()
{
    ItemSet gone;
    for (Item* folder : mp_fileFolderType->ItemsUnordered())
        if (!folder->IsConnected(mp_folderType))
            gone.insert(folder);
    for (ItemPtr folder : gone) {
        ItemSet files = folder.GetItems("shared_file");
        m_filesRemoved += static_cast<int>(files.size());
        files.Remove();
        folder.Remove();
    }
    // Files without a folder come only from a save written between an unshare and a rescan.
    ItemSet stray;
    const std::vector<Item*> files = mp_fileType->ItemsUnordered();
    for (size_t k = 0; k < files.size(); ++k) {
        // Every file is read once: asking for later ones early overlaps the waits for memory.
        if (k + 8 < files.size())
            __builtin_prefetch(files[k + 8]);
        if (!files[k]->IsConnected(mp_fileFolderType))
            stray.insert(files[k]);
    }
    stray.Remove();
}

void SharedFoldersManager::WalkSharedFolder(const QString& rootFolder)
{
    m_foldersWalked.clear();
    AddSharedFiles(rootFolder, rootFolder);
    m_foldersWalked.clear();
}

void SharedFoldersManager::AddSharedFiles(const QString& rootFolder, const QString& folder)
{
    // Links are followed, so one directory can come back under other paths: through a link back
    // to an ancestor without end, and through links that branch and meet again once per path,
    // which doubles at every level. Each real directory is walked once per shared folder; the
    // first path in name order is the one its files are shared under.
    QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = folder;
    if (!m_foldersWalked.insert(canonical).second) {
        Log("Shared", 1,
            QString("Skipping folder %1: it leads to %2, which this scan walks already").arg(folder, canonical));
        return;
    }

    Log("Shared", 1, QString("Adding folder %1 as part of sharing %2").arg(folder, rootFolder));
    ItemPtr folderItem = mp_fileFolderType->GetItem(folder);
    folderItem += mp_folderType->GetItem(rootFolder);
    m_folderItemsWalked.insert(folderItem.get());
    ItemSet removalSet = folderItem.GetItems("shared_file");

    // A letter-case twin of a name can only be among the files the folder held before, in another
    // folder whose path differs only in letter case, or made from the file entry just before (the
    // order puts names that differ only in case side by side). A folder met for the first time
    // needs no lookup per file.
    const Item* lowerFolder = FirstNeighbour(folderItem.get(), mp_fileFolderLowerType);
    const NeighbourSet* sameLowerFolders = lowerFolder ? lowerFolder->Links(mp_fileFolderType) : nullptr;
    const bool twinsElsewhere = !removalSet.empty() || (sameLowerFolders && sameLowerFolders->size() > 1);
    const QString* previousFile = nullptr;

    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    std::vector<std::pair<ItemPtr, QString>> untokenized;
    for (const Entry& entry : ListFolder(folder)) {
        if (entry.isFolder) {
            AddSharedFiles(rootFolder, prefix + entry.name);
            continue;
        }
        const bool mayHaveTwin = twinsElsewhere || (previousFile && *previousFile == entry.folding);
        previousFile = &entry.folding;
        ItemPtr file = AddFile(folderItem, entry.name, prefix + entry.name, entry.size, removalSet, mayHaveTwin);
        // A known file already holds its tokens: its folder and name are what they were made from.
        if (file && !file->IsConnected(mp_tokenType))
            untokenized.emplace_back(file, entry.folding);
    }
    TokenizeSharedFiles(folder.toLower(), untokenized);

    for (ItemPtr file : removalSet) {
        file.Remove();
        ++m_filesRemoved;
    }
}

ItemPtr SharedFoldersManager::AddFile(ItemPtr folderItem, const QString& name, const QString& path, qint64 size,
                                      ItemSet& removalSet, bool mayHaveTwin)
{
    const Value sizeText(static_cast<long long>(size));
    const Value nameText(name);
    ItemPtr nameItem = mp_fileNameType->HasItem(nameText);
    ItemPtr file;
    if (nameItem)
        file = CommonNeighbour(folderItem, nameItem, mp_fileType);
    else
        nameItem = mp_fileNameType->GetItem(nameText);

    if (!file && mayHaveTwin) {
        // A name that differs only in letter case from a shared one in the same folder is left
        // out while that one is on disk. One that is gone was renamed in letter case only (the
        // file or a folder above it): the file moves to its new name and stays shared.
        if (ItemPtr twin = FindSharedFile(path, false)) {
            Item* twinFolder = FirstNeighbour(twin.get(), mp_fileFolderType);
            const bool twinOnDisk =
                twinFolder == folderItem.get() ? !removalSet.count(twin) : m_folderItemsWalked.count(twinFolder) != 0;
            if (twinOnDisk)
                return ItemPtr();
            Log("Shared", 1, QString("%1 was renamed in letter case only; it stays shared").arg(path));
            file = twin;
            file += folderItem;
            file += nameItem;
        }
    }

    if (file) {
        removalSet.erase(file);
        // A file that changed keeps no stale size: peers would stop their download at it and
        // call a cut file complete. Its analysis is stale too.
        const NeighbourSet* oldSize = file->Links(mp_fileSizeType);
        if (!oldSize || (*oldSize->begin())->GetValue() != sizeText) {
            file += mp_fileSizeType->GetItem(sizeText);
            for (const char* type : kAnalysisTypes)
                file.Disconnect(type);
        }
    } else {
        file = mp_fileType->NewItem();
        file += folderItem;
        file += nameItem;
        file += mp_fileSizeType->GetItem(sizeText);
        ++m_filesAdded;
    }

    if (IsMP3Name(name) && !file->IsConnected(mp_scannedType))
        emit MP3ScanRequired(path);
    return file;
}
