// The transfers view's frame: the form, the node types that tie rows to entries, the
// subscriptions, the toolbar actions, the uploads panel, the tab's counts and the half-minute
// clearing of finished uploads. The trees live in transfersform_downloads.cpp and
// transfersform_uploads.cpp; what they share is at the end of this file.
#include "ui/transfers/transfersform.h"

#include "app/actionsettoolbar.h"
#include "app/focus.h"
#include "app/usermenuoptions.h"
#include "model/helpers.h"
#include "model/settings.h"
#include "model/sizemanager.h"
#include "model/timermanager.h"
#include "transfers/transferqueuemanager.h"
#include "ui/transfers/completedownloadsform.h"
#include "ui/transfers/downloadmenuoptions.h"
#include "ui/transfers/itemlogdialog.h"
#include "ui_transfersform.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QProgressBar>
#include <QSignalBlocker>

#include <optional>

TransfersForm* transfersForm = nullptr;

namespace {

const char* const kIcon = ":/icons/transfer_icon";
const qint64 kClearUploadsAfterMs = 299999;
// Progress is shown at most this often: a fast transfer reports more than anyone can read, and
// each refresh adds up every entry of the user and the folder.
const int kProgressRefreshMs = 100;

// A row of the transfer trees. Its status colour is one brush over the columns it had when it
// was coloured, changed with one change of the row: set column by column, every column's change
// made the tree measure the whole row again, a dozen times per status change of a burst.
class StatusRow : public QTreeWidgetItem
{
public:
    template <typename Parent>
    explicit StatusRow(Parent* parent) : QTreeWidgetItem(parent, UserType)
    {
    }

    void SetStatusBrush(const QBrush& brush)
    {
        if (m_brush == brush && m_colouredColumns == columnCount())
            return;
        m_brush = brush;
        m_colouredColumns = columnCount();
        emitDataChanged();
    }

    void RowChanged() { emitDataChanged(); }

    QVariant data(int column, int role) const override
    {
        if (role == Qt::ForegroundRole && column < m_colouredColumns)
            return m_brush;
        return QTreeWidgetItem::data(column, role);
    }

private:
    QBrush m_brush;
    int m_colouredColumns = 0;
};

Type* DeclareNodeType(const char* name, bool null = false)
{
    if (Type* t = d.HasType(name))
        return t;
    return d.NewType(name, PrimacyRoot, null, true);
}

void Relate(Type* a, const char* other, OneOrMany aPerOther, OneOrMany otherPerA)
{
    Type* b = d.GetType(other);
    if (!a->IsRelated(b))
        a->RelateToType(b, aPerOther, otherPerA, false);
}

// The node types that tie a list's rows to the graph: a row per user, a folder row per user and
// folder under it, and an entry row per transfer under that.
void DeclareListNodes(const char* userNode, const char* folderNode, const char* rowNode, const char* folder,
                      const char* entry)
{
    Type* user = DeclareNodeType(userNode);
    Type* folderRow = DeclareNodeType(folderNode);
    Type* row = DeclareNodeType(rowNode);
    Relate(user, "user", One, One);
    Relate(folderRow, userNode, Many, One);
    Relate(folderRow, folder, Many, One);
    Relate(folderRow, rowNode, One, Many);
    Relate(row, entry, One, One);
}

void SetUpColumns(QTreeWidget* tree, int count)
{
    static const char* const headers[] = {"User", "Folder", "File", "Status", "Progress", "   ETA", "Kbs", "Size",
                                          "Place"};
    static const int widths[] = {100, 125, 125, 100, 140, 80, 40, 90, 40};
    QStringList labels;
    for (int column = 0; column < count; ++column)
        labels << headers[column];
    tree->setColumnCount(count);
    tree->setHeaderLabels(labels);
    for (int column = 0; column < count; ++column)
        tree->setColumnWidth(column, widths[column]);
    tree->header()->setSectionsMovable(false);
}

// A stored time in the text date format, or the date-time a live cell points to.
QDateTime StatusChangeTime(ItemPtr entry)
{
    ItemPtr item = entry["last_status_change_time"];
    return item ? StoredTimeFromText(item.AsString()) : QDateTime();
}

}  // namespace

