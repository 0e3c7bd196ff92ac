// The index of the folders the user shares, kept in the item graph: the walk of the folders on
// disk, the lower-case lookup of paths and names, the search-token index, the hand-off of MP3
// files to the scanner thread, and the counts told to the server.
#pragma once

#include "model/data.h"
#include "model/records.h"
#include "model/stream.h"
#include "shares/mp3scanner.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <set>
#include <string_view>
#include <utility>
#include <vector>

class SharedFoldersManager : public QObject, public DataHandler
{
    Q_OBJECT

public:
    // Needs the server connection's and the peer side's item types (user, user_list_group,
    // file_size and the audio types). Starts the scanner thread.
    explicit SharedFoldersManager(QObject* parent = nullptr);
    // Stops the scanner (a file being analysed ends at its next chunk) and waits for its thread.
    ~SharedFoldersManager() override;

    // The first rescan, run by start-up on the GUI thread once the save file is loaded.
    void Init();
    // Walks every shared folder again, drops what vanished and reports the counts.
    void RescanShares();
    // The folder's item: the one already shared under that path, or a new one, numbered and walked.
    ItemPtr AddSharedFolder(const QString& path);
    // The shared file at a local path ("/" separated), matched without regard to letter case;
    // null when no shared folder holds such a file.
    ItemPtr GetSharedFileItem(const QString& path);

    // Links the file to the search_token item of every token of its lower-cased full path.
    // The file must already be linked to its folder and name.
    void TokenizeSharedFile(ItemPtr file);
    static bool IsSearchTokenSeparator(QChar c);

    MP3Scanner* GetMP3Scanner() { return &m_mp3Scanner; }

    // What other users may see: the shared folders visible to a user, and whether one shared
    // file may go to them. A user cut off with `unshared` sees nothing.
    ItemSet GetUserSharedFolders(const QString& user);
    bool IsFileSharedWithUser(ItemPtr file, const QString& user);
    // The share list as the user would see it; the table is left as it is.
    void GetSharedFilesAsUserShare(const QString& user, FileInfoMap& files, AttributeTranslationTable& table);
    // The complete share-list message for the user; empty when it could not be compressed.
    MemStream GetSharedFilesMessage(const QString& user);
    // The folder-contents message answering the user's request for one folder; empty when it
    // could not be compressed.
    MemStream GetFilesInFolderMessage(const QString& i_user, quint32 i_req, const QString& i_folder);
    // The search-reply message for the user's search, or an empty stream when the search is not
    // to be answered (no usable text, no visible match, or more than 200 of them).
    MemStream BuildSearchReply(const QString& user, unsigned int token, const QString& text);
    // Drops a browsed user's share from the item graph.
    void RemoveUserShare(const QString& user);
    // Bitrate, mode and length of a file item, as shown in the views.
    QString GetFileItemDisplayString(ItemPtr item);

public slots:
    void OnFilesInFoldersRequested(QString i_user, quint32 i_req, QString i_folder);
    void OnDirectFileSearch(QString i_user, quint32 i_req, QString i_search);
    void OnDNetSearchRequest(QString i_user, quint32 i_req, QString i_searchText);

signals:
    void MP3ScanRequired(QString i_file);
    void SharedFilesRescanned(int i_filesAdded, int i_filesRemoved);

public slots:
    void OnMP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode, int i_frequency, bool i_isVBR,
                      int i_bitrate);
    void OnConnectedToServer();
    void OnReceivedUserStats(QString i_user, UserStats i_stats);

private:
    // One folder of a walk in progress (its listing and the files it held before), and the walk.
    struct WalkLevel;
    struct WalkState;
    // A directory by device and inode: the same one whatever path leads to it.
    typedef std::pair<quint64, quint64> DirectoryId;

    void WalkSharedFolder(const QString& rootFolder);
    // The id is null when the folder could not be looked at.
    void AddSharedFiles(const QString& rootFolder, const QString& folder, const DirectoryId* id);
    // The file found or made for a listed name that the folder did not hold under that name; null
    // when a letter-case twin is shared already (looked for only when the walk says there may be one).
    Item* AddFile(ItemPtr folderItem, WalkLevel& level, size_t entry, const QString& prefix, bool mayHaveTwin);
    // A file seen again on disk: a changed size is taken, and the analysis of the old content dropped.
    void KeepFile(Item* file, qint64 size);
    // The files of one folder that hold no tokens yet; their names come lower-cased, as UTF-8.
    void TokenizeSharedFiles(const QString& lowerFolder, const std::vector<std::pair<Item*, std::string_view>>& files);
    static void SplitTokens(std::string_view utf8, std::vector<std::string_view>& tokens);
    std::vector<ItemPtr> TokenItems(const QString& lowerText);
    // The token items of a lower-cased UTF-8 text, appended to out; tokens is room the split reuses.
    void AppendTokenItems(std::string_view utf8, std::vector<std::string_view>& tokens, std::vector<ItemPtr>& out);
    ItemPtr FindSharedFile(const QString& path, bool onlyShared);
    void RemoveUnsharedFolders();
    // The key of the lower-case lookup for a path or name item's text: one trailing separator
    // dropped, lower-cased (GetAbsoluteFileName), as UTF-8.
    static Value LowerCaseKey(const Item* item);
    void OnSharedFileFolderAdded(ItemPtr folder);
    void OnSharedFileNameAdded(ItemPtr name);
    void ProcessSearch(const QString& user, unsigned int token, const QString& text);

    QThread m_mp3ScannerThread;
    MP3Scanner m_mp3Scanner;
    int m_filesAdded = 0;
    int m_filesRemoved = 0;
    // The directories the walk of one shared folder has entered, so that one reached again
    // through a symbolic link is noticed whatever path text leads to it.
    std::set<DirectoryId> m_foldersWalked;
    WalkState* mp_walk = nullptr;
    // The folder items walked in this scan: a letter-case twin in one of them is on disk.
    std::set<Item*> m_folderItemsWalked;

    // Types looked up once; the walk touches them for every file.
    Type* mp_folderType = nullptr;
    Type* mp_fileType = nullptr;
    Type* mp_fileFolderType = nullptr;
    Type* mp_fileFolderLowerType = nullptr;
    Type* mp_fileNameType = nullptr;
    Type* mp_fileNameLowerType = nullptr;
    Type* mp_fileSizeType = nullptr;
    Type* mp_tokenType = nullptr;
    Type* mp_scannedType = nullptr;
};

extern SharedFoldersManager* sharedFoldersManager;
