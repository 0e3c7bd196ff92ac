#include "app/usermenuoptions.h"

#include "app/focus.h"
#include "app/mainwindow.h"
#include "model/data.h"
#include "model/helpers.h"
#include "server/server.h"
#include "transfers/transferqueuemanager.h"
#include "ui/search/sharesform.h"
#include "ui/users/usergroupsdialog.h"
#include "ui/users/userinfoform.h"
#include "ui/users/userlistform.h"
#include "ui/users/usernotedialog.h"

#include <QAction>
#include <QIcon>
#include <QMenu>

namespace {

// The rooms linked to the flag type (is_owner, is_operator), in ascending name order.
std::list<ItemPtr> RoomsFlagged(const char* flagType)
{
    return g(flagType).GetItems("room").SortAlphabetic(true);
}

}  // namespace

UserMenuOptions::UserMenuOptions(QMenu* menu, QString user, QObject* parent)
    : QObject(parent)
    , m_user(std::move(user))
{
    if (!menu->actions().isEmpty())
        menu->addSeparator();
    ItemPtr userItem = d.GetType("user")->GetItem(Value(m_user));

    menu->addAction(QIcon(":/icons/chat_icon"), "Message user", this, &UserMenuOptions::OnMessageUser);
    if (!userItem.IsConnected("in_user_list")) {
        menu->addAction(QIcon(":/icons/add_user_icon"), "Add user to list", this, &UserMenuOptions::OnAddUser);
    } else {
        menu->addAction(QIcon(":/icons/users_icon"), "Set user's groups", this, &UserMenuOptions::OnSetUserGroups);
        menu->addAction(QIcon(":/icons/remove_user_icon"), "Remove user from list", this,
                        &UserMenuOptions::OnRemoveUser);
    }
    menu->addAction(QIcon(":/icons/browse_icon"), "Browse user's files", this, &UserMenuOptions::OnBrowseUser);
    menu->addAction(QIcon(":/icons/browse_icon"), "Upload to user", this, &UserMenuOptions::OnUploadToUser);
    menu->addAction(QIcon(":/icons/info_icon"), "Get User Info", this, &UserMenuOptions::OnGetUserInfo);
    menu->addAction(QIcon(":/icons/note_icon"),
                    userItem.IsConnected("user_note") ? "Edit user note" : "Add user note", this,
                    &UserMenuOptions::OnUserNote);
    menu->addSeparator();
    if (!userItem.IsConnected("unshared"))
        menu->addAction(QIcon(":/icons/browse_icon"), "Unshare files from user", this,
                        &UserMenuOptions::OnUnshareFilesFromUser);
    else
        menu->addAction(QIcon(":/icons/browse_icon"), "Re-share files with user", this,
                        &UserMenuOptions::OnReshareFilesWithUser);
    if (!userItem.IsConnected("is_ignored"))
        menu->addAction(QIcon(":/icons/chat_icon"), "Ignore chat from user", this, &UserMenuOptions::OnIgnoreUser);
    else
        menu->addAction(QIcon(":/icons/chat_icon"), "Receive chat from user", this,
                        &UserMenuOptions::OnUnignoreUser);

    const std::list<ItemPtr> owned = RoomsFlagged("is_owner");
    const std::list<ItemPtr> operated = RoomsFlagged("is_operator");
    if (owned.empty() && operated.empty())
        return;
    menu->addSeparator();
    QMenu* rooms = menu->addMenu("Private Rooms");

    // The membership entry: give or remove, by whether the room's member list holds the user.
    auto addMembership = [&](QMenu* roomMenu, ItemPtr room, bool& isMember) {
        isMember = room.NewItem("room_members").IsConnected(userItem);
        QAction* a = isMember
            ? roomMenu->addAction("Remove User's Membership", this, &UserMenuOptions::OnRemoveUserMembership)
            : roomMenu->addAction("Give User Membership", this, &UserMenuOptions::OnAddUserMembership);
        a->setData(room.AsString());
    };
    for (ItemPtr room : owned) {
        QMenu* roomMenu = rooms->addMenu(QIcon(":/icons/chat_icon"), LabelText(room.AsString()));
        QFont font = roomMenu->menuAction()->font();
        font.setWeight(75);
        font.setUnderline(true);
        roomMenu->menuAction()->setFont(font);
        bool isMember = false;
        addMembership(roomMenu, room, isMember);
        const bool isOperator = room.NewItem("room_operators").IsConnected(userItem);
        if (isOperator) {
            roomMenu->addSeparator();
            roomMenu->addAction("Remove User's Operator Status", this, &UserMenuOptions::OnRemoveUserOperatorship)
                ->setData(room.AsString());
        } else if (isMember) {
            roomMenu->addSeparator();
            roomMenu->addAction("Make User Operator", this, &UserMenuOptions::OnAddUserOperatorship)
                ->setData(room.AsString());
        }
    }
    for (ItemPtr room : operated) {
        if (room.IsConnected("is_owner"))
            continue;
        QMenu* roomMenu = rooms->addMenu(LabelText(room.AsString()));
        bool isMember = false;
        addMembership(roomMenu, room, isMember);
    }
}

