// The user list view: the users the client keeps, with groups and notes, the unshared and
// the ignored users, each row mirroring a user item of the graph.
#pragma once

#include "model/data.h"

#include <QIcon>
#include <QPoint>
#include <QString>
#include <QWidget>

class QTreeWidget;
class QTreeWidgetItem;
class Ui_UserListForm;
class UserInfoForm;

class UserListForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit UserListForm(QWidget* parent = nullptr);
    ~UserListForm() override;

    // Start-up step after the save file is loaded.
    void Init();

    // Rewrites the Groups column of the user's User List row.
    void UpdateUserGroupsDisplay(QString i_user);

    // The user's info page: the open one, or a new one that asks the user, added as the last tab
    // of the User Info tab. The caller brings it forward.
    UserInfoForm* GetUserInfoForm(QString user);

public slots:
    void OnActionBarTriggered(QWidget*, QString i_action);
    void OnUserListContextMenuRequested(QPoint i_point);
    void OnUnsharedListContextMenuRequested(QPoint i_point);
    void OnIgnoredListContextMenuRequested(QPoint i_point);
    void OnUserInfoTabCloseRequested(int i_index);
    void OnUserInfoRequested(QString i_user);

private slots:
    void OnSortUserList();

private:
    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);
    void OnUserAddedToList(ItemPtr i_user);
    void OnUserRemovedFromList(ItemPtr i_user);
    void OnUserUnshared(ItemPtr i_user);
    void OnUserReshared(ItemPtr i_user);
    void OnUserIgnored(ItemPtr i_user);
    void OnUserUnignored(ItemPtr i_user);
    void OnUserNoteChanged(ItemPtr i_user);
    void OnUserNoteRemoved(ItemPtr i_user);
    void OnUserGroupAdded(ItemPtr i_user);
    void OnUserGroupRemoved(ItemPtr i_user);

    typedef void (UserListForm::*Handler)(ItemPtr);
    void Subscribe(PathNode* ip_root, Handler i_handler);
    void NewUserListRow(ItemPtr i_user);
    // UpdateUserGroupsDisplay for a user item already at hand.
    void ShowGroups(ItemPtr i_user);
    void FillPlainList(QTreeWidget* ip_list, const char* i_flagType, const char* i_nodeType);
    void AddPlainRow(QTreeWidget* ip_list, ItemPtr i_user, const char* i_nodeType);
    void RemoveRow(ItemPtr i_user, const char* i_nodeType);
    void ShowNote(ItemPtr i_user, const QString& i_note, bool i_hasNote);
    void SetNoteCell(QTreeWidgetItem* ip_row, int i_column, const QString& i_note, bool i_hasNote);
    void SetUserIcon(ItemPtr i_user, const QIcon& i_icon);
    void ScheduleSort();
    void RunUserMenu(QTreeWidget* ip_list, QPoint i_point);

    Ui_UserListForm* ui;
    // Made once: an icon made from its file for every row would read the file each time.
    const QIcon m_onlineIcon;
    const QIcon m_offlineIcon;
    const QIcon m_noteIcon;
};

extern UserListForm* userListForm;
