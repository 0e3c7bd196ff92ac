// The user list window's part in user info: the pages asked for, one tab per user, and the
// answer to other users' requests.
#include "ui/users/userlistform.h"

#include "model/helpers.h"
#include "peer/peermessenger.h"
#include "ui/users/userinfoform.h"
#include "ui/users/userinforeply.h"

#include "ui_userlistform.h"

#include <QIcon>

UserInfoForm* UserListForm::GetUserInfoForm(QString user)
{
    ItemPtr userItem = d.GetType("user")->GetItem(Value(user));
    if (ItemPtr page = userItem.HasItem("user_info_form"))
        return ItemObject<UserInfoForm>(page);
    auto* form = new UserInfoForm(this);
    form->Init(user);
    ui->userInfoTabs->addTab(form, QIcon(":/icons/info_icon"), LabelText(user));
    userItem += d.GetType("user_info_form")->GetItem(Value(form));
    return form;
}

void UserListForm::OnUserInfoTabCloseRequested(int i_index)
{
    auto* form = qobject_cast<UserInfoForm*>(ui->userInfoTabs->widget(i_index));
    if (!form)
        return;
    ui->userInfoTabs->removeTab(i_index);
    if (ItemPtr page = d.GetType("user_info_form")->HasItem(Value(form)))
        page.Remove();
    // A reply or failure arriving before the page goes has nowhere to show.
    if (peerMessenger)
        disconnect(peerMessenger, nullptr, form, nullptr);
    form->deleteLater();
}

void UserListForm::OnUserInfoRequested(QString i_user)
{
    if (!peerMessenger)
        return;
    MemStream reply = MakeUserInfoReply();
    peerMessenger->SendMessage(i_user, reply);
}
