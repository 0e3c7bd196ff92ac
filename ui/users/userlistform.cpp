#include "ui/users/userlistform.h"

#include "app/actionsettoolbar.h"
#include "app/focus.h"
#include "app/mainwindow.h"
#include "app/usermenuoptions.h"
#include "model/delayedinvoker.h"
#include "model/sizemanager.h"
#include "peer/peermessenger.h"
#include "server/server.h"
#include "ui/users/adduserdialog.h"
#include "ui/users/usergroupconfigdialog.h"
#include "ui/users/usergroupsdialog.h"
#include "ui/users/userlistitemwidget.h"

#include "ui_userlistform.h"

#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QStringList>

UserListForm* userListForm = nullptr;

namespace {

// A burst of online changes (every listed user after a login) costs one sort after it.
const int kSortDelayMs = 100;

// The row a user's node names, or null when the user has none of that kind.
QTreeWidgetItem* RowOf(ItemPtr i_user, const char* i_nodeType)
{
    ItemPtr node = i_user[i_nodeType];
    return node ? ItemObject<QTreeWidgetItem>(node) : nullptr;
}

void LinkRow(ItemPtr i_user, QTreeWidgetItem* ip_row, const char* i_nodeType)
{
    i_user.Connect(d.GetType(i_nodeType)->GetItem(Value(ip_row)));
}

void DeclareRowNode(const char* i_name)
{
    // Never saved: rows live only in this run.
    if (d.HasType(i_name))
        return;
    d.NewType(i_name, PrimacyRoot, false, true)->RelateToType(d.GetType("user"), One, One, false);
}

}  // namespace

UserListForm::UserListForm(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_UserListForm)
    , m_onlineIcon(":/icons/online_dot_icon")
    , m_offlineIcon(":/icons/offline_dot_icon")
    , m_noteIcon(":/icons/note_icon")
{
    userListForm = this;
    ui->setupUi(this);

    ui->userList->setHeaderLabels({"User", "Groups", "Note"});
    ui->userList->header()->resizeSection(0, 200);
    ui->userList->header()->resizeSection(1, 300);
    ui->unsharedList->setHeaderLabels({"User", "Note"});
    ui->unsharedList->header()->resizeSection(0, 200);
    ui->ignoredList->setHeaderLabels({"User", "Note"});
    ui->ignoredList->header()->resizeSection(0, 200);

    RegisterWidgetForTabFocus(ui->userList, 1);
    RegisterWidgetForTabFocus(ui->unsharedList, 1);
    RegisterWidgetForTabFocus(ui->ignoredList, 1);
}

UserListForm::~UserListForm()
{
    delete ui;
    if (userListForm == this)
        userListForm = nullptr;
}

void UserListForm::Init()
{
    DeclareRowNode("user_list_node");
    DeclareRowNode("unshared_list_node");
    DeclareRowNode("ignored_list_node");

    // One pass with updates off and one sort at the end: a long list fills at once.
    ui->userList->setUpdatesEnabled(false);
    for (const ItemPtr& user : g("in_user_list").GetItems("user"))
        NewUserListRow(user);
    ui->userList->sortItems(0, Qt::AscendingOrder);
    ui->userList->setUpdatesEnabled(true);

    FillPlainList(ui->unsharedList, "unshared", "unshared_list_node");
    FillPlainList(ui->ignoredList, "is_ignored", "ignored_list_node");

    auto flag = [this](const char* type, PathNodeRelation relation, Handler handler) {
        auto* root = new PathNode(&d, "user");
        new PathNode(root, type, relation);
        Subscribe(root, handler);
    };
    auto listedFlag = [this](const char* type, PathNodeRelation relation, Handler handler) {
        auto* root = new PathNode(&d, "user");
        new PathNode(root, type, relation);
        new PathNode(root, "in_user_list", PathConnectedCondition);
        Subscribe(root, handler);
    };
    listedFlag("is_online", PathConnectedTrigger, &UserListForm::OnUserOnline);
    listedFlag("is_online", PathDisconnectedTrigger, &UserListForm::OnUserOffline);
    flag("in_user_list", PathConnectedTrigger, &UserListForm::OnUserAddedToList);
    flag("in_user_list", PathDisconnectedTrigger, &UserListForm::OnUserRemovedFromList);
    flag("unshared", PathConnectedTrigger, &UserListForm::OnUserUnshared);
    flag("unshared", PathDisconnectedTrigger, &UserListForm::OnUserReshared);
    flag("is_ignored", PathConnectedTrigger, &UserListForm::OnUserIgnored);
    flag("is_ignored", PathDisconnectedTrigger, &UserListForm::OnUserUnignored);
    flag("user_note", PathConnectedTrigger, &UserListForm::OnUserNoteChanged);
    flag("user_note", PathDisconnectedTrigger, &UserListForm::OnUserNoteRemoved);

    actionBar->AddSetAction("user_list", "manual_add_user", "Add User", ":/icons/add_user_icon", false);
    actionBar->AddSetAction("user_list", "configure_user_groups", "Configure User Groups", ":/icons/users_icon",
                            false);
    actionBar->RegisterWidget(ui->userListTab, "user_list");
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &UserListForm::OnActionBarTriggered);

    auto groupStep = [this](PathNodeRelation relation, Handler handler) {
        auto* root = new PathNode(&d, "user");
        new PathNode(new PathNode(root, "in_user_list", PathConnectedCondition), "user_list_group", relation);
        Subscribe(root, handler);
    };
    groupStep(PathConnectedTrigger, &UserListForm::OnUserGroupAdded);
    groupStep(PathDisconnectedTrigger, &UserListForm::OnUserGroupRemoved);

    sizeManager->RegisterTreeWidget("user_list", ui->userList);

    connect(ui->userInfoTabs, &QTabWidget::tabCloseRequested, this, &UserListForm::OnUserInfoTabCloseRequested);
    if (!d.HasType("user_info_form"))
        d.NewType("user_info_form", PrimacyRoot, false, true)->RelateToType(d.GetType("user"), One, One, false);
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserInfoRequested, this, &UserListForm::OnUserInfoRequested);
}

