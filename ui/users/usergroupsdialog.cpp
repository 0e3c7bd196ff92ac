#include "ui/users/usergroupsdialog.h"

#include "ui_usergroupsdialog.h"

#include <QListWidgetItem>

UserGroupsDialog::UserGroupsDialog(QString i_user, QWidget* parent)
    : QDialog(parent)
    , m_user(std::move(i_user))
    , mp_ui(new Ui_UserGroupsDialog)
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    Type* groups = d.GetType("user_list_group");
    AddHandler(groups->itemAdded, this, &UserGroupsDialog::OnUserGroupAdded);
    AddHandler(groups->itemRemoved, this, &UserGroupsDialog::OnUserGroupRemoved);

    setWindowTitle("User Groups for [" + m_user + "]");
    ItemPtr listed = d.GetType("user")->GetItem(Value(m_user))["in_user_list"];
    for (Item* group : groups->ItemsInOrder())
        AddRow(group, listed && listed.IsConnected(ItemPtr(group)));

    // Only now: filling the list must change nothing in the graph.
    connect(mp_ui->groupListWidget, &QListWidget::itemChanged, this, &UserGroupsDialog::OnGroupItemChanged);
}

UserGroupsDialog::~UserGroupsDialog()
{
    delete mp_ui;
}

ItemPtr UserGroupsDialog::ListedItem() const
{
    return d.GetType("user")->GetItem(Value(m_user))["in_user_list"];
}

void UserGroupsDialog::AddRow(ItemPtr i_group, bool i_checked)
{
    const QString name = i_group.AsString();
    auto* row = new QListWidgetItem(mp_ui->groupListWidget);
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setText(name);
    row->setCheckState(i_checked ? Qt::Checked : Qt::Unchecked);
    m_rows[name] = row;
}

void UserGroupsDialog::OnUserGroupAdded(ItemPtr i_group)
{
    AddRow(i_group, false);
}

void UserGroupsDialog::OnUserGroupRemoved(ItemPtr i_group)
{
    auto it = m_rows.find(i_group.AsString());
    if (it == m_rows.end())
        return;
    delete it->second;
    m_rows.erase(it);
}

void UserGroupsDialog::OnGroupItemChanged(QListWidgetItem* ip_item)
{
    const int state = ip_item->data(Qt::CheckStateRole).toInt();
    if (state == Qt::PartiallyChecked || ip_item->text().isEmpty())
        return;
    // Looked up without creating: a row never brings a deleted group back.
    ItemPtr group = d.GetType("user_list_group")->HasItem(Value(ip_item->text()));
    ItemPtr listed = ListedItem();
    if (!group)
        return;
    if (!listed) {
        // The user has left the list: nothing can be recorded, so the row shows it.
        if (state != Qt::Unchecked)
            ip_item->setCheckState(Qt::Unchecked);
        return;
    }
    if (state == Qt::Checked)
        listed.Connect(group);
    else if (state == Qt::Unchecked && listed.IsConnected(group))
        listed.Disconnect(group);
}

void UserGroupsDialog::OnNewGroupButtonClicked()
{
    const QString name = mp_ui->newGroupEdit->text().trimmed();
    mp_ui->newGroupEdit->clear();
    if (name.isEmpty())
        return;
    d.GetType("user_list_group")->GetItem(Value(name));
}
