// Adds a user to the user list by name, once the server confirms that such a user exists.
#pragma once

#include <QDialog>
#include <QString>

class Ui_AddUserDialog;

class AddUserDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddUserDialog(QWidget* parent = nullptr);
    ~AddUserDialog() override;

public slots:
    void OnAddUserClicked();
    void OnAddUserResponse(QString i_user, bool i_exists);

private:
    Ui_AddUserDialog* mp_ui;
    // The name whose answer is awaited; empty when none.
    QString m_addingUser;
};