void UserListForm::Subscribe(PathNode* ip_root, Handler i_handler)
{
    auto* h = new EventHandler<UserListForm, ItemPtr>(this, i_handler);
    AddDataHandler(h);
    d.AddPathEventHandler(ip_root, h);
}

void UserListForm::UpdateUserGroupsDisplay(QString i_user)
{
    if (ItemPtr user = d.GetType("user")->HasItem(Value(i_user)))
        ShowGroups(user);
}

void UserListForm::ShowGroups(ItemPtr i_user)
{
    QTreeWidgetItem* row = RowOf(i_user, "user_list_node");
    if (!row)
        return;
    QStringList names;
    if (ItemPtr listed = i_user["in_user_list"])
        for (const ItemPtr& group : listed.GetItems("user_list_group").SortAlphabetic(true))
            names << group.AsString();
    row->setText(1, names.join(", "));
}

void UserListForm::NewUserListRow(ItemPtr i_user)
{
    const QString name = i_user.AsString();
    auto* row = new UserListItemWidget(ui->userList);
    row->setText(0, name);
    row->setIcon(0, i_user.IsConnected("is_online") ? m_onlineIcon : m_offlineIcon);
    LinkRow(i_user, row, "user_list_node");
    if (gp_server)
        gp_server->TrackUser(name);
    ShowGroups(i_user);
    if (ItemPtr note = i_user["user_note"])
        SetNoteCell(row, 2, note.AsString(), true);
}

void UserListForm::FillPlainList(QTreeWidget* ip_list, const char* i_flagType, const char* i_nodeType)
{
    ip_list->setUpdatesEnabled(false);
    for (const ItemPtr& user : g(i_flagType).GetItems("user"))
        AddPlainRow(ip_list, user, i_nodeType);
    // Turned on alone, sorting would start from the header's default, descending.
    ip_list->header()->setSortIndicator(0, Qt::AscendingOrder);
    ip_list->setSortingEnabled(true);
    ip_list->setUpdatesEnabled(true);
}

void UserListForm::AddPlainRow(QTreeWidget* ip_list, ItemPtr i_user, const char* i_nodeType)
{
    auto* row = new QTreeWidgetItem(ip_list);
    row->setText(0, i_user.AsString());
    if (ItemPtr note = i_user["user_note"])
        SetNoteCell(row, 1, note.AsString(), true);
    LinkRow(i_user, row, i_nodeType);
}

void UserListForm::RemoveRow(ItemPtr i_user, const char* i_nodeType)
{
    ItemPtr node = i_user[i_nodeType];
    if (!node)
        return;
    delete ItemObject<QTreeWidgetItem>(node);
    node.Remove();
}

void UserListForm::SetNoteCell(QTreeWidgetItem* ip_row, int i_column, const QString& i_note, bool i_hasNote)
{
    ip_row->setText(i_column, i_note);
    ip_row->setIcon(i_column, i_hasNote ? m_noteIcon : QIcon());
}