UserMenuOptions::UserMenuOptions(QString user, QObject* parent)
    : QObject(parent)
    , m_user(std::move(user))
{
}

QString UserMenuOptions::SenderRoom() const
{
    auto* action = qobject_cast<QAction*>(sender());
    return action ? action->data().toString() : QString();
}

void UserMenuOptions::OnMessageUser()
{
    if (mainWindow)
        mainWindow->OpenChatForm(m_user);
}

void UserMenuOptions::OnAddUser()
{
    d.GetType("user")->GetItem(Value(m_user)).NewItem("in_user_list");
    OnSetUserGroups();
}

void UserMenuOptions::OnSetUserGroups()
{
    (new UserGroupsDialog(m_user, mainWindow))->show();
}

void UserMenuOptions::OnRemoveUser()
{
    d.GetType("user")->GetItem(Value(m_user)).Disconnect("in_user_list");
}

void UserMenuOptions::OnBrowseUser()
{
    if (sharesForm)
        sharesForm->OpenShareBrowse(m_user);
}

void UserMenuOptions::OnUploadToUser()
{
    if (sharesForm)
        sharesForm->OpenUploadBrowse(m_user);
}

void UserMenuOptions::OnGetUserInfo()
{
    if (userListForm)
        FocusWidgetAndParents(userListForm->GetUserInfoForm(m_user));
}

void UserMenuOptions::OnUserNote()
{
    UserNoteDialog::GetDialog(m_user)->show();
}

void UserMenuOptions::OnUnshareFilesFromUser()
{
    if (transferQueueManager)
        transferQueueManager->UnshareUser(m_user);
}

void UserMenuOptions::OnReshareFilesWithUser()
{
    if (transferQueueManager)
        transferQueueManager->ReshareUser(m_user);
}

void UserMenuOptions::OnIgnoreUser()
{
    d.GetType("user")->GetItem(Value(m_user)).Connect(d.GetType("is_ignored")->GetGlobalNullItem());
}

void UserMenuOptions::OnUnignoreUser()
{
    d.GetType("user")->GetItem(Value(m_user)).Disconnect("is_ignored");
}

void UserMenuOptions::OnAddUserMembership()
{
    if (gp_server)
        gp_server->AddPrivateRoomMember(SenderRoom(), m_user);
}

void UserMenuOptions::OnRemoveUserMembership()
{
    if (gp_server)
        gp_server->RemovePrivateRoomMember(SenderRoom(), m_user);
}

void UserMenuOptions::OnAddUserOperatorship()
{
    if (gp_server)
        gp_server->AddPrivateRoomOperator(SenderRoom(), m_user);
}

void UserMenuOptions::OnRemoveUserOperatorship()
{
    if (gp_server)
        gp_server->RemovePrivateRoomOperator(SenderRoom(), m_user);
}
