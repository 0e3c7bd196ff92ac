// The browse view of one other user's shared files: a folder tree beside a file list, a filter
// line under them and a message area above them. One form per browsed user, shown as a tab of
// the browse page; downloads of its files and folders are in shareform_downloads.cpp.
#pragma once

#include "model/data.h"

#include <QPoint>
#include <QString>
#include <QWidget>

class QShowEvent;
class QTreeWidgetItem;
class Ui_ShareForm;

class ShareForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // Only the browse page makes these, when it sends the share-list request.
    ShareForm(QString user, QWidget* parent);
    ~ShareForm() override;

    void SetShare(ItemPtr share);
    // Selects the folder with that full path, now or once the share has arrived.
    void BrowseToFolder(QString folder);
    // Ends the tab's data and deletes the form later; the tab is already gone.
    void Delete();
    void ExpandLevel();
    void CollapseAll();
    void ExpandAll();
    void DownloadFolder(ItemPtr folder, bool isSubfolder);
    void OnUserShareItemRemoved(ItemPtr item);

    QString User() const { return m_user; }

public slots:
    void OnCurrentItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem* ip_previous);
    void OnFileItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem* ip_previous);
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);
    void OnFilterTextChanged(QString i_text);
    void OnFilterHelpClicked();
    void OnConnectionToUserFailed(QString i_user, QString i_connectionType);
    void OnUserShareFailed(QString i_user);
    void OnFolderDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnFileDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnFolderContextMenuRequested(QPoint i_point);
    void OnFileContextMenuRequested(QPoint i_point);
    void OnDownloadFolder();
    void OnDownloadFile();

protected:
    void showEvent(QShowEvent* ip_event) override;

private:
    // Ends the waiting state with the message that no share list will come.
    void ShowFailure(const QString& user);
    // Empties the file list together with the nodes of its rows, which would otherwise point
    // at deleted rows.
    void ClearFileList();
    // Drops the folder rows and their nodes (a share that replaces a removed one starts anew).
    void ClearFolderTree();
    // Queues one file; false for a file without the data a download needs, or one the engine
    // refused.
    bool QueueFile(ItemPtr file, int level);

    Ui_ShareForm* m_ui;
    ItemPtr m_userShare;
    qint32 m_maxLevel = 0;
    qint32 m_expandLevel = 0;
    QString m_user;
    bool m_handled = false;
    QString m_browseFolder;
    bool m_subscribed = false;
};
