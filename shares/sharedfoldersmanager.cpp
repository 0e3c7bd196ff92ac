#include "shares/sharedfoldersmanager.h"

#include "model/datasaver.h"

SharedFoldersManager* sharedFoldersManager = nullptr;

SharedFoldersManager::SharedFoldersManager(QObject* parent)
    : QObject(parent)
{
    sharedFoldersManager = this;

    Type* folders = d.NewType("shared_folder", PrimacyRoot, false, true);
    Type* everyone = d.NewType("shared_public", PrimacyLeaf, true, true);
    Type* userList = d.NewType("shared_userlist", PrimacyLeaf, true, true);
    folders->RelateToType(everyone, Many, One, false);
    folders->RelateToType(userList, Many, One, false);
    if (Type* groups = d.HasType("user_list_group"))
        folders->RelateToType(groups, Many, Many, false);
    if (dataSaver) {
        dataSaver->AddSavedType("shared_folder");
        dataSaver->AddSavedByConnectionType("shared_public", "shared_folder");
        dataSaver->AddSavedByConnectionType("shared_userlist", "shared_folder");
    }

    m_mp3ScannerThread.setObjectName("MP3 scanner");
    m_mp3ScannerThread.start();
}

SharedFoldersManager::~SharedFoldersManager()
{
    m_mp3ScannerThread.quit();
    m_mp3ScannerThread.wait();
}

void SharedFoldersManager::Init()
{
    RescanShares();
}

void SharedFoldersManager::RescanShares()
{
    m_filesAdded = 0;
    m_filesRemoved = 0;
    d.RemoveDisconnectedItems();
    emit SharedFilesRescanned(m_filesAdded, m_filesRemoved);
}

ItemPtr SharedFoldersManager::AddSharedFolder(const QString& path)
{
    Type* folders = d.GetType("shared_folder");
    if (ItemPtr existing = folders->HasItem(path))
        return existing;
    return folders->GetItem(path);
}