TransfersForm::TransfersForm(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_TransfersForm)
{
    transfersForm = this;
    ui->setupUi(this);
    connect(ui->downloadsList, &QWidget::customContextMenuRequested, this,
            &TransfersForm::OnDownloadsContextMenuRequested);
    connect(ui->uploadsList, &QWidget::customContextMenuRequested, this, &TransfersForm::OnUploadsContextMenuRequested);
    connect(ui->transfersTabControl, &QTabWidget::currentChanged, this, &TransfersForm::OnCurrentTabChanged);

    SetUpColumns(ui->downloadsList, 9);
    SetUpColumns(ui->uploadsList, 8);
    ui->uploadsList->header()->setStretchLastSection(false);

    connect(ui->downloadsList, &QTreeWidget::itemDoubleClicked, this, &TransfersForm::OnDownloadListItemDoubleClicked);
    connect(ui->downloadsList, &TreeWidget::KeyPressed, this, &TransfersForm::OnKeyPressedInDownloadList);

    // A member dies before the widget's children are deleted, so the parent never frees it.
    m_progressRefresh.setParent(this);
    m_progressRefresh.setObjectName("progressRefresh");
    m_progressRefresh.setSingleShot(true);
    m_progressRefresh.setInterval(kProgressRefreshMs);
    connect(&m_progressRefresh, &QTimer::timeout, this, &TransfersForm::RefreshProgress);
    m_groupRefresh.setParent(this);
    m_groupRefresh.setObjectName("groupRefresh");
    m_groupRefresh.setSingleShot(true);
    m_groupRefresh.setInterval(0);
    connect(&m_groupRefresh, &QTimer::timeout, this, &TransfersForm::RefreshGroupStatus);
}

TransfersForm::~TransfersForm()
{
    if (transfersForm == this)
        transfersForm = nullptr;
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    // The rows die with the form: their node items must not outlive them.
    RemoveDataHandlers();
    if (d.HasType("download_list_node")) {
        Data::Scope scope(&d);
        for (const char* type : {"download_list_node", "download_list_folder_node", "download_list_user_node",
                                 "upload_list_node", "upload_list_folder_node", "upload_list_user_node"})
            g(type).Remove();
    }
    delete ui;
}

void TransfersForm::SubscribePath(const char* i_root, std::initializer_list<const char*> i_children,
                                  PathNodeRelation i_relation, void (TransfersForm::*i_handler)(ItemPtr))
{
    auto* root = new PathNode(&d, i_root);
    for (const char* child : i_children)
        new PathNode(root, child, i_relation);
    auto* handler = new EventHandler<TransfersForm, ItemPtr>(this, i_handler);
    AddDataHandler(handler);
    d.AddPathEventHandler(root, handler);
}

void TransfersForm::SubscribeConnection(const char* i_a, const char* i_b,
                                        void (TransfersForm::*i_handler)(ConnectionInfo&))
{
    auto* handler = new EventHandler<TransfersForm, ConnectionInfo&>(this, i_handler);
    AddDataHandler(handler);
    d.AddConnectionEventHandler(d.GetType(i_a), d.GetType(i_b), handler);
}