void UserListForm::SetUserIcon(ItemPtr i_user, const QIcon& i_icon)
{
    QTreeWidgetItem* row = RowOf(i_user, "user_list_node");
    if (!row)
        return;
    row->setIcon(0, i_icon);
    ScheduleSort();
}

void UserListForm::ScheduleSort()
{
    if (delayedInvoker)
        delayedInvoker->Invoke(this, "1OnSortUserList()", kSortDelayMs);
    else
        OnSortUserList();
}

void UserListForm::OnSortUserList()
{
    ui->userList->sortItems(0, Qt::AscendingOrder);
}

void UserListForm::OnUserOnline(ItemPtr i_user)
{
    SetUserIcon(i_user, m_onlineIcon);
}

void UserListForm::OnUserOffline(ItemPtr i_user)
{
    SetUserIcon(i_user, m_offlineIcon);
}

void UserListForm::OnUserAddedToList(ItemPtr i_user)
{
    NewUserListRow(i_user);
    ScheduleSort();
}

void UserListForm::OnUserRemovedFromList(ItemPtr i_user)
{
    RemoveRow(i_user, "user_list_node");
}

void UserListForm::OnUserUnshared(ItemPtr i_user)
{
    AddPlainRow(ui->unsharedList, i_user, "unshared_list_node");
}

void UserListForm::OnUserReshared(ItemPtr i_user)
{
    RemoveRow(i_user, "unshared_list_node");
}

void UserListForm::OnUserIgnored(ItemPtr i_user)
{
    AddPlainRow(ui->ignoredList, i_user, "ignored_list_node");
}

void UserListForm::OnUserUnignored(ItemPtr i_user)
{
    RemoveRow(i_user, "ignored_list_node");
}

void UserListForm::ShowNote(ItemPtr i_user, const QString& i_note, bool i_hasNote)
{
    if (QTreeWidgetItem* row = RowOf(i_user, "user_list_node"))
        SetNoteCell(row, 2, i_note, i_hasNote);
    if (QTreeWidgetItem* row = RowOf(i_user, "unshared_list_node"))
        SetNoteCell(row, 1, i_note, i_hasNote);
    if (QTreeWidgetItem* row = RowOf(i_user, "ignored_list_node"))
        SetNoteCell(row, 1, i_note, i_hasNote);
}

void UserListForm::OnUserNoteChanged(ItemPtr i_user)
{
    ShowNote(i_user, i_user["user_note"].AsString(), true);
}

void UserListForm::OnUserNoteRemoved(ItemPtr i_user)
{
    ShowNote(i_user, QString(), false);
}

void UserListForm::OnUserGroupAdded(ItemPtr i_user)
{
    ShowGroups(i_user);
}

void UserListForm::OnUserGroupRemoved(ItemPtr i_user)
{
    ShowGroups(i_user);
}

void UserListForm::OnActionBarTriggered(QWidget*, QString i_action)
{
    if (i_action == "remove_user") {
        // The users first: each removal deletes its row.
        ItemSet users;
        for (QTreeWidgetItem* row : ui->userList->selectedItems())
            if (ItemPtr node = d.GetType("user_list_node")->HasItem(Value(row)))
                users.Add(node["user"]);
        for (ItemPtr user : users)
            user.Disconnect("in_user_list");
    }
    if (i_action == "user_groups") {
        const QString user = actionBar->GetKey("user");
        if (!user.isEmpty())
            (new UserGroupsDialog(user, mainWindow))->show();
    }
    if (i_action == "configure_user_groups") {
        if (!userGroupConfigDialog) {
            (new UserGroupConfigDialog(this))->show();
        } else {
            userGroupConfigDialog->raise();
            userGroupConfigDialog->activateWindow();
            userGroupConfigDialog->setFocus(Qt::OtherFocusReason);
        }
    }
    if (i_action == "manual_add_user")
        (new AddUserDialog(this))->show();
}

void UserListForm::RunUserMenu(QTreeWidget* ip_list, QPoint i_point)
{
    QTreeWidgetItem* row = ip_list->itemAt(i_point);
    if (!row)
        return;
    QMenu menu;
    UserMenuOptions options(&menu, row->text(0));
    menu.exec(ip_list->viewport()->mapToGlobal(i_point));
}

void UserListForm::OnUserListContextMenuRequested(QPoint i_point)
{
    RunUserMenu(ui->userList, i_point);
}

void UserListForm::OnUnsharedListContextMenuRequested(QPoint i_point)
{
    RunUserMenu(ui->unsharedList, i_point);
}

void UserListForm::OnIgnoredListContextMenuRequested(QPoint i_point)
{
    RunUserMenu(ui->ignoredList, i_point);
}
