#include "ui/users/adduserdialog.h"

#include "model/data.h"
#include "server/server.h"

#include "ui_adduserdialog.h"

AddUserDialog::AddUserDialog(QWidget* parent)
    : QDialog(parent)
    , mp_ui(new Ui_AddUserDialog)
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    if (gp_server)
        connect(gp_server, &Server::AddUserResponse, this, &AddUserDialog::OnAddUserResponse);
}

AddUserDialog::~AddUserDialog()
{
    delete mp_ui;
}

void AddUserDialog::OnAddUserClicked()
{
    const QString name = mp_ui->userNameEdit->text().trimmed();
    if (name.isEmpty()) {
        mp_ui->statusEdit->setText("User name must not be empty.");
        return;
    }
    if (!gp_server || !gp_server->IsConnected()) {
        mp_ui->statusEdit->setText("Must be online to add a user to your list.");
        return;
    }
    ItemPtr user = d.GetType("user")->HasItem(Value(name));
    if (user && user.IsConnected("in_user_list")) {
        mp_ui->statusEdit->setText("User already in list.");
        return;
    }
    mp_ui->statusEdit->setText("Adding user...");
    mp_ui->userNameEdit->setReadOnly(true);
    mp_ui->addFriendButton->setEnabled(false);
    m_addingUser = name;
    gp_server->AddUser(name);
}

void AddUserDialog::OnAddUserResponse(QString i_user, bool i_exists)
{
    // Answers come for every watched user; only the awaited name counts.
    if (m_addingUser.isEmpty() || i_user != m_addingUser)
        return;
    mp_ui->userNameEdit->setReadOnly(false);
    mp_ui->addFriendButton->setEnabled(true);
    m_addingUser.clear();
    if (i_exists) {
        d.GetType("user")->GetItem(Value(i_user)).NewItem("in_user_list");
        mp_ui->statusEdit->setText("User added to list.");
    } else {
        mp_ui->statusEdit->setText("User name does not exist.");
    }
}