void TransfersForm::Init()
{
    SubscribePath("download_entry", {"user", "file_name", "file_size", "remote_folder"}, PathConnected,
                  &TransfersForm::OnDownloadEntryAdded);
    DeclareListNodes("download_list_user_node", "download_list_folder_node", "download_list_node", "remote_folder",
                     "download_entry");

    SubscribeConnection("download_entry", "download_entry_status", &TransfersForm::OnDownloadEntryStatusChange);
    SubscribeConnection("upload_entry", "upload_entry_status", &TransfersForm::OnUploadEntryStatusChange);
    connect(transferQueueManager, &TransferQueueManager::DownloadProgressed, this, &TransfersForm::OnDownloadProgress);
    connect(transferQueueManager, &TransferQueueManager::UploadProgressed, this, &TransfersForm::OnUploadProgress);

    SubscribePath("upload_entry", {"user", "shared_file"}, PathConnected, &TransfersForm::OnUploadEntryAdded);
    DeclareListNodes("upload_list_user_node", "upload_list_folder_node", "upload_list_node", "shared_file_folder",
                     "upload_entry");

    m_transfersLoaded = false;
    connect(transferQueueManager, &TransferQueueManager::TransfersLoaded, this, &TransfersForm::OnTransfersLoaded);

    AddHandler(d.GetType("download_entry")->itemRemoved, this, &TransfersForm::OnDownloadEntryRemoved);
    AddHandler(d.GetType("upload_entry")->itemRemoved, this, &TransfersForm::OnUploadEntryRemoved);

    actionBar->AddSetAction("downloads", "expand_download_folders", "Expand Folders", kIcon);
    actionBar->AddSetAction("downloads", "expand_download_users", "Expand Users", kIcon);
    actionBar->AddSetAction("downloads", "clear_complete_downloads", "Clear Complete", kIcon);
    // Answered by the form but offered by no set of its own before.
    actionBar->AddSetAction("downloads", "remove_download", "Remove downloads", kIcon, true);
    actionBar->AddSetAction("downloads", "dl_add_user", "Add user to list", kIcon, true);
    actionBar->AddSetAction("downloads", "complete_downloads", "Complete Downloads", kIcon);
    actionBar->RegisterWidget(ui->downloadsList, "downloads");
    actionBar->SetWidgetActionText(ui->downloadsList, "expand_download_folders", "Expand Folders [on]");
    actionBar->SetWidgetActionText(ui->downloadsList, "expand_download_users", "Expand Users [on]");
    actionBar->AddSetAction("uploads", "expand_upload_folders", "Expand Folders", kIcon);
    actionBar->AddSetAction("uploads", "expand_upload_users", "Expand Users", kIcon);
    actionBar->AddSetAction("uploads", "clear_complete_and_aborted_uploads", "Clear Complete and Aborted", kIcon);
    actionBar->RegisterWidget(ui->uploadsList, "uploads");
    actionBar->SetWidgetActionText(ui->uploadsList, "expand_upload_folders", "Expand Folders [on]");
    actionBar->SetWidgetActionText(ui->uploadsList, "expand_upload_users", "Expand Users [on]");
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &TransfersForm::OnActionBarTriggered);

    SubscribePath("user", {"is_online"}, PathConnectedTrigger, &TransfersForm::OnUserOnline);
    SubscribePath("user", {"is_online"}, PathDisconnectedTrigger, &TransfersForm::OnUserOffline);
    SubscribePath("download_entry", {"place_in_line"}, PathConnected, &TransfersForm::OnDownloadPlaceInLine);
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);

    for (QTreeWidget* tree : {static_cast<QTreeWidget*>(ui->downloadsList), ui->uploadsList}) {
        connect(tree, &QTreeWidget::itemExpanded, this, &TransfersForm::OnItemExpanded);
        connect(tree, &QTreeWidget::itemCollapsed, this, &TransfersForm::OnItemCollapsed);
    }
    ui->downloadsList->setFocus();
    connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &TransfersForm::EveryHalfMinute);
    connect(this, &TransfersForm::DownloadComplete, this, &TransfersForm::OnDownloadComplete, Qt::QueuedConnection);
    RegisterWidgetForTabFocus(ui->downloadsList, 1);
    RegisterWidgetForTabFocus(ui->uploadsList, 1);

    Type* alert = DeclareNodeType("complete_download_alert", true);
    Relate(alert, "download_entry", One, One);
    Relate(alert, "user", Many, One);
    Relate(alert, "remote_folder", Many, One);

    UpdateActiveTransferCounts();
}

void TransfersForm::DataLoaded()
{
    ui->uploadLimitSpinBox->setValue(GetSettingInt("upload_speed_limit"));
    ui->uploadSlotsSpinBox->setValue(GetSettingInt("upload_slots"));
    ui->uploadLimitCheckBox->setChecked(IsSettingOn("upload_speed_limit_enabled"));
    ui->clearDownloadsCheckBox->setChecked(IsSettingOn("clear_complete_downloads"));
    ui->clearUploadsCheckBox->setChecked(IsSettingOn("clear_complete_aborted_uploads"));

    // Connected only now, so that restoring the panel writes nothing back.
    connect(ui->uploadLimitSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &TransfersForm::OnUploadSpeedLimitSpinValueChanged);
    connect(ui->uploadLimitCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnUploadSpeedLimitCheckStateChanged);
    connect(ui->clearDownloadsCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnClearDownloadsCheckStateChanged);
    connect(ui->clearUploadsCheckBox, &QCheckBox::stateChanged, this, &TransfersForm::OnClearUploadsCheckStateChanged);
    connect(ui->uploadSlotsSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &TransfersForm::OnUploadSlotsSpinValueChanged);

    if (sizeManager) {
        sizeManager->RegisterTreeWidget("download_list", ui->downloadsList);
        sizeManager->RegisterTreeWidget("upload_list", ui->uploadsList);
    }
}

// ---------------------------------------------------------------- uploads panel

void TransfersForm::OnUploadSlotsSpinValueChanged(int i_value)
{
    transferQueueManager->SetUploadSlots(i_value);
}

void TransfersForm::OnUploadSpeedLimitSpinValueChanged(int i_value)
{
    // The box's own slot switches the limit on or off, before the new limit is stored.
    ui->uploadLimitCheckBox->setChecked(i_value != 0);
    transferQueueManager->SetUploadSpeedLimit(i_value);
}

