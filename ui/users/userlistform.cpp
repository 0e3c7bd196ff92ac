#include "ui/users/userlistform.h"

#include "ui_userlistform.h"

UserListForm* userListForm = nullptr;

UserListForm::UserListForm(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_UserListForm)
{
    userListForm = this;
    ui->setupUi(this);
}

UserListForm::~UserListForm()
{
    delete ui;
}

void UserListForm::Init()
{
}
