// The index of the folders the user shares, kept in the item graph.
#pragma once

#include "model/data.h"

#include <QObject>
#include <QThread>

class SharedFoldersManager : public QObject, public DataHandler
{
    Q_OBJECT

public:
    explicit SharedFoldersManager(QObject* parent = nullptr);
    ~SharedFoldersManager() override;

    // The first rescan, run by start-up on the GUI thread.
    void Init();
    void RescanShares();
    // The folder's item: the one already shared under that path, or a new one.
    ItemPtr AddSharedFolder(const QString& path);

signals:
    void SharedFilesRescanned(int added, int removed);

private:
    QThread m_mp3ScannerThread;
    int m_filesAdded = 0;
    int m_filesRemoved = 0;
};

extern SharedFoldersManager* sharedFoldersManager;