void TransfersForm::OnUploadSpeedLimitCheckStateChanged(int i_state)
{
    if (i_state == Qt::Checked)
        transferQueueManager->EnableUploadSpeedLimit(true);
    else if (i_state == Qt::Unchecked)
        transferQueueManager->EnableUploadSpeedLimit(false);
}

void TransfersForm::SetClearSetting(const char* i_key, int i_state)
{
    if (i_state == Qt::Checked)
        SetSetting(i_key, "yes");
    else if (i_state == Qt::Unchecked)
        d.GetType("global")->GetItem(Value(i_key)).Disconnect("global_value");
}

void TransfersForm::OnClearDownloadsCheckStateChanged(int i_state)
{
    SetClearSetting("clear_complete_downloads", i_state);
}

void TransfersForm::OnClearUploadsCheckStateChanged(int i_state)
{
    SetClearSetting("clear_complete_aborted_uploads", i_state);
}

void TransfersForm::OnCurrentTabChanged(int)
{
}

// ---------------------------------------------------------------- counts, users, start-up

void TransfersForm::UpdateActiveTransferCounts()
{
    int index = -1;
    QTabWidget* tabs = GetWidgetTabWidget(this, index);
    if (!tabs || !transferQueueManager)
        return;
    const QString text = QString("Transfers [%1/%2]")
                             .arg(transferQueueManager->ActiveDownloadCount())
                             .arg(transferQueueManager->ActiveUploadCount());
    // Every status change asks; the tab bar lays itself out again for any text it is given.
    if (tabs->tabText(index) != text)
        tabs->setTabText(index, text);
}

void TransfersForm::OnUserOnline(ItemPtr i_user)
{
    for (const char* type : {"download_list_user_node", "upload_list_user_node"})
        if (QTreeWidgetItem* row = RowOf(i_user[type]))
            row->setIcon(0, QIcon(":/icons/online_dot_icon"));
}

void TransfersForm::OnUserOffline(ItemPtr i_user)
{
    for (const char* type : {"download_list_user_node", "upload_list_user_node"})
        if (QTreeWidgetItem* row = RowOf(i_user[type]))
            row->setIcon(0, QIcon(":/icons/offline_dot_icon"));
}

void TransfersForm::OnTransfersLoaded()
{
    m_transfersLoaded = true;
    QTreeWidget* tree = ui->downloadsList;
    tree->setUpdatesEnabled(false);
    // Each row's status would add up all entries of its user and folder again: with many
    // downloads of one user that is quadratic, so the groups are summed once, after the rows.
    m_addingSavedDownloads = true;
    for (const ItemPtr& entry : g("download_entry").SortNumericBy("download_order", true))
        OnDownloadEntryAdded(entry);
    m_addingSavedDownloads = false;
    // The tree appears whole, group rows included.
    RefreshGroupStatus();
    UpdateActiveTransferCounts();
    tree->setUpdatesEnabled(true);
}

// ---------------------------------------------------------------- toolbar actions

void TransfersForm::ToggleExpand(QTreeWidget* ip_tree, bool& io_flag, const char* i_action, const QString& i_text,
                                 bool i_users)
{
    io_flag = !io_flag;
    actionBar->SetWidgetActionText(ip_tree, i_action, i_text + (io_flag ? " [on]" : " [off]"));
    ip_tree->setUpdatesEnabled(false);
    for (int i = 0; i < ip_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* user = ip_tree->topLevelItem(i);
        if (i_users) {
            user->setExpanded(io_flag);
            continue;
        }
        for (int k = 0; k < user->childCount(); ++k)
            user->child(k)->setExpanded(io_flag);
    }
    ip_tree->setUpdatesEnabled(true);
}

