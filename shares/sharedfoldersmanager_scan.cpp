// The walk of the shared folders on disk into folder and file items.

#include "shares/sharedfoldersmanager.h"

#include "model/helpers.h"
#include "model/log.h"
#include "shares/sharedfileitems.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kAnalysisTypes[] = {"mpeg_version", "channel_mode", "audio_frequency",
                                      "bitrate_mode", "bitrate",      "is_scanned"};

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
}

bool IsAscii(const char* text, size_t size)
{
    for (size_t k = 0; k < size; ++k)
        if (static_cast<unsigned char>(text[k]) >= 0x80)
            return false;
    return true;
}

// A span of one of the listing's buffers.
struct Span
{
    uint32_t at = 0;
    uint32_t size = 0;
};

struct Entry
{
    Span name;   // UTF-8, as a name item holds it
    Span lower;  // UTF-8, lower-cased: what the tokens come from
    Span wide;   // UTF-16: the name as shown and put in paths
    Span fold;   // UTF-16, lower-cased: the order
    bool isFolder;
    qint64 size;
    quint64 device;
    quint64 inode;
};

// The sub-folders and files of a folder by name, letter case ignored. Links are followed (a link
// counts as what it leads to); names beginning with "." are hidden; broken links, sockets, pipes
// and devices are left out. Read straight from the directory, one stat per entry relative to the
// open folder. A name is converted once, into buffers shared by the whole folder; a name of
// plain ASCII (nearly all of them) needs no text conversion at all, only its bytes widened and
// lower-cased.
class Listing
{
public:
    void Read(const QString& folder)
    {
        m_bytes.clear();
        m_wide.clear();
        m_entries.clear();
        DIR* dir = ::opendir(QFile::encodeName(folder).constData());
        if (!dir)
            return;
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
            Entry entry;
            entry.isFolder = isFolder;
            entry.size = qint64(st.st_size);
            entry.device = quint64(st.st_dev);
            entry.inode = quint64(st.st_ino);
            AddNames(entry, e->d_name);
            m_entries.push_back(entry);
        }
        ::closedir(dir);
        std::sort(m_entries.begin(), m_entries.end(), [this](const Entry& a, const Entry& b) {
            const int c = Wide(a.fold).compare(Wide(b.fold));
            return c != 0 ? c < 0 : Wide(a.wide) < Wide(b.wide);
        });
    }

    const std::vector<Entry>& Entries() const { return m_entries; }
    std::string_view Bytes(Span s) const { return std::string_view(m_bytes.data() + s.at, s.size); }
    std::u16string_view Wide(Span s) const { return std::u16string_view(m_wide.data() + s.at, s.size); }
    QString Text(Span s) const { return QString(reinterpret_cast<const QChar*>(m_wide.data() + s.at), int(s.size)); }

private:
    void AddNames(Entry& entry, const char* name)
    {
        const size_t size = std::strlen(name);
        if (IsAscii(name, size)) {
            entry.name = AddBytes(name, size);
            entry.lower = {uint32_t(m_bytes.size()), uint32_t(size)};
            for (size_t k = 0; k < size; ++k)
                m_bytes.push_back(AsciiLower(name[k]));
            entry.wide = {uint32_t(m_wide.size()), uint32_t(size)};
            for (size_t k = 0; k < size; ++k)
                m_wide.push_back(char16_t(name[k]));
            entry.fold = {uint32_t(m_wide.size()), uint32_t(size)};
            for (size_t k = 0; k < size; ++k)
                m_wide.push_back(char16_t(AsciiLower(name[k])));
            return;
        }
        const QString text = QFile::decodeName(name);
        const QString folded = text.toLower();
        const QByteArray utf8 = text.toUtf8();
        const QByteArray lowerUtf8 = folded.toUtf8();
        entry.name = AddBytes(utf8.constData(), size_t(utf8.size()));
        entry.lower = AddBytes(lowerUtf8.constData(), size_t(lowerUtf8.size()));
        entry.wide = AddWide(text);
        entry.fold = AddWide(folded);
    }
    Span AddBytes(const char* text, size_t size)
    {
        const Span s{uint32_t(m_bytes.size()), uint32_t(size)};
        m_bytes.append(text, size);
        return s;
    }
    Span AddWide(const QString& text)
    {
        const Span s{uint32_t(m_wide.size()), uint32_t(text.size())};
        m_wide.append(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()));
        return s;
    }

    std::string m_bytes;
    std::u16string m_wide;
    std::vector<Entry> m_entries;
};

