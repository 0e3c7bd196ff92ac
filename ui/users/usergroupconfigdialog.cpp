#include "ui/users/usergroupconfigdialog.h"

#include "ui_usergroupconfigdialog.h"

#include <QListWidgetItem>
#include <QMessageBox>

UserGroupConfigDialog* userGroupConfigDialog = nullptr;

UserGroupConfigDialog::UserGroupConfigDialog(QWidget* parent)
    : QDialog(parent)
    , mp_ui(new Ui_UserGroupConfigDialog)
{
    userGroupConfigDialog = this;
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    Type* groups = d.GetType("user_list_group");
    AddHandler(groups->itemAdded, this, &UserGroupConfigDialog::OnUserGroupAdded);
    AddHandler(groups->itemRemoved, this, &UserGroupConfigDialog::OnUserGroupRemoved);
    for (Item* group : groups->ItemsInOrder())
        OnUserGroupAdded(group);

    mp_ui->prioritySpinBox->setEnabled(false);
    mp_ui->acceptUploadsCheckBox->setEnabled(false);
    mp_ui->deleteButton->setEnabled(false);
}

UserGroupConfigDialog::~UserGroupConfigDialog()
{
    delete mp_ui;
    if (userGroupConfigDialog == this)
        userGroupConfigDialog = nullptr;
}

void UserGroupConfigDialog::OnUserGroupAdded(ItemPtr i_group)
{
    const QString name = i_group.AsString();
    m_rows[name] = new QListWidgetItem(name, mp_ui->groupList);
}

void UserGroupConfigDialog::OnUserGroupRemoved(ItemPtr i_group)
{
    auto it = m_rows.find(i_group.AsString());
    if (it == m_rows.end())
        return;
    QListWidgetItem* row = it->second;
    m_rows.erase(it);
    // The list moves its current row on, which shows the settings of the group it lands on.
    delete row;
}

ItemPtr UserGroupConfigDialog::CurrentGroup() const
{
    QListWidgetItem* row = mp_ui->groupList->currentItem();
    // Looked up without creating: a row never brings a deleted group back.
    return row ? d.GetType("user_list_group")->HasItem(Value(row->text())) : ItemPtr();
}

void UserGroupConfigDialog::OnCurrentGroupItemChanged(QListWidgetItem* ip_currentItem, QListWidgetItem*)
{
    const bool selected = ip_currentItem != nullptr;
    mp_ui->prioritySpinBox->setEnabled(selected);
    mp_ui->acceptUploadsCheckBox->setEnabled(selected);
    mp_ui->deleteButton->setEnabled(selected);
    mp_ui->groupBox->setTitle(selected ? ip_currentItem->text() : QString());
    if (!selected)
        return;
    // Showing the stored values fires the controls' change slots, which store what the group
    // already has: nothing changes.
    ItemPtr group = CurrentGroup();
    mp_ui->prioritySpinBox->setValue(group ? group["group_download_priority"].AsInt() : 0);
    mp_ui->acceptUploadsCheckBox->setChecked(group && group.IsConnected("accept_uploads"));
}

void UserGroupConfigDialog::OnPrioritySpinValueChanged(int i_value)
{
    ItemPtr group = CurrentGroup();
    if (!group)
        return;
    if (i_value >= 1)
        group.Connect(d.GetType("group_download_priority")->GetItem(Value(i_value)));
    else
        group.Disconnect("group_download_priority");
}

void UserGroupConfigDialog::OnAcceptUploadsCheckboxToggled(bool i_toggled)
{
    ItemPtr group = CurrentGroup();
    if (!group)
        return;
    if (i_toggled)
        group.Connect(d.GetType("accept_uploads")->GetGlobalNullItem());
    else
        group.Disconnect("accept_uploads");
}

void UserGroupConfigDialog::OnDeleteClicked()
{
    QMessageBox box(QMessageBox::Question, "Delete group?", "Are you sure you want to delete this user group?",
                    QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    box.setTextFormat(Qt::PlainText);
    if (box.exec() != QMessageBox::Yes)
        return;
    if (ItemPtr group = CurrentGroup())
        group.Remove();
}