void TransfersForm::OnActionBarTriggered(QWidget*, QString i_action)
{
    if (i_action == "expand_download_folders")
        ToggleExpand(ui->downloadsList, m_expandDownloadFolders, "expand_download_folders", "Expand Folders", false);
    if (i_action == "expand_download_users")
        ToggleExpand(ui->downloadsList, m_expandDownloadUsers, "expand_download_users", "Expand Users", true);
    if (i_action == "expand_upload_folders")
        ToggleExpand(ui->uploadsList, m_expandUploadFolders, "expand_upload_folders", "Expand Folders", false);
    if (i_action == "expand_upload_users")
        ToggleExpand(ui->uploadsList, m_expandUploadUsers, "expand_upload_users", "Expand Users", true);
    if (i_action == "clear_complete_downloads") {
        Data::Scope scope(&d);
        if (ItemPtr complete = d.GetType("download_entry_status")->HasItem(Value("complete")))
            for (const ItemPtr& entry : complete.GetItems("download_entry"))
                transferQueueManager->RemoveDownload(entry);
    }
    if (i_action == "clear_complete_and_aborted_uploads") {
        Data::Scope scope(&d);
        ItemSet finished = g("upload_entry_status").NotConnected("is_active").GetItems("upload_entry");
        if (ItemPtr queued = d.GetType("upload_entry_status")->HasItem(Value("queued")))
            finished = finished.NotConnected(queued);
        for (const ItemPtr& entry : finished)
            transferQueueManager->RemoveUpload(entry);
    }
    if (i_action == "remove_download")
        DeleteSelectedDownloads();
    if (i_action == "complete_downloads")
        ShowCompleteDownloads();
    if (i_action == "dl_add_user") {
        for (QTreeWidgetItem* row : ui->downloadsList->selectedItems()) {
            ItemPtr user = NodeOf(GetDownloadNodeUserNode(row), "download_list_user_node")["user"];
            if (user && !user.IsConnected("in_user_list"))
                user.NewItem("in_user_list");
        }
    }
}

// ---------------------------------------------------------------- half-minute clearing

void TransfersForm::EveryHalfMinute()
{
    if (!IsSettingOn("clear_complete_aborted_uploads"))
        return;
    Data::Scope scope(&d);
    const QDateTime now = TransferQueueManager::Now();
    for (const ItemPtr& entry : g("upload_entry")) {
        if (entry["upload_entry_status"].AsString() == "queued")
            continue;
        QDateTime last = StatusChangeTime(entry);
        if (auto* receipt = TransferQueueManager::Cell<QDateTime>(entry, "last_receipt_time"))
            if (!last.isValid() || *receipt > last)
                last = *receipt;
        if (last.isValid() && last.msecsTo(now) > kClearUploadsAfterMs)
            transferQueueManager->RemoveUpload(entry);
    }
}

// ---------------------------------------------------------------- colours

void TransfersForm::SetItemColorByStatus(QTreeWidgetItem* ip_row, QString i_status)
{
    const char* key = "color_transfer_other";
    if (i_status == "complete")
        key = "color_transfer_complete";
    else if (i_status == "downloading" || i_status == "uploading" || i_status == "connecting")
        key = "color_transfer_in_progress";
    else if (i_status == "queued")
        key = "color_transfer_queued";
    else if (i_status == "denied" || i_status == "aborted" || i_status == "local error")
        key = "color_transfer_failed";
    const QBrush brush{QColor(GetSetting(key))};
    if (auto* row = dynamic_cast<StatusRow*>(ip_row)) {
        row->SetStatusBrush(brush);
        return;
    }
    for (int column = 0; column < ip_row->columnCount(); ++column)
        ip_row->setForeground(column, brush);
}

void TransfersForm::ChangeRow(QTreeWidgetItem* ip_row, const std::function<void()>& i_changes)
{
    auto* row = dynamic_cast<StatusRow*>(ip_row);
    QTreeWidget* tree = ip_row->treeWidget();
    if (!row || !tree) {
        i_changes();
        return;
    }
    {
        // Each column's own change would make the tree measure the whole row again.
        const QSignalBlocker quiet(tree->model());
        i_changes();
    }
    row->RowChanged();
}

void TransfersForm::RecolorEntries()
{
    for (TreeKind* kind : {&Downloads(), &Uploads()})
        for (const ItemPtr& node : g(kind->rowNodeType))
            if (QTreeWidgetItem* row = RowOf(node))
                SetItemColorByStatus(row, node[kind->entryType][kind->statusType].AsString());
    for (TreeKind* kind : {&Downloads(), &Uploads()})
        for (const char* type : {kind->folderNodeType, kind->userNodeType})
            for (const ItemPtr& node : g(type))
                if (QTreeWidgetItem* row = RowOf(node)) {
                    ItemSet entries = NodeEntries(*kind, row);
                    SetItemColorByStatus(row, kind->aggregate(entries));
                }
}

// ---------------------------------------------------------------- expand and collapse

TransfersForm::TreeKind* TransfersForm::GroupKindOf(QTreeWidgetItem* ip_row, bool* op_isUser)
{
    for (TreeKind* kind : {&Downloads(), &Uploads()}) {
        if (ip_row->treeWidget() != kind->tree)
            continue;
        const bool isUser = NodeOf(ip_row, kind->userNodeType);
        if (!isUser && !NodeOf(ip_row, kind->folderNodeType))
            return nullptr;
        if (op_isUser)
            *op_isUser = isUser;
        return kind;
    }
    return nullptr;
}

