// The download entries of the downloads tree's context menu: open, retry, remove, completion
// alerts and running the download's search again.
#pragma once

#include "model/data.h"

#include <QObject>
#include <QString>

class QMenu;

class DownloadMenuOptions : public QObject
{
    Q_OBJECT

public:
    // Adds the entries for the downloads to the menu. The object must outlive the menu's run:
    // callers make it on their own stack, with no parent, after the menu.
    DownloadMenuOptions(QMenu* menu, ItemSet entries, QObject* parent = nullptr);

    // A local path text of the engine ("\" separated) handed to the desktop; the engine's empty
    // text is a refusal, and nothing is opened then.
    static void OpenLocal(QString path);

public slots:
    void OnOpenFile();
    void OnOpenFolder();
    void OnRetryDownloads();
    void OnRemoveDownloads();
    void OnSetFileDownloadAlert();
    void OnSetFolderDownloadAlert();
    void OnSetUserDownloadAlert();
    void OnRerunSearch();

private:
    ItemPtr First() const;
    // Whether a download of the folder (of the user) or of the user is still to finish: what a
    // folder or user alert waits for.
    bool FolderAwaited() const;
    bool UserAwaited() const;
    void AddAlertMenu(QMenu* menu);

    // Items removed while the menu runs stay readable (and flagged removed) until it closes.
    Data::Scope m_scope;
    ItemSet m_entries;
    QString m_searchText;
    ItemPtr m_user;
    ItemPtr m_folder;
};