bool IsMP3Name(std::string_view utf8, size_t wideSize)
{
    if (wideSize <= 4)
        return false;
    const std::string_view end = utf8.substr(utf8.size() - 4);
    return end == ".mp3" || end == ".MP3";
}

} // namespace

// One folder of the walk. The files the folder held before are found by name here rather than
// through the graph's index of all names, and those not seen again are flagged in place.
struct SharedFoldersManager::WalkLevel
{
    Listing listing;
    // The folder's files when its walk began, in identity order, with their names.
    std::vector<Item*> known;
    std::vector<std::string_view> knownNames;
    std::vector<const Item*> names;
    std::vector<char> seen;
    // Open addressing over the known files' names: index + 1, 0 for a free slot.
    std::vector<uint32_t> table;
    std::vector<std::pair<Item*, std::string_view>> untokenized;

    void Take(const NeighbourSet* files, Type* nameType, Type* sizeType)
    {
        known.clear();
        knownNames.clear();
        seen.clear();
        table.clear();
        if (!files)
            return;
        known.assign(files->begin(), files->end());
        seen.assign(known.size(), 0);
        size_t capacity = 8;
        while (capacity < known.size() * 2)
            capacity *= 2;
        table.assign(capacity, 0);
        // Each file, its name item and the name's text lie scattered: each is read for all the
        // files in one pass, after asking for all of them, so that the waits for memory overlap
        // instead of following one another file by file.
        for (Item* file : known)
            __builtin_prefetch(file);
        names.clear();
        for (Item* file : known) {
            const Item* name = FirstNeighbour(file, nameType);
            __builtin_prefetch(name);
            names.push_back(name);
            // Its size is compared with the one on disk once the file is listed.
            __builtin_prefetch(FirstNeighbour(file, sizeType));
        }
        knownNames.reserve(known.size());
        for (const Item* name : names)
            knownNames.push_back(name ? std::string_view(name->GetValue().str()) : std::string_view());
        for (const std::string_view& name : knownNames)
            __builtin_prefetch(name.data());
        for (size_t k = 0; k < known.size(); ++k) {
            if (!names[k])
                continue;
            // Of several files under one name the first in identity order is the one found.
            size_t slot = Hash(knownNames[k]) & (table.size() - 1);
            while (table[slot] && knownNames[table[slot] - 1] != knownNames[k])
                slot = (slot + 1) & (table.size() - 1);
            if (!table[slot])
                table[slot] = uint32_t(k + 1);
        }
    }
    // The known file of that name, or -1.
    long Find(std::string_view name) const
    {
        if (table.empty())
            return -1;
        size_t slot = Hash(name) & (table.size() - 1);
        while (table[slot]) {
            if (knownNames[table[slot] - 1] == name)
                return long(table[slot] - 1);
            slot = (slot + 1) & (table.size() - 1);
        }
        return -1;
    }
    // Whether the file was in the folder when its walk began and has not been seen since.
    bool IsPending(const Item* file) const
    {
        const auto it = std::lower_bound(known.begin(), known.end(), file, std::less<const Item*>());
        return it != known.end() && *it == file && !seen[size_t(it - known.begin())];
    }
    void MarkSeen(const Item* file)
    {
        const auto it = std::lower_bound(known.begin(), known.end(), file, std::less<const Item*>());
        if (it != known.end() && *it == file)
            seen[size_t(it - known.begin())] = 1;
    }

    static size_t Hash(std::string_view s) { return std::hash<std::string_view>()(s); }
};

struct SharedFoldersManager::WalkState
{
    // One level per depth of the walk, kept for the walk's length so that their buffers are reused.
    std::vector<std::unique_ptr<WalkLevel>> levels;
    size_t depth = 0;
    ItemPtr root;
};