void TransfersForm::OnItemCollapsed(QTreeWidgetItem* ip_row)
{
    if (TreeKind* kind = GroupKindOf(ip_row)) {
        ItemSet entries = NodeEntries(*kind, ip_row);
        ip_row->setText(3, kind->aggregate(entries));
    }
}

void TransfersForm::OnItemExpanded(QTreeWidgetItem* ip_row)
{
    if (TreeKind* kind = GroupKindOf(ip_row)) {
        for (int column : {3, 5, 6})
            ip_row->setText(column, QString());
        kind->tree->removeItemWidget(ip_row, 4);
    }
}

// ---------------------------------------------------------------- rows shared by both trees

QTreeWidgetItem* TransfersForm::RowOf(ItemPtr i_node)
{
    return i_node ? ItemObject<QTreeWidgetItem>(i_node) : nullptr;
}

ItemPtr TransfersForm::NodeOf(QTreeWidgetItem* ip_row, const char* i_type)
{
    return ip_row ? d.GetType(i_type)->HasItem(Value(ip_row)) : ItemPtr();
}

QTreeWidgetItem* TransfersForm::UserRowOf(QTreeWidgetItem* ip_row)
{
    while (ip_row && ip_row->parent())
        ip_row = ip_row->parent();
    return ip_row;
}

ItemSet TransfersForm::NodeEntries(TreeKind& i_kind, QTreeWidgetItem* ip_row)
{
    if (ItemPtr node = NodeOf(ip_row, i_kind.rowNodeType))
        return node.GetItems(i_kind.entryType);
    if (ItemPtr node = NodeOf(ip_row, i_kind.folderNodeType))
        return node.GetItems(i_kind.rowNodeType).GetItems(i_kind.entryType);
    if (ItemPtr node = NodeOf(ip_row, i_kind.userNodeType))
        return node.GetItems(i_kind.folderNodeType).GetItems(i_kind.rowNodeType).GetItems(i_kind.entryType);
    return ItemSet();
}

QTreeWidgetItem* TransfersForm::AddEntryRow(TreeKind& i_kind, ItemPtr i_entry, ItemPtr i_folder)
{
    ItemPtr user = i_entry["user"];
    QTreeWidgetItem* userRow = RowOf(user[i_kind.userNodeType]);
    ItemPtr userNode = user[i_kind.userNodeType];
    if (!userRow) {
        userRow = new StatusRow(i_kind.tree);
        userNode = d.GetType(i_kind.userNodeType)->GetItem(Value(userRow));
        userNode += user;
        userRow->setText(0, user.AsString());
        userRow->setIcon(0, QIcon(user.IsConnected("is_online") ? ":/icons/online_dot_icon" : ":/icons/offline_dot_icon"));
        if (*i_kind.expandUsers)
            userRow->setExpanded(true);
    }
    ItemPtr folderNode = d.GetItem(userNode, i_folder, i_kind.folderNodeType);
    QTreeWidgetItem* folderRow = RowOf(folderNode);
    if (!folderRow) {
        folderRow = new StatusRow(userRow);
        folderNode = d.GetType(i_kind.folderNodeType)->GetItem(Value(folderRow));
        folderNode += userNode;
        folderNode += i_folder;
        folderRow->setText(1, ReversePathname(i_folder.AsString()));
        if (*i_kind.expandFolders)
            folderRow->setExpanded(true);
    }
    auto* fileRow = new StatusRow(folderRow);
    ItemPtr rowNode = d.GetType(i_kind.rowNodeType)->GetItem(Value(fileRow));
    rowNode += i_entry;
    folderNode += rowNode;
    return fileRow;
}

void TransfersForm::UpdateGroupStatus(TreeKind& i_kind, QTreeWidgetItem* ip_fileRow)
{
    std::set<QTreeWidgetItem*>& due = DueGroups(i_kind);
    for (QTreeWidgetItem* row : {ip_fileRow->parent(), UserRowOf(ip_fileRow)})
        if (row)
            due.insert(row);
    if (!m_groupRefresh.isActive())
        m_groupRefresh.start();
}

std::set<QTreeWidgetItem*>& TransfersForm::DueGroups(TreeKind& i_kind)
{
    return i_kind.tree == ui->uploadsList ? m_dueUploadGroups : m_dueDownloadGroups;
}

