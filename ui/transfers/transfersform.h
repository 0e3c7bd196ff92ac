// The transfers view: the downloads and uploads of the client, each grouped by user and folder,
// and the uploads settings panel.
#pragma once

#include "model/data.h"
#include "model/datasaver.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <map>
#include <set>

class QKeyEvent;
class QProgressBar;
class QTreeWidget;
class QTreeWidgetItem;
class Ui_TransfersForm;

class TransfersForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit TransfersForm(QWidget* parent = nullptr);
    ~TransfersForm() override;

    // Start-up step, once the transfer engine, the timers and the context toolbar exist.
    void Init();
    // Runs once the save file is loaded.
    void DataLoaded() override;

    // ---------------------------------------------------------------- downloads tree
    void OnDownloadEntryAdded(ItemPtr i_entry);
    void OnDownloadEntryStatusChange(ConnectionInfo& i_info);
    void OnDownloadPlaceInLine(ItemPtr i_entry);
    void OnDownloadEntryRemoved(ItemPtr i_entry);
    void DeleteSelectedDownloads();
    ItemSet GetNodeDownloadEntryItems(QTreeWidgetItem* ip_row);
    QTreeWidgetItem* GetDownloadNodeUserNode(QTreeWidgetItem* ip_row);
    static void GetDownloadsProgressStats(ItemSet& i_entries, qint64& o_done, qint64& o_remaining, qint64& o_total);
    static QString GetDownloadEntriesAggregateStatus(ItemSet& i_entries);

    // ---------------------------------------------------------------- uploads tree
    void OnUploadEntryAdded(ItemPtr i_entry);
    void OnUploadEntryStatusChange(ConnectionInfo& i_info);
    void OnUploadEntryRemoved(ItemPtr i_entry);
    ItemSet GetNodeUploadEntryItems(QTreeWidgetItem* ip_row);
    QTreeWidgetItem* GetUploadNodeUserNode(QTreeWidgetItem* ip_row);
    static void GetUploadsProgressStats(ItemSet& i_entries, qint64& o_done, qint64& o_remaining, qint64& o_total);
    static QString GetUploadEntriesAggregateStatus(ItemSet& i_entries);

    // ---------------------------------------------------------------- shared by both trees
    static void SetItemColorByStatus(QTreeWidgetItem* ip_row, QString i_status);
    // "   1h:2m:5s": the time left as the ETA column shows it.
    static QString FormatTimeLeft(qint64 i_seconds);
    // "1,234 (50.0%)": bytes done and their share of the total.
    static QString ProgressText(qint64 i_done, qint64 i_total);
    // What a group row shows: the first that holds of any running, any queued, all complete,
    // any denied, any aborted; else nothing.
    static QString AggregateStatus(ItemSet& i_entries, const char* i_statusType, const char* i_running);

signals:
    void DownloadComplete(ItemPtr i_download);

public slots:
    void OnDownloadProgress(ItemPtr i_entry);
    void OnUploadProgress(ItemPtr i_entry);
    void OnTransfersLoaded();
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);
    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);
    void OnUploadSpeedLimitCheckStateChanged(int i_state);
    void OnUploadSpeedLimitSpinValueChanged(int i_value);
    void OnUploadSlotsSpinValueChanged(int i_value);
    void OnDownloadsContextMenuRequested(QPoint i_pos);
    void OnUploadsContextMenuRequested(QPoint i_pos);
    void OnItemExpanded(QTreeWidgetItem* ip_row);
    void OnItemCollapsed(QTreeWidgetItem* ip_row);
    void OnCurrentTabChanged(int i_index);
    void OnClearDownloadsCheckStateChanged(int i_state);
    void OnClearUploadsCheckStateChanged(int i_state);
    void EveryHalfMinute();
    void OnDownloadComplete(ItemPtr i_entry);
    void OnDownloadListItemDoubleClicked(QTreeWidgetItem* ip_row, int i_column);
    void OnKeyPressedInDownloadList(QKeyEvent* ip_event);
    // Applies the transfer colour settings to every row.
    void RecolorEntries();
    void UpdateActiveTransferCounts();

