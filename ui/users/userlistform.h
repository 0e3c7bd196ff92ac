// The user list view: the users the client keeps, with groups, notes and rights.
#pragma once

#include "model/data.h"

#include <QWidget>

class Ui_UserListForm;

class UserListForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit UserListForm(QWidget* parent = nullptr);
    ~UserListForm() override;

    // Start-up step after the save file is loaded.
    void Init();

private:
    Ui_UserListForm* ui;
};

extern UserListForm* userListForm;