void TransfersForm::RefreshGroupStatus()
{
    m_groupRefresh.stop();
    Data::Scope scope(&d);
    for (auto [due, kind] : {std::make_pair(&m_dueDownloadGroups, &Downloads()),
                             std::make_pair(&m_dueUploadGroups, &Uploads())}) {
        const std::set<QTreeWidgetItem*> rows = std::move(*due);
        due->clear();
        for (QTreeWidgetItem* row : rows)
            ShowGroupStatus(*kind, row);
    }
}

void TransfersForm::ShowGroupStatus(TreeKind& i_kind, QTreeWidgetItem* ip_groupRow)
{
    ItemSet entries = NodeEntries(i_kind, ip_groupRow);
    const QString status = i_kind.aggregate(entries);
    ChangeRow(ip_groupRow, [&] {
        if (!ip_groupRow->isExpanded())
            ip_groupRow->setText(3, status);
        SetItemColorByStatus(ip_groupRow, status);
    });
}

void TransfersForm::RemoveEntryRow(TreeKind& i_kind, ItemPtr i_entry)
{
    ItemPtr node = i_entry[i_kind.rowNodeType];
    QTreeWidgetItem* row = RowOf(node);
    if (!row)
        return;
    Data::Scope scope(&d);
    QTreeWidgetItem* folderRow = row->parent();
    node.Remove();
    delete row;
    if (folderRow && folderRow->childCount() == 0) {
        std::set<QTreeWidgetItem*>& due = DueGroups(i_kind);
        QTreeWidgetItem* userRow = folderRow->parent();
        NodeOf(folderRow, i_kind.folderNodeType).Remove();
        due.erase(folderRow);
        delete folderRow;
        if (userRow && userRow->childCount() == 0) {
            NodeOf(userRow, i_kind.userNodeType).Remove();
            due.erase(userRow);
            delete userRow;
        }
    }
    QMetaObject::invokeMethod(this, &TransfersForm::UpdateActiveTransferCounts, Qt::QueuedConnection);
}

QProgressBar* TransfersForm::ProgressBarOf(QTreeWidget* ip_tree, QTreeWidgetItem* ip_row)
{
    auto* bar = qobject_cast<QProgressBar*>(ip_tree->itemWidget(ip_row, 4));
    if (!bar) {
        bar = new QProgressBar();
        bar->setMaximumHeight(14);
        bar->setRange(0, 100);
        ip_tree->setItemWidget(ip_row, 4, bar);
    }
    return bar;
}

QString TransfersForm::AggregateStatus(ItemSet& i_entries, const char* i_statusType, const char* i_running)
{
    int running = 0, queued = 0, complete = 0, denied = 0, aborted = 0;
    for (const ItemPtr& entry : i_entries) {
        const QString status = entry[i_statusType].AsString();
        running += status == i_running;
        queued += status == "queued";
        complete += status == "complete";
        denied += status == "denied";
        aborted += status == "aborted";
    }
    if (running)
        return i_running;
    if (queued)
        return "queued";
    if (complete == static_cast<int>(i_entries.size()))
        return "complete";
    if (denied)
        return "denied";
    if (aborted)
        return "aborted";
    return QString();
}

void TransfersForm::ProgressStats(TreeKind& i_kind, ItemSet& i_entries, qint64& o_done, qint64& o_remaining,
                                  qint64& o_total)
{
    o_done = o_remaining = o_total = 0;
    for (const ItemPtr& entry : i_entries) {
        const QString status = entry[i_kind.statusType].AsString();
        const qint64 size = i_kind.size(entry);
        if (status == "complete") {
            o_done += size;
            o_total += size;
        } else if (status == i_kind.running || status == "queued" || status == "aborted") {
            const qint64 done = i_kind.done(entry);
            o_done += done;
            o_remaining += size - done;
            o_total += size;
        }
    }
}

QString TransfersForm::FormatTimeLeft(qint64 i_seconds)
{
    QString text = QString("%1s").arg(i_seconds % 60);
    if (i_seconds >= 60)
        text.prepend(QString("%1m:").arg((i_seconds / 60) % 60));
    if (i_seconds > 3599)
        text.prepend(QString("%1h:").arg(i_seconds / 3600));
    return "   " + text;
}

QString TransfersForm::ProgressText(qint64 i_done, qint64 i_total)
{
    // Nothing of an empty file is left to come: it is whole, and there is nothing to divide by.
    const double percent = i_total > 0 ? i_done * 100.0 / i_total : 100.0;
    return QString("%1 (%2%)").arg(i_done > 0 ? CommafyNumber(i_done) : QString("0")).arg(percent, 0, 'f', 1);
}