// Every name of a share passes through here as it is made: plain ASCII text, by far the most
// common, is lower-cased on its bytes, which gives the same text as the decoding, lower-casing
// and encoding the general case takes.
Value SharedFoldersManager::LowerCaseKey(const Item* item)
{
    const std::string& text = item->GetValue().str();
    if (!IsAscii(text.data(), text.size()))
        return Value(GetAbsoluteFileName(ItemPtr(const_cast<Item*>(item)).AsString()));
    size_t size = text.size();
    if (size > 0 && (text[size - 1] == '/' || text[size - 1] == '\\'))
        --size;
    std::string key(size, '\0');
    for (size_t k = 0; k < size; ++k)
        key[k] = AsciiLower(text[k]);
    return Value(std::move(key));
}

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
    size_t filesInFolders = 0;
    for (Item* folder : mp_fileFolderType->ItemsUnordered()) {
        if (!folder->IsConnected(mp_folderType))
            gone.insert(folder);
        if (const NeighbourSet* files = folder->Links(mp_fileType))
            filesInFolders += files->size();
    }
    for (ItemPtr folder : gone) {
        ItemSet files = folder.GetItems("shared_file");
        m_filesRemoved += static_cast<int>(files.size());
        filesInFolders -= files.size();
        files.Remove();
        folder.Remove();
    }
    // Files without a folder come only from a save written between an unshare and a rescan. A file
    // has one folder at most, so when the folders hold every file there is none to look for.
    if (filesInFolders == mp_fileType->ItemCount())
        return;
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
    WalkState walk;
    WalkState* outer = mp_walk;
    mp_walk = &walk;
    m_foldersWalked.clear();
    struct stat st;
    if (::stat(QFile::encodeName(rootFolder).constData(), &st) == 0) {
        const DirectoryId id(quint64(st.st_dev), quint64(st.st_ino));
        AddSharedFiles(rootFolder, rootFolder, &id);
    } else {
        AddSharedFiles(rootFolder, rootFolder, nullptr);
    }
    m_foldersWalked.clear();
    mp_walk = outer;
}

void SharedFoldersManager::AddSharedFiles(const QString& rootFolder, const QString& folder, const DirectoryId* id)
{
    // Links are followed, so one directory can come back under other paths: through a link back
    // to an ancestor without end, and through links that branch and meet again once per path,
    // which doubles at every level. Each real directory is walked once per shared folder; the
    // first path in name order is the one its files are shared under.
    if (id && !m_foldersWalked.insert(*id).second) {
        QString canonical = QFileInfo(folder).canonicalFilePath();
        if (canonical.isEmpty())
            canonical = folder;
        Log("Shared", 1,
            QString("Skipping folder %1: it leads to %2, which this scan walks already").arg(folder, canonical));
        return;
    }

    Log("Shared", 1, QString("Adding folder %1 as part of sharing %2").arg(folder, rootFolder));
    ItemPtr folderItem = mp_fileFolderType->GetItem(folder);
    if (!mp_walk->root)
        mp_walk->root = mp_folderType->GetItem(rootFolder);
    folderItem += mp_walk->root;
    m_folderItemsWalked.insert(folderItem.get());

    if (mp_walk->levels.size() <= mp_walk->depth)
        mp_walk->levels.push_back(std::make_unique<WalkLevel>());
    WalkLevel& level = *mp_walk->levels[mp_walk->depth];
    ++mp_walk->depth;
    level.Take(folderItem->Links(mp_fileType), mp_fileNameType, mp_fileSizeType);
    level.untokenized.clear();

    // A letter-case twin of a name can only be among the files the folder held before, in another
    // folder whose path differs only in letter case, or made from the file entry just before (the
    // order puts names that differ only in case side by side). A folder met for the first time
    // needs no lookup per file.
    const Item* lowerFolder = FirstNeighbour(folderItem.get(), mp_fileFolderLowerType);
    const NeighbourSet* sameLowerFolders = lowerFolder ? lowerFolder->Links(mp_fileFolderType) : nullptr;
    const bool twinsElsewhere = !level.known.empty() || (sameLowerFolders && sameLowerFolders->size() > 1);
    const Entry* previousFile = nullptr;

    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    level.listing.Read(folder);
    const Listing& listing = level.listing;
    const std::vector<Entry>& entries = listing.Entries();
    for (size_t k = 0; k < entries.size(); ++k) {
        const Entry& entry = entries[k];
        if (entry.isFolder) {
            const DirectoryId sub(entry.device, entry.inode);
            AddSharedFiles(rootFolder, prefix + listing.Text(entry.wide), &sub);
            continue;
        }
        const bool mayHaveTwin =
            twinsElsewhere || (previousFile && listing.Wide(previousFile->fold) == listing.Wide(entry.fold));
        previousFile = &entry;
        Item* file = nullptr;
        const long known = level.Find(listing.Bytes(entry.name));
        if (known >= 0) {
            file = level.known[size_t(known)];
            level.seen[size_t(known)] = 1;
            KeepFile(file, entry.size);
        } else {
            file = AddFile(folderItem, level, k, prefix, mayHaveTwin);
            if (!file)
                continue;
        }
        if (IsMP3Name(listing.Bytes(entry.name), entry.wide.size) && !file->IsConnected(mp_scannedType))
            emit MP3ScanRequired(prefix + listing.Text(entry.wide));
        // A known file already holds its tokens: its folder and name are what they were made from.
        if (!file->IsConnected(mp_tokenType))
            level.untokenized.emplace_back(file, listing.Bytes(entry.lower));
    }
    TokenizeSharedFiles(folder.toLower(), level.untokenized);

    for (size_t k = 0; k < level.known.size(); ++k) {
        if (level.seen[k])
            continue;
        ItemPtr(level.known[k]).Remove();
        ++m_filesRemoved;
    }
    --mp_walk->depth;
}