private:
    // What differs between the two trees; the row logic is shared.
    struct TreeKind
    {
        QTreeWidget* tree;
        const char* entryType;
        const char* userNodeType;
        const char* folderNodeType;
        const char* rowNodeType;
        const char* folderType;
        bool* expandUsers;
        bool* expandFolders;
        const char* statusType;
        // The status word of a transfer moving data.
        const char* running;
        QString (*aggregate)(ItemSet&);
        void (*stats)(ItemSet&, qint64&, qint64&, qint64&);
        // Bytes done and file size of one entry.
        qint64 (*done)(ItemPtr);
        qint64 (*size)(ItemPtr);
    };
    TreeKind& Downloads();
    TreeKind& Uploads();
    static TreeKind& StaticDownloads();
    static TreeKind& StaticUploads();
    static void ProgressStats(TreeKind& i_kind, ItemSet& i_entries, qint64& o_done, qint64& o_remaining,
                              qint64& o_total);
    // The kind whose user or folder node type the row's node has; null for file rows and
    // rows of neither tree.
    TreeKind* GroupKindOf(QTreeWidgetItem* ip_row, bool* op_isUser = nullptr);

    // Finds or makes the user and folder rows of an entry and appends its file row.
    QTreeWidgetItem* AddEntryRow(TreeKind& i_kind, ItemPtr i_entry, ItemPtr i_folder);
    // The row of an entry's node; null when it has none.
    static QTreeWidgetItem* RowOf(ItemPtr i_node);
    // Makes the changes to a row's columns one change of the row, which the tree measures once.
    static void ChangeRow(QTreeWidgetItem* ip_row, const std::function<void()>& i_changes);
    static ItemPtr NodeOf(QTreeWidgetItem* ip_row, const char* i_type);
    ItemSet NodeEntries(TreeKind& i_kind, QTreeWidgetItem* ip_row);
    QTreeWidgetItem* UserRowOf(QTreeWidgetItem* ip_row);
    // Marks the folder and user rows of a file row for the next group refresh, which it starts
    // unless one is pending.
    void UpdateGroupStatus(TreeKind& i_kind, QTreeWidgetItem* ip_fileRow);
    // Writes the aggregate status to every group row marked since the last refresh.
    void RefreshGroupStatus();
    std::set<QTreeWidgetItem*>& DueGroups(TreeKind& i_kind);
    // Writes the aggregate status of its entries to one user or folder row.
    void ShowGroupStatus(TreeKind& i_kind, QTreeWidgetItem* ip_groupRow);
    void RemoveEntryRow(TreeKind& i_kind, ItemPtr i_entry);
    // Drops the completion alerts that wait only for this entry: its own, and those of its folder
    // or user once it is their last.
    void DropAlertsOf(ItemPtr i_entry);
    void ShowProgress(TreeKind& i_kind, ItemPtr i_entry);
    // Shows the progress of every entry that reported since the last refresh.
    void RefreshProgress();
    // Keeps the entry for the next refresh, which it starts unless one is pending.
    void NoteProgress(std::set<Item*>& io_progressed, ItemPtr i_entry);
    // The status column's text: the reason of a denial, the status itself otherwise.
    static QString StatusText(ItemPtr i_entry, const QString& i_status);
    QProgressBar* ProgressBarOf(QTreeWidget* ip_tree, QTreeWidgetItem* ip_row);
    void ShowUserMenu(QTreeWidget* ip_tree, QPoint i_pos, bool i_downloads);
    // The item log window of a user, opened from either tree's menu.
    void ShowUserLog(const QString& i_user);
    // The list of completed downloads, made on first use, as a page of the view.
    void ShowCompleteDownloads();
    void ToggleExpand(QTreeWidget* ip_tree, bool& io_flag, const char* i_action, const QString& i_text, bool i_users);
    void SubscribePath(const char* i_root, std::initializer_list<const char*> i_children, PathNodeRelation i_relation,
                       void (TransfersForm::*i_handler)(ItemPtr));
    void SubscribeConnection(const char* i_a, const char* i_b, void (TransfersForm::*i_handler)(ConnectionInfo&));
    static void SetClearSetting(const char* i_key, int i_state);

    Ui_TransfersForm* ui;
    bool m_transfersLoaded = false;
    // While the saved downloads are added the counts wait for the last of them.
    bool m_addingSavedDownloads = false;
    // Group rows whose status is due. A burst of status changes (a user denying a whole queue)
    // would add up all entries of the folder and the user once per change; they are added up
    // once per burst instead. A row leaves its set before it is deleted.
    std::set<QTreeWidgetItem*> m_dueDownloadGroups;
    std::set<QTreeWidgetItem*> m_dueUploadGroups;
    QTimer m_groupRefresh;
    bool m_expandDownloadFolders = true;
    bool m_expandDownloadUsers = true;
    bool m_expandUploadFolders = true;
    bool m_expandUploadUsers = true;
    // Entries whose queued completion has not been handled yet; dropped when the entry goes.
    std::map<Item*, int> m_pendingCompletions;
    // Entries whose progress waits for the next refresh; an entry that goes is dropped.
    std::set<Item*> m_progressedDownloads;
    std::set<Item*> m_progressedUploads;
    QTimer m_progressRefresh;
};

extern TransfersForm* transfersForm;