void TransfersForm::ShowProgress(TreeKind& i_kind, ItemPtr i_entry)
{
    QTreeWidgetItem* fileRow = RowOf(i_entry[i_kind.rowNodeType]);
    if (!fileRow)
        return;
    const qint64 size = i_kind.size(i_entry);
    // Completion frees the cells a refresh reads, and a refresh may still be due: a finished
    // file is whole.
    const qint64 done = i_entry[i_kind.statusType].AsString() == "complete" ? size : i_kind.done(i_entry);
    const int* speedCell = TransferQueueManager::Cell<int>(i_entry, "bytes_per_second");
    const qint64 speed = speedCell ? *speedCell : 0;
    const auto show = [&](QTreeWidgetItem* row, qint64 rowDone, qint64 remaining, qint64 total) {
        row->setText(5, FormatTimeLeft(speed > 0 ? remaining / speed : 0));
        QProgressBar* bar = ProgressBarOf(i_kind.tree, row);
        bar->setFormat(ProgressText(rowDone, total));
        bar->setValue(total > 0 ? static_cast<int>(rowDone * 100 / total) : 100);
    };
    show(fileRow, done, size - done, size);

    QTreeWidgetItem* folderRow = fileRow->parent();
    QTreeWidgetItem* userRow = folderRow->parent();
    QTreeWidgetItem* speedRow = !userRow->isExpanded() ? userRow : !folderRow->isExpanded() ? folderRow : fileRow;
    speedRow->setText(6, QString::number(speed / 1024.0, 'f', 1));

    qint64 groupDone = 0, remaining = 0, total = 0;
    if (!(userRow->isExpanded() && userRow->childCount() <= 1)) {
        ItemSet entries = NodeEntries(i_kind, userRow);
        i_kind.stats(entries, groupDone, remaining, total);
        if (total == 0)
            return;
        show(userRow, groupDone, remaining, total);
    }
    ItemSet entries = NodeEntries(i_kind, folderRow);
    i_kind.stats(entries, groupDone, remaining, total);
    if (total != 0)
        show(folderRow, groupDone, remaining, total);
}

void TransfersForm::NoteProgress(std::set<Item*>& io_progressed, ItemPtr i_entry)
{
    if (!i_entry)
        return;
    io_progressed.insert(i_entry.get());
    if (!m_progressRefresh.isActive())
        m_progressRefresh.start();
}

QString TransfersForm::StatusText(ItemPtr i_entry, const QString& i_status)
{
    return (i_status == "denied" ? i_entry["denial_reason"].AsString() : i_status).toLower();
}

void TransfersForm::RefreshProgress()
{
    Data::Scope scope(&d);
    for (auto [items, kind] : {std::make_pair(&m_progressedDownloads, &Downloads()),
                               std::make_pair(&m_progressedUploads, &Uploads())}) {
        const std::set<Item*> entries = std::move(*items);
        items->clear();
        for (Item* entry : entries)
            ShowProgress(*kind, ItemPtr(entry));
    }
}

void TransfersForm::ShowUserMenu(QTreeWidget* ip_tree, QPoint i_pos, bool i_downloads)
{
    QTreeWidgetItem* row = ip_tree->itemAt(i_pos);
    if (!row)
        return;
    TreeKind& kind = i_downloads ? Downloads() : Uploads();
    const QString user = NodeOf(UserRowOf(row), kind.userNodeType)["user"].AsString();
    QMenu menu;
    // The downloads come first, then what concerns their user.
    std::optional<DownloadMenuOptions> downloads;
    if (i_downloads)
        downloads.emplace(&menu, NodeEntries(kind, row));
    UserMenuOptions options(&menu, user);
    menu.addSeparator();
    menu.addAction(QIcon(":/icons/note_icon"), "Show Log", this, [this, user] { ShowUserLog(user); });
    menu.exec(ip_tree->viewport()->mapToGlobal(i_pos));
}

void TransfersForm::ShowUserLog(const QString& i_user)
{
    auto* dialog = new ItemLogDialog(d.GetType("user")->GetItem(Value(i_user)), this);
    dialog->show();
}

void TransfersForm::ShowCompleteDownloads()
{
    if (!completeDownloadsForm) {
        auto* list = new CompleteDownloadsForm(this);
        ui->transfersTabControl->addTab(list, "Complete");
        list->Init();
    }
    completeDownloadsForm->show();
    ui->transfersTabControl->setCurrentWidget(completeDownloadsForm);
}