Item* SharedFoldersManager::AddFile(ItemPtr folderItem, WalkLevel& level, size_t index, const QString& prefix,
                                    bool mayHaveTwin)
{
    const Entry& entry = level.listing.Entries()[index];
    // Not among the folder's files under this name, so no file is linked to both the folder and
    // the name: only a letter-case twin can stand for it.
    ItemPtr nameItem = mp_fileNameType->GetItem(Value(std::string(level.listing.Bytes(entry.name))));
    Item* file = nullptr;
    if (mayHaveTwin) {
        // A name that differs only in letter case from a shared one in the same folder is left
        // out while that one is on disk. One that is gone was renamed in letter case only (the
        // file or a folder above it): the file moves to its new name and stays shared.
        const QString path = prefix + level.listing.Text(entry.wide);
        if (ItemPtr twin = FindSharedFile(path, false)) {
            Item* twinFolder = FirstNeighbour(twin.get(), mp_fileFolderType);
            const bool twinOnDisk = twinFolder == folderItem.get() ? !level.IsPending(twin.get())
                                                                   : m_folderItemsWalked.count(twinFolder) != 0;
            if (twinOnDisk)
                return nullptr;
            Log("Shared", 1, QString("%1 was renamed in letter case only; it stays shared").arg(path));
            twin += folderItem;
            twin += nameItem;
            file = twin.get();
        }
    }
    if (file) {
        level.MarkSeen(file);
        KeepFile(file, entry.size);
        return file;
    }
    ItemPtr created = mp_fileType->NewItem();
    created += folderItem;
    created += nameItem;
    created += mp_fileSizeType->GetItem(Value(static_cast<long long>(entry.size)));
    ++m_filesAdded;
    return created.get();
}

void SharedFoldersManager::KeepFile(Item* file, qint64 size)
{
    // A file that changed keeps no stale size: peers would stop their download at it and call a
    // cut file complete. Its analysis is stale too.
    const Value sizeText(static_cast<long long>(size));
    const NeighbourSet* oldSize = file->Links(mp_fileSizeType);
    if (!oldSize || (*oldSize->begin())->GetValue() != sizeText) {
        ItemPtr f(file);
        f += mp_fileSizeType->GetItem(sizeText);
        for (const char* type : kAnalysisTypes)
            f.Disconnect(type);
    }
}
