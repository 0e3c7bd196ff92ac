#include "shares/sharedfoldersmanager.h"

#include "model/datasaver.h"
#include "model/helpers.h"
#include "model/log.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "server/server.h"
#include "shares/dnetmanager.h"

#include <QDir>

SharedFoldersManager* sharedFoldersManager = nullptr;

namespace {

const char* const kMP3Types[] = {"mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode", "bitrate"};

void Save(const char* type)
{
    if (dataSaver)
        dataSaver->AddSavedType(type);
}

void SaveByConnection(const char* type, const char* other)
{
    if (dataSaver)
        dataSaver->AddSavedByConnectionType(type, other);
}

} // namespace

SharedFoldersManager::SharedFoldersManager(QObject* parent)
    : QObject(parent)
{
    sharedFoldersManager = this;

    Type* folder = d.NewType("shared_folder", PrimacyRoot, false, true);
    Type* file = d.NewType("shared_file", PrimacyReachable, true, true);
    Type* fileName = d.NewType("shared_file_name", PrimacyReachable, false, true);
    Type* fileNameLower = d.NewType("shared_file_lowercase_name", PrimacyLeaf, false, true);
    Type* fileFolder = d.NewType("shared_file_folder", PrimacyReachable, false, true);
    Type* fileFolderLower = d.NewType("shared_file_folder_lowercase_name", PrimacyLeaf, false, true);
    Type* fileSize = d.NewType("shared_file_size", PrimacyLeaf, false, true);
    Type* everyone = d.NewType("shared_public", PrimacyLeaf, true, true);
    Type* userList = d.NewType("shared_userlist", PrimacyLeaf, true, true);
    Type* scanned = d.NewType("is_scanned", PrimacyLeaf, true, true);
    Type* folderId = d.NewType("shared_folder_id", PrimacyLeaf, false, true);
    folder->RelateToType(fileFolder, Many, Many, false);
    file->RelateToType(fileFolder, Many, One, false);
    fileFolder->RelateToType(fileFolderLower, Many, One, false);
    file->RelateToType(fileName, Many, One, false);
    fileName->RelateToType(fileNameLower, Many, One, false);
    file->RelateToType(fileSize, Many, One, false);
    folder->RelateToType(everyone, Many, One, false);
    folder->RelateToType(userList, Many, One, false);
    folder->RelateToType(d.GetType("user_list_group"), Many, Many, false);
    folder->RelateToType(folderId, One, One, false);
    Save("shared_folder");
    Save("is_scanned");
    SaveByConnection("shared_public", "shared_folder");
    SaveByConnection("shared_userlist", "shared_folder");
    SaveByConnection("shared_folder_id", "shared_folder");
    SaveByConnection("shared_file", "shared_file_folder");
    SaveByConnection("shared_file_folder", "shared_folder");
    SaveByConnection("shared_file_name", "shared_file");
    SaveByConnection("shared_file_size", "shared_file");
    for (const char* type : kMP3Types)
        SaveByConnection(type, "shared_file");
    // Also while the save file loads: the lower-case lookup is not saved.
    AddHandler(fileName->itemAdded, this, &SharedFoldersManager::OnSharedFileNameAdded);
    AddHandler(fileFolder->itemAdded, this, &SharedFoldersManager::OnSharedFileFolderAdded);

    // The shares browsed on other users.
    Type* user = d.GetType("user");
    Type* share = d.NewType("user_share", PrimacyRoot, true, true);
    Type* shareFolder = d.NewType("user_share_folder", PrimacyReachable, true, true);
    Type* shareParent = d.NewType("user_share_folder_parent", PrimacyReachable, true, true);
    Type* shareChild = d.NewType("user_share_folder_child", PrimacyReachable, true, true);
    Type* shareFolderName = d.NewType("user_share_folder_name", PrimacyLeaf, false, true);
    Type* shareFile = d.NewType("user_share_file", PrimacyReachable, true, true);
    Type* shareFileName = d.NewType("user_share_file_name", PrimacyLeaf, false, true);
    share->RelateToType(user, One, One, false);
    share->RelateToType(shareFolder, One, Many, false);
    shareFolder->RelateToType(shareFolderName, Many, One, false);
    shareFolder->RelateToType(shareFile, One, Many, false);
    shareFolder->RelateToType(shareParent, One, One, false);
    shareFolder->RelateToType(shareChild, One, Many, false);
    shareParent->RelateToType(shareChild, One, One, false);
    shareFile->RelateToType(shareFileName, Many, One, false);
    shareFile->RelateToType(d.GetType("file_size"), Many, One, false);

    Type* token = d.NewType("search_token", PrimacyLeaf, false, true);
    token->RelateToType(file, Many, Many, false);

    for (const char* type : kMP3Types)
        file->RelateToType(d.GetType(type), Many, One, false);
    file->RelateToType(scanned, Many, One, false);
    shareFile->RelateToType(d.GetType("bitrate_mode"), Many, One, false);
    shareFile->RelateToType(d.GetType("bitrate"), Many, One, false);
    shareFile->RelateToType(d.GetType("length_seconds"), Many, One, false);

    m_mp3ScannerThread.setObjectName("MP3 scanner");
    m_mp3ScannerThread.start(QThread::InheritPriority);
    m_mp3Scanner.moveToThread(&m_mp3ScannerThread);
    connect(this, &SharedFoldersManager::MP3ScanRequired, &m_mp3Scanner, &MP3Scanner::OnMP3ScanRequired);
    connect(&m_mp3Scanner, &MP3Scanner::MP3Scanned, this, &SharedFoldersManager::OnMP3Scanned);

    if (gp_server) {
        connect(gp_server, &Server::Connected, this, &SharedFoldersManager::OnConnectedToServer);
        connect(gp_server, &Server::ReceivedUserStats, this, &SharedFoldersManager::OnReceivedUserStats);
    }

    Type* unshared = d.NewType("unshared", PrimacyLeaf, true, true);
    user->RelateToType(unshared, Many, One, false);
    Save("unshared");
    SaveByConnection("user", "unshared");

    SetSetting("shared_folder_counter", Value("1"));

    mp_folderType = folder;
    mp_fileType = file;
    mp_fileFolderType = fileFolder;
    mp_fileFolderLowerType = fileFolderLower;
    mp_fileNameType = fileName;
    mp_fileNameLowerType = fileNameLower;
    mp_fileSizeType = fileSize;
    mp_tokenType = token;
    mp_scannedType = scanned;

    // Browse and search requests of other users.
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::SharedFilesInFolderRequested, this,
                &SharedFoldersManager::OnFilesInFoldersRequested);
    if (gp_server)
        connect(gp_server, &Server::DirectFileSearch, this, &SharedFoldersManager::OnDirectFileSearch);
    if (dnetManager)
        connect(dnetManager, &DNetManager::DNetSearchRequest, this, &SharedFoldersManager::OnDNetSearchRequest);
}

SharedFoldersManager::~SharedFoldersManager()
{
    m_mp3Scanner.Quit();
    m_mp3ScannerThread.exit(0);
    m_mp3ScannerThread.wait();
    if (sharedFoldersManager == this)
        sharedFoldersManager = nullptr;
}

void SharedFoldersManager::Init()
{
    RescanShares();
}

ItemPtr SharedFoldersManager::AddSharedFolder(const QString& path)
{
    if (ItemPtr existing = mp_folderType->HasItem(path))
        return existing;
    ItemPtr folder = mp_folderType->GetItem(path);
    const int number = GetSettingInt("shared_folder_counter");
    SetSetting("shared_folder_counter", Value(number + 1));
    folder += d.GetType("shared_folder_id")->GetItem(QString("[%1]%2").arg(number).arg(QDir(path).dirName()));
    m_folderItemsWalked.clear();
    WalkSharedFolder(path);
    m_folderItemsWalked.clear();
    return folder;
}

void SharedFoldersManager::OnSharedFileFolderAdded(ItemPtr folder)
{
    folder += mp_fileFolderLowerType->GetItem(LowerCaseKey(folder.get()));
}

void SharedFoldersManager::OnSharedFileNameAdded(ItemPtr name)
{
    name += mp_fileNameLowerType->GetItem(LowerCaseKey(name.get()));
}

ItemPtr SharedFoldersManager::GetSharedFileItem(const QString& path)
{
    return FindSharedFile(path, true);
}

// onlyShared leaves out files whose folder no shared folder holds any more (unshared, or gone
// from disk, until the next rescan removes them): nothing outside the shares is found.
ItemPtr SharedFoldersManager::FindSharedFile(const QString& path, bool onlyShared)
{
    const QString key = GetAbsoluteFileName(path);
    const int separator = qMax(key.lastIndexOf(QLatin1Char('/')), key.lastIndexOf(QLatin1Char('\\')));
    const QString folderKey = separator < 0 ? key : key.left(separator);
    const QString nameKey = separator < 0 ? key : key.mid(separator + 1);
    ItemPtr folderLower = mp_fileFolderLowerType->HasItem(folderKey);
    ItemPtr nameLower = folderLower ? mp_fileNameLowerType->HasItem(nameKey) : ItemPtr();
    if (!nameLower)
        return ItemPtr();
    const NeighbourSet* folders = folderLower->Links(mp_fileFolderType);
    const NeighbourSet* names = nameLower->Links(mp_fileNameType);
    if (!folders || !names)
        return ItemPtr();
    ItemSet found;
    for (const ItemPtr& folder : *folders) {
        if (onlyShared && !folder->IsConnected(mp_folderType))
            continue;
        for (const ItemPtr& name : *names)
            if (ItemPtr file = d.GetItem(folder, name, "shared_file"))
                found.insert(file);
    }
    return found;
}

void SharedFoldersManager::OnConnectedToServer()
{
    gp_server->SendFilesFolders(static_cast<int>(mp_fileFolderType->ItemCount()),
                                static_cast<int>(mp_fileType->ItemCount()));
    gp_server->GetUserStats(GetSetting("username"));
}

void SharedFoldersManager::OnReceivedUserStats(QString i_user, UserStats i_stats)
{
    if (i_user == GetSetting("username"))
        SetSetting("upload_speed", Value(static_cast<int>(i_stats.averageSpeed)));
}

void SharedFoldersManager::OnMP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode, int i_frequency,
                                        bool i_isVBR, int i_bitrate)
{
    Log("MP3 Scanning", 1, QString("Scanned %1").arg(i_file));
    ItemPtr file = GetSharedFileItem(i_file);
    if (!file)
        return;
    file += d.GetType("mpeg_version")->GetItem(Value(i_mpegVersion));
    file += d.GetType("channel_mode")->GetItem(Value(i_channelMode));
    file += d.GetType("audio_frequency")->GetItem(Value(i_frequency));
    file += d.GetType("bitrate_mode")->GetItem(Value(i_isVBR ? "vbr" : "cbr"));
    file += d.GetType("bitrate")->GetItem(Value(i_bitrate));
    file.NewItem("is_scanned");
}
